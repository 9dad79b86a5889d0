// This process and others on POSIX systems (Linux: /proc).

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "base/os/Process.h"

namespace tarvolen::os {

long currentProcessId() {
    return static_cast<long>(::getpid());
}

std::string currentUserName() {
    const uid_t uid = ::geteuid();
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::to_string(uid);
}

unsigned long long processStartTime(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The command name, in parentheses, may hold blanks; the fields after it do not.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22; ++number) {  // the start time (clock ticks) is field 22
        if (!(fields >> field)) return 0;
    }
    return std::strtoull(field.c_str(), nullptr, 10);
}

bool processMayBeRunning(long pid, unsigned long long startTime) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
    if (startTime == 0) return true;  // only the id to go by
    const unsigned long long start = processStartTime(pid);
    return start == 0 || start == startTime;  // another process now has the id
}

long largestProcessId() {
    return 4194304;  // the kernel's ceiling on pid_max
}

std::filesystem::path executablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

std::filesystem::path userConfigFolder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return {};
    return std::filesystem::path(home) / ".config";
}

std::tm localTime(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    return local;
}

void prepareCommandLineProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
}

// --- StopRequests -----------------------------------------------------------------------------

namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGTERM};
static_assert(SIGHUP == kStopHangup && SIGINT == kStopInterrupt && SIGTERM == kStopTerminate);

// A signal handler can reach nothing but a static of this kind.
volatile std::sig_atomic_t g_received = 0;
struct sigaction g_replaced[3] = {};

extern "C" void recordStop(int signal) {
    if (g_received == 0) g_received = signal;
}

}  // namespace

StopRequests::StopRequests() {
    g_received = 0;
    struct sigaction ours {};
    ours.sa_handler = recordStop;
    // Calls the signal lands in (a read from the server, a write) go on rather than fail.
    ours.sa_flags = SA_RESTART;
    sigemptyset(&ours.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &ours, &g_replaced[i]);
}

StopRequests::~StopRequests() {
    // Puts back the handlers it replaced, where its own are still installed.
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        ::sigaction(kSignals[i], nullptr, &current);
        if (current.sa_handler == recordStop) ::sigaction(kSignals[i], &g_replaced[i], nullptr);
    }
}

int StopRequests::received() const {
    return g_received;
}

}  // namespace tarvolen::os
