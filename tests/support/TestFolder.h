#pragma once
// A temporary folder of the test's own, and the current folder moved into one.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/os/Process.h"

namespace tarvolen::testing {

// A new empty folder under the system's temporary folder, removed with its contents.
class TempFolder {
  public:
    TempFolder() {
        static std::atomic<unsigned> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        const std::string stem = "tarvolen-test-" + std::to_string(os::currentProcessId()) + "-";
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::error_code ec;
            m_path = base / (stem + std::to_string(counter.fetch_add(1)));
            if (std::filesystem::create_directory(m_path, ec)) return;
        }
        ADD_FAILURE() << "no temporary folder";
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

// Sets the current folder for the life of the object.
class ScopedCurrentPath {
  public:
    explicit ScopedCurrentPath(const std::filesystem::path& path)
        : m_old(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~ScopedCurrentPath() {
        std::error_code ec;
        std::filesystem::current_path(m_old, ec);
    }
    ScopedCurrentPath(const ScopedCurrentPath&) = delete;
    ScopedCurrentPath& operator=(const ScopedCurrentPath&) = delete;

  private:
    std::filesystem::path m_old;
};

}  // namespace tarvolen::testing
