#pragma once
// Whether XML text is well-formed, as a real XML parser (libexpat) judges it, once its bytes are
// read in the packet's 8-bit code page, Windows-1252: the text carries no encoding declaration,
// so it is turned into UTF-8 first and the parser told so.

#include <expat.h>

#include <string>
#include <string_view>

#include "base/Cp1252.h"

namespace tarvolen::xmlcheck {

// Empty when well-formed; else expat's error and where it stands.
inline std::string xmlWellFormedError(std::string_view windows1252) {
    const std::string utf8 = cp1252::toUtf8(windows1252);
    XML_Parser parser = XML_ParserCreate("UTF-8");
    std::string error;
    if (XML_Parse(parser, utf8.data(), static_cast<int>(utf8.size()), 1) != XML_STATUS_OK) {
        error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at column " +
                std::to_string(XML_GetCurrentColumnNumber(parser));
    }
    XML_ParserFree(parser);
    return error;
}

}  // namespace tarvolen::xmlcheck
