// Both commands' grammar as a user meets it: the help against the tables it
// is made from (every function the plug-in registers with each parameter
// and its default, every option of each command), and each usage error as
// its one line and exit status 2.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "filters/functions.h"
#include "tests/tool/tool_support.h"
#include "tool/cli/options.h"
#include "tool/cli/parse.h"

namespace tallyburn::testing {
namespace {

// A default as a script writes it, told here apart from the help's code.
std::string Default(const Param& p) {
  switch (p.type) {
    case ArgType::kInt: {
      // A colour as a script writes it: $RRGGBB.
      const std::string name = p.name;
      if (name.size() >= 5 && name.substr(name.size() - 5) == "color") {
        char text[16];
        std::snprintf(text, sizeof text, "$%06X", static_cast<unsigned>(p.int_default));
        return text;
      }
      return std::to_string(p.int_default);
    }
    case ArgType::kString: return std::string("\"") + p.string_default + "\"";
    case ArgType::kBool: return "auto";
    case ArgType::kFloat: {
      char text[32];
      // Shortest exact form, with a point: 1.0, 0.75, -12.0.
      std::snprintf(text, sizeof text, "%g", p.float_default);
      const std::string shown = text;
      return shown.find('.') == std::string::npos ? shown + ".0" : shown;
    }
    case ArgType::kClip: break;
  }
  return "";
}

// The text of the help from `name(` to its closing bracket, on one line.
std::string SignatureIn(const std::string& help, const std::string& name) {
  const size_t at = help.find("\n  " + name + "(");
  if (at == std::string::npos) return "";
  std::string signature;
  for (const char c : help.substr(at + 3, help.find(')', at) - at - 2))
    if (c != '\n' && (c != ' ' || signature.empty() || signature.back() != ' ')) signature += c;
  return signature;
}

// `text` with each run of spaces and line breaks as one space: a summary
// wrapped over lines reads as one.
std::string OneLine(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\n';
    if (!space || out.empty() || out.back() != ' ') out += space ? ' ' : c;
  }
  return out;
}

TEST(HelpTest, ListsEveryFunctionOfThePluginWithItsDefaults) {
  TempDir dir;
  const RunResult r = RunTool(dir, {"--help"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Functions().size(), 7u);
  for (const Function& f : Functions()) {
    const std::string signature = SignatureIn(r.out, f.name);
    ASSERT_FALSE(signature.empty()) << f.name << " is not in the help:\n" << r.out;
    std::string expected = std::string(f.name) + "(clip";
    for (int k = 1; k < f.param_count; ++k) {
      const std::string param = std::string(f.params[k].name) + "=" + Default(f.params[k]);
      EXPECT_NE(signature.find(param), std::string::npos) << f.name << ": " << param << " in " << signature;
      expected += ", " + param;
    }
    EXPECT_EQ(signature, expected + ")");
    EXPECT_NE(OneLine(r.out).find(" " + std::string(f.summary) + " "), std::string::npos) << f.name << "'s summary";
  }
  EXPECT_EQ(SignatureIn(r.out, "TallyTC"),
            "TallyTC(clip, start=\"00:00:00:00\", rate=\"\", drop=auto, scale=0, align=2, margin=0)");
  EXPECT_NE(r.out.find("TallySync(clip, period=1.0, level=-12.0)"), std::string::npos);
}

// Each name and value of `grammar`'s options, as the help lists them.
template <class T>
void ExpectEveryOption(const tool::Grammar<T>& grammar, const std::string& help) {
  ASSERT_FALSE(grammar.options.empty());
  for (const tool::Option<T>& o : grammar.options) {
    const std::string entry = "  " + std::string(o.names) + (o.value ? std::string(" ") + o.value : "") + " ";
    EXPECT_NE(help.find(entry), std::string::npos) << entry << " is not in:\n" << help;
    const std::string help_text = o.help;
    EXPECT_NE(help.find(help_text.substr(0, help_text.find('\n'))), std::string::npos) << o.names;
  }
}

TEST(HelpTest, ListsEveryOptionOfBothCommands) {
  TempDir dir;
  const RunResult render = RunTool(dir, {"--help"});
  ASSERT_EQ(render.status, 0) << render.err;
  ExpectEveryOption(tool::RenderGrammar(), render.out);
  const RunResult verify = RunTool(dir, {"verify", "--help"});
  ASSERT_EQ(verify.status, 0) << verify.err;
  ExpectEveryOption(tool::VerifyGrammar(), verify.out);
  EXPECT_EQ(verify.out.rfind("usage: tallyburn verify", 0), 0u);
}

// -h and --help end the command line: what follows is not read.
TEST(HelpTest, HelpEndsTheCommandLine) {
  TempDir dir;
  const RunResult r = RunTool(dir, {"-h", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: tallyburn ", 0), 0u);
  const RunResult v = RunTool(dir, {"verify", "-h", "--bogus"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("usage: tallyburn verify ", 0), 0u);
  const RunResult version = RunTool(dir, {"--version"});
  EXPECT_EQ(version.out, "tallyburn 0.1.0\n");
}

struct Usage {
  std::vector<std::string> args;
  std::string err;  // the whole of standard error
};

TEST(UsageTest, EachUsageErrorIsOneLineAndStatusTwo) {
  TempDir dir;
  const Usage cases[] = {
      {{"--x"}, "tallyburn: unknown option --x (see --help)\n"},
      {{"-o"}, "tallyburn: -o needs a value\n"},
      {{"--frames", "5"}, "tallyburn: --frames takes A-B or A-, not \"5\"\n"},
      {{"--frames", "-5"}, "tallyburn: --frames takes A-B or A-, not \"-5\"\n"},
      {{"--frames", "1-x"}, "tallyburn: --frames: \"x\" is not a frame number\n"},
      {{"--frames", "3-1"}, "tallyburn: --frames 3-1: the range is backwards\n"},
      {{"--frame", "2147483648"}, "tallyburn: --frame: \"2147483648\" is not a frame number\n"},
      {{"--frame", "-1"}, "tallyburn: --frame: \"-1\" is not a frame number\n"},
      {{"--frame", "1", "--frames", "1-2"}, "tallyburn: --frame and --frames clash: give one of them\n"},
      {{"--codec", ""}, "tallyburn: --codec needs an encoder's name\n"},
      {{"--audio-codec", ""}, "tallyburn: --audio-codec needs an encoder's name\n"},
      {{"A()", "B()"}, "tallyburn: one SCRIPT only; quote it as one argument\n"},
      {{"--raw", "verify"},
       "tallyburn: verify comes first: tallyburn verify [options] [INPUT] (options before it are not verify's)\n"},
      {{"verify", "--x"}, "tallyburn verify: unknown option --x (see tallyburn verify --help)\n"},
      {{"verify", "--json"}, "tallyburn verify: --json needs a value\n"},
      {{"verify", "--expect", "5"}, "tallyburn verify: --expect takes A-B, not \"5\"\n"},
      {{"verify", "--expect", "5-"}, "tallyburn verify: --expect takes A-B, not \"5-\"\n"},
      {{"verify", "--expect", "9-1"}, "tallyburn verify: --expect 9-1: the range is backwards\n"},
      {{"verify", "--expect", "0-4294967296"}, "tallyburn verify: --expect: \"4294967296\" is not a frame number\n"},
      {{"verify", "--sync-period", "0"}, "tallyburn verify: --sync-period: \"0\" is not a number of frames above 0\n"},
      {{"verify", "--sync-period", "x"}, "tallyburn verify: --sync-period: \"x\" is not a frame number\n"},
      {{"verify", "a.y4m", "b.y4m"}, "tallyburn verify: one INPUT only\n"},
  };
  for (const Usage& c : cases) {
    const RunResult r = RunTool(dir, c.args);
    EXPECT_EQ(r.status, 2) << c.err;
    EXPECT_EQ(r.err, c.err);
  }
}

// The one reading of frame numbers and ranges, with each command's rule.
TEST(UsageTest, FrameNumbersAndRangesFollowTheirOptionsRule) {
  EXPECT_EQ(tool::ParseFrameNumber("0", "--frame", INT32_MAX), 0u);
  EXPECT_EQ(tool::ParseFrameNumber("2147483647", "--frame", INT32_MAX), 2147483647u);
  EXPECT_EQ(tool::ParseFrameNumber("4294967295", "--expect", UINT32_MAX), 4294967295u);
  for (const char* bad : {"", "+1", " 1", "1 ", "0x1", "1e3", "2147483648", "99999999999999999999999"})
    EXPECT_THROW(tool::ParseFrameNumber(bad, "--frame", INT32_MAX), tool::UsageError) << bad;
  const tool::FrameRange open = tool::ParseFrameRange("7-", {"--frames", INT32_MAX, true});
  EXPECT_EQ(open.first, 7u);
  EXPECT_FALSE(open.last);
  const tool::FrameRange closed = tool::ParseFrameRange("7-7", {"--expect", UINT32_MAX, false});
  EXPECT_EQ(closed.first, 7u);
  EXPECT_EQ(closed.last, 7u);
  EXPECT_THROW(tool::ParseFrameRange("7-", {"--expect", UINT32_MAX, false}), tool::UsageError);
}

}  // namespace
}  // namespace tallyburn::testing
