#include "tool/cli/parse.h"

#include <cstring>

namespace tallyburn::tool {

bool NamedBy(const char* names, const std::string& arg) {
  for (const char* p = names; *p != '\0';) {
    const char* end = std::strchr(p, ',');
    const size_t n = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
    if (arg.size() == n && arg.compare(0, n, p, n) == 0) return true;
    p += n;
    while (*p == ',' || *p == ' ') ++p;
  }
  return false;
}

uint64_t ParseFrameNumber(const std::string& s, const char* option, uint64_t max) {
  uint64_t v = 0;
  bool ok = !s.empty();
  for (const char c : s) {
    if (!ok) break;
    const auto digit = static_cast<uint64_t>(c - '0');
    ok = c >= '0' && c <= '9' && v <= (max - digit) / 10;
    v = v * 10 + digit;
  }
  if (!ok) throw UsageError(std::string(option) + ": \"" + s + "\" is not a frame number");
  return v;
}

FrameRange ParseFrameRange(const std::string& s, const RangeRule& rule) {
  const size_t dash = s.find('-');
  const bool open = dash + 1 == s.size();
  if (dash == std::string::npos || dash == 0 || (open && !rule.open_end))
    throw UsageError(std::string(rule.option) + " takes " + (rule.open_end ? "A-B or A-" : "A-B") + ", not \"" + s +
                     "\"");
  FrameRange range{ParseFrameNumber(s.substr(0, dash), rule.option, rule.max), std::nullopt};
  if (!open) range.last = ParseFrameNumber(s.substr(dash + 1), rule.option, rule.max);
  if (range.last && *range.last < range.first)
    throw UsageError(std::string(rule.option) + " " + s + ": the range is backwards");
  return range;
}

}  // namespace tallyburn::tool
