#include "tool/verify.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "draw/pixel_format.h"
#include "framecode/reader.h"
#include "tool/io.h"
#include "tool/y4m.h"

namespace tallyburn::tool {
namespace {

constexpr const char* kVerifyHelp = R"(usage: tallyburn verify [options] [INPUT]

Reads the frame code TallyId burned into every frame of a YUV4MPEG2 stream
(INPUT, or - for standard input, the default) in any colour space and depth,
at any size down to modules of 2 pixels and with its two levels anywhere in
the range, and reports the frames read, decoded and unreadable, the numbers
dropped, repeated and out of order, where the stream starts and ends, and
runs of unreadable frames.

Options:
  --json FILE     the whole report as JSON ("numbers": one per input frame,
                  null where none could be read; "dropped": [first, last]
                  ranges; see the README)
  --expect A-B    the numbers that should be there, so that drops at either
                  end are reported too
  --progress      frames read on standard error (the default on a terminal)
  --no-progress   do not
  -h, --help      this text

Exit status: 0 every frame present once and in order, 1 faults found,
2 could not run (a bad command line or input).
)";

class VerifyUsage : public ToolError {
 public:
  using ToolError::ToolError;
};

struct VerifyOptions {
  std::string input = "-";
  bool input_given = false;
  std::string json;
  std::optional<NumberRange> expect;
  bool progress = isatty(STDERR_FILENO) != 0;
};

uint32_t ParseNumber(const std::string& s, const std::string& option) {
  size_t used = 0;
  unsigned long long v = 0;
  try {
    v = std::stoull(s, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (s.empty() || s[0] == '-' || used != s.size() || v > UINT32_MAX)
    throw VerifyUsage(option + ": \"" + s + "\" is not a frame number");
  return static_cast<uint32_t>(v);
}

VerifyOptions ParseVerifyOptions(int argc, char** argv) {
  VerifyOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw VerifyUsage(a + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::cout << kVerifyHelp;
      std::exit(0);
    } else if (a == "--json") {
      o.json = value();
    } else if (a == "--expect") {
      const std::string range = value();
      const size_t dash = range.find('-');
      if (dash == std::string::npos) throw VerifyUsage("--expect takes A-B, not \"" + range + "\"");
      o.expect =
          NumberRange{ParseNumber(range.substr(0, dash), "--expect"), ParseNumber(range.substr(dash + 1), "--expect")};
      if (o.expect->last < o.expect->first) throw VerifyUsage("--expect " + range + ": the range is backwards");
    } else if (a == "--progress") {
      o.progress = true;
    } else if (a == "--no-progress") {
      o.progress = false;
    } else if (a.size() > 1 && a[0] == '-') {
      throw VerifyUsage("unknown option " + a + " (see tallyburn verify --help)");
    } else if (o.input_given) {
      throw VerifyUsage("one INPUT only");
    } else {
      o.input = a;
      o.input_given = true;
    }
  }
  return o;
}

// Consecutive values as ranges.
template <typename T>
std::vector<std::pair<T, T>> Ranges(const std::vector<T>& sorted) {
  std::vector<std::pair<T, T>> out;
  for (const T v : sorted) {
    if (!out.empty() && out.back().second + 1 == v)
      out.back().second = v;
    else
      out.push_back({v, v});
  }
  return out;
}

std::string RangeText(uint64_t a, uint64_t b) {
  return a == b ? std::to_string(a) : std::to_string(a) + "-" + std::to_string(b);
}

}  // namespace

bool VerifyReport::intact() const {
  return !numbers.empty() && decoded == static_cast<int>(numbers.size()) && dropped.empty() && repeated.empty() &&
         out_of_order.empty() && unexpected.empty() && !cut;
}

VerifyReport Analyse(std::vector<std::optional<uint32_t>> numbers, std::optional<NumberRange> expect) {
  VerifyReport r;
  r.numbers = std::move(numbers);
  std::map<uint32_t, std::vector<int>> seen;
  std::vector<int> unreadable;
  std::optional<uint32_t> previous;
  for (int i = 0; i < static_cast<int>(r.numbers.size()); ++i) {
    const std::optional<uint32_t>& n = r.numbers[i];
    if (!n) {
      unreadable.push_back(i);
      continue;
    }
    ++r.decoded;
    seen[*n].push_back(i);
    if (!r.starts_at) r.starts_at = n;
    r.ends_at = n;
    if (previous && *n < *previous) r.out_of_order.push_back({i, *n, *previous});
    previous = n;
  }
  for (const auto& [a, b] : Ranges(unreadable)) r.unreadable.push_back({a, b});
  if (seen.empty()) return r;

  r.expected = expect ? *expect : NumberRange{seen.begin()->first, seen.rbegin()->first};
  std::vector<uint32_t> outside;
  for (const auto& [n, frames] : seen) {
    if (frames.size() > 1) r.repeated.push_back({n, frames});
    if (n < r.expected->first || n > r.expected->last) outside.push_back(n);
  }
  for (const auto& [a, b] : Ranges(outside)) r.unexpected.push_back({a, b});
  // Gaps between the numbers seen within the expected range.
  uint64_t next = r.expected->first;
  for (auto it = seen.lower_bound(r.expected->first); it != seen.end() && it->first <= r.expected->last; ++it) {
    if (it->first > next) r.dropped.push_back({static_cast<uint32_t>(next), it->first - 1});
    next = uint64_t{it->first} + 1;
  }
  if (next <= r.expected->last) r.dropped.push_back({static_cast<uint32_t>(next), r.expected->last});
  return r;
}

std::string ReportJson(const VerifyReport& r, const std::string& input) {
  using json = nlohmann::ordered_json;
  json numbers = json::array();
  for (const auto& n : r.numbers) numbers.push_back(n ? json(*n) : json(nullptr));
  const auto ranges = [](const std::vector<NumberRange>& v) {
    json a = json::array();
    for (const NumberRange& x : v) a.push_back({x.first, x.last});
    return a;
  };
  json repeated = json::array();
  for (const auto& x : r.repeated) repeated.push_back({{"number", x.number}, {"frames", x.frames}});
  json backwards = json::array();
  for (const auto& x : r.out_of_order)
    backwards.push_back({{"frame", x.frame}, {"number", x.number}, {"after", x.after}});
  json unreadable = json::array();
  for (const auto& [a, b] : r.unreadable) unreadable.push_back({a, b});
  const json report = {
      {"input", input},
      {"intact", r.intact()},
      {"frames", {{"read", r.numbers.size()}, {"decoded", r.decoded}, {"unreadable", r.numbers.size() - r.decoded}}},
      {"cut", r.cut},
      {"expected", r.expected ? json({r.expected->first, r.expected->last}) : json(nullptr)},
      {"starts_at", r.starts_at ? json(*r.starts_at) : json(nullptr)},
      {"ends_at", r.ends_at ? json(*r.ends_at) : json(nullptr)},
      {"dropped", ranges(r.dropped)},
      {"repeated", repeated},
      {"out_of_order", backwards},
      {"unexpected", ranges(r.unexpected)},
      {"unreadable", unreadable},
      {"numbers", numbers},
  };
  return report.dump(1) + "\n";
}

std::string ReportSummary(const VerifyReport& r, const std::string& input) {
  std::string s = "verify: " + input + ": " + std::to_string(r.numbers.size()) + " frames read, " +
                  std::to_string(r.decoded) + " decoded, " + std::to_string(r.numbers.size() - r.decoded) +
                  " unreadable\n";
  if (r.expected)
    s += "numbers " + RangeText(r.expected->first, r.expected->last) + " expected; the stream starts at " +
         std::to_string(*r.starts_at) + " and ends at " + std::to_string(*r.ends_at) + "\n";
  const auto list = [&](const char* what, const auto& items, auto text) {
    if (items.empty()) return;
    s += std::string(what) + ": ";
    for (size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + text(items[i]);
    s += "\n";
  };
  list("dropped", r.dropped, [](const NumberRange& x) { return RangeText(x.first, x.last); });
  list("repeated", r.repeated, [](const VerifyReport::Repeat& x) {
    std::string frames;
    for (size_t i = 0; i < x.frames.size(); ++i) frames += (i ? ", " : "") + std::to_string(x.frames[i]);
    return std::to_string(x.number) + " (frames " + frames + ")";
  });
  list("out of order", r.out_of_order, [](const VerifyReport::Backwards& x) {
    return "frame " + std::to_string(x.frame) + " (" + std::to_string(x.number) + " after " + std::to_string(x.after) +
           ")";
  });
  list("unexpected", r.unexpected, [](const NumberRange& x) { return RangeText(x.first, x.last); });
  list("unreadable frames", r.unreadable, [](const std::pair<int, int>& x) { return RangeText(x.first, x.second); });
  if (r.cut) s += "the stream ends inside a frame\n";
  s += r.intact() ? "every frame present once and in order\n" : "faults found\n";
  return s;
}

int RunVerify(int argc, char** argv) {
  VerifyOptions o;
  try {
    o = ParseVerifyOptions(argc, argv);
  } catch (const VerifyUsage& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  std::vector<std::optional<uint32_t>> numbers;
  bool cut = false;
  std::string name;
  try {
    auto in = InputStream::Open(o.input);
    name = in->name();
    const Y4mHeader h = ReadY4mHeader(*in);
    const PixelFormat f = *DescribePixelType(h.pixel_type);
    // The luma plane comes first in every colour space: it is read into one
    // buffer, and the chroma after it is passed over.
    const size_t luma_bytes = static_cast<size_t>(h.width) * static_cast<size_t>(h.height) *
                              static_cast<size_t>(f.family == Family::kYuy2 ? 1 : f.bytes_per_sample);
    const size_t rest = Y4mFrameBytes(h) - luma_bytes;
    const int bytes = static_cast<int>(luma_bytes / (static_cast<size_t>(h.width) * h.height));
    std::vector<uint8_t> luma(luma_bytes);
    framecode::Reader reader;
    auto shown = std::chrono::steady_clock::now();
    for (int n = 0; ReadY4mFrameHeader(*in, n); ++n) {
      const size_t got = in->Read(luma.data(), luma_bytes);
      const size_t skipped = got == luma_bytes ? in->Skip(rest) : 0;
      if (got < luma_bytes || skipped < rest) {
        cut = true;
        break;
      }
      numbers.push_back(
          reader.Read({luma.data(), static_cast<ptrdiff_t>(h.width) * bytes, h.width, h.height, bytes, f.bits, bytes}));
      if (o.progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(250)) {
        shown = std::chrono::steady_clock::now();
        std::fprintf(stderr, "\rframe %d", n + 1);
      }
    }
    if (o.progress) std::fprintf(stderr, "\rframe %zu\n", numbers.size());
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  VerifyReport report = Analyse(std::move(numbers), o.expect);
  report.cut = cut;
  std::cerr << ReportSummary(report, name);
  if (!o.json.empty()) {
    try {
      auto out = OutputStream::Open(o.json);
      out->Write(ReportJson(report, name));
      out->Commit();
    } catch (const ToolError& e) {
      std::cerr << "tallyburn verify: " << e.what() << "\n";
      return 2;
    }
  }
  return report.intact() ? 0 : 1;
}

}  // namespace tallyburn::tool
