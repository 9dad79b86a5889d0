#pragma once
// Who the command-line tools log in as: the user from the command line, else $ISC_USER, else
// SYSDBA; the password from a private file, else $TARVOLEN_PASSWORD, never from the command line.

#include <optional>
#include <string>

namespace tarvolen::cli {

std::string LoginUser(const std::string& fromCommandLine);

// The text of the file (a regular file only its owner may read) without line breaks at its end;
// or TARVOLEN_PASSWORD; or empty. Throws EFOpenError as readPrivateFile does.
std::string LoginPassword(const std::optional<std::string>& passwordFile);

}  // namespace tarvolen::cli
