#include "tool/sinks.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tallyburn::tool {

void RawSink::Write(const VideoFrame& frame, int) {
  const bool rgb = vi_.pixel_type == VideoInfo::CS_BGR24 || vi_.pixel_type == VideoInfo::CS_BGR32;
  const bool planar = vi_.pixel_type == VideoInfo::CS_YV12 || vi_.pixel_type == VideoInfo::CS_I420;
  for (const int plane : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
    if (plane != PLANAR_Y && !planar) break;
    const int rows = frame.GetHeight(plane);
    for (int r = 0; r < rows; ++r) {
      const int line = rgb ? rows - 1 - r : r;  // back to top-down
      out_->Write(frame.GetReadPtr(plane) + static_cast<ptrdiff_t>(line) * frame.GetPitch(plane),
                  static_cast<size_t>(frame.GetRowSize(plane)));
    }
  }
}

bool HasFramePattern(const std::string& path) {
  int conversions = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') continue;
    if (i + 1 < path.size() && path[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    if (j < path.size() && path[j] == '0') {
      ++j;
      if (j < path.size() && path[j] >= '1' && path[j] <= '9') ++j;
    }
    if (j >= path.size() || path[j] != 'd')
      throw ToolError(path + ": a frame pattern takes %d or %0Nd (N from 1 to 9); write %% for a per cent sign");
    ++conversions;
    i = j;
  }
  if (conversions > 1) throw ToolError(path + ": a frame pattern takes one %d");
  return conversions == 1;
}

std::string ExpandFramePattern(const std::string& path, int n) {
  std::string out;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      out += path[i];
      continue;
    }
    if (path[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    int width = 0;
    size_t j = i + 1;
    if (path[j] == '0') {
      ++j;
      if (path[j] >= '1' && path[j] <= '9') width = path[j++] - '0';
    }
    std::string digits = std::to_string(n);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    out += digits;
    i = j;  // at the 'd'
  }
  return out;
}

void ToRgb(const VideoFrame& frame, const VideoInfo& vi, std::vector<uint8_t>& rgb) {
  const int w = vi.width, h = vi.height;
  rgb.resize(static_cast<size_t>(w) * h * 3);
  const auto clamp = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
  // Integer BT.601 studio-range conversion, 16.16 fixed point.
  const auto put = [&](uint8_t* dst, int y, int u, int v) {
    const int c = (y - 16) * 76309, d = u - 128, e = v - 128;
    dst[0] = clamp((c + 104597 * e + 32768) >> 16);
    dst[1] = clamp((c - 25675 * d - 53279 * e + 32768) >> 16);
    dst[2] = clamp((c + 132201 * d + 32768) >> 16);
  };
  for (int yy = 0; yy < h; ++yy) {
    uint8_t* dst = rgb.data() + static_cast<size_t>(yy) * w * 3;
    switch (vi.pixel_type) {
      case VideoInfo::CS_BGR24:
      case VideoInfo::CS_BGR32: {
        const int bpp = vi.pixel_type == VideoInfo::CS_BGR24 ? 3 : 4;
        const uint8_t* src = frame.GetReadPtr() + static_cast<ptrdiff_t>(h - 1 - yy) * frame.GetPitch();
        for (int x = 0; x < w; ++x, dst += 3, src += bpp) dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
        break;
      }
      case VideoInfo::CS_YUY2: {
        const uint8_t* src = frame.GetReadPtr() + static_cast<ptrdiff_t>(yy) * frame.GetPitch();
        for (int x = 0; x < w; ++x, dst += 3) put(dst, src[2 * x], src[(x & ~1) * 2 + 1], src[(x & ~1) * 2 + 3]);
        break;
      }
      default: {
        const uint8_t* y = frame.GetReadPtr() + static_cast<ptrdiff_t>(yy) * frame.GetPitch();
        const uint8_t* u = frame.GetReadPtr(PLANAR_U) + static_cast<ptrdiff_t>(yy / 2) * frame.GetPitch(PLANAR_U);
        const uint8_t* v = frame.GetReadPtr(PLANAR_V) + static_cast<ptrdiff_t>(yy / 2) * frame.GetPitch(PLANAR_V);
        for (int x = 0; x < w; ++x, dst += 3) put(dst, y[x], u[x / 2], v[x / 2]);
      }
    }
  }
}

PngSink::PngSink(std::string path, const VideoInfo& vi) : path_(std::move(path)), vi_(vi) { HasFramePattern(path_); }

void PngSink::Write(const VideoFrame& frame, int n) {
  const std::string name = HasFramePattern(path_) ? ExpandFramePattern(path_, n) : path_;
  ToRgb(frame, vi_, rgb_);

  FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) throw ToolError(name + ": cannot create: " + std::strerror(errno));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    throw ToolError(name + ": cannot write the PNG");
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(vi_.width), static_cast<png_uint_32>(vi_.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int yy = 0; yy < vi_.height; ++yy) png_write_row(png, rgb_.data() + static_cast<size_t>(yy) * vi_.width * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) throw ToolError(name + ": write error: " + std::strerror(errno));
  written_.push_back(name);
}

}  // namespace tallyburn::tool
