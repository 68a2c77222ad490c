#include "tool/media/y4m.h"

#include "tool/media/raw_formats.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <optional>

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

struct Subsampling {
  const char* name;
  int log2_w, log2_h;
};
constexpr Subsampling kSubsamplings[] = {{"420", 1, 1}, {"422", 1, 0}, {"444", 0, 0}, {"411", 2, 0}};

}  // namespace

int Y4mPixelType(std::string_view colour) noexcept {
  // 8-bit 4:2:0 with its chroma sitings, and 8-bit 4:2:2 as YUY2, as the
  // classic filters draw them.
  if (colour == "420jpeg" || colour == "420paldv" || colour == "420mpeg2" || colour == "420") return VideoInfo::CS_YV12;
  if (colour == "422") return VideoInfo::CS_YUY2;
  int bits = 8;
  std::string_view base = colour;
  if (base.rfind("mono", 0) == 0) {
    if (base.size() > 4) {
      long long b = 0;
      if (!ParseInt(base.substr(4), b) || (b != 10 && b != 12 && b != 14 && b != 16)) return 0;
      bits = static_cast<int>(b);
    }
    const auto f = FindPixelFormat(Family::kGrey, bits, 0, 0);
    return f ? f->pixel_type : 0;
  }
  if (const size_t p = base.find('p'); p != std::string_view::npos) {
    long long b = 0;
    if (!ParseInt(base.substr(p + 1), b) || (b != 10 && b != 12 && b != 14 && b != 16)) return 0;
    bits = static_cast<int>(b);
    base = base.substr(0, p);
  }
  for (const Subsampling& s : kSubsamplings) {
    if (base != s.name) continue;
    const auto f = FindPixelFormat(Family::kPlanarYuv, bits, s.log2_w, s.log2_h);
    return f ? f->pixel_type : 0;
  }
  return 0;
}

std::string Y4mColourOf(const PixelFormat& f) {
  if (f.sample == SampleType::kF32 || f.alpha) return "";
  if (f.family == Family::kYuy2) return "422";
  if (f.family == Family::kGrey) return f.bits == 8 ? "mono" : "mono" + std::to_string(f.bits);
  if (f.family != Family::kPlanarYuv) return "";
  for (const Subsampling& s : kSubsamplings) {
    if (s.log2_w != f.log2_chroma_w || s.log2_h != f.log2_chroma_h) continue;
    if (f.bits > 8) return std::string(s.name) + "p" + std::to_string(f.bits);
    return f.log2_chroma_h == 1 ? "420jpeg" : s.name;
  }
  return "";
}

namespace {

// The header line without its end of line.
std::string ReadHeaderLine(InputStream& in) {
  std::string line;
  for (;;) {
    const int c = in.Get();
    if (c < 0) {
      if (line.empty()) Fail(in, "empty input: no YUV4MPEG2 header");
      Fail(in, "header has no end of line");
    }
    if (c == '\n') return line;
    if (line.size() >= kMaxHeaderBytes) Fail(in, "header longer than 4096 bytes");
    line.push_back(static_cast<char>(c));
  }
}

// The header as its tags fill it in, and which of those it must have.
struct HeaderTags {
  Y4mHeader h;
  bool have_width = false, have_height = false, have_rate = false;
};

// One tag's parser: `tag` whole ("W720"), `value` after its letter.
using TagParser = void (*)(const InputStream& in, std::string_view tag, std::string_view value, HeaderTags& t);

void ParseSize(const InputStream& in, std::string_view tag, std::string_view value, HeaderTags& t) {
  const bool width = tag.front() == 'W';
  long long v = 0;
  if (!ParseInt(value, v) || v <= 0 || v > kMaxDimension)
    Fail(in, std::string(width ? "width" : "height") + " '" + std::string(tag) + "' must be between 1 and 16384");
  (width ? t.h.width : t.h.height) = static_cast<int>(v);
  (width ? t.have_width : t.have_height) = true;
}

void ParseRate(const InputStream& in, std::string_view tag, std::string_view value, HeaderTags& t) {
  ParseRatio(in, tag, value, t.h.fps_numerator, t.h.fps_denominator);
  if (t.h.fps_denominator == 0 && t.h.fps_numerator != 0)
    Fail(in, "frame rate '" + std::string(tag) + "' has a zero denominator");
  if (t.h.fps_denominator == 0) t.h.fps_denominator = 1;  // F0:0, unknown: a clip with no time
  t.have_rate = true;
}

void ParseInterlacing(const InputStream& in, std::string_view tag, std::string_view value, HeaderTags& t) {
  if (value == "p" || value == "?")
    t.h.image_type = 0;
  else if (value == "t")
    t.h.image_type = VideoInfo::IT_TFF;
  else if (value == "b")
    t.h.image_type = VideoInfo::IT_BFF;
  else
    Fail(in, "interlacing '" + std::string(tag) + "' is not supported (only Ip, It and Ib)");
}

void ParseAspect(const InputStream& in, std::string_view tag, std::string_view value, HeaderTags& t) {
  unsigned n = 0, d = 0;
  ParseRatio(in, tag, value, n, d);
  t.h.aspect = std::to_string(n) + ":" + std::to_string(d);
}

void ParseColour(const InputStream& in, std::string_view tag, std::string_view value, HeaderTags& t) {
  if (Y4mPixelType(value) == 0)
    Fail(in, "colour space '" + std::string(tag) +
                 "' is not supported (4:2:0, 4:2:2, 4:4:4, 4:1:1 and mono, 8 to 16 bits)");
  t.h.colour = value;
}

// Kept for the output: the colour range, among others.
void KeepExtension(const InputStream&, std::string_view tag, std::string_view, HeaderTags& t) {
  t.h.extensions.emplace_back(tag);
}

constexpr struct {
  char letter;
  TagParser parse;
} kTagParsers[] = {{'W', ParseSize},   {'H', ParseSize},   {'F', ParseRate},    {'I', ParseInterlacing},
                   {'A', ParseAspect}, {'C', ParseColour}, {'X', KeepExtension}};

// The tags after the magic, each by its letter's parser.
void ParseTags(const InputStream& in, std::string_view rest, HeaderTags& t) {
  while (!rest.empty()) {
    if (rest.front() == ' ') {
      rest.remove_prefix(1);
      continue;
    }
    const size_t end = std::min(rest.find(' '), rest.size());
    const std::string_view tag = rest.substr(0, end);
    rest.remove_prefix(end);
    TagParser parse = nullptr;
    for (const auto& p : kTagParsers)
      if (p.letter == tag.front()) parse = p.parse;
    if (parse == nullptr) Fail(in, "unknown header tag '" + std::string(tag) + "'");
    parse(in, tag, tag.substr(1), t);
  }
}

// The tags a header must have, and a size of whole chroma samples.
void CheckHeader(const InputStream& in, const HeaderTags& t) {
  if (!t.have_width) Fail(in, "header has no width (W)");
  if (!t.have_height) Fail(in, "header has no height (H)");
  if (!t.have_rate) Fail(in, "header has no frame rate (F)");
  const Y4mHeader& h = t.h;
  const PixelFormat f = *DescribePixelType(h.pixel_type);
  if (h.width % f.chroma_step_w() != 0 || h.height % f.chroma_step_h() != 0)
    Fail(in, "size " + std::to_string(h.width) + "x" + std::to_string(h.height) + " is not whole chroma samples of C" +
                 h.colour);
}

}  // namespace

Y4mHeader ReadY4mHeader(InputStream& in) {
  const std::string line = ReadHeaderLine(in);
  if (line.compare(0, sizeof kMagic - 1, kMagic) != 0 || (line.size() > 9 && line[9] != ' '))
    Fail(in, "not a YUV4MPEG2 stream");
  HeaderTags t;
  t.h.header_bytes = line.size() + 1;
  ParseTags(in, std::string_view(line).substr(sizeof kMagic - 1), t);
  t.h.pixel_type = Y4mPixelType(t.h.colour);
  CheckHeader(in, t);
  return t.h;
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

size_t Y4mFrameBytes(const Y4mHeader& h) { return RawFrameBytes(*DescribePixelType(h.pixel_type), h.width, h.height); }

int CountY4mFrames(const InputStream& in, const Y4mHeader& h, bool* cut) {
  const auto frame_bytes = static_cast<int64_t>(Y4mFrameBytes(h));
  int64_t at = static_cast<int64_t>(h.header_bytes);
  int frames = 0;
  *cut = false;
  uint8_t line[kMaxFrameHeaderBytes + 8];
  while (at < in.size() && frames < INT32_MAX) {
    const size_t got = in.ReadAt(at, line, sizeof line);
    const auto* end = static_cast<const uint8_t*>(std::memchr(line, '\n', got));
    // A damaged FRAME line ends the count; reading stops there with its own
    // message, as from a pipe.
    if (got < 5 || std::memcmp(line, "FRAME", 5) != 0 || end == nullptr) {
      *cut = true;
      break;
    }
    const int64_t next = at + (end - line) + 1 + frame_bytes;
    if (next > in.size()) {
      *cut = true;
      break;
    }
    at = next;
    ++frames;
  }
  return frames;
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

bool SkipToY4mFrame(InputStream& in) {
  static constexpr char kMagic[] = "FRAME";
  for (size_t matched = 0;;) {
    const int c = in.Get();
    if (c < 0) return false;
    if (matched == 5) {
      if (c == '\n') return true;
      if (c == ' ') {
        // Its parameters, up to a line's end not too far on.
        int d = 0;
        for (size_t params = 0; (d = in.Get()) >= 0 && d != '\n' && params <= kMaxFrameHeaderBytes;) ++params;
        if (d == '\n') return true;
        if (d < 0) return false;
      }
      matched = 0;
      continue;
    }
    // No letter of FRAME comes twice, so a mismatch starts again at F.
    matched = c == kMagic[matched] ? matched + 1 : c == 'F' ? 1 : 0;
  }
}

void ReadY4mPlanes(InputStream& in, const Y4mHeader& h, int n, VideoFrame& frame, std::vector<uint8_t>& scratch) {
  const size_t want = Y4mFrameBytes(h);
  size_t got = 0;
  const auto read = [&](uint8_t* dst, size_t bytes) {
    const size_t r = in.Read(dst, bytes);
    got += r;
    if (r < bytes) throw TruncatedFrame(in.name(), n, got, want);
  };

  if (h.pixel_type != VideoInfo::CS_YUY2) {
    // Planes in the stream's order, Y U V, as raw frames have them.
    ReadRawPlanes(in, *DescribePixelType(h.pixel_type), h.width, h.height, n, frame);
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
  const std::optional<PixelFormat> f = DescribePixelType(vi.pixel_type);
  colour_ = f ? Y4mColourOf(*f) : "";
  if (colour_.empty())
    throw ToolError(out.name() + ": a clip in " + (f ? f->name : std::string("this format")) +
                    " cannot be written as YUV4MPEG2: use --raw, or a .png output");
  format_ = *f;
  if (vi.pixel_type == VideoInfo::CS_YUY2) scratch_.resize(static_cast<size_t>(vi.width) * 2);
  // The input's own tag where it names the same format (its chroma siting).
  const bool same_format =
      keep && Y4mPixelType(keep->colour) == (vi.pixel_type == VideoInfo::CS_I420 ? VideoInfo::CS_YV12 : vi.pixel_type);
  if (same_format) colour_ = keep->colour;
  if (keep) {
    aspect_ = keep->aspect;
    // Every extension, the colour range among them; the subsampling one
    // only while it still describes the frames.
    for (const std::string& x : keep->extensions)
      if (same_format || x.rfind("XYSCSS=", 0) != 0) extensions_.push_back(x);
  }
}

void Y4mWriter::WriteFrame(const VideoFrame& frame) {
  if (!header_written_) {
    const char interlace = vi_.IsTFF() ? 't' : vi_.IsBFF() ? 'b' : 'p';
    std::string header = "YUV4MPEG2 W" + std::to_string(vi_.width) + " H" + std::to_string(vi_.height) + " F" +
                         std::to_string(vi_.fps_numerator) + ":" + std::to_string(vi_.fps_denominator) + " I" +
                         interlace + " A" + aspect_ + " C" + colour_;
    for (const std::string& x : extensions_) header += " " + x;
    out_.Write(header + "\n");
    header_written_ = true;
  }
  out_.Write("FRAME\n");
  if (vi_.pixel_type != VideoInfo::CS_YUY2) return WriteRawPlanes(out_, format_, vi_.width, vi_.height, frame);
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
