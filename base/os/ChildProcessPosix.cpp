// Child processes on POSIX systems (Linux: the child dies with its parent).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "base/os/ChildLines.h"
#include "base/os/ChildProcess.h"

extern char** environ;

namespace tarvolen::os {
namespace {

// The child's environment: this process's, with the run's pairs set on top.
std::vector<std::string> childEnvironment(const ChildRun& run) {
    std::map<std::string, std::string> added(run.environment.begin(), run.environment.end());
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const size_t eq = entry.find('=');
        if (eq != std::string_view::npos && added.count(std::string(entry.substr(0, eq))) != 0)
            continue;
        env.emplace_back(entry);
    }
    for (const auto& [name, value] : added) {
        std::string entry = name;
        entry += '=';
        entry += value;
        env.push_back(std::move(entry));
    }
    return env;
}

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Where `name` is found: itself when it holds a '/', else the first executable of that name in
// the folders of PATH; itself when none is found, so that starting it says why.
std::string programPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const size_t colon = dirs.find(':');
        std::string candidate = std::string(dirs.substr(0, colon)) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
    }
    return name;
}

// The outcome of a program that could not be started, errno saying why: the reason as its one
// line, and exit status 127 as the shell gives.
ChildOutcome cannotStart(const std::string& name, detail::ChildLines& lines) {
    const std::string why = "cannot start " + name + ": " + std::strerror(errno);
    lines.add(why.data(), why.size());
    lines.finish();
    ChildOutcome outcome;
    outcome.exitStatus = 127;
    return outcome;
}

// Hands what the child writes on `fd` to `lines` until the child closes it, asking
// run.keepGoing at every interval; true when that stopped the child (killed).
bool readUntilEnd(int fd, pid_t pid, const ChildRun& run, detail::ChildLines& lines) {
    const int timeout = static_cast<int>(run.interval.count());
    char buffer[4096];
    while (true) {
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, timeout);
        if (ready > 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                lines.add(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                return false;
            }
        }
        if (run.keepGoing && !run.keepGoing()) {
            ::kill(pid, SIGKILL);
            return true;
        }
    }
}

}  // namespace

ChildOutcome runChild(const ChildRun& run) {
    ChildOutcome outcome;
    detail::ChildLines lines(run.onLine);
    if (run.argv.empty()) return outcome;
    // Everything the child needs is built before fork: after it, only calls safe there.
    std::vector<std::string> env = childEnvironment(run);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = run.argv;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string program = programPath(args[0]);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return cannotStart(args[0], lines);
    // Written by the child when the program cannot be started: built here, where it may be.
    const std::string startFailure = "cannot start " + args[0] + ": ";
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child goes when this process goes, however it goes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
        // Signals this process ignores or catches reach the program as they normally do.
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::signal(signal, SIG_DFL);
        ::execve(program.c_str(), argv.data(), envp.data());
        const char* why = std::strerror(errno);
        [[maybe_unused]] ssize_t n =
            ::write(STDERR_FILENO, startFailure.data(), startFailure.size());
        n = ::write(STDERR_FILENO, why, std::strlen(why));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        const int error = errno;
        ::close(pipeFds[0]);
        errno = error;
        return cannotStart(args[0], lines);
    }

    outcome.stopped = readUntilEnd(pipeFds[0], pid, run, lines);
    ::close(pipeFds[0]);
    lines.finish();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.exitStatus = statusOf(status);
    return outcome;
}

}  // namespace tarvolen::os
