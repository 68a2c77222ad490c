#include "tool/cli/help.h"

#include <cstdio>
#include <cstring>
#include <span>

#include "tool/cli/options.h"
#include "tool/media/outputs.h"
#include "tool/script/inputs.h"

namespace tallyburn::tool {
namespace {

constexpr size_t kWidth = 80;

constexpr const char* kRenderUsage = R"(usage: tallyburn [options] [SCRIPT | SCRIPT-FILE]
       tallyburn verify [options] [INPUT]    (see tallyburn verify --help)

Burns frame numbers and timecodes into video with the filters of
libtallyburn.so, loaded the way a frame server loads it.

SCRIPT is a script in the frame server's syntax, given as one argument or
as the name of a file that holds it (such as in.avs): calls chained with a
dot, arguments by position or by name (integers, floats, "strings",
true/false), statements on lines or separated by ';', # comments,
variables (clip = Y4MSource("in.y4m")), and the implicit last: a bare clip
sets it, a filter called without a clip takes it, and the script's value
is the last clip. Without SCRIPT the tool renders
  ColorBars().FrameTC(orientation=2).Tallyburn()

)";

// The built-in generators before the table of inputs, the rest after it.
constexpr const char* kBuiltinSources = R"(Sources (built in):
  ColorBars(width=640, height=480, pixel_type="YV12", length=300,
            fps=30000, fps_denominator=1001)
  BlankClip(... the same ..., color=$000000)
)";
constexpr const char* kMoreSources = R"(  SourceTimecode(path)                     a media file's start timecode, as a
                                           label ("01:00:00;00"): its timecode
                                           track, MXF's or its timecode tag
  LoadPlugin(path)                         another plug-in (statements are
                                           separated by new lines or ';')
ColorBars and BlankClip pixel_type: RGB24, RGB32, YUY2, YV12, I420 (or bgr24,
bgra, yuyv422, yuv420p).
)";

constexpr const char* kRenderEnd = R"(
Exit status: 0 success, 1 an error in the script, the input or the output
(one line on standard error), 2 a usage error.

Examples:
  tallyburn -o bars.png --frame 123
  tallyburn 'ColorBars(1920, 1080, "YV12", length=3000).FrameTC(offset=1800, orientation=2).Tallyburn(left=1)' -o out.y4m
  ffmpeg -i in.mp4 -f yuv4mpegpipe - | tallyburn 'Y4MSource("-").FrameTC()' -o - | ffmpeg -f yuv4mpegpipe -i - out.mkv
  tallyburn 'RawSource("in.bgr", 1280, 720, "bgr24", 25).Tallyburn()' --raw -o out.bgr
  tallyburn --info 'Y4MSource("in.y4m")'
  tallyburn dailies.avs -o out.y4m
  tallyburn 'ColorBars(1280, 720).TallyTC()' -o bars.mp4 --codec libx264 --codec-options crf=18:preset=fast
)";

constexpr const char* kVerifyUsage = R"(usage: tallyburn verify [options] [INPUT]

Reads the frame code TallyId burned into every frame of a video (INPUT, or
- for standard input, the default) in any colour space and depth, at any
size down to modules of 2 pixels and with its two levels anywhere in the
range, and reports the frames read, decoded and unreadable, the numbers
dropped, repeated and out of order, where the stream starts and ends, and
runs of unreadable frames. INPUT is read as the tool's sources read it:
)";

constexpr const char* kVerifyEnd = R"(
Exit status: 0 every frame present once and in order, 1 faults found,
2 could not run (a bad command line or input).
)";

// `left` at two spaces, then `lines` ('\n' between them) from `column` on;
// `left` on a line of its own when it reaches the column.
std::string Columns(const std::string& left, const std::string& lines, size_t column) {
  std::string out, first = "  " + left;
  if (first.size() + 1 > column) {
    out += first + "\n";
    first.clear();
  }
  first.resize(column, ' ');
  size_t at = 0;
  for (bool head = true; at < lines.size() || head; head = false) {
    const size_t end = std::min(lines.find('\n', at), lines.size());
    out += (head ? first : std::string(column, ' ')) + lines.substr(at, end - at) + "\n";
    at = end + 1;
  }
  return out;
}

// Each of `lines` ('\n' between them) after `n` spaces.
std::string Indent(const std::string& lines, size_t n) {
  std::string out;
  for (size_t at = 0; at < lines.size();) {
    const size_t end = std::min(lines.find('\n', at), lines.size());
    out += std::string(n, ' ') + lines.substr(at, end - at) + "\n";
    at = end + 1;
  }
  return out;
}

// `text` in lines of at most `width`, broken at spaces.
std::string Wrap(const std::string& text, size_t width) {
  std::string out, line;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find(' ', at), text.size());
    const std::string word = text.substr(at, end - at);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  return out + line;
}

template <class T>
std::string OptionsHelp(const Grammar<T>& grammar, size_t column) {
  std::string out = "Options:\n";
  for (const Option<T>& o : grammar.options) {
    if (o.lead != nullptr) out += Indent(o.lead, 2);
    const std::string left = std::string(o.names) + (o.value != nullptr ? std::string(" ") + o.value : "");
    const std::string help = o.help;
    const size_t first = std::min(help.find('\n'), help.size());
    out += Columns(left, help.substr(0, first), column);
    if (o.listing != nullptr) out += o.listing();
    if (first < help.size()) out += Indent(help.substr(first + 1), column);
  }
  return out;
}

std::string FunctionsHelp() {
  constexpr size_t kColumn = 43;
  std::string out = "Filters (from the plug-in):\n";
  for (const Function& f : Functions())
    out += Columns(FunctionSignature(f, kWidth, 2), Wrap(f.summary, kWidth - kColumn), kColumn);
  return out;
}

}  // namespace

std::string DefaultText(const Param& param) {
  switch (param.type) {
    case ArgType::kClip: return "";
    case ArgType::kInt: {
      // Colours as scripts write them.
      const std::string name = param.name;
      if (name.size() >= 5 && name.compare(name.size() - 5, 5, "color") == 0) {
        char text[16];
        std::snprintf(text, sizeof text, "$%06X", static_cast<unsigned>(param.int_default) & 0xFFFFFFu);
        return text;
      }
      return std::to_string(param.int_default);
    }
    case ArgType::kBool: return "auto";
    case ArgType::kString: return std::string("\"") + param.string_default + "\"";
    case ArgType::kFloat: {
      char text[32];
      std::snprintf(text, sizeof text, "%g", param.float_default);
      std::string s = text;
      if (s.find_first_of(".e") == std::string::npos) s += ".0";
      return s;
    }
  }
  return "";
}

std::string FunctionSignature(const Function& function, size_t width, size_t margin) {
  std::string s = std::string(function.name) + "(";
  const size_t indent = margin + s.size();
  size_t line = 0;  // where the current line starts in `s`, less the margin
  for (int k = 0; k < function.param_count; ++k) {
    const Param& p = function.params[k];
    std::string param = p.name;
    if (p.type != ArgType::kClip) param += "=" + DefaultText(p);
    if (k > 0) {
      s += ",";
      // A parameter that would run past `width` starts a line under the first.
      if (margin + s.size() - line + 1 + param.size() + 1 > width) {
        s += "\n" + std::string(indent, ' ');
        line = s.size() - indent + margin;
      } else {
        s += " ";
      }
    }
    s += param;
  }
  return s + ")";
}

std::string RenderHelp() {
  return kRenderUsage + FunctionsHelp() + kBuiltinSources + SourcesHelp() + kMoreSources + "\n" +
         OptionsHelp(RenderGrammar(), 22) + kRenderEnd;
}

std::string VerifyHelp() {
  return kVerifyUsage + VerifyInputsHelp() + "\n" + OptionsHelp(VerifyGrammar(), 18) + kVerifyEnd;
}

}  // namespace tallyburn::tool
