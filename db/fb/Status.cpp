#include "Status.h"

#include <algorithm>
#include <string>

namespace tarvolen::database::fb {

using namespace Firebird;

IMaster* master() {
    static IMaster* const instance = fb_get_master_interface();
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

DatabaseError errorFrom(IStatus* status) {
    std::string text(8192, '\0');
    const unsigned length =
        util()->formatStatus(text.data(), static_cast<unsigned>(text.size()), status);
    text.resize(std::min<size_t>(length, text.size()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    const intptr_t* errors = status->getErrors();
    const long code = (errors != nullptr && errors[0] == isc_arg_gds) ? errors[1] : 0;
    return DatabaseError(text, code);
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
