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
#include "tool/inputs.h"
#include "tool/io.h"

namespace tallyburn::tool {
namespace {

constexpr const char* kVerifyHelp = R"(usage: tallyburn verify [options] [INPUT]

Reads the frame code TallyId burned into every frame of a video (INPUT, or
- for standard input, the default) in any colour space and depth, at any
size from half to double the one it was burned at, and reports the frames
read, decoded and unreadable, the numbers dropped, repeated and out of
order, where the stream starts and ends, and runs of unreadable frames.
INPUT is read as the tool's sources read it:
)";

constexpr const char* kVerifyHelpTail = R"(

Options:
  --json FILE     the whole report as JSON ("numbers": one per input frame,
                  null where none could be read; "dropped": [first, last]
                  ranges; "times": each frame's presentation time in
                  seconds; see the README)
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
      std::cout << kVerifyHelp << VerifyInputsHelp() << (kVerifyHelpTail + 1);
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
      {"times", r.times},
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
  std::vector<double> times;
  try {
    const auto pictures = OpenPictures(o.input);
    name = pictures->name();
    const VideoInfo& vi = pictures->info();
    const PixelFormat f = *DescribePixelType(vi.pixel_type);
    // Luma, or what stands for it: green in RGB (the strip is grey).
    const int bytes = f.bytes_per_sample;
    const int stride = f.family == Family::kPackedRgb || f.family == Family::kYuy2 ? f.channels * bytes : bytes;
    const int skip = f.family == Family::kPackedRgb ? bytes : 0;
    framecode::Reader reader;
    auto shown = std::chrono::steady_clock::now();
    for (;;) {
      const Picture* p = nullptr;
      try {
        p = pictures->Next(true);
      } catch (const InputCut&) {
        cut = true;
      }
      if (p == nullptr) break;
      const PlaneView& luma = p->planes[0];
      numbers.push_back(reader.Read({luma.data + skip, luma.pitch, vi.width, vi.height, bytes, f.bits, stride}));
      times.push_back(p->time);
      if (o.progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(250)) {
        shown = std::chrono::steady_clock::now();
        std::fprintf(stderr, "\rframe %zu", numbers.size());
      }
    }
    if (o.progress) std::fprintf(stderr, "\rframe %zu\n", numbers.size());
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  VerifyReport report = Analyse(std::move(numbers), o.expect);
  report.cut = cut;
  report.times = std::move(times);
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
