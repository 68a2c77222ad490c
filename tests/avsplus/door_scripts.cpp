#include "tests/avsplus/door_scripts.h"

namespace tallyburn::testing {
namespace {

// Bars of the format as the host makes them; grey from its 4:4:4 bars.
std::string Source(const PixelFormat& f) {
  if (f.family == Family::kGrey)
    return std::string("ColorBars(580, 242, pixel_type=\"YUV444P") + (f.bits == 32 ? "S" : std::to_string(f.bits)) +
           "\").ConvertToY()";
  return std::string("ColorBars(580, 242, pixel_type=\"") + f.name + "\")";
}

constexpr const char* kCalls[] = {
    "c.Tallyburn()",
    "c.Tallyburn(7, 1)",
    "c.FrameTC()",
    "c.FrameTC(offset=107000, orientation=2, y=3)",
    "c.TallyTC()",
    "c.TallyTC(start=\"01:00:00;02\", scale=2, align=5, margin=3)",
    "c.TallyTC(rate=\"25\", drop=false, align=7)",
    "c.TallyFrame()",
    "c.TallyFrame(start=-3, digits=4, align=7, margin=1)",
    "c.TallyId()",
    "c.TallyId(start=9, align=1, scale=1)",
    "c.TallyText(\"Reel {tc}\", size=24, color=$FFC000, box_opacity=0.5, align=5)",
    "c.TallyText(\"{frame:6}\", box_opacity=0.0, align=7, margin=0)",
};

}  // namespace

std::vector<PixelFormat> HostFormats() {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  std::vector<PixelFormat> formats;
  for (int i = 0; i < count; ++i)
    if (all[i].pixel_type != static_cast<int>(0xA0000010u)) formats.push_back(all[i]);
  return formats;
}

std::string StackedCalls(const PixelFormat& format, bool drawn) {
  std::string s = "c = " + Source(format) + ".AssumeFPS(30000, 1001)\nStackVertical(";
  for (size_t i = 0; i < std::size(kCalls); ++i) s += (i ? ", " : "") + std::string(drawn ? kCalls[i] : "c");
  return s + ")";
}

std::vector<std::string> RefusedScripts() {
  const std::string bars = "ColorBars(640, 480, pixel_type=\"YV12\").AssumeFPS(50, 1)";
  return {
      "ColorBars(640, 13, pixel_type=\"RGB24\").Tallyburn()",
      "ColorBars(91, 480, pixel_type=\"RGB24\").FrameTC()",
      bars + ".FrameTC()",
      bars + ".AssumeFPS(25, 1).FrameTC(y=467)",
      bars + ".AssumeFPS(25, 1).FrameTC(orientation=3)",
      bars + ".TallyTC(rate=\"7\")",
      bars + ".TallyTC(rate=\"x\")",
      bars + ".AssumeFPS(1, 1).TallyTC()",
      bars + ".TallyTC(start=\"25:00:00:00\")",
      bars + ".TallyTC(start=\"00:00:00;00\", drop=false)",
      bars + ".AssumeFPS(25, 1).TallyTC(drop=true)",
      bars + ".TallyTC(scale=65)",
      bars + ".TallyTC(align=0)",
      bars + ".TallyTC(margin=-1)",
      bars + ".TallyTC(scale=40)",
      bars + ".TallyFrame(digits=11)",
      bars + ".TallyId(start=-1)",
      bars + ".TallyId(scale=9)",
      bars + ".Tallyburn(offset=\"1\")",
      bars + ".TallyTC(drop=1)",
      bars + ".TallyText(\"{time}\")",
      bars + ".TallyText(\"x\", white=\"bright\")",
  };
}

std::string CollectedRefusals() {
  std::string s = "m = \"\"\n";
  for (const std::string& script : RefusedScripts())
    s += "try { x = " + script + " } catch (e) { m = m + e + \" | \" }\n";
  return s + "Assert(false, m)";
}

}  // namespace tallyburn::testing
