#pragma once
// Private to db/ (its include folder is not exported): plumbing shared by the classes built on
// the Firebird client. Nothing outside db/ sees this header or the client's.

#include <firebird/Interface.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "db/Value.h"

namespace tarvolen::database::fb {

Firebird::IMaster* master();
Firebird::IUtil* util();
Firebird::IProvider* provider();

// The server's text for a failed call, unchanged, with its first error code.
DatabaseError errorFrom(Firebird::IStatus* status);

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
        throw errorFrom(e.getStatus());
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

// How a message buffer holds one column or parameter.
enum class Kind {
    Char,
    VarChar,
    SmallInt,
    Integer,
    BigInt,
    Float,
    Double,
    Date,
    Time,
    Timestamp,
    Blob,
    Boolean,
    Other
};

struct Column {
    std::string name;      // what the row calls it (alias for select columns)
    std::string field;     // underlying table column, empty for expressions
    std::string relation;  // its table, empty for expressions
    Kind kind = Kind::Other;
    unsigned sqlType = 0;
    int subType = 0;
    int scale = 0;
    unsigned length = 0;  // bytes
    unsigned charSet = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
};

std::vector<Column> describe(Firebird::IMessageMetadata* metadata);
// "INTEGER", "VARCHAR(40)", "NUMERIC(9,2)", ... as errors show a column's type.
std::string typeName(const Column& column);

// Reads a column of a fetched message. Blobs are read whole through the transaction.
Value decode(const Column& column, const unsigned char* message, Firebird::IAttachment* attachment,
             Firebird::ITransaction* transaction);
inline bool isNullIn(const Column& column, const unsigned char* message) {
    return *reinterpret_cast<const short*>(message + column.nullOffset) != 0;
}
inline void setNullIn(const Column& column, unsigned char* message) {
    *reinterpret_cast<short*>(message + column.nullOffset) = -1;
}

// Converts a value to the column's type and stores it in the message. Throws DatabaseError
// "<owner>: ..." naming the column when the value does not convert or does not fit. A blob
// column's bytes are handed back instead, to be written once a transaction is at hand.
std::optional<std::string> encode(const Column& column, const Value& value, unsigned char* message,
                                  std::string_view owner);
// Writes a blob and stores its id in the message.
void writeBlob(const Column& column, std::string_view bytes, unsigned char* message,
               Firebird::IAttachment* attachment, Firebird::ITransaction* transaction);

// The text is a select that can carry the row's RDB$DB_KEY as an extra first column; returns
// the text with it, or nullopt when the statement does not begin like a plain select.
std::optional<std::string> withDbKey(std::string_view sql);
// Double-quoted identifier.
std::string quoteName(std::string_view name);

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

namespace tarvolen::database {

// The connection's state, shared with the queries and tables on it.
struct Connection::Impl {
    Firebird::IAttachment* attachment = nullptr;
    Firebird::ITransaction* explicitTransaction = nullptr;
    // Read-only read-committed: cursors opened outside an explicit transaction, preparing
    // and catalogue reads. It holds no locks and keeps no garbage from being collected.
    Firebird::ITransaction* readTransaction = nullptr;
    std::vector<unsigned char> writeTpb;
    std::vector<Dataset*> datasets;

    Firebird::IAttachment* attached(const std::string& connectionName) const;
    Firebird::ITransaction* reader();
    // The explicit transaction, or nullptr when work must commit as it completes.
    Firebird::ITransaction* current() const { return explicitTransaction; }
    Firebird::ITransaction* startWrite();
    // The catalogue name of a table: the name as given when such a table exists, else its
    // upper case, as the server reads an unquoted name. Throws when neither exists.
    std::string resolveTable(const std::string& connectionName, std::string_view tableName);
    // Runs `work` in the explicit transaction, or in one of its own that commits when `work`
    // returns and rolls back when it throws.
    template <class Work>
    void write(Work&& work);
};

template <class Work>
void Connection::Impl::write(Work&& work) {
    if (explicitTransaction != nullptr) {
        work(explicitTransaction);
        return;
    }
    Firebird::ITransaction* own = startWrite();
    try {
        work(own);
    } catch (...) {
        fb::endQuietly(own, false);
        throw;
    }
    try {
        fb::Status status;
        own->commit(&status);
    } catch (...) {
        fb::endQuietly(own, false);
        throw;
    }
}

}  // namespace tarvolen::database
