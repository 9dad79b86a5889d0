#include "base/Text.h"

#include <algorithm>

#include "base/Cp1252.h"

namespace tarvolen {

bool isBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isBlankChar);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlankChar(text.front())) text.remove_prefix(1);
    return trimmedRight(text);
}

std::string_view trimmedRight(std::string_view text) {
    while (!text.empty() && isBlankChar(text.back())) text.remove_suffix(1);
    return text;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return cp1252::toUpper(x) == cp1252::toUpper(y);
           });
}

bool lessNoCase(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(cp1252::toUpper(x)) <
               static_cast<unsigned char>(cp1252::toUpper(y));
    });
}

}  // namespace tarvolen
