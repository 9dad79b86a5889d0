// Errors and shared libraries on POSIX systems.

#include <dlfcn.h>

#include <cerrno>
#include <cstring>

#include "base/os/SharedLibrary.h"
#include "base/os/SystemError.h"

namespace tarvolen::os {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::string errorText(const std::error_code& error) {
    return error.message();
}

std::unique_ptr<SharedLibrary> SharedLibrary::load(const std::string& name, std::string& why) {
    // Global, so that the plugins the library loads in turn see its symbols.
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (handle == nullptr) {
        const char* error = ::dlerror();
        why = error != nullptr ? error : "cannot be loaded";
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() {
    ::dlclose(m_handle);
}

void* SharedLibrary::symbol(const char* name) const {
    return ::dlsym(m_handle, name);
}

}  // namespace tarvolen::os
