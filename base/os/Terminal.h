#pragma once
// The terminal a command-line tool writes to.

#include <cstdio>

namespace tarvolen::os {

// True when the stream goes to a terminal (a console on Windows).
bool isTerminal(std::FILE* stream);

// Columns of the terminal behind the stream; 0 when unknown.
int terminalColumns(std::FILE* stream);

// True when the terminal takes 8-bit Latin-1 text as it is (the locale's character set says
// so); else it takes UTF-8. A Windows console is switched to UTF-8 while the program runs.
bool terminalTakesLatin1();

}  // namespace tarvolen::os
