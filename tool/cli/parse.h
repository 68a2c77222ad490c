// The grammar both commands share: a table of options, read in order from
// the command line, and the frame numbers and A-B ranges their values hold.
// Every usage error is one line (a UsageError): the command adds its name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "tool/media/io.h"

namespace tallyburn::tool {

// One option of a command: how it is written, what the help says of it and
// what it does to the command's options `T`.
template <class T>
struct Option {
  const char* names;                                    // "-o, --output": each name it answers to
  const char* value;                                    // the value's name in the help ("PATH"); nullptr: a flag
  const char* help;                                     // its lines in the help, '\n' between them
  void (*apply)(T& options, const std::string& value);  // a flag's value is ""
  // The command line ends here, the rest unread: --help, --version.
  bool ends = false;
  // Lines of the help after the first line of `help` (-o: the outputs).
  std::string (*listing)() = nullptr;
  // A paragraph of the help before the option, at its indent.
  const char* lead = nullptr;
};

template <class T>
struct Grammar {
  std::span<const Option<T>> options;
  const char* see;  // where an unknown option sends the user: "--help"
  // Each argument that is not an option (nor its value), in order.
  void (*operand)(T& options, const std::string& arg);
};

// Whether `names` ("-o, --output") holds `arg`.
bool NamedBy(const char* names, const std::string& arg);
// "-x" or "--x": an option's name; "-" alone is an operand (standard input
// or output).
inline bool LooksLikeAnOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// Reads argv[1..argc) into `into`, left to right: a later option overrides
// an earlier one; an option's value is the next argument, whatever it is.
template <class T>
void Parse(const Grammar<T>& grammar, int argc, char** argv, T& into) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!LooksLikeAnOption(arg)) {
      grammar.operand(into, arg);
      continue;
    }
    const Option<T>* option = nullptr;
    for (const Option<T>& o : grammar.options)
      if (NamedBy(o.names, arg)) option = &o;
    if (option == nullptr) throw UsageError("unknown option " + arg + " (see " + grammar.see + ")");
    std::string value;
    if (option->value != nullptr) {
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      value = argv[++i];
    }
    option->apply(into, value);
    if (option->ends) return;
  }
}

// Frame numbers: decimal digits only, from 0 to `max`; otherwise
// `OPTION: "S" is not a frame number`.
uint64_t ParseFrameNumber(const std::string& s, const char* option, uint64_t max);

// "A-B", and "A-" (to the end) where the option takes it.
struct RangeRule {
  const char* option;  // "--frames"
  uint64_t max;        // the largest frame number
  bool open_end;       // "A-" is a range
};
struct FrameRange {
  uint64_t first;
  std::optional<uint64_t> last;  // none: to the end
};
// Errors: `OPTION takes A-B[ or A-], not "S"`, a number's, and
// `OPTION S: the range is backwards`.
FrameRange ParseFrameRange(const std::string& s, const RangeRule& rule);

}  // namespace tallyburn::tool
