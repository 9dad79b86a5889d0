#pragma once
// Base64, as the XML form writes the values of byte fields and of blobs that are not text.

#include <string>
#include <string_view>

namespace tarvolen {

std::string base64Encode(std::string_view bytes);
// Characters outside the alphabet (line breaks, blanks) are skipped; "=" ends the data.
std::string base64Decode(std::string_view text);
// True when the text is Base64 and nothing else: the alphabet's characters, blanks and line
// breaks between them, and "=" only as padding at the end. base64Decode passes over anything
// else.
bool isCleanBase64(std::string_view text);

}  // namespace tarvolen
