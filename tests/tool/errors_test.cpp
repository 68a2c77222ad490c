// The tool's errors on damaged, cut and unexpected inputs and on a full
// disk: one line that names the file and says what is wrong, exit status
// 1, and nothing from the file sent raw to the terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool/tool_support.h"

namespace tallyburn::testing {
namespace {

namespace fs = std::filesystem;

struct ErrorCase {
  const char* name;
  std::vector<std::string> args;
  std::string stdin_bytes;
  int status;
  std::string err;
};

// The inputs the cases read, made once: 320x240, a few frames.
class ToolErrorsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const std::string y4m = MakeY4m(320, 240, 3);
    const size_t header = y4m.find('\n') + 1;
    WriteFile(Path("cut.y4m"), y4m.substr(0, header + 6 + 1000));  // its FRAME line and 1000 bytes
    WriteFile(Path("cut.raw"), std::string(5000, '\x40'));
    WriteFile(Path("empty.y4m"), "");
    WriteFile(Path("huge.y4m"), "YUV4MPEG2 W100000 H100000 F25:1 C420jpeg\nFRAME\n");
    WriteFile(Path("junk.bin"), std::string(2000, '\x01'));
    WriteFile(Path("escape.y4m"), "YUV4MPEG2 W320 H240 F25:1 \x1b[2J\x1b]0;owned\x07\n");
    WriteFile(Path("bom.avs"),
              "\xef\xbb\xbf"
              "ColorBars(320, 240, length=2)\n");
    WriteFile(Path("bom-bad.avs"),
              "\xef\xbb\xbf"
              "ColorBars(@)\n");
    WriteFile(Path("bell.avs"), "Y4MSource(\"no\x1b[31mfile\")\n");
    // An MP4 whose recording stopped before its index (written last) was.
    const RunResult made = RunTool(*dir_, {"ColorBars(320, 240, length=3)", "-o", "whole.mp4"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string mp4 = ReadFile(Path("whole.mp4"));
    const size_t moov = mp4.rfind("moov");
    ASSERT_NE(moov, std::string::npos);
    WriteFile(Path("unfinished.mp4"), mp4.substr(0, moov - 4));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string Path(const std::string& name) { return dir_->Path(name); }
  static TempDir* dir_;
};

TempDir* ToolErrorsTest::dir_ = nullptr;

TEST_F(ToolErrorsTest, NameTheFileAndWhatIsWrongOnOneLine) {
  const ErrorCase cases[] = {
      // Cut inside the first frame: a file and a pipe say the same.
      {"y4m_cut_in_first_frame",
       {"Y4MSource(\"cut.y4m\")", "-o", "-"},
       "",
       1,
       "tallyburn: cut.y4m: the file is cut short before its first frame (got 1000 of 115200 bytes)\n"},
      {"y4m_pipe_cut_in_first_frame",
       {"Y4MSource(\"-\")", "-o", "-"},
       ReadFile(Path("cut.y4m")),
       1,
       "tallyburn: standard input: the stream is cut short before its first frame (got 1000 of 115200 bytes)\n"},
      {"raw_cut_in_first_frame",
       {"RawSource(\"cut.raw\", 320, 240, \"YV12\", 25)", "-o", "-"},
       "",
       1,
       "tallyburn: cut.raw: the file is cut short before its first frame (got 5000 of 115200 bytes)\n"},
      // A header's frame size past any reader's limits.
      {"y4m_huge_header_y4msource",
       {"Y4MSource(\"huge.y4m\")", "-o", "-"},
       "",
       1,
       "tallyburn: script column 1: Y4MSource: huge.y4m: width 'W100000' must be between 1 and 16384\n"},
      {"y4m_huge_header_mediasource",
       {"MediaSource(\"huge.y4m\")", "-o", "-"},
       "",
       1,
       "tallyburn: script column 1: MediaSource: huge.y4m: width 'W100000' must be between 1 and 16384\n"},
      // What FFmpeg could not open, in the file's terms.
      {"mediasource_empty",
       {"MediaSource(\"empty.y4m\")", "-o", "-"},
       "",
       1,
       "tallyburn: script column 1: MediaSource: empty.y4m: the file is empty\n"},
      {"mediasource_unfinished_mp4",
       {"MediaSource(\"unfinished.mp4\")", "-o", "-"},
       "",
       1,
       "tallyburn: script column 1: MediaSource: unfinished.mp4: the MP4/MOV file has no index (moov atom): it was "
       "not finished, as when a recording stops before its file is closed\n"},
      {"mediasource_unrecognised",
       {"MediaSource(\"junk.bin\")", "-o", "-"},
       "",
       1,
       "tallyburn: script column 1: MediaSource: junk.bin: FFmpeg does not recognise it as video or pictures in any "
       "format it reads\n"},
      // A byte-order mark begins no statement; columns count after it.
      {"script_file_with_bom", {"bom.avs", "-o", "/dev/null"}, "", 0, ""},
      {"script_file_with_bom_and_an_error",
       {"bom-bad.avs", "-o", "/dev/null"},
       "",
       1,
       "tallyburn: bom-bad.avs column 11: unexpected character '@'\n"},
      {"script_argument_with_bom",
       {"\xef\xbb\xbf"
        "ColorBars(320, 240, length=2)",
        "-o", "/dev/null"},
       "",
       0,
       ""},
      // Bytes of a file quoted in a message: control bytes escaped.
      {"y4m_header_with_escapes",
       {"Y4MSource(\"escape.y4m\")", "-o", "-"},
       "",
       1,
       "tallyburn: script column 1: Y4MSource: escape.y4m: unknown header tag '\\x1b[2J\\x1b]0;owned\\x07'\n"},
      {"file_name_with_escapes",
       {"bell.avs", "-o", "-"},
       "",
       1,
       "tallyburn: bell.avs column 1: Y4MSource: no\\x1b[31mfile: cannot open: No such file or directory\n"},
      // UTF-8 stays as it is; a byte that is not UTF-8 is escaped.
      {"file_name_in_utf8_and_not",
       {"Y4MSource(\"caf\xc3\xa9\xff.y4m\")", "-o", "-"},
       "",
       1,
       "tallyburn: script column 1: Y4MSource: caf\xc3\xa9\\xff.y4m: cannot open: No such file or directory\n"},
      {"script_with_a_control_byte",
       {"ColorBars()\x7f", "-o", "-"},
       "",
       1,
       "tallyburn: script column 12: unexpected character '\\x7f'\n"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = RunTool(*dir_, c.args, c.stdin_bytes);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
  }
}

// How a private mount namespace with a tmpfs over `folder` can be had here
// (as root, or through a user namespace): "" when it cannot.
std::string MountNamespace(const std::string& folder) {
  for (const char* unshare : {"unshare --mount --map-root-user", "unshare --mount"}) {
    const std::string probe = std::string(unshare) + " sh -c " +
                              Quote("mount -t tmpfs -o size=8k tmpfs " + Quote(folder)) + " > /dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return unshare;
  }
  return "";
}

// A media output on a full disk fails with the disk's own error, as a
// YUV4MPEG2 one does; the temporary file goes, the old output stays. The
// tmpfs lives in the namespace only: what is left in it is listed there.
TEST_F(ToolErrorsTest, AFullDiskUnderAMediaOutputSaysSo) {
  fs::create_directory(Path("small"));
  const std::string unshare = MountNamespace(Path("small"));
  if (unshare.empty())
    GTEST_SKIP() << "no tmpfs in a private mount namespace here (unshare --mount needs root or user namespaces)";
  for (const std::string container : {"mp4", "mkv", "ts", "mxf", "nut", "avi"}) {
    SCOPED_TRACE(container);
    const std::string out = "out." + container;
    // 8 KiB: the old output takes a page, the new one fills the other.
    std::string inside = "mount -t tmpfs -o size=8k tmpfs small && cd small && printf 'the old output' > ";
    inside += out + " && " + Quote(TALLYBURN_TOOL_PATH);
    inside += " --no-progress 'ColorBars(320, 240, length=30).FrameTC()' -o " + out;
    inside += "; echo \"status $?\"; ls -A; cat " + out;
    const RunResult r = Shell(*dir_, unshare + " sh -c " + Quote(inside));
    EXPECT_EQ(r.err, "tallyburn: " + out + ": write error: No space left on device\n");
    EXPECT_EQ(r.out, "status 1\n" + out + "\nthe old output");
  }
}

// A file past the size limit likewise: "File too large", not FFmpeg's EIO.
TEST_F(ToolErrorsTest, AFileTooLargeUnderAMediaOutputSaysSo) {
  WriteFile(Path("big.mkv"), "the old output");
  // A few KiB of file at most, SIGXFSZ ignored: the write fails with EFBIG.
  const RunResult r = Shell(*dir_, "ulimit -f 4; trap '' XFSZ; " + Quote(TALLYBURN_TOOL_PATH) +
                                       " --no-progress 'ColorBars(320, 240, length=30).FrameTC()' -o big.mkv");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tallyburn: big.mkv: write error: File too large\n");
  EXPECT_EQ(ReadFile(Path("big.mkv")), "the old output");
  for (const auto& e : fs::directory_iterator(dir_->path()))
    EXPECT_EQ(e.path().filename().string().find("tallyburn-"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace tallyburn::testing
