// FFmpeg's libraries log to standard error; the tool says one line per
// failure instead. Their messages are kept, and the last error among them
// goes into the tool's own line where it tells the cause.
#pragma once

#include <string>

namespace tallyburn::tool {

// Routes the libraries' log into the tool (once, for the whole run): from
// then on they print nothing.
void KeepMediaLogQuiet();

// The last error the libraries logged since the previous call, trimmed
// ("" for none), and forgets it.
std::string TakeMediaLogError();

// Standard error closed for the object's life: some libraries an encoder
// wraps (libx264 reading its preset) print there themselves, before
// FFmpeg's log takes over; what they say comes back through that log.
class QuietStandardError {
 public:
  QuietStandardError();
  ~QuietStandardError();
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

 private:
  int saved_;
};

}  // namespace tallyburn::tool
