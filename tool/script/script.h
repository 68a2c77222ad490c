// The tool's script language, the frame server's: calls with positional
// and named arguments, chained with a dot (`a.F(x)` is `F(a, x)`);
// integers (decimal, or $hex as in colours), floats, strings in double
// quotes, true and false; `#` comments. Statements are separated by new
// lines or ';'. A statement `name = expression` sets a variable; a bare
// clip sets `last`, which a call without its clip takes, and the script's
// value is `last` (or, without a clip, its last statement's value).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/message.h"
#include "frameserver/environment.h"

namespace tallyburn::tool {

// A script that cannot be parsed or evaluated. The message includes the
// column (1-based) and, for a failed call, the function's own message;
// the script's own bytes in it (a file's name, a stray character) are
// printed with control bytes escaped.
class ScriptError : public std::runtime_error {
 public:
  // `line` 0: a one-line script, where the column says it all.
  ScriptError(int line, int column, const std::string& message, const std::string& source = "script")
      : std::runtime_error(Printable(source + (line > 0 ? " line " + std::to_string(line) + "," : std::string()) +
                                     " column " + std::to_string(column) + ": " + message)),
        line_(line),
        column_(column),
        message_(Printable(message)) {}
  int line() const { return line_; }
  int column() const { return column_; }
  const std::string& message() const { return message_; }

 private:
  int line_;
  int column_;
  std::string message_;
};

struct Expr;

struct ScriptArg {
  std::string name;  // empty: positional
  int column;
  std::unique_ptr<Expr> value;
};

struct Expr {
  // kName: a variable, or else a call with no arguments. kAssign: text =
  // args[0].
  enum class Kind { kInt, kFloat, kString, kBool, kCall, kName, kAssign };
  Kind kind;
  int line;
  int column;
  int integer = 0;
  double real = 0;
  bool boolean = false;
  std::string text;  // the string, or the function's name
  std::vector<ScriptArg> args;
};

// Parses the statements of a script; throws ScriptError.
std::vector<std::unique_ptr<Expr>> ParseScript(const std::string& script);

struct ScriptSource {
  std::string text;
  std::string name = "script";  // in messages: a file's name
  // Said after "there is no function named ...": where the plug-in was
  // looked for, when none was found.
  std::string missing_function_hint;
};

// Evaluates every statement through the environment's functions and returns
// the script's value; throws ScriptError (function errors are wrapped with
// the place of the call; EndOfStream and other exceptions pass through).
AVSValue EvaluateScript(frameserver::Environment& env, const ScriptSource& script);
inline AVSValue EvaluateScript(frameserver::Environment& env, const std::string& text) {
  return EvaluateScript(env, ScriptSource{text, "script", ""});
}

}  // namespace tallyburn::tool
