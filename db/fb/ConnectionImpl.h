#pragma once
// Private to db/: the connection's state and how work runs in its transactions.

#include <firebird/Interface.h>

#include <string>
#include <string_view>
#include <vector>

#include "Status.h"
#include "db/Connection.h"
#include "db/Value.h"

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
    // Runs a catalogue select with text parameters in the read transaction; rows come decoded.
    std::vector<std::vector<Value>> catalogue(const std::string& connectionName, const char* sql,
                                              const std::vector<std::string>& args);
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
