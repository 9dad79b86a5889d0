// Feeds arbitrary bytes to the registry-file reader. It must never throw: a file is read or
// refused as a whole with a reason. Whatever it reads is walked to the bottom, every value's
// text taken, as the default-alias lookup takes it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <vector>

#include "app/settings/RegistryFile.h"

namespace {

using tarvolen::settings::RegistryFileKey;

[[noreturn]] void fail(const char* what, const char* detail = "") {
    std::fprintf(stderr, "registry file: %s %s\n", what, detail);
    std::abort();
}

// Without recursion: a file may nest keys as deep as it has bytes.
void walk(const RegistryFileKey& root) {
    std::vector<const RegistryFileKey*> pending = {&root};
    while (!pending.empty()) {
        const RegistryFileKey* key = pending.back();
        pending.pop_back();
        for (const auto& [name, value] : key->values) {
            if (value.type == tarvolen::settings::kRegSz ||
                value.type == tarvolen::settings::kRegExpandSz)
                (void)tarvolen::settings::stringValueText(value);
        }
        for (const auto& [name, subkey] : key->subkeys) {
            if (!subkey) fail("a subkey without a key");
            pending.push_back(subkey.get());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    tarvolen::settings::RegistryFileContents contents;
    try {
        contents = tarvolen::settings::parseRegistryFile(bytes);
    } catch (const std::exception& e) {
        fail("the reader threw", e.what());
    }
    if (contents.currentUser) {
        if (!contents.error.empty()) fail("a file read with a reason to refuse it");
        walk(*contents.currentUser);
    } else if (contents.error.empty()) {
        fail("a file refused without a reason");
    }
    return 0;
}
