// The frame code read back from what a camera filming a screen and a TV's
// vivid picture mode make of it: strips drawn into 640x360 frames, turned,
// warped, blurred, sharpened and encoded by ffmpeg, then read from the
// result's luma. The frames listed must read their own number; no frame may
// read another.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/pixel_format.h"
#include "draw/strip.h"
#include "framecode/layout.h"
#include "framecode/reader.h"

namespace tallyburn::framecode {
namespace {

constexpr int kW = 640, kH = 360;
// Numbers of every size, the first frames' of a clip among them.
constexpr uint32_t kNumbers[] = {0, 1, 2, 3, 107891, 0x00ABCDEFu, 0x7FFFFFFFu, 0xFFFFFFF0u};
constexpr int kFrames = static_cast<int>(std::size(kNumbers));

bool HaveFfmpeg() { return std::system("command -v ffmpeg > /dev/null 2>&1") == 0; }

bool HaveEncoder(const std::string& name) {
  return std::system(("ffmpeg -hide_banner -encoders 2> /dev/null | grep -q ' " + name + " '").c_str()) == 0;
}

// A picture with something in it besides the strip: soft gradients, and a
// checkerboard of 8-pixel squares (as regular as a clock, in places) in a
// corner the strip is not turned into.
std::vector<uint8_t> Background() {
  std::vector<uint8_t> y(static_cast<size_t>(kW) * kH);
  for (int j = 0; j < kH; ++j)
    for (int i = 0; i < kW; ++i) {
      double v = 60 + 110.0 * i / kW + 25 * std::sin(j / 23.0) * std::cos(i / 41.0);
      if (i < 120 && j < 64) v = ((i / 8 + j / 8) % 2 != 0) ? 190 : 50;
      y[static_cast<size_t>(j) * kW + i] = static_cast<uint8_t>(std::lround(v));
    }
  return y;
}

// Frames of 8-bit grey, one after another, each with its number's strip in
// the middle of the picture, drawn by the painter TallyId uses.
std::string BurnedFrames() {
  const auto format = FindPixelFormat(Family::kGrey, 8, 0, 0);
  StripGeometry strip{};
  if (!format || !PlaceStrip(kW, kH, kModulePixels, 5, &strip)) return {};
  const StripPainter painter(*format, strip);
  const std::vector<uint8_t> background = Background();
  std::string out;
  for (const uint32_t n : kNumbers) {
    std::vector<uint8_t> y = background;
    painter.Paint(FrameView{&*format, kW, kH, {{y.data(), kW}, {nullptr, 0}, {nullptr, 0}}}, n);
    out.append(reinterpret_cast<const char*>(y.data()), y.size());
  }
  return out;
}

struct Camera {
  const char* name;
  std::string chain;       // ffmpeg's options between the input and the grey output
  const char* encoder;     // an encoder the chain needs, or none
  std::vector<int> reads;  // frames that must read their own number
};

void PrintTo(const Camera& c, std::ostream* os) { *os << c.name; }

const std::vector<int> kEvery = {0, 1, 2, 3, 4, 5, 6, 7};

class CameraTest : public ::testing::TestWithParam<Camera> {};

TEST_P(CameraTest, ReadsItsOwnNumbersAndNeverAnother) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const Camera& c = GetParam();
  if (c.encoder != nullptr && !HaveEncoder(c.encoder)) GTEST_SKIP() << "this ffmpeg has no " << c.encoder;
  const std::string dir = ::testing::TempDir();
  const std::string in = dir + "/camera_in_" + c.name + ".grey", out = dir + "/camera_out_" + c.name + ".grey";
  {
    const std::string frames = BurnedFrames();
    ASSERT_EQ(frames.size(), static_cast<size_t>(kW) * kH * kFrames);
    std::ofstream(in, std::ios::binary) << frames;
  }
  const std::string command = "ffmpeg -v error -nostdin -y -f rawvideo -pix_fmt gray -s " + std::to_string(kW) + "x" +
                              std::to_string(kH) + " -r 25 -i '" + in + "' " + c.chain +
                              " -f rawvideo -pix_fmt gray -y '" + out + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream file(out, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(in.c_str());
  std::remove(out.c_str());
  ASSERT_EQ(bytes.size(), static_cast<size_t>(kW) * kH * kFrames);

  // Each frame read by a reader of its own (the whole search) and by one
  // for the clip, as verify reads it (each frame first where the last
  // strip was).
  Reader clip;
  std::vector<int> read, read_in_clip;
  for (int i = 0; i < kFrames; ++i) {
    const LumaView luma{
        reinterpret_cast<const uint8_t*>(bytes.data()) + static_cast<size_t>(i) * kW * kH, kW, kW, kH, 1, 8, 1};
    for (const auto& [n, frames] : {std::pair{Reader().Read(luma), &read}, std::pair{clip.Read(luma), &read_in_clip}}) {
      if (!n) continue;
      EXPECT_EQ(*n, kNumbers[i]) << "frame " << i << " read as another number";
      if (*n == kNumbers[i]) frames->push_back(i);
    }
  }
  EXPECT_EQ(read, c.reads);
  EXPECT_EQ(read_in_clip, c.reads);
}

const std::string kSvtAv1 = "-c:v libsvtav1 -crf 50 -preset 12 -pix_fmt yuv420p -f matroska - | ffmpeg -v error -i -";

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, CameraTest,
    ::testing::Values(
        // Turned: 1 degree is 10 pixels of slope over the strip's 560.
        Camera{"turned_1", "-vf rotate=1*PI/180", nullptr, kEvery},
        Camera{"turned_2", "-vf rotate=-2*PI/180", nullptr, kEvery},
        Camera{"turned_5", "-vf rotate=5*PI/180", nullptr, kEvery},
        Camera{"turned_10", "-vf rotate=10*PI/180", nullptr, kEvery},
        Camera{"turned_back_10", "-vf rotate=-10*PI/180", nullptr, kEvery},
        // Filmed from off the axis, and through a wide lens.
        Camera{"keystone", "-vf perspective=x0=30:y0=20:x1=610:y1=0:x2=0:y2=360:x3=640:y3=330", nullptr, kEvery},
        // (The picture moved up first: the lens bends rows away from its middle.)
        Camera{"barrel", "-vf crop=640:300:0:100,pad=640:360,lenscorrection=k1=0.15:k2=0.05", nullptr, kEvery},
        Camera{"barrel_turned", "-vf rotate=3*PI/180,crop=640:300:0:90,pad=640:360,lenscorrection=k1=0.1:k2=0.05",
               nullptr, kEvery},
        Camera{"vignette", "-vf vignette=PI/3", nullptr, kEvery},
        Camera{"blurred_turned", "-vf rotate=-4*PI/180,gblur=sigma=1.5", nullptr, kEvery},
        Camera{"noisy_turned", "-vf rotate=2*PI/180,noise=alls=25:allf=t", nullptr, kEvery},
        // A TV's vivid mode: sharpened, then contrast pushed until whites clip.
        Camera{"vivid", "-vf unsharp=5:5:1.5,eq=contrast=1.3", nullptr, kEvery},
        Camera{"vivid_strong", "-vf unsharp=5:5:2.5,eq=contrast=1.6", nullptr, kEvery},
        Camera{"vivid_turned", "-vf rotate=1.5*PI/180,unsharp=5:5:1.5,eq=contrast=1.3", nullptr, kEvery},
        // A dim room: little contrast, lifted and grainy.
        Camera{"low_light", "-vf eq=contrast=0.35:brightness=-0.2,noise=alls=12:allf=t", nullptr, kEvery},
        // The whole camera: turned, warped, soft, dark corners and grain.
        Camera{"camera",
               "-vf rotate=2.5*PI/180,perspective=x0=10:y0=8:x1=630:y1=0:x2=0:y2=360:x3=640:y3=350,"
               "lenscorrection=k1=-0.08,vignette=PI/4,gblur=sigma=1,noise=alls=8:allf=t",
               nullptr, kEvery},
        // A low-rate AV1 encode, flat and turned.
        Camera{"svt_av1_crf50", kSvtAv1, "libsvtav1", kEvery},
        Camera{"svt_av1_crf50_turned", "-vf rotate=2*PI/180 " + kSvtAv1, "libsvtav1", kEvery}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tallyburn::framecode
