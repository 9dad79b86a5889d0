#pragma once
// Private to base/os: what a child process wrote, split into lines.

#include <functional>
#include <string>
#include <string_view>

namespace tarvolen::os::detail {

// Splits the child's output into lines (an LF ends one, a CR before it is dropped), keeping
// an unfinished line for the next piece.
class ChildLines {
  public:
    explicit ChildLines(const std::function<void(std::string_view)>& onLine) : m_onLine(onLine) {}
    void add(const char* data, size_t size) {
        m_pending.append(data, size);
        size_t start = 0;
        for (size_t eol; (eol = m_pending.find('\n', start)) != std::string::npos; start = eol + 1)
            emit(std::string_view(m_pending).substr(start, eol - start));
        m_pending.erase(0, start);
    }
    void add(std::string_view text) { add(text.data(), text.size()); }
    // The last line, when the output did not end with a line break.
    void finish() {
        if (!m_pending.empty()) emit(m_pending);
        m_pending.clear();
    }

  private:
    void emit(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (m_onLine) m_onLine(line);
    }
    const std::function<void(std::string_view)>& m_onLine;
    std::string m_pending;
};

}  // namespace tarvolen::os::detail
