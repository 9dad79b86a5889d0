#pragma once
// Private to db/: a parameter block (connection, transaction, service) built tag by tag; the
// builder goes when the bytes are out.

#include <firebird/Interface.h>

#include <string>
#include <vector>

#include "Status.h"

namespace tarvolen::database::fb {

class Xpb {
  public:
    explicit Xpb(unsigned kind) {
        Status status;
        m_builder = util()->getXpbBuilder(&status, kind, nullptr, 0);
    }
    ~Xpb() { m_builder->dispose(); }
    Xpb(const Xpb&) = delete;
    Xpb& operator=(const Xpb&) = delete;
    Xpb& tag(unsigned char t) {
        Status status;
        m_builder->insertTag(&status, t);
        return *this;
    }
    Xpb& integer(unsigned char t, int value) {
        Status status;
        m_builder->insertInt(&status, t, value);
        return *this;
    }
    Xpb& text(unsigned char t, const std::string& value) {
        Status status;
        m_builder->insertString(&status, t, value.c_str());
        return *this;
    }
    Xpb& byte(unsigned char t, unsigned char value) {
        Status status;
        m_builder->insertBytes(&status, t, &value, 1);
        return *this;
    }
    std::vector<unsigned char> bytes() {
        Status status;
        const unsigned char* buffer = m_builder->getBuffer(&status);
        return {buffer, buffer + m_builder->getBufferLength(&status)};
    }

  private:
    Firebird::IXpbBuilder* m_builder = nullptr;
};

}  // namespace tarvolen::database::fb
