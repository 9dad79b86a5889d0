#pragma once
// Another program run to its end: its output read line by line as it comes, and a way to stop
// it. The one place the program starts other processes; a port to another system changes this
// file alone.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvolen {

struct ChildRun {
    // The program (a path, or a name looked up in PATH) and its arguments.
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

struct ChildOutcome {
    int exitStatus = -1;   // the child's exit status; 128 + the signal that ended it
    bool stopped = false;  // keepGoing() said no, and the child was killed
};

// Runs the child and waits for it to end. A child that cannot be started ends with status 127
// and one line saying why. The child dies with this process, so a kill of the caller never
// leaves it running.
ChildOutcome RunChild(const ChildRun& run);

}  // namespace tarvolen
