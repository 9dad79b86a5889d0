#include "ClientLibrary.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <variant>

#include "base/os/SharedLibrary.h"
#include "db/DatabaseError.h"

namespace tarvolen::database::fb {
namespace {

#ifdef _WIN32
constexpr const char* kLibraryName = "fbclient.dll";
constexpr const char* kInstallHint =
    "install the Firebird 3 client (fbclient.dll beside the program, in the system folder or on "
    "the PATH), or name the library in TARVOLEN_FBCLIENT";
#else
constexpr const char* kLibraryName = "libfbclient.so.2";
constexpr const char* kInstallHint =
    "install the Firebird 3 client (on Debian: apt install libfbclient2), or name the library "
    "in TARVOLEN_FBCLIENT";
#endif

struct Loaded {
    std::unique_ptr<os::SharedLibrary> library;  // kept until the process ends
    ClientEntryPoints entryPoints;
};

// The loaded client, or the message that says why there is none.
using Outcome = std::variant<Loaded, std::string>;

Outcome load() {
    const char* chosen = std::getenv("TARVOLEN_FBCLIENT");
    const std::string name = chosen != nullptr && *chosen != '\0' ? chosen : kLibraryName;
    std::string why;
    Loaded loaded;
    loaded.library = os::SharedLibrary::load(name, why);
    if (!loaded.library) {
        return "The Firebird client library " + name + " cannot be loaded (" + why + "): " +
               kInstallHint + ".";
    }
    loaded.entryPoints.getMasterInterface = reinterpret_cast<decltype(&Firebird::fb_get_master_interface)>(
        loaded.library->symbol("fb_get_master_interface"));
    loaded.entryPoints.shutdownCallback = reinterpret_cast<decltype(&fb_shutdown_callback)>(
        loaded.library->symbol("fb_shutdown_callback"));
    if (loaded.entryPoints.getMasterInterface == nullptr ||
        loaded.entryPoints.shutdownCallback == nullptr) {
        return "The library " + name +
               " is no Firebird 3 client (it lacks fb_get_master_interface): " + kInstallHint +
               ".";
    }
    return loaded;
}

const Outcome& outcome() {
    static const Outcome once = load();
    return once;
}

}  // namespace

const ClientEntryPoints& client() {
    const Outcome& loaded = outcome();
    if (const auto* why = std::get_if<std::string>(&loaded)) throw ClientLibraryMissing(*why);
    return std::get<Loaded>(loaded).entryPoints;
}

bool clientAvailable() {
    return std::holds_alternative<Loaded>(outcome());
}

}  // namespace tarvolen::database::fb
