#include "tools/TerminalText.h"

#include <langinfo.h>

#include <clocale>

#include "base/Cp1252.h"

namespace tarvolen::cli {

TerminalText::TerminalText() {
    std::setlocale(LC_CTYPE, "");
    const std::string codeset = nl_langinfo(CODESET);
    m_raw = codeset == "ISO-8859-1" || codeset == "ISO-8859-15" || codeset == "CP1252";
}

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
