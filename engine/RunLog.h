#pragma once
// The log of a run on file: every log line with the time it was written, appended and flushed
// line by line, so a run that is killed leaves its log up to its last line. Every run, from the
// window or the command line, keeps one in "log" beside its plan (and `--log FILE` writes the
// same lines to FILE too); `tarvolen-plan history` reads them back (RunHistory.h).

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarvolen {

// "2024-05-02 14:03:07.250", local time.
std::string LogTimestamp(std::chrono::system_clock::time_point time);

// "12.345 s"
std::string DurationText(std::chrono::steady_clock::duration duration);

// How the program's Windows-1252 text is written: as UTF-8, or as the bytes it is (for a
// terminal whose locale is Latin-1). A CR LF pair becomes one line break either way.
enum class LogEncoding { Utf8, Unchanged };

class RunLogFile {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Opens the file for appending, creating it when missing. Throws EFCreateError:
    // Cannot create file "<full path>". <system error text>
    RunLogFile(
        const std::string& path, LogEncoding encoding,
        Clock clock = [] { return std::chrono::system_clock::now(); });

    // Writes each line of `text` (a CR LF pair ends a line) after the timestamp, then flushes.
    void write(std::string_view text) { write(text, m_clock()); }
    // The same with the time given, so that logs written side by side carry the same stamps.
    void write(std::string_view text, std::chrono::system_clock::time_point time);
    const std::string& path() const { return m_path; }

  private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::string m_path;
    std::unique_ptr<std::FILE, Closer> m_file;
    LogEncoding m_encoding;
    Clock m_clock;
};

// The folder of the kept logs: "log" beside the plan file.
std::string RunLogFolder(const std::string& planFile);

// Creates the kept log of a run starting at `now`: "log/YYYYMMDD-HHMMSS-<alias>.log" beside the
// plan (the folder is made when missing; characters a file name should not hold become "_"), a
// file no other run has: a second run in the same second gets "-2" before ".log", and so on.
// Returns its path. Throws EFCreateError naming the folder or the file.
std::string CreateKeptRunLog(const std::string& planFile, const std::string& alias,
                             std::chrono::system_clock::time_point now);

// The user this process runs as, by name (its number when it has none).
std::string OsUserName();

// The lines that open and close the log of a run, which `tarvolen-plan history` reads back.
struct RunIdentity {
    std::string program;  // "tarvolen-run 0.1.0", "tarvolen 0.1.0"
    std::string alias;
    std::string plan;
    std::string databaseUser;
    bool dryRun = false;
};
// "INIZIO: tarvolen-run 0.1.0, alias prova, piano ./dbquery.xml"
std::string RunStartLine(const RunIdentity& run);
// "UTENTI: sistema mario, database SYSDBA"
std::string RunUsersLine(const RunIdentity& run);
// "ISTRUZIONI FALLITE: 2, IMPORT FALLITI: 0"
std::string RunCountsLine(size_t failedStatements, size_t failedImports);
// "DURATA DELL'ESECUZIONE: 12.345 s, CODICE DI USCITA 1"
std::string RunEndLine(std::chrono::steady_clock::duration duration, int exitStatus);

}  // namespace tarvolen
