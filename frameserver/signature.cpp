#include "frameserver/signature.h"

#include <strings.h>

#include "frameserver/errors.h"

namespace tallyburn::frameserver {
namespace {

bool KnownType(char t) { return t == 'c' || t == 'i' || t == 'f' || t == 's' || t == 'b' || t == '.'; }

std::string Fn(std::string_view function) { return std::string(function) + ": "; }

std::string Describe(const Parameter& p, size_t index) {
  return p.name.empty() ? "argument " + std::to_string(index + 1) : "argument \"" + p.name + "\"";
}

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// The value as the parameter takes it, or void when its type does not fit.
AVSValue Coerce(char type, const AVSValue& v) {
  switch (type) {
    case '.': return v;
    case 'f':
      if (v.IsInt()) return AVSValue(static_cast<float>(v.AsInt()));
      return v.Type() == 'f' ? v : AVSValue();
    default: return v.Type() == type ? v : AVSValue();
  }
}

}  // namespace

const char* TypeName(char type) {
  switch (type) {
    case 'c': return "a clip";
    case 'i': return "an integer";
    case 'f': return "a float";
    case 's': return "a string";
    case 'b': return "a bool";
    case 'a': return "an array";
    case 'v': return "nothing";
    default: return "a value";
  }
}

std::vector<Parameter> ParseSignature(std::string_view function, std::string_view params) {
  std::vector<Parameter> out;
  size_t i = 0;
  while (i < params.size()) {
    Parameter p{{}, 0, false};
    if (params[i] == '[') {
      const size_t close = params.find(']', i);
      if (close == std::string_view::npos || close == i + 1)
        throw HostError(Fn(function) + "malformed parameter signature \"" + std::string(params) + "\"");
      p.name = std::string(params.substr(i + 1, close - i - 1));
      p.optional = true;
      i = close + 1;
      if (i >= params.size())
        throw HostError(Fn(function) + "parameter \"" + p.name + "\" has no type in its signature");
    }
    p.type = params[i++];
    if (!KnownType(p.type))
      throw HostError(Fn(function) + "unsupported type '" + std::string(1, p.type) + "' in parameter signature \"" +
                      std::string(params) + "\"");
    for (const auto& q : out)
      if (!p.name.empty() && SameName(q.name, p.name))
        throw HostError(Fn(function) + "parameter \"" + p.name + "\" declared twice");
    out.push_back(std::move(p));
  }
  return out;
}

std::vector<AVSValue> BindArguments(std::string_view function, const std::vector<Parameter>& params,
                                    const std::vector<Argument>& args) {
  std::vector<AVSValue> bound(params.size());
  std::vector<bool> given(params.size(), false);
  size_t positional = 0;
  bool named_seen = false;

  for (const Argument& a : args) {
    size_t index = 0;
    if (a.name.empty()) {
      if (named_seen) throw HostError(Fn(function) + "a positional argument follows a named one");
      if (positional >= params.size())
        throw HostError(Fn(function) + "too many arguments (takes at most " + std::to_string(params.size()) + ")");
      index = positional++;
    } else {
      named_seen = true;
      index = params.size();
      for (size_t k = 0; k < params.size(); ++k)
        if (SameName(params[k].name, a.name)) index = k;
      if (index == params.size()) throw HostError(Fn(function) + "no argument named \"" + a.name + "\"");
      if (given[index]) throw HostError(Fn(function) + "argument \"" + a.name + "\" given twice");
    }
    const Parameter& p = params[index];
    AVSValue v = Coerce(p.type, a.value);
    if (!v.Defined())
      throw HostError(Fn(function) + Describe(p, index) + " must be " + TypeName(p.type) + ", not " +
                      TypeName(a.value.Type()));
    bound[index] = v;
    given[index] = true;
  }

  for (size_t k = 0; k < params.size(); ++k)
    if (!given[k] && !params[k].optional)
      throw HostError(Fn(function) + "missing " + Describe(params[k], k) + " (" + TypeName(params[k].type) + ")");
  return bound;
}

}  // namespace tallyburn::frameserver
