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

// The database is open in another program that opened it without a server; the message says
// so and what to do, before the server's own text.
inline bool isOpenInAnotherProgram(const DatabaseError& error) {
    return dynamic_cast<const DatabaseInUse*>(&error) != nullptr;
}

}  // namespace tarvolen::database
