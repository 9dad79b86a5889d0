#pragma once
// A shared library loaded at run time (dlopen, LoadLibraryW), kept until the process ends.

#include <memory>
#include <string>

namespace tarvolen::os {

class SharedLibrary {
  public:
    // Loads the library by file name (searched where the system searches) or by path. Returns
    // nullptr and sets `why` to the loader's own words when it cannot.
    static std::unique_ptr<SharedLibrary> load(const std::string& name, std::string& why);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The address of an exported function; nullptr when the library has none of that name.
    void* symbol(const char* name) const;

  private:
    explicit SharedLibrary(void* handle) : m_handle(handle) {}
    void* m_handle;
};

}  // namespace tarvolen::os
