// Exceptions the host raises.
#pragma once

#include <stdexcept>
#include <string>

namespace tallyburn::frameserver {

// A script error: what ThrowError raises, and every error of the host's
// own (binding, loading). The message is the whole text for the user.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A frame came back with bytes changed outside its picture.
class GuardError : public HostError {
 public:
  using HostError::HostError;
};

}  // namespace tallyburn::frameserver
