// The console on Windows.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <io.h>

#include <vector>

#include "base/os/Terminal.h"

namespace tarvolen::os {
namespace {

HANDLE handleOf(std::FILE* stream) {
    // The C runtime hands its handle out as an integer.
    return reinterpret_cast<HANDLE>(  // NOLINT(performance-no-int-to-ptr)
        _get_osfhandle(_fileno(stream)));
}

// Switches the console to UTF-8 and to the terminal's control sequences (the progress line
// erases with them) while the program runs; puts both back as it ends.
class Utf8Console {
  public:
    Utf8Console() : m_codePage(GetConsoleOutputCP()) {
        SetConsoleOutputCP(CP_UTF8);
        for (std::FILE* stream : {stdout, stderr}) {
            const HANDLE handle = handleOf(stream);
            DWORD mode = 0;
            if (!GetConsoleMode(handle, &mode)) continue;
            m_modes.push_back({handle, mode});
            SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        }
    }
    ~Utf8Console() {
        for (const auto& [handle, mode] : m_modes) SetConsoleMode(handle, mode);
        SetConsoleOutputCP(m_codePage);
    }
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

  private:
    UINT m_codePage;
    struct Mode {
        HANDLE handle;
        DWORD mode;
    };
    std::vector<Mode> m_modes;
};

}  // namespace

bool isTerminal(std::FILE* stream) {
    DWORD mode = 0;
    return GetConsoleMode(handleOf(stream), &mode) != 0;
}

int terminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(handleOf(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool terminalTakesLatin1() {
    // Output that goes to a file or a pipe is UTF-8 too, as on POSIX systems by default.
    if (isTerminal(stdout) || isTerminal(stderr)) static const Utf8Console console;
    return false;
}

}  // namespace tarvolen::os
