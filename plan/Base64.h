#pragma once
// Base64, as the XML form writes the values of byte fields and of blobs that are not text.

#include <string>
#include <string_view>

namespace tarvolen {

std::string base64Encode(std::string_view bytes);
// Characters outside the alphabet (line breaks, blanks) are skipped; "=" ends the data.
std::string base64Decode(std::string_view text);

}  // namespace tarvolen
