#pragma once
// Another program run to its end: its output read line by line as it comes, and a way to stop
// it. The one place the program starts other processes; one implementation per platform
// (fork and exec on POSIX, CreateProcessW on Windows).

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvolen::os {

struct ChildRun {
    // The program (a path, or a name looked up in PATH) and its arguments. On Windows they
    // reach the program as the C runtime's command-line rules will split them again.
    std::vector<std::string> argv;
    // NAME=value pairs added to this process's environment for the child alone (a password
    // passed this way shows in no process listing).
    std::vector<std::pair<std::string, std::string>> environment;
    // Receives each line the child writes to its standard output or error, without its line
    // break.
    std::function<void(std::string_view line)> onLine;
    // Asked at least every `interval` while the child runs; false kills it.
    std::function<bool()> keepGoing;
    std::chrono::milliseconds interval{50};
};

// The status of a child that a stop killed: 128 + SIGKILL, as a shell reports it, on every
// platform.
inline constexpr int kKilledChildStatus = 128 + 9;

struct ChildOutcome {
    // The child's exit status; 128 + the signal that ended it on POSIX; kKilledChildStatus
    // when a stop killed it.
    int exitStatus = -1;
    bool stopped = false;  // keepGoing() said no, and the child was killed
};

// Runs the child and waits for it to end. A child that cannot be started ends with status 127
// and one line saying why. The child dies with this process, so a kill of the caller never
// leaves it running.
ChildOutcome runChild(const ChildRun& run);

}  // namespace tarvolen::os
