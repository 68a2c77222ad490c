// TallyText read back by an OCR engine, as a reviewer reads it: burned over
// 75% colour bars at 16, 48 and 200 pixels, the box cropped out and handed
// to tesseract as one line of text, with the characters it may find limited
// to the text's own (so 0 and O, 1 and l cannot trade places). Skipped where
// tesseract is not installed. At 16 px tesseract reads the timecode and a
// number, but takes the font's dotted zero between letters for a 9
// ("A001C003" as "A991C003"), so the name is read at 48 and 200 px.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/filters/text_samples.h"

namespace tallyburn::testing {
namespace {

// 75% bars across the whole frame: white, yellow, cyan, green, magenta,
// red, blue.
class BarsClip final : public IClip {
 public:
  BarsClip(int width, int height) {
    vi_.width = width;
    vi_.height = height;
    vi_.fps_numerator = 25;
    vi_.fps_denominator = 1;
    vi_.num_frames = 100;
    vi_.pixel_type = VideoInfo::CS_BGR24;
  }
  PVideoFrame __stdcall GetFrame(int /*n*/, IScriptEnvironment* env) override {
    static constexpr std::array<uint32_t, 7> kBars = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00,
                                                      0xBF00BF, 0xBF0000, 0x0000BF};
    PVideoFrame frame = env->NewVideoFrame(vi_);
    uint8_t* line = frame->GetWritePtr();
    for (int y = 0; y < vi_.height; ++y, line += frame->GetPitch())
      for (int x = 0; x < vi_.width; ++x) {
        const uint32_t rgb = kBars[static_cast<size_t>(x) * kBars.size() / vi_.width];
        line[3 * x] = rgb & 255;
        line[3 * x + 1] = rgb >> 8 & 255;
        line[3 * x + 2] = rgb >> 16 & 255;
      }
    return frame;
  }
  bool __stdcall GetParity(int /*n*/) override { return false; }
  void __stdcall GetAudio(void*, int64, int64, IScriptEnvironment*) override {}
  int __stdcall SetCacheHints(int, int) override { return 0; }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 private:
  VideoInfo vi_{};
};

std::string OutputOf(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ' || out.back() == '\f')) out.pop_back();
  return out;
}

using TallyTextOcrTest = PluginHost;

TEST_F(TallyTextOcrTest, TesseractReadsTheTextOverColourBars) {
  if (OutputOf("command -v tesseract").empty()) GTEST_SKIP() << "tesseract is not installed (Debian: tesseract-ocr)";
  const PixelFormat f = *DescribePixelType(VideoInfo::CS_BGR24);
  const struct {
    int width, height;
    const char* text;
    std::vector<Argument> args;
    int n;
    const char* expect;
    const char* whitelist;
  } cases[] = {
      {640, 360, "{tc}", {{"size", 16}, {"tc_start", "01:23:45:00"}}, 12, "01:23:45:12", "0123456789:"},
      {640, 360, "{frame:6}", {{"size", 16}}, 4711, "004711", "0123456789"},
      {1280, 720, "A001C003", {{"size", 48}}, 0, "A001C003", "AC0123456789"},
      {1280, 720, "{frame:6}", {{"size", 48}, {"box_opacity", 0.0}}, 4711, "004711", "0123456789"},
      {1920, 1080, "{tc}", {{"size", 200}, {"tc_start", "10:09:08:00"}}, 24, "10:09:08:24", "0123456789:"},
      {1920, 1080, "A001C003", {{"size", 200}}, 0, "A001C003", "AC0123456789"},
  };
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tallytext_ocr";
  std::filesystem::create_directories(dir);
  for (const auto& c : cases) {
    const std::string name = std::string(c.expect) + " at " + std::to_string(c.args[0].value.AsInt()) + " px";
    SCOPED_TRACE(name);
    const PClip bars = new BarsClip(c.width, c.height);
    std::vector<Argument> args = {{"", bars}, {"", c.text}};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const PVideoFrame out = env.FetchFrame(Apply("TallyText", args), c.n);
    const PixelBox box = ChangedBox(env, out, env.FetchFrame(bars, c.n), f, c.height);
    ASSERT_FALSE(box.empty());
    const std::filesystem::path image = dir / (name + ".ppm");
    {
      std::ofstream ppm(image, std::ios::binary);
      ppm << "P6\n" << box.x1 - box.x0 << " " << box.y1 - box.y0 << "\n255\n";
      for (int y = box.y0; y < box.y1; ++y)
        for (int x = box.x0; x < box.x1; ++x)
          for (const int k : {2, 1, 0})
            ppm.put(static_cast<char>(static_cast<uint8_t>(SampleAt(env, out, f, k, x, y))));
    }
    EXPECT_EQ(OutputOf("tesseract '" + image.string() + "' stdout --psm 7 -c tessedit_char_whitelist=" + c.whitelist +
                       " 2>/dev/null"),
              c.expect);
  }
}

}  // namespace
}  // namespace tallyburn::testing
