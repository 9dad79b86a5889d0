#pragma once
// Another process for a test: a program started with arguments, its standard input and output
// on pipes, killed the hard way when the test says so. POSIX and Windows.

#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

namespace tarvolen::testing {

class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
#ifdef _WIN32
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr;
        HANDLE childOut = nullptr;
        CreatePipe(&childIn, &m_in, &inherit, 0);
        CreatePipe(&m_out, &childOut, &inherit, 0);
        SetHandleInformation(m_in, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(m_out, HANDLE_FLAG_INHERIT, 0);
        std::string command = quote(program);
        for (const auto& argument : arguments) command += " " + quote(argument);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &info)) {
            ADD_FAILURE() << "cannot start " << command << ": error " << GetLastError();
        } else {
            m_process = info.hProcess;
            m_pid = static_cast<long>(info.dwProcessId);
            CloseHandle(info.hThread);
        }
        CloseHandle(childIn);
        CloseHandle(childOut);
#else
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) ADD_FAILURE() << "no pipe";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            ADD_FAILURE() << "cannot start " << program;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
        m_pid = pid;
#endif
    }
    ~ChildProcess() {
        if (running()) kill();
        wait();
#ifdef _WIN32
        CloseHandle(m_in);
        CloseHandle(m_out);
#else
        ::close(m_in);
        ::close(m_out);
#endif
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    long pid() const { return m_pid; }

    // The next line the child printed, without its line break; empty at the end of its output.
    std::string readLine() {
        std::string line;
        char c = 0;
        while (readByte(c) && c != '\n') line += c;
        return line;
    }

    // Ends the child at once, as a kill from outside would: no clean-up of its own runs.
    void kill() {
#ifdef _WIN32
        TerminateProcess(m_process, 9);
#else
        ::kill(static_cast<pid_t>(m_pid), SIGKILL);
#endif
    }

    // Waits for the child to end; its exit code, or -1 when it did not exit by itself.
    int wait() {
        if (m_waited) return m_status;
        m_waited = true;
#ifdef _WIN32
        WaitForSingleObject(m_process, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        CloseHandle(m_process);
        m_status = static_cast<int>(code);
#else
        int status = 0;
        ::waitpid(static_cast<pid_t>(m_pid), &status, 0);
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        return m_status;
    }

  private:
    bool running() const { return !m_waited && m_pid > 0; }
    bool readByte(char& c) {
#ifdef _WIN32
        DWORD n = 0;
        return ReadFile(m_out, &c, 1, &n, nullptr) && n == 1;
#else
        return ::read(m_out, &c, 1) == 1;
#endif
    }
#ifdef _WIN32
    static std::string quote(const std::string& text) { return "\"" + text + "\""; }
    HANDLE m_process = nullptr;
    HANDLE m_in = nullptr;
    HANDLE m_out = nullptr;
#else
    int m_in = -1;
    int m_out = -1;
#endif
    long m_pid = -1;
    bool m_waited = false;
    int m_status = 0;
};

}  // namespace tarvolen::testing
