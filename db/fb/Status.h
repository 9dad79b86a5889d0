#pragma once
// Private to db/: the client's entry points, status objects that turn a failed call into an
// exception, and the clean-up of handles whose release may fail. Nothing outside db/ sees this
// header or the client's.

#include <firebird/Interface.h>

#include <memory>

#include "db/DatabaseError.h"

namespace tarvolen::database::fb {

Firebird::IMaster* master();
Firebird::IUtil* util();
Firebird::IProvider* provider();

// Throws the failure of a call: the server's text, unchanged, with its first error code; as
// ConnectionLost when any code of the status says the connection is gone, as DatabaseInUse
// when one says another program holds the database.
[[noreturn]] void throwError(Firebird::IStatus* status);

// True when the status vector holds a code that means the connection is gone.
bool meansConnectionLost(const intptr_t* errors);
// True when the status vector says the database is open in another program's in-process engine.
bool meansDatabaseInUse(const intptr_t* errors);

// A status for calls that throw on failure (Firebird::FbException, turned into DatabaseError
// by guard()).
class Status : public Firebird::ThrowStatusWrapper {
  public:
    Status() : ThrowStatusWrapper(master()->getStatus()) {}
    ~Status() override { dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
};

// A status for clean-up calls whose failure has nowhere to go (closing, releasing).
class QuietStatus : public Firebird::CheckStatusWrapper {
  public:
    QuietStatus() : CheckStatusWrapper(master()->getStatus()) {}
    ~QuietStatus() override { dispose(); }
    QuietStatus(const QuietStatus&) = delete;
    QuietStatus& operator=(const QuietStatus&) = delete;
    bool failed() { return (getState() & Firebird::IStatus::STATE_ERRORS) != 0; }
};

// Runs `work`, turning a client failure into DatabaseError with the server's text.
template <class Work>
auto guard(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const Firebird::FbException& e) {
        throwError(e.getStatus());
    }
}

// Releases a reference-counted client object (metadata, statement, ...) when it goes.
struct Releaser {
    template <class T>
    void operator()(T* object) const {
        object->release();
    }
};
template <class T>
using Ref = std::unique_ptr<T, Releaser>;

// Frees a prepared statement, or at least releases it when the server cannot be told.
void freeStatement(Firebird::IStatement*& statement);
// Ends a transaction: commits or rolls back, and releases the handle when that fails.
void endQuietly(Firebird::ITransaction*& transaction, bool commit);

}  // namespace tarvolen::database::fb
