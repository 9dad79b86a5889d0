#pragma once
// Running a piece of work in a child process under limits, to show that bad input ends in an
// error and not in a crash, a runaway allocation or a wait without end: the child's address
// space is capped (except under a sanitizer, which reserves terabytes of it), its processor time
// too, and the parent kills it when the wall-clock limit passes. The parent learns what the work
// returned or threw, how the child ended, its peak resident memory and its time.
//
// And a snapshot of a folder (names, sizes, bytes, modification times), to show that reading
// bad input changed nothing on disk.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define TARVOLEN_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define TARVOLEN_TEST_SANITIZED 1
#endif
#endif
#ifndef TARVOLEN_TEST_SANITIZED
#define TARVOLEN_TEST_SANITIZED 0
#endif

namespace tarvolen::testing {

struct ChildLimits {
    size_t addressSpaceMb = 1024;
    int cpuSeconds = 30;
    int wallSeconds = 60;
};

struct ChildOutcome {
    // What the work returned; for an exception "<kind>: <message>", where kind is "error" for
    // a std::exception and "out of memory" for std::bad_alloc.
    std::string text;
    bool endedNormally = false;  // false: killed by a signal or by the wall-clock limit
    int signal = 0;
    long maxRssMb = 0;
    double seconds = 0;
};

inline ChildOutcome runInChild(const std::function<std::string()>& work,
                               const ChildLimits& limits = {}) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (!TARVOLEN_TEST_SANITIZED) {
            const rlimit space{limits.addressSpaceMb << 20, limits.addressSpaceMb << 20};
            ::setrlimit(RLIMIT_AS, &space);
        }
        const rlimit cpu{static_cast<rlim_t>(limits.cpuSeconds),
                         static_cast<rlim_t>(limits.cpuSeconds)};
        ::setrlimit(RLIMIT_CPU, &cpu);
        std::string text;
        try {
            text = work();
        } catch (const std::bad_alloc&) {
            text = "out of memory: std::bad_alloc";
        } catch (const std::exception& e) {
            text = std::string("error: ") + e.what();
        }
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(pipeFds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    ChildOutcome outcome;
    const auto deadline = start + std::chrono::seconds(limits.wallSeconds);
    char buffer[65536];
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready > 0) {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0) break;  // the child closed its end: it has ended
            outcome.text.append(buffer, static_cast<size_t>(n));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.endedNormally = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.maxRssMb = usage.ru_maxrss / 1024;
    return outcome;
}

// Everything about a folder's files that reading them must leave as it was.
class FolderSnapshot {
  public:
    explicit FolderSnapshot(const std::filesystem::path& folder) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            std::string bytes;
            if (entry.is_regular_file()) {
                std::ifstream in(entry.path(), std::ios::binary);
                bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
            m_files[entry.path().string()] =
                std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
                std::to_string(std::hash<std::string>{}(bytes));
        }
    }
    bool operator==(const FolderSnapshot&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const FolderSnapshot& s) {
        for (const auto& [name, facts] : s.m_files) out << "\n  " << name << " " << facts;
        return out;
    }

  private:
    std::map<std::string, std::string> m_files;
};

}  // namespace tarvolen::testing
