#pragma once
// Text leaving the command-line tools: the program's Windows-1252 text in the terminal's
// encoding, UTF-8 unless the locale asks for Latin-1 (always UTF-8 on Windows, whose console
// is switched to it while the tool runs).

#include <cstdio>
#include <string>
#include <string_view>

namespace tarvolen::cli {

class TerminalText {
  public:
    // Reads the locale's character set (LC_CTYPE from the environment).
    TerminalText();
    // For tests: raw keeps the bytes as they are, otherwise they become UTF-8.
    explicit TerminalText(bool raw) : m_raw(raw) {}

    // The text with each CR LF pair as one LF, in the terminal's encoding.
    std::string encode(std::string_view text) const;
    // True when text goes out as the program's own bytes (a Latin-1 terminal).
    bool raw() const { return m_raw; }
    // Prints the encoded text and a line break, and flushes the stream.
    void print(std::FILE* stream, std::string_view text) const;

  private:
    bool m_raw = false;
};

}  // namespace tarvolen::cli
