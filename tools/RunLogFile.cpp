#include "tools/RunLogFile.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/os/Process.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen::cli {

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

RunLogFile::RunLogFile(const std::string& path, const TerminalText& text, Clock clock)
    : m_file(std::fopen(path.c_str(), "ab")), m_text(text), m_clock(std::move(clock)) {
    if (!m_file) {
        throw EFCreateError("Cannot create file \"" + fullPath(path) + "\". " +
                            std::strerror(errno));
    }
}

void RunLogFile::write(std::string_view text) {
    const std::string stamp = LogTimestamp(m_clock());
    const std::string encoded = m_text.encode(text);
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

}  // namespace tarvolen::cli
