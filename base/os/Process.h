#pragma once
// This process and others: ids, start times, where the program lives, local time, and the
// requests to stop that a command-line run heeds. One implementation per platform.

#include <ctime>
#include <filesystem>
#include <string>

namespace tarvolen::os {

long currentProcessId();

// The user this process runs as, by name (its number when it has none).
std::string currentUserName();

// When the process with this id started, as a number that tells it from a later process given
// the same id; 0 when that cannot be read.
unsigned long long processStartTime(long pid);

// False only when the process with this id is surely gone, or the id now belongs to a process
// that started at another time than `startTime` (0: only the id to go by).
bool processMayBeRunning(long pid, unsigned long long startTime);

// The largest process id the system gives out.
long largestProcessId();

// The running executable's full path; empty when it cannot be read.
std::filesystem::path executablePath();

// The folder of the user's settings (~/.config, %APPDATA% on Windows); empty when unknown.
std::filesystem::path userConfigFolder();

// The calendar time in the local time zone.
std::tm localTime(std::time_t time);

// For a command-line tool, before it writes anything: the standard streams carry bytes
// unchanged (no line-end translation), and a write past a limit on file size fails with an
// error instead of ending the process.
void prepareCommandLineProcess();

// The kinds of request to stop, numbered as the POSIX signals that carry them (SIGHUP,
// SIGINT, SIGTERM); on Windows, a closed console, Ctrl+C or Ctrl+Break, and the end of the
// session.
inline constexpr int kStopHangup = 1;
inline constexpr int kStopInterrupt = 2;
inline constexpr int kStopTerminate = 15;

// Catches the requests to stop for the life of the object (one at a time in a process). The
// handler only records the first request; the program asks for it at points of its choosing.
class StopRequests {
  public:
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // The first request received (kStop...), or 0.
    int received() const;
};

}  // namespace tarvolen::os
