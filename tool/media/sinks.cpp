#include "tool/media/sinks.h"

#include "tool/media/raw_formats.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tallyburn::tool {

void RawSink::WriteFrame(const VideoFrame& frame) {
  // Planes in slot order (Y U V, or G B R as ffmpeg's gbrp), packed RGB
  // turned top-down; alpha planes are not in the frame's slots.
  WriteRawPlanes(stream(), *DescribePixelType(vi_.pixel_type), vi_.width, vi_.height, frame);
}

FramePattern FramePattern::Parse(const std::string& path) {
  FramePattern p;
  p.before_ = path;
  std::string before;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      before += path[i];
      continue;
    }
    if (i + 1 < path.size() && path[i + 1] == '%') {
      before += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    int width = 0;
    if (j < path.size() && path[j] == '0') {
      ++j;
      if (j < path.size() && path[j] >= '1' && path[j] <= '9') width = path[j++] - '0';
    }
    if (j >= path.size() || path[j] != 'd')
      throw ToolError(path + ": a frame pattern takes %d or %0Nd (N from 1 to 9); write %% for a per cent sign");
    if (p.present_) throw ToolError(path + ": a frame pattern takes one %d");
    p.present_ = true;
    p.width_ = width;
    p.before_ = before;
    before.clear();
    i = j;
  }
  if (p.present_)
    p.after_ = before;
  else
    p.before_ = before;
  return p;
}

std::string FramePattern::Expand(int n) const {
  if (!present_) return before_;
  std::string digits = std::to_string(n);
  if (static_cast<int>(digits.size()) < width_) digits.insert(0, static_cast<size_t>(width_) - digits.size(), '0');
  return before_ + digits + after_;
}

std::vector<std::string> FramePattern::Existing() const {
  namespace fs = std::filesystem;
  if (!present_) return {};
  std::vector<std::string> found;
  // The number is in the file's name; a pattern with it in a folder's
  // name names no file here.
  if (after_.find('/') != std::string::npos) return found;
  const size_t slash = before_.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : before_.substr(0, slash + 1);
  const std::string prefix = slash == std::string::npos ? before_ : before_.substr(slash + 1);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() + after_.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - after_.size(), after_.size(), after_) != 0)
      continue;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - after_.size());
    if (static_cast<int>(digits.size()) >= width_ && digits.find_first_not_of("0123456789") == std::string::npos)
      found.push_back(slash == std::string::npos ? name : before_.substr(0, slash + 1) + name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

namespace {

// One sample as a value on the 8-bit scale (0 to 255, finer for deeper
// formats); float chroma, centred on 0, is moved to centre on 128.
double Sample8(const uint8_t* p, const PixelFormat& f, bool chroma) {
  switch (f.sample) {
    case SampleType::kU8: return p[0];
    case SampleType::kU16: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v / static_cast<double>(1 << (f.bits - 8));
    }
    case SampleType::kF32: {
      float v;
      std::memcpy(&v, p, 4);
      return chroma && !f.rgb() ? v * 255.0 + 128.0 : v * 255.0;
    }
  }
  return 0;
}

}  // namespace

int PngDepth(const PixelFormat& f) { return f.rgb() && f.bits > 8 ? 16 : 8; }

void ToRgb(const VideoFrame& frame, const VideoInfo& vi, std::vector<uint16_t>& rgb) {
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  const int w = vi.width, h = vi.height;
  const double top = PngDepth(f) == 16 ? 65535.0 : 255.0;
  rgb.resize(static_cast<size_t>(w) * h * 3);
  const auto clamp = [top](double v) { return static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, top))); };
  const auto row = [&](int plane, int y, int log2_h) {
    const int line = f.bottom_up() ? h - 1 - y : y >> log2_h;
    return frame.GetReadPtr(plane) + static_cast<ptrdiff_t>(line) * frame.GetPitch(plane);
  };
  const int bytes = f.bytes_per_sample;
  for (int y = 0; y < h; ++y) {
    uint16_t* dst = rgb.data() + static_cast<size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x, dst += 3) {
      double r = 0, g = 0, b = 0;
      if (f.family == Family::kPackedRgb) {
        const uint8_t* p = row(PLANAR_Y, y, 0) + static_cast<size_t>(x) * f.channels * bytes;
        b = Sample8(p, f, false), g = Sample8(p + bytes, f, false), r = Sample8(p + 2 * bytes, f, false);
      } else if (f.family == Family::kPlanarRgb) {
        g = Sample8(row(PLANAR_Y, y, 0) + static_cast<size_t>(x) * bytes, f, false);
        b = Sample8(row(PLANAR_U, y, 0) + static_cast<size_t>(x) * bytes, f, false);
        r = Sample8(row(PLANAR_V, y, 0) + static_cast<size_t>(x) * bytes, f, false);
      } else {
        double luma = 0, u = 128, v = 128;
        if (f.family == Family::kYuy2) {
          const uint8_t* p = row(PLANAR_Y, y, 0);
          luma = p[2 * x], u = p[(x & ~1) * 2 + 1], v = p[(x & ~1) * 2 + 3];
        } else {
          luma = Sample8(row(PLANAR_Y, y, 0) + static_cast<size_t>(x) * bytes, f, false);
          if (f.family == Family::kPlanarYuv) {
            const size_t cx = static_cast<size_t>(x >> f.log2_chroma_w) * bytes;
            u = Sample8(row(PLANAR_U, y, f.log2_chroma_h) + cx, f, true);
            v = Sample8(row(PLANAR_V, y, f.log2_chroma_h) + cx, f, true);
          }
        }
        // BT.601, studio range.
        const double c = (luma - 16) * 255.0 / 219.0, d = (u - 128) * 255.0 / 224.0, e = (v - 128) * 255.0 / 224.0;
        r = c + 1.402 * e;
        g = c - 0.344136 * d - 0.714136 * e;
        b = c + 1.772 * d;
      }
      const double scale = top / 255.0;
      dst[0] = clamp(r * scale), dst[1] = clamp(g * scale), dst[2] = clamp(b * scale);
    }
  }
}

PngSink::PngSink(std::string path, FramePattern pattern, const VideoInfo& vi,
                 std::function<void(const std::string&)> check)
    : path_(std::move(path)), pattern_(std::move(pattern)), vi_(vi), check_(std::move(check)) {}

PngSink::~PngSink() { RemoveFolder(); }

void PngSink::RemoveFolder() {
  if (folder_.empty()) return;
  for (size_t i = 0; i < written_.size(); ++i) ::unlink(InFolder(i).c_str());
  ::rmdir(folder_.c_str());
  UntrackTemporary(tracked_);
  tracked_ = -1;
  folder_.clear();
}

void PngSink::Finish() {
  for (size_t i = 0; i < written_.size(); ++i) {
    // A picture replaced keeps its permissions, as any output does.
    struct stat st {};
    if (::stat(written_[i].c_str(), &st) == 0) ::chmod(InFolder(i).c_str(), st.st_mode & 07777);
    if (::rename(InFolder(i).c_str(), written_[i].c_str()) != 0)
      throw ToolError(written_[i] + ": cannot replace: " + std::strerror(errno));
  }
  RemoveFolder();
}

namespace {

// libpng reports errors by longjmp, and no C++ exception may cross it: a
// write error of the output is kept here and turned into a libpng error.
struct PngOutput {
  OutputStream* out;
  std::string failure;
};

void WritePng(png_structp png, png_bytep data, png_size_t length) {
  auto* o = static_cast<PngOutput*>(png_get_io_ptr(png));
  try {
    o->out->Write(data, length);
  } catch (const ToolError& e) {
    o->failure = e.what();
    png_error(png, "write error");
  }
}
void FlushPng(png_structp) {}

}  // namespace

void PngSink::Write(const VideoFrame& frame, int n) {
  const std::string name = pattern_.present() ? pattern_.Expand(n) : path_;
  check_(name);
  ToRgb(frame, vi_, rgb_);

  if (folder_.empty()) {
    // Beside the first picture, on its file system: each rename at the end
    // is one step.
    const size_t slash = name.rfind('/');
    std::string folder = (slash == std::string::npos ? "" : name.substr(0, slash + 1)) + "." +
                         name.substr(slash == std::string::npos ? 0 : slash + 1) + ".tallyburn-XXXXXX";
    tracked_ = MakeTemporaryFolder(folder, name);
    folder_ = std::move(folder);
  }
  // Counted before it is made, so that a signal finds it.
  CountTemporaryFiles(tracked_, static_cast<long>(written_.size()) + 1);
  const std::unique_ptr<OutputStream> out = OutputStream::Open(InFolder(written_.size()), name);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  PngOutput output{out.get(), ""};
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw ToolError(output.failure.empty() ? name + ": cannot write the PNG" : output.failure);
  }
  png_set_write_fn(png, &output, WritePng, FlushPng);
  const int depth = PngDepth(*DescribePixelType(vi_.pixel_type));
  png_set_IHDR(png, info, static_cast<png_uint_32>(vi_.width), static_cast<png_uint_32>(vi_.height), depth,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // PNG samples are big-endian bytes, one per sample at depth 8.
  const size_t samples = static_cast<size_t>(vi_.width) * 3;
  std::vector<uint8_t> line(samples * static_cast<size_t>(depth / 8));
  for (int yy = 0; yy < vi_.height; ++yy) {
    const uint16_t* src = rgb_.data() + static_cast<size_t>(yy) * samples;
    for (size_t i = 0; i < samples; ++i) {
      if (depth == 16) {
        line[2 * i] = static_cast<uint8_t>(src[i] >> 8);
        line[2 * i + 1] = static_cast<uint8_t>(src[i]);
      } else {
        line[i] = static_cast<uint8_t>(src[i]);
      }
    }
    png_write_row(png, line.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  out->Commit();
  written_.push_back(name);
}

}  // namespace tallyburn::tool
