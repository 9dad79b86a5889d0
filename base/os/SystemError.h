#pragma once
// Errors of the operating system, as codes the callers can compare and texts the user reads.

#include <string>
#include <system_error>

namespace tarvolen::os {

// The error the last failed system call left (errno, or GetLastError on Windows).
std::error_code lastError();

// The system's own wording of an error, in the program's 8-bit text.
std::string errorText(const std::error_code& error);

}  // namespace tarvolen::os
