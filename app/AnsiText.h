#pragma once
// Text crosses between the program (8-bit Windows-1252, as the engine and the database hold
// it) and the windows (QString) only through these.

#include <QString>
#include <string>
#include <string_view>

namespace tarvolen {

// Windows-1252 text for the screen.
QString fromAnsi(std::string_view text);
// Screen text as Windows-1252; characters the code page lacks become '?'.
std::string toAnsi(const QString& text);
// Text that is UTF-8 when valid UTF-8, else Windows-1252 (names from files written on either
// system), for the screen.
QString fromFileText(std::string_view text);

}  // namespace tarvolen
