#pragma once
// Private to db/: the Firebird client library, loaded when the program first needs it rather
// than linked, so that a machine without it still runs everything that needs no database and
// is told what to install when it does.

#include <firebird/Interface.h>

namespace tarvolen::database::fb {

// The two entry points the program uses.
struct ClientEntryPoints {
    decltype(&Firebird::fb_get_master_interface) getMasterInterface = nullptr;
    decltype(&fb_shutdown_callback) shutdownCallback = nullptr;
};

// The client's entry points: the library named by $TARVOLEN_FBCLIENT, else the platform's
// (libfbclient.so.2, fbclient.dll), loaded once for the life of the process.
// Throws ClientLibraryMissing, naming the library and what to install, when it cannot be
// loaded or lacks an entry point.
const ClientEntryPoints& client();

// Whether the client can be loaded; loads it when it can.
bool clientAvailable();

}  // namespace tarvolen::database::fb
