#pragma once
// Private to db/: a statement prepared with the layouts of its messages.

#include <firebird/Interface.h>

#include <memory>
#include <string_view>
#include <vector>

#include "MessageCodec.h"
#include "Status.h"

namespace tarvolen::database::fb {

// Lets a unique_ptr free a statement the way freeStatement() does.
struct StatementFreer {
    void operator()(Firebird::IStatement* statement) const { freeStatement(statement); }
};

// A statement prepared in dialect 3 with the message layouts its prepare fetched ahead, their
// columns and a zero-filled buffer for each; a layout not fetched ahead stays empty, as asking
// for it would cost a round trip. Failures throw the client's FbException, for guard(). The
// layouts are released and the statement freed (freeStatement) when it goes, also when the
// constructor throws after the prepare.
struct PreparedStatement {
    PreparedStatement(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction,
                      std::string_view sql,
                      unsigned flags = Firebird::IStatement::PREPARE_PREFETCH_METADATA);

    // First, so it is freed after the layouts are released.
    std::unique_ptr<Firebird::IStatement, StatementFreer> statement;
    Ref<Firebird::IMessageMetadata> in;
    Ref<Firebird::IMessageMetadata> out;
    std::vector<Column> inputs;
    std::vector<Column> outputs;
    std::vector<unsigned char> inBuffer;
    std::vector<unsigned char> outBuffer;
};

}  // namespace tarvolen::database::fb
