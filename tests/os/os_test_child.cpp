// The other process of the platform tests: it takes a plan's lock, appends done-marks or
// replaces a file over and over, says so on its standard output, and then waits to be killed.
//
//   os_test_child exit                 prints its process id and ends
//   os_test_child lock PLAN            holds the plan's lock
//   os_test_child journal PLAN COUNT   appends the marks 1..COUNT to the plan's journal
//   os_test_child replace FILE A B     writes FILE with A's and B's bytes in turn, forever
//   os_test_child lines                "uno" on standard output, "due" on standard error, then
//                                      "tre" CR LF "quattro" with no line end; exits with 3
//   os_test_child args ARG...          prints each argument as "[ARG]" on a line of its own
//   os_test_child env NAME...          prints "NAME=value", or "NAME unset", for each name
//   os_test_child sleep                prints "started" and sleeps for 30 seconds

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "base/os/Process.h"
#include "plan/MarksJournal.h"
#include "plan/FileIO.h"
#include "plan/PlanLock.h"

namespace {

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Until the test closes our input or kills us.
void waitForTheEnd() {
    while (std::fgetc(stdin) != EOF) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvolen;
    os::prepareCommandLineProcess();
    const std::string what = argc > 1 ? argv[1] : "";
    try {
        if (what == "exit") {
            say(std::to_string(os::currentProcessId()));
            return 0;
        }
        if (what == "lock" && argc == 3) {
            PlanLock lock(argv[2]);
            say("locked " + std::to_string(os::currentProcessId()));
            waitForTheEnd();
            return 0;
        }
        if (what == "journal" && argc == 4) {
            MarksJournal journal(argv[2]);
            for (int id = 1; id <= std::stoi(argv[3]); ++id) journal.Append(id);
            say("appended");
            waitForTheEnd();
            return 0;
        }
        if (what == "lines") {
            say("uno");
            std::fputs("due\n", stderr);
            std::fflush(stderr);
            std::fputs("tre\r\nquattro", stdout);
            std::fflush(stdout);
            return 3;
        }
        if (what == "args") {
            for (int i = 2; i < argc; ++i) say(std::string("[") + argv[i] + "]");
            return 0;
        }
        if (what == "env") {
            for (int i = 2; i < argc; ++i) {
                const char* value = std::getenv(argv[i]);
                say(std::string(argv[i]) + (value != nullptr ? "=" + std::string(value) : " unset"));
            }
            return 0;
        }
        if (what == "sleep") {
            say("started");
            std::this_thread::sleep_for(std::chrono::seconds(30));
            return 0;
        }
        if (what == "replace" && argc == 5) {
            const std::string bytes[] = {readWholeFile(argv[3]), readWholeFile(argv[4])};
            WriteOptions keepBackup;
            keepBackup.keepBackup = true;
            say("writing");
            for (unsigned long n = 0;; ++n) writeFileAtomically(argv[2], bytes[n % 2], keepBackup);
        }
    } catch (const std::exception& e) {
        say(std::string("failed: ") + e.what());
        return 1;
    }
    say("usage: os_test_child exit | lock PLAN | journal PLAN COUNT | replace FILE A B | lines | "
        "args ARG... | env NAME... | sleep");
    return 2;
}
