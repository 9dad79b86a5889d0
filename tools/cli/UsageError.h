#pragma once
// A command line the tool cannot take: the message names what is wrong, and the tool prints it
// with its usage and exits with its usage status.

#include <stdexcept>

namespace tarvolen::cli {

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace tarvolen::cli
