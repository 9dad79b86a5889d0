#pragma once
// The log file of a headless run: every log line with the time it was written, appended and
// flushed line by line, so a run that is killed leaves its log up to its last line.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "tools/TerminalText.h"

namespace tarvolen::cli {

// "2024-05-02 14:03:07.250", local time.
std::string LogTimestamp(std::chrono::system_clock::time_point time);

// "12.345 s"
std::string DurationText(std::chrono::steady_clock::duration duration);

class RunLogFile {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Opens the file for appending, creating it when missing. Throws EFCreateError:
    // Cannot create file "<full path>". <system error text>
    RunLogFile(
        const std::string& path, const TerminalText& text,
        Clock clock = [] { return std::chrono::system_clock::now(); });

    // Writes each line of `text` (a CR LF pair ends a line) after the timestamp, then flushes.
    void write(std::string_view text);

  private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> m_file;
    const TerminalText& m_text;
    Clock m_clock;
};

}  // namespace tarvolen::cli
