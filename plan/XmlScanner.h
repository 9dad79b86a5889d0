#pragma once
// The lexical layer of the XML reader: tags with their raw attributes, the references inside
// attribute values, and the encoding a prolog declares. A hand-written single-pass scanner for
// the one flat shape a data packet has; no general XML parser is used, because plans with
// megabytes of script text must load quickly. Every malformed construct is "Mismatch in
// datapacket.".

#include <optional>
#include <string>
#include <string_view>

namespace tarvolen {

struct XmlAttribute {
    std::string_view name;
    std::string_view raw;  // between the quotes, references not yet decoded
};

struct XmlTag {
    std::string_view name;
    bool closing = false;     // </NAME>
    bool selfClosed = false;  // <NAME .../>
};

// Thrown by a scanner over part of a text when it needs the text past its end to go on: its
// reader reads more and scans the element again from its start.
struct XmlTextRunsOn {};

// Walks the tags of a text that must outlive the scanner (the tags point into it). With
// `runsOn`, the text is the part of a longer one read so far: where the rest would decide, the
// scanner throws XmlTextRunsOn instead of refusing the text.
class XmlScanner {
  public:
    explicit XmlScanner(std::string_view text, bool runsOn = false)
        : m_p(text.data()), m_end(text.data() + text.size()), m_runsOn(runsOn) {}

    // Skips the blanks and control characters before the first "<"; anything else there, or no
    // "<" at all, is a mismatch.
    void skipLeadingBlanks();
    // Reads the next tag up to its name ("<NAME" or "</NAME"): blanks, processing instructions
    // ("<?" to "?>") and comments ("<!--" to "-->") before it are skipped. Its attributes
    // follow one by one from nextAttribute, so that a tag of a million attributes needs no
    // list of them.
    XmlTag openTag();
    // The open tag's next attribute; false at the tag's end, which it reads, setting
    // selfClosed. Attribute values must stand in double quotes right after the "=".
    bool nextAttribute(XmlTag& tag, XmlAttribute& attribute);
    // The next tag whole, its attributes passed over.
    XmlTag nextTag();
    // Bytes not read yet.
    size_t remaining() const { return static_cast<size_t>(m_end - m_p); }
    // Where the scanner stands in the text.
    const char* position() const { return m_p; }
    // Reads the next tag, which must close `name`.
    void expectClosing(std::string_view name);

  private:
    void skipBlanks();
    void skipMisc();
    bool startsWith(std::string_view s) const;
    void skipPast(std::string_view terminator);
    std::string_view readName();
    // The text ended where more was needed: a mismatch, or XmlTextRunsOn when it runs on.
    [[noreturn]] void ranOut() const;

    const char* m_p;
    const char* m_end;
    bool m_runsOn;
};

// Decodes the references of a raw attribute value ("&lt;" "&gt;" "&amp;" "&apos;" "&quot;",
// "&#N;", "&#xH;") into 8-bit text: a character above 255 becomes its Windows-1252 byte, or
// '?'. Anything else after "&" is kept as it stands.
void decodeXmlText(std::string_view raw, std::string& out);
// The same, setting `lacking` (when it is 0) to the first character above 255 that Windows-1252
// lacks, which became "?".
void decodeXmlText(std::string_view raw, std::string& out, char32_t& lacking);
// The same into `out`, which has room for raw.size() bytes (decoded text is never longer than
// its raw form); returns the end of what was written. `lacking` may be null.
char* decodeXmlTextInto(std::string_view raw, char* out, char32_t* lacking);
// The same for "string.uni" values, which keep every character (plain bytes are Windows-1252).
std::u16string decodeXmlWideText(std::string_view raw);

// The encoding that a "<?...?>" prolog opening the text (after blanks) declares, as it spells
// it; nullopt when there is no such prolog or it declares none.
std::optional<std::string_view> declaredEncoding(std::string_view text);
// True when the prolog declares encoding="UTF-8", in any letter case and with either quote.
bool declaresUtf8(std::string_view text);

}  // namespace tarvolen
