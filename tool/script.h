// The tool's script language: the frame server's expression syntax for one
// clip. Calls with positional and named arguments, chained with a dot
// (`a.F(x)` is `F(a, x)`); integers (decimal, or $hex as in colours),
// floats, strings in double quotes, true and false. Statements are
// separated by new lines or ';', and the last one gives the clip.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/environment.h"

namespace tallyburn::tool {

// A script that cannot be parsed or evaluated. The message includes the
// column (1-based) and, for a failed call, the function's own message.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(int column, const std::string& message)
      : std::runtime_error("script column " + std::to_string(column) + ": " + message), column_(column) {}
  int column() const { return column_; }

 private:
  int column_;
};

struct Expr;

struct ScriptArg {
  std::string name;  // empty: positional
  int column;
  std::unique_ptr<Expr> value;
};

struct Expr {
  enum class Kind { kInt, kFloat, kString, kBool, kCall };
  Kind kind;
  int column;
  int integer = 0;
  double real = 0;
  bool boolean = false;
  std::string text;  // the string, or the function's name
  std::vector<ScriptArg> args;
};

// Parses the statements of a script; throws ScriptError.
std::vector<std::unique_ptr<Expr>> ParseScript(const std::string& script);

// Evaluates every statement through the environment's functions and returns
// the last value; throws ScriptError (function errors are wrapped with the
// column of the call; EndOfStream and other exceptions pass through).
AVSValue EvaluateScript(host::Environment& env, const std::string& script);

}  // namespace tallyburn::tool
