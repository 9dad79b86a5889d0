#include "Status.h"

#include "ClientLibrary.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace tarvolen::database::fb {

using namespace Firebird;

IMaster* master() {
    static IMaster* const instance = client().getMasterInterface();
    return instance;
}

IUtil* util() {
    static IUtil* const instance = master()->getUtilInterface();
    return instance;
}

IProvider* provider() {
    // Kept for the life of the process: the in-process engine stays loaded until exit.
    static IProvider* const instance = master()->getDispatcher();
    return instance;
}

namespace {

// True when any code of the status vector is one of `codes`.
template <size_t N>
bool holdsAnyOf(const intptr_t* errors, const intptr_t (&codes)[N]) {
    if (errors == nullptr) return false;
    for (const intptr_t* e = errors; *e != isc_arg_end;) {
        const intptr_t kind = *e++;
        if (kind == isc_arg_gds &&
            std::find(std::begin(codes), std::end(codes), *e) != std::end(codes))
            return true;
        // Every argument takes one slot, but a counted string takes two.
        e += kind == isc_arg_cstring ? 2 : 1;
    }
    return false;
}

}  // namespace

bool meansConnectionLost(const intptr_t* errors) {
    // The codes seen when a server stops, a network fails, or the client shuts an attachment
    // down (on SIGINT or SIGTERM unless told otherwise), anywhere in the vector: the first code
    // is often a general one ("Error writing data to the connection." follows it).
    static constexpr intptr_t kLost[] = {
        isc_network_error,       // Unable to complete network request to host
        isc_net_read_err,        // Error reading data from the connection
        isc_net_write_err,       // Error writing data to the connection
        isc_shutdown,            // database shutdown
        isc_att_shutdown,        // connection shutdown
        isc_conn_lost,           // connection lost to pipe server
        isc_lost_db_connection,  // connection lost to database
    };
    return holdsAnyOf(errors, kLost);
}

bool meansDatabaseInUse(const intptr_t* errors) {
    // Comes after a general "I/O error during "lock" operation" for the file.
    static constexpr intptr_t kInUse[] = {isc_already_opened};
    return holdsAnyOf(errors, kInUse);
}

void throwError(IStatus* status) {
    std::string text(8192, '\0');
    const unsigned length =
        util()->formatStatus(text.data(), static_cast<unsigned>(text.size()), status);
    text.resize(std::min<size_t>(length, text.size()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    const intptr_t* errors = status->getErrors();
    // Error numbers fit 32 bits; the vector holds them in pointer-wide slots.
    const long code =
        (errors != nullptr && errors[0] == isc_arg_gds) ? static_cast<long>(errors[1]) : 0;
    if (meansConnectionLost(errors)) throw ConnectionLost(text, code);
    if (meansDatabaseInUse(errors)) throw DatabaseInUse(text, code);
    throw DatabaseError(text, code);
}

void freeStatement(IStatement*& statement) {
    if (statement == nullptr) return;
    QuietStatus status;
    statement->free(&status);
    // A statement the server cannot free (connection lost) only needs its handle released.
    if (status.failed()) statement->release();
    statement = nullptr;
}

void endQuietly(ITransaction*& transaction, bool commit) {
    if (transaction == nullptr) return;
    QuietStatus status;
    if (commit)
        transaction->commit(&status);
    else
        transaction->rollback(&status);
    // A transaction the server cannot end (connection lost) dies with the attachment; only the
    // handle is left to release.
    if (status.failed()) transaction->release();
    transaction = nullptr;
}

}  // namespace tarvolen::database::fb
