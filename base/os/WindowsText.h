#pragma once
// Private to base/os: text between the program's narrow strings and the wide strings of the
// Windows API. Windows only.

#include <string>
#include <string_view>

namespace tarvolen::os::detail {

// A path or other text of the program (the ANSI code page) as UTF-16.
std::wstring wideFromAnsi(std::string_view text);
std::string ansiFromWide(std::wstring_view text);
// UTF-8 text (the settings code's) as UTF-16.
std::wstring wideFromUtf8(std::string_view text);

}  // namespace tarvolen::os::detail
