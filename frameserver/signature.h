// The host's parameter-signature language and the binding of a call's
// arguments to it.
//
//   c clip   i integer   f float (an integer is taken too)   s string
//   b bool   . any value
//   [name]t  an optional argument of type t, passed by position or by name
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "avisynth.h"

namespace tallyburn::frameserver {

struct Parameter {
  std::string name;  // empty for an unnamed (positional, required) one
  char type;
  bool optional;
};

// Throws HostError, naming the function, for a malformed signature.
std::vector<Parameter> ParseSignature(std::string_view function, std::string_view params);

struct Argument {
  std::string name;  // empty: positional
  AVSValue value;
};

// The argument array for the call: one value per parameter, void where an
// optional one was not given. Throws HostError naming the function and the
// argument for an unknown name, a missing required argument, too many
// arguments, a repeated one or a wrong type.
std::vector<AVSValue> BindArguments(std::string_view function, const std::vector<Parameter>& params,
                                    const std::vector<Argument>& args);

// "an integer", "a clip", ... for messages.
const char* TypeName(char type);

}  // namespace tallyburn::frameserver
