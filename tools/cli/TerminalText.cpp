#include "tools/cli/TerminalText.h"

#include "base/Cp1252.h"
#include "base/os/Terminal.h"

namespace tarvolen::cli {

TerminalText::TerminalText() : m_raw(os::terminalTakesLatin1()) {}

std::string TerminalText::encode(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return m_raw ? out : cp1252::toUtf8(out);
}

void TerminalText::print(std::FILE* stream, std::string_view text) const {
    std::string out = encode(text);
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stream);
    std::fflush(stream);
}

}  // namespace tarvolen::cli
