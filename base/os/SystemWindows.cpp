// Errors, wide text and shared libraries on Windows.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "base/os/SharedLibrary.h"
#include "base/os/SystemError.h"
#include "base/os/WindowsText.h"

namespace tarvolen::os {
namespace {

// The system's error codes, worded by the system itself.
class WindowsCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "windows"; }
    // The codes callers tell apart, comparable with std::errc as errno values are on POSIX.
    std::error_condition default_error_condition(int code) const noexcept override {
        switch (static_cast<DWORD>(code)) {
            case ERROR_FILE_EXISTS:
            case ERROR_ALREADY_EXISTS:
                return std::errc::file_exists;
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return std::errc::no_such_file_or_directory;
            case ERROR_ACCESS_DENIED:
                return std::errc::permission_denied;
            case ERROR_DISK_FULL:
            case ERROR_HANDLE_DISK_FULL:
                return std::errc::no_space_on_device;
            case ERROR_NOT_SAME_DEVICE:
                return std::errc::cross_device_link;
            case ERROR_INVALID_FUNCTION:
            case ERROR_NOT_SUPPORTED:
                return std::errc::operation_not_supported;
            case ERROR_DIRECTORY:
                return std::errc::not_a_directory;
            case ERROR_TOO_MANY_LINKS:
                return std::errc::too_many_links;
            default:
                return {code, *this};
        }
    }
    std::string message(int code) const override {
        char* text = nullptr;
        const DWORD length = FormatMessageA(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
        std::string message = length > 0 ? std::string(text, length)
                                         : "Error " + std::to_string(static_cast<unsigned>(code));
        LocalFree(text);
        // Worded as the POSIX texts are: no line break and no full stop at the end.
        while (!message.empty() &&
               (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                message.back() == '.'))
            message.pop_back();
        return message;
    }
};

const WindowsCategory& windowsCategory() {
    static const WindowsCategory category;
    return category;
}

std::wstring wide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(),
                        length);
    return out;
}

}  // namespace

std::error_code lastError() {
    return {static_cast<int>(GetLastError()), windowsCategory()};
}

std::string errorText(const std::error_code& error) {
    return error.message();
}

namespace detail {

std::wstring wideFromAnsi(std::string_view text) {
    return wide(CP_ACP, text);
}

std::wstring wideFromUtf8(std::string_view text) {
    return wide(CP_UTF8, text);
}

std::string ansiFromWide(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

}  // namespace detail

std::unique_ptr<SharedLibrary> SharedLibrary::load(const std::string& name, std::string& why) {
    HMODULE module = LoadLibraryW(detail::wideFromAnsi(name).c_str());
    if (module == nullptr) {
        why = errorText(lastError());
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(module));
}

SharedLibrary::~SharedLibrary() {
    FreeLibrary(static_cast<HMODULE>(m_handle));
}

void* SharedLibrary::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

}  // namespace tarvolen::os
