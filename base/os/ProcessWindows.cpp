// This process and others on Windows.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "base/os/Process.h"
#include "base/os/WindowsText.h"

namespace tarvolen::os {
namespace {

// Closes a process handle when it goes.
class ProcessHandle {
  public:
    explicit ProcessHandle(HANDLE handle) : m_handle(handle) {}
    ~ProcessHandle() {
        if (m_handle != nullptr) CloseHandle(m_handle);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE get() const { return m_handle; }

  private:
    HANDLE m_handle;
};

unsigned long long creationTime(HANDLE process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

long currentProcessId() {
    return static_cast<long>(GetCurrentProcessId());
}

std::string currentUserName() {
    wchar_t name[257];  // the longest user name, and its terminating null
    DWORD length = 257;
    if (!GetUserNameW(name, &length) || length == 0) return "?";
    return detail::ansiFromWide(std::wstring_view(name, length - 1));
}

unsigned long long processStartTime(long pid) {
    ProcessHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    return process.get() != nullptr ? creationTime(process.get()) : 0;
}

bool processMayBeRunning(long pid, unsigned long long startTime) {
    ProcessHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (process.get() == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such id
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process.get(), &exitCode) && exitCode != STILL_ACTIVE) return false;
    if (startTime == 0) return true;
    const unsigned long long start = creationTime(process.get());
    return start == 0 || start == startTime;
}

long largestProcessId() {
    return 0x7FFFFFFF;
}

std::filesystem::path executablePath() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::filesystem::path userConfigFolder() {
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (appData == nullptr || *appData == L'\0') return {};
    return std::filesystem::path(appData);
}

std::tm localTime(std::time_t time) {
    std::tm local{};
    localtime_s(&local, &time);
    return local;
}

void prepareCommandLineProcess() {
    // Text mode would write every "\n" as "\r\n": the tools' output would differ from POSIX.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

// --- StopRequests -----------------------------------------------------------------------------

namespace {

std::atomic<int> g_received{0};

BOOL WINAPI recordStop(DWORD event) {
    int kind = 0;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            kind = kStopInterrupt;
            break;
        case CTRL_CLOSE_EVENT:
            kind = kStopHangup;
            break;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            kind = kStopTerminate;
            break;
        default:
            return FALSE;
    }
    int none = 0;
    g_received.compare_exchange_strong(none, kind);
    if (kind != kStopInterrupt) {
        // The system ends the process as soon as this handler returns: waiting here gives the
        // run its few seconds of grace to reach its stop point and return from main, which
        // ends the process with this thread in it.
        Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

StopRequests::StopRequests() {
    g_received = 0;
    SetConsoleCtrlHandler(recordStop, TRUE);
}

StopRequests::~StopRequests() {
    SetConsoleCtrlHandler(recordStop, FALSE);
}

int StopRequests::received() const {
    return g_received.load();
}

}  // namespace tarvolen::os
