#pragma once
// What a database error means for the operator, told from the server's error code.

#include "db/DatabaseError.h"

namespace tarvolen::database {

// The server refused the user name and password ("Your user name and password are not
// defined...").
inline bool isLoginRefused(const DatabaseError& error) {
    constexpr long kLoginRefused = 335544472;  // isc_login
    return error.serverCode() == kLoginRefused;
}

}  // namespace tarvolen::database
