// The terminal on POSIX systems.

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <string>

#include "base/os/Terminal.h"

namespace tarvolen::os {

bool isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

int terminalColumns(std::FILE* stream) {
    winsize size{};
    return ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool terminalTakesLatin1() {
    std::setlocale(LC_CTYPE, "");
    const std::string codeset = ::nl_langinfo(CODESET);
    return codeset == "ISO-8859-1" || codeset == "ISO-8859-15" || codeset == "CP1252";
}

}  // namespace tarvolen::os
