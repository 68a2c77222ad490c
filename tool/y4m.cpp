#include "tool/y4m.h"

#include <charconv>
#include <cstring>

namespace tallyburn::tool {
namespace {

constexpr size_t kMaxHeaderBytes = 4096;
constexpr size_t kMaxFrameHeaderBytes = 1024;
constexpr char kMagic[] = "YUV4MPEG2";

[[noreturn]] void Fail(const InputStream& in, const std::string& what) { throw ToolError(in.name() + ": " + what); }

bool ParseInt(std::string_view s, long long& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

void ParseRatio(const InputStream& in, std::string_view tag, std::string_view value, unsigned& num, unsigned& den) {
  const size_t colon = value.find(':');
  long long n = 0, d = 0;
  if (colon == std::string_view::npos || !ParseInt(value.substr(0, colon), n) ||
      !ParseInt(value.substr(colon + 1), d) || n < 0 || d < 0 || n > UINT32_MAX || d > UINT32_MAX)
    Fail(in, "bad value in header tag '" + std::string(tag) + "'");
  num = static_cast<unsigned>(n);
  den = static_cast<unsigned>(d);
}

}  // namespace

Y4mHeader ReadY4mHeader(InputStream& in) {
  std::string line;
  for (;;) {
    const int c = in.Get();
    if (c < 0) {
      if (line.empty()) Fail(in, "empty input: no YUV4MPEG2 header");
      Fail(in, "header has no end of line");
    }
    if (c == '\n') break;
    if (line.size() >= kMaxHeaderBytes) Fail(in, "header longer than 4096 bytes");
    line.push_back(static_cast<char>(c));
  }
  if (line.compare(0, sizeof kMagic - 1, kMagic) != 0 || (line.size() > 9 && line[9] != ' '))
    Fail(in, "not a YUV4MPEG2 stream");

  Y4mHeader h;
  h.header_bytes = line.size() + 1;
  bool have_width = false, have_height = false, have_rate = false;
  std::string_view rest(line);
  rest.remove_prefix(sizeof kMagic - 1);
  while (!rest.empty()) {
    if (rest.front() == ' ') {
      rest.remove_prefix(1);
      continue;
    }
    const size_t end = std::min(rest.find(' '), rest.size());
    const std::string_view tag = rest.substr(0, end);
    const std::string_view value = tag.substr(1);
    rest.remove_prefix(end);
    long long v = 0;
    switch (tag.front()) {
      case 'W':
      case 'H':
        if (!ParseInt(value, v) || v <= 0 || v > kMaxDimension)
          Fail(in, std::string(tag.front() == 'W' ? "width" : "height") + " '" + std::string(tag) +
                       "' must be between 1 and 16384");
        (tag.front() == 'W' ? h.width : h.height) = static_cast<int>(v);
        (tag.front() == 'W' ? have_width : have_height) = true;
        break;
      case 'F':
        ParseRatio(in, tag, value, h.fps_numerator, h.fps_denominator);
        if (h.fps_denominator == 0 && h.fps_numerator != 0)
          Fail(in, "frame rate '" + std::string(tag) + "' has a zero denominator");
        if (h.fps_denominator == 0) h.fps_denominator = 1;  // F0:0, unknown: a clip with no time
        have_rate = true;
        break;
      case 'I':
        if (value == "p" || value == "?")
          h.image_type = 0;
        else if (value == "t")
          h.image_type = VideoInfo::IT_TFF;
        else if (value == "b")
          h.image_type = VideoInfo::IT_BFF;
        else
          Fail(in, "interlacing '" + std::string(tag) + "' is not supported (only Ip, It and Ib)");
        break;
      case 'A': {
        unsigned n = 0, d = 0;
        ParseRatio(in, tag, value, n, d);
        h.aspect = std::to_string(n) + ":" + std::to_string(d);
        break;
      }
      case 'C':
        if (value == "420jpeg" || value == "420paldv" || value == "420mpeg2" || value == "420" || value == "422")
          h.colour = value;
        else
          Fail(in, "colour space '" + std::string(tag) + "' is not supported (only 8-bit 4:2:0 and 4:2:2)");
        break;
      case 'X':  // extensions carry nothing we need
        break;
      default: Fail(in, "unknown header tag '" + std::string(tag) + "'");
    }
  }
  if (!have_width) Fail(in, "header has no width (W)");
  if (!have_height) Fail(in, "header has no height (H)");
  if (!have_rate) Fail(in, "header has no frame rate (F)");
  h.pixel_type = h.colour == "422" ? VideoInfo::CS_YUY2 : VideoInfo::CS_YV12;
  if (h.width % 2 != 0 || (h.pixel_type == VideoInfo::CS_YV12 && h.height % 2 != 0))
    Fail(in, "odd size " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                 " for 4:" + (h.pixel_type == VideoInfo::CS_YV12 ? "2:0" : "2:2") + " chroma");
  return h;
}

VideoInfo Y4mVideoInfo(const Y4mHeader& h) {
  VideoInfo vi{};
  vi.width = h.width;
  vi.height = h.height;
  vi.pixel_type = h.pixel_type;
  vi.fps_numerator = h.fps_numerator;
  vi.fps_denominator = h.fps_denominator;
  vi.image_type = h.image_type;
  return vi;
}

size_t Y4mFrameBytes(const Y4mHeader& h) {
  const size_t luma = static_cast<size_t>(h.width) * static_cast<size_t>(h.height);
  return h.pixel_type == VideoInfo::CS_YUY2 ? luma * 2 : luma + luma / 2;
}

bool ReadY4mFrameHeader(InputStream& in, int n) {
  char magic[5];
  const size_t got = in.Read(reinterpret_cast<uint8_t*>(magic), sizeof magic);
  if (got == 0) return false;
  if (got < sizeof magic || std::memcmp(magic, "FRAME", 5) != 0)
    Fail(in, "damaged FRAME header at frame " + std::to_string(n));
  int c = in.Get();
  if (c == ' ') {
    size_t params = 0;
    while ((c = in.Get()) >= 0 && c != '\n')
      if (++params > kMaxFrameHeaderBytes) break;
  }
  if (c != '\n') Fail(in, "damaged FRAME header at frame " + std::to_string(n));
  return true;
}

void ReadY4mPlanes(InputStream& in, const Y4mHeader& h, int n, VideoFrame& frame, std::vector<uint8_t>& scratch) {
  const size_t want = Y4mFrameBytes(h);
  size_t got = 0;
  const auto read = [&](uint8_t* dst, size_t bytes) {
    const size_t r = in.Read(dst, bytes);
    got += r;
    if (r < bytes)
      Fail(in, "truncated frame " + std::to_string(n) + " (got " + std::to_string(got) + " of " + std::to_string(want) +
                   " bytes)");
  };

  if (h.pixel_type == VideoInfo::CS_YV12) {
    for (const int plane : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
      uint8_t* dst = frame.GetWritePtr(plane);
      const int row = frame.GetRowSize(plane), pitch = frame.GetPitch(plane);
      for (int r = 0; r < frame.GetHeight(plane); ++r)
        read(dst + static_cast<ptrdiff_t>(r) * pitch, static_cast<size_t>(row));
    }
    return;
  }
  // 4:2:2 planar on the wire, packed YUY2 (Y0 U Y1 V) in the frame.
  read(scratch.data(), want);
  const size_t w = static_cast<size_t>(h.width);
  const uint8_t* y = scratch.data();
  const uint8_t* u = y + w * h.height;
  const uint8_t* v = u + w / 2 * h.height;
  uint8_t* dst = frame.GetWritePtr();
  for (int r = 0; r < h.height; ++r, y += w, u += w / 2, v += w / 2) {
    uint8_t* p = dst + static_cast<ptrdiff_t>(r) * frame.GetPitch();
    for (size_t x = 0; x < w / 2; ++x, p += 4) {
      p[0] = y[2 * x];
      p[1] = u[x];
      p[2] = y[2 * x + 1];
      p[3] = v[x];
    }
  }
}

Y4mWriter::Y4mWriter(OutputStream& out, const VideoInfo& vi, const Y4mTags* keep) : out_(out), vi_(vi) {
  if (vi.pixel_type != VideoInfo::CS_YV12 && vi.pixel_type != VideoInfo::CS_I420 && vi.pixel_type != VideoInfo::CS_YUY2)
    throw ToolError(out.name() + ": an RGB clip cannot be written as YUV4MPEG2: use --raw, or a .png output");
  const bool yuy2 = vi.pixel_type == VideoInfo::CS_YUY2;
  if (yuy2) {
    scratch_.resize(static_cast<size_t>(vi.width) * 2);
    colour_ = "422";
  } else if (keep && keep->colour.rfind("420", 0) == 0) {
    colour_ = keep->colour;
  }
  if (keep) aspect_ = keep->aspect;
}

void Y4mWriter::WriteFrame(const VideoFrame& frame) {
  if (!header_written_) {
    const char interlace = vi_.IsTFF() ? 't' : vi_.IsBFF() ? 'b' : 'p';
    out_.Write("YUV4MPEG2 W" + std::to_string(vi_.width) + " H" + std::to_string(vi_.height) + " F" +
               std::to_string(vi_.fps_numerator) + ":" + std::to_string(vi_.fps_denominator) + " I" + interlace + " A" +
               aspect_ + " C" + colour_ + "\n");
    header_written_ = true;
  }
  out_.Write("FRAME\n");
  if (vi_.pixel_type != VideoInfo::CS_YUY2) {
    for (const int plane : {PLANAR_Y, PLANAR_U, PLANAR_V})
      for (int r = 0; r < frame.GetHeight(plane); ++r)
        out_.Write(frame.GetReadPtr(plane) + static_cast<ptrdiff_t>(r) * frame.GetPitch(plane),
                   static_cast<size_t>(frame.GetRowSize(plane)));
    return;
  }
  // Packed YUY2 to planar 4:2:2: all Y lines, then U, then V.
  const size_t w = static_cast<size_t>(vi_.width);
  for (int pass = 0; pass < 3; ++pass) {
    for (int r = 0; r < vi_.height; ++r) {
      const uint8_t* p = frame.GetReadPtr() + static_cast<ptrdiff_t>(r) * frame.GetPitch();
      size_t k = 0;
      if (pass == 0)
        for (size_t x = 0; x < w; ++x) scratch_[k++] = p[2 * x];
      else
        for (size_t x = 0; x < w / 2; ++x) scratch_[k++] = p[4 * x + (pass == 1 ? 1 : 3)];
      out_.Write(scratch_.data(), k);
    }
  }
}

}  // namespace tallyburn::tool
