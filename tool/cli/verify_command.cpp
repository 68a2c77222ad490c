#include "tool/cli/verify_command.h"

#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <string>

#include "tool/media/io.h"
#include "tool/script/inputs.h"
#include "tool/verify/report_html.h"
#include "tool/verify/report_json.h"
#include "tool/verify/report_text.h"
#include "tool/verify/verify.h"

namespace tallyburn::tool {
namespace {

constexpr const char* kVerifyHelp = R"(usage: tallyburn verify [options] [INPUT]

Reads the frame code TallyId burned into every frame of a video (INPUT, or
- for standard input, the default) in any colour space and depth, at any
size down to modules of 2 pixels and with its two levels anywhere in the
range, and reports the frames read, decoded and unreadable, the numbers
dropped, repeated and out of order, where the stream starts and ends, and
runs of unreadable frames. INPUT is read as the tool's sources read it:
)";

constexpr const char* kVerifyHelpTail = R"(

Options:
  --json FILE     the whole report as JSON ("numbers": one per input frame,
                  null where none could be read; "dropped": [first, last]
                  ranges; "times": each frame's presentation time in
                  seconds; see the README)
  --expect A-B    the numbers that should be there, so that drops at either
                  end are reported too
  --reference REF compare each frame with the frame of REF (any input as
                  above: the burned file, or the master before TallyId,
                  whose frame k is number k) that carries the same number:
                  PSNR and SSIM from FFmpeg's psnr and ssim filters, the
                  frame scaled to REF's size first, the code's rows left
                  out of both; per frame in the JSON ("quality"), with the
                  mean, minimum, 5th percentile and worst ten frames
  --html FILE     the report as one self-contained page: the number each
                  frame carries, quality, frame intervals and sync, drawn
  A media file with sound is measured for sync too: TallySync's marks in
  its first sound stream against the frames carrying their numbers, the
  offset of each in ms (positive: the sound is late), their mean, extremes
  and drift ("sync", "sync_summary" in the JSON).
  --sync-period N the marks are N frames apart (without it, told from
                  their spacing)
  --no-sync       do not read the sound
  The text and JSON reports give the timing too ("timing"): how long each
  frame stayed, the cadence (3:2 for 24p captured at 60), freezes,
  stutters and the spread of the intervals between frames.
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

struct VerifyCommand {
  VerifyOptions run;
  bool input_given = false;
  std::string json;
  std::string html;
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

VerifyCommand ParseVerifyOptions(int argc, char** argv) {
  VerifyCommand o;
  o.run.progress = isatty(STDERR_FILENO) != 0;
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
    } else if (a == "--reference") {
      o.run.reference = value();
    } else if (a == "--html") {
      o.html = value();
    } else if (a == "--expect") {
      const std::string range = value();
      const size_t dash = range.find('-');
      if (dash == std::string::npos) throw VerifyUsage("--expect takes A-B, not \"" + range + "\"");
      o.run.expect =
          NumberRange{ParseNumber(range.substr(0, dash), "--expect"), ParseNumber(range.substr(dash + 1), "--expect")};
      if (o.run.expect->last < o.run.expect->first) throw VerifyUsage("--expect " + range + ": the range is backwards");
    } else if (a == "--no-sync") {
      o.run.sync = false;
    } else if (a == "--sync-period") {
      const std::string v = value();
      const uint32_t n = ParseNumber(v, "--sync-period");
      if (n == 0) throw VerifyUsage("--sync-period: \"" + v + "\" is not a number of frames above 0");
      o.run.sync_period = n;
    } else if (a == "--progress") {
      o.run.progress = true;
    } else if (a == "--no-progress") {
      o.run.progress = false;
    } else if (a.size() > 1 && a[0] == '-') {
      throw VerifyUsage("unknown option " + a + " (see tallyburn verify --help)");
    } else if (o.input_given) {
      throw VerifyUsage("one INPUT only");
    } else {
      o.run.input = a;
      o.input_given = true;
    }
  }
  return o;
}

}  // namespace

int RunVerify(int argc, char** argv) {
  VerifyCommand o;
  try {
    o = ParseVerifyOptions(argc, argv);
  } catch (const VerifyUsage& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  VerifyReport report;
  std::string name;
  try {
    report = ReadAndCompare(o.run, &name);
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  std::cerr << ReportSummary(report, name);
  try {
    if (!o.json.empty()) {
      auto out = OutputStream::Open(o.json);
      out->Write(ReportJson(report, name));
      out->Commit();
    }
    if (!o.html.empty()) {
      auto out = OutputStream::Open(o.html);
      out->Write(ReportHtml(report, name));
      out->Commit();
    }
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  return report.intact() ? 0 : 1;
}

}  // namespace tallyburn::tool
