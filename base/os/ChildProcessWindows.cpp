// Child processes on Windows: CreateProcessW with a command line the child's C runtime splits
// back into the same arguments, an environment block of its own, and a job object that ends
// the child with this process.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <string>
#include <vector>

#include "base/os/ChildLines.h"
#include "base/os/ChildProcess.h"
#include "base/os/SystemError.h"
#include "base/os/WindowsText.h"

namespace tarvolen::os {
namespace {

using detail::wideFromAnsi;

// Closes a handle when it goes out of scope.
class Handle {
  public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }
    HANDLE* out() { return &m_handle; }
    void reset() {
        if (valid()) CloseHandle(m_handle);
        m_handle = nullptr;
    }

  private:
    HANDLE m_handle;
};

// Appends one argument as the C runtime's parser reads it back: in quotes when it holds a
// blank or a quote or is empty; a quote inside escaped with a backslash, and the backslashes
// before a quote (or before the closing one) doubled.
void appendArgument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++backslashes;
            ++i;
        }
        if (i == argument.size()) {
            line.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[i] == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        line += argument[i];
    }
    line += L'"';
}

// Environment names are the same in any letter case.
bool sameName(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring_view nameOf(std::wstring_view entry) {
    // Names that begin with "=" (the current folder of each drive, "=C:") are names all the
    // same: the separator is the first "=" after the first character.
    return entry.substr(0, entry.find(L'=', 1));
}

// The child's environment block: this process's variables, with the run's pairs set on top,
// sorted by name as the system keeps them.
std::wstring environmentBlock(const ChildRun& run) {
    std::vector<std::wstring> entries;
    std::vector<std::wstring> added;
    for (const auto& [name, value] : run.environment)
        added.push_back(wideFromAnsi(name) + L"=" + wideFromAnsi(value));
    if (wchar_t* current = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = current; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            const std::wstring_view text(entry);
            const bool replaced = std::any_of(added.begin(), added.end(), [&](const auto& pair) {
                return sameName(nameOf(pair), nameOf(text));
            });
            if (!replaced) entries.emplace_back(text);
        }
        FreeEnvironmentStringsW(current);
    }
    entries.insert(entries.end(), added.begin(), added.end());
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const std::wstring_view x = nameOf(a);
        const std::wstring_view y = nameOf(b);
        return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(),
                                    static_cast<int>(y.size()), TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const auto& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    if (entries.empty()) block += L'\0';
    return block;
}

// Handles the child inherits, and no others: with a list of them where the system takes one.
class InheritedHandles {
  public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : m_handles(std::move(handles)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_buffer.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_buffer.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                       m_handles.data(), m_handles.size() * sizeof(HANDLE),
                                       nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list);
            return;
        }
        m_list = list;
    }
    ~InheritedHandles() {
        if (m_list != nullptr) DeleteProcThreadAttributeList(m_list);
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return m_list; }

  private:
    std::vector<HANDLE> m_handles;
    std::vector<char> m_buffer;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

// A job that kills its processes when its last handle closes: when this process ends,
// however it ends.
HANDLE jobEndingWithThisProcess() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

ChildOutcome cannotStart(detail::ChildLines& lines, const std::string& program) {
    lines.add("cannot start " + program + ": " + errorText(lastError()));
    lines.finish();
    ChildOutcome outcome;
    outcome.exitStatus = 127;
    return outcome;
}

}  // namespace

ChildOutcome runChild(const ChildRun& run) {
    ChildOutcome outcome;
    detail::ChildLines lines(run.onLine);
    if (run.argv.empty()) return outcome;
    std::wstring commandLine;
    for (const std::string& argument : run.argv) appendArgument(commandLine, wideFromAnsi(argument));
    std::wstring environment = environmentBlock(run);

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    Handle output;
    Handle childOutput;
    if (!CreatePipe(output.out(), childOutput.out(), &inheritable, 0))
        return cannotStart(lines, run.argv[0]);
    SetHandleInformation(output.get(), HANDLE_FLAG_INHERIT, 0);
    Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!input.valid()) return cannotStart(lines, run.argv[0]);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = childOutput.get();
    startup.StartupInfo.hStdError = childOutput.get();
    const InheritedHandles inherited({input.get(), childOutput.get()});
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | CREATE_NO_WINDOW;
    if (inherited.list() != nullptr) {
        startup.lpAttributeList = inherited.list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags,
                        environment.data(), nullptr, &startup.StartupInfo, &started))
        return cannotStart(lines, run.argv[0]);
    const Handle process(started.hProcess);
    const Handle thread(started.hThread);
    // Put in the job before it runs, so that nothing it starts escapes the job either. Where
    // the system refuses (an old one, inside a job that allows no other), it runs without.
    const Handle job(jobEndingWithThisProcess());
    if (job.valid()) AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    // Only the child holds the pipe's writing end now: its end is the pipe's end.
    childOutput.reset();
    input.reset();

    const DWORD interval = static_cast<DWORD>(std::max<long long>(run.interval.count(), 1));
    char buffer[4096];
    bool open = true;
    while (open) {
        DWORD available = 0;
        if (!PeekNamedPipe(output.get(), nullptr, 0, nullptr, &available, nullptr)) {
            open = false;  // every writer is gone
        } else if (available > 0) {
            DWORD n = 0;
            if (ReadFile(output.get(), buffer,
                         std::min<DWORD>(available, static_cast<DWORD>(sizeof buffer)), &n,
                         nullptr) &&
                n > 0) {
                lines.add(buffer, n);
            } else {
                open = false;
            }
        } else if (WaitForSingleObject(process.get(), interval) == WAIT_OBJECT_0) {
            // Ended: what it wrote last is still to be read, and a program it started may
            // still hold the pipe.
            Sleep(1);
        }
        if (open && run.keepGoing && !run.keepGoing()) {
            TerminateProcess(process.get(), kKilledChildStatus);
            outcome.stopped = true;
            open = false;
        }
    }
    lines.finish();
    WaitForSingleObject(process.get(), INFINITE);
    DWORD status = 0;
    outcome.exitStatus = GetExitCodeProcess(process.get(), &status) ? static_cast<int>(status) : -1;
    return outcome;
}

}  // namespace tarvolen::os
