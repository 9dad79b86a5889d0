// Feeds arbitrary bytes to the script splitter as a script phase's text. The first byte gives
// the separator's length (1 to 3), the next bytes the separator, the rest the script. Besides
// crashes and hangs, it checks that every statement line points into the script text, that a
// statement's text is its lines with a line break added only where one is missing, and that the
// dry run's reading of the script counts no more statements than the walk hands over.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ScriptSplitter.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "script splitter: %s\n", what);
    std::abort();
}

bool inside(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

// StatementText's rule: each line as written, and CR LF after a line that has no line break.
size_t expectedStatementSize(const std::vector<std::string_view>& lines) {
    size_t size = 0;
    for (std::string_view line : lines) {
        size += line.size();
        if (line.empty() || line.back() != '\n') size += 2;
    }
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.empty()) return 0;
    const size_t separatorLength = 1 + static_cast<unsigned char>(bytes[0]) % 3;
    if (bytes.size() < 1 + separatorLength) return 0;
    const std::string separator(bytes.substr(1, separatorLength));
    const std::string_view script = bytes.substr(1 + separatorLength);

    size_t handedOver = 0;
    tarvolen::ScriptSplitter splitter(separator);
    std::vector<std::string_view> statementLines;
    const auto onStatement = [&](std::vector<std::string_view>& lines) {
        ++handedOver;
        for (std::string_view line : lines)
            if (!inside(line, script)) fail("a statement line points outside the script");
        const std::string text = tarvolen::StatementText(lines);
        if (text.size() != expectedStatementSize(lines))
            fail("a statement's text is not its lines");
        (void)tarvolen::HasSqlText(text);
        (void)tarvolen::StripComments(text);
        (void)tarvolen::IsClientOnlyStatement(text, "WIN1252");
    };
    for (std::string_view line : tarvolen::SplitScriptLines(script)) {
        if (!inside(line, script)) fail("a script line points outside the script");
        splitter.WalkLine(line, statementLines, onStatement);
        for (std::string_view gathered : statementLines)
            if (!inside(gathered, script)) fail("a gathered line points outside the script");
    }
    const tarvolen::ScriptOutline outline = tarvolen::OutlineScript(script, separator, "WIN1252");
    if (outline.statementCount > handedOver)
        fail("the outline counts more statements than the walk hands over");
    if (outline.open != splitter.Open())
        fail("the outline and the walk disagree on what is left open");
    if (outline.textAfterLastSeparator != tarvolen::StatementText(statementLines))
        fail("the outline and the walk disagree on the text after the last separator");
    return 0;
}
