#include "engine/RunLog.h"

#include <cerrno>
#include <ctime>
#include <filesystem>

#include "base/Cp1252.h"
#include "base/os/Files.h"
#include "base/os/Process.h"
#include "base/os/SystemError.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

std::string createError(const std::string& path, const std::error_code& error) {
    return "Cannot create file \"" + fullPath(path) + "\". " + os::errorText(error);
}

// Characters a file name keeps as they are; every other one becomes "_".
std::string fileNamePart(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        out += plain ? c : '_';
    }
    return out.empty() ? "_" : out;
}

}  // namespace

std::string LogTimestamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const std::tm local = os::localTime(seconds);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() %
        1000;
    char buffer[64];
    const size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(buffer + n, sizeof buffer - n, ".%03d", static_cast<int>(millis));
    return buffer;
}

std::string DurationText(std::chrono::steady_clock::duration duration) {
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%lld.%03lld s", static_cast<long long>(millis / 1000),
                  static_cast<long long>(millis % 1000));
    return buffer;
}

RunLogFile::RunLogFile(const std::string& path, LogEncoding encoding, Clock clock)
    : m_path(path),
      m_file(std::fopen(path.c_str(), "ab")),
      m_encoding(encoding),
      m_clock(std::move(clock)) {
    if (!m_file) throw EFCreateError(createError(path, {errno, std::generic_category()}));
}

void RunLogFile::write(std::string_view text, std::chrono::system_clock::time_point time) {
    const std::string stamp = LogTimestamp(time);
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lines += text[i];
    }
    const std::string encoded = m_encoding == LogEncoding::Utf8 ? cp1252::toUtf8(lines) : lines;
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t end = encoded.find('\n', start);
        out += stamp;
        out += ' ';
        out.append(encoded, start, end == std::string::npos ? std::string::npos : end - start);
        out += '\n';
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::fwrite(out.data(), 1, out.size(), m_file.get());
    std::fflush(m_file.get());
}

std::string RunLogFolder(const std::string& planFile) {
    const fs::path plan(planFile);
    return (plan.has_parent_path() ? plan.parent_path() / "log" : fs::path("log")).string();
}

std::string CreateKeptRunLog(const std::string& planFile, const std::string& alias,
                             std::chrono::system_clock::time_point now) {
    const std::string folder = RunLogFolder(planFile);
    if (const std::error_code error = os::makeFolder(folder))
        throw EFCreateError(createError(folder, error));
    const std::tm local = os::localTime(std::chrono::system_clock::to_time_t(now));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base =
        (fs::path(folder) / (std::string(stamp) + "-" + fileNamePart(alias))).string();
    for (int attempt = 1; attempt < 1000; ++attempt) {
        std::string path =
            base + (attempt == 1 ? std::string() : "-" + std::to_string(attempt)) + ".log";
        std::error_code error;
        if (os::File::createNew(path, error).isOpen()) return path;
        if (error != std::errc::file_exists) throw EFCreateError(createError(path, error));
    }
    throw EFCreateError(createError(base + ".log", std::make_error_code(std::errc::file_exists)));
}

std::string OsUserName() {
    return os::currentUserName();
}

std::string RunStartLine(const RunIdentity& run) {
    return "INIZIO: " + run.program + ", alias " + run.alias + ", piano " + run.plan +
           (run.dryRun ? ", prova senza modifiche" : "");
}

std::string RunUsersLine(const RunIdentity& run) {
    return "UTENTI: sistema " + OsUserName() + ", database " + run.databaseUser;
}

std::string RunCountsLine(size_t failedStatements, size_t failedImports) {
    return "ISTRUZIONI FALLITE: " + std::to_string(failedStatements) +
           ", IMPORT FALLITI: " + std::to_string(failedImports);
}

std::string RunEndLine(std::chrono::steady_clock::duration duration, int exitStatus) {
    return "DURATA DELL'ESECUZIONE: " + DurationText(duration) + ", CODICE DI USCITA " +
           std::to_string(exitStatus);
}

}  // namespace tarvolen
