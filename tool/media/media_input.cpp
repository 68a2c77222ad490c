#include "tool/media/media_input.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <queue>

#include "core/pixel_format.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/io.h"
#include "tool/media/raw_formats.h"
#include "tool/media/y4m.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace tallyburn::tool {
namespace {

// A decoded sound frame's samples as float, interleaved, in `out`.
void SoundToFloat(const AVFrame& f, std::vector<float>& out) {
  const int channels = f.ch_layout.nb_channels;
  const auto format = static_cast<AVSampleFormat>(f.format);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const AVSampleFormat packed = av_get_packed_sample_fmt(format);
  const size_t count = static_cast<size_t>(f.nb_samples) * static_cast<size_t>(channels);
  out.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t c = i % static_cast<size_t>(channels), n = i / static_cast<size_t>(channels);
    const uint8_t* base = planar ? f.extended_data[c] : f.extended_data[0];
    const size_t at = planar ? n : i;
    float v = 0;
    switch (packed) {
      case AV_SAMPLE_FMT_U8: v = (static_cast<float>(base[at]) - 128.0f) / 128.0f; break;
      case AV_SAMPLE_FMT_S16: v = static_cast<float>(reinterpret_cast<const int16_t*>(base)[at]) / 32768.0f; break;
      case AV_SAMPLE_FMT_S32:
        v = static_cast<float>(static_cast<double>(reinterpret_cast<const int32_t*>(base)[at]) / 2147483648.0);
        break;
      case AV_SAMPLE_FMT_S64:
        v = static_cast<float>(static_cast<double>(reinterpret_cast<const int64_t*>(base)[at]) / 9223372036854775808.0);
        break;
      case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(base)[at]; break;
      case AV_SAMPLE_FMT_DBL: v = static_cast<float>(reinterpret_cast<const double*>(base)[at]); break;
      default: break;
    }
    out[i] = v;
  }
}

// Decoded formats that are a host format's planes under another name: the
// JPEG (full-range) aliases of the planar 8-bit formats.
constexpr struct {
  const char* alias;
  const char* format;
} kSameLayout[] = {{"yuvj420p", "yuv420p"}, {"yuvj422p", "yuv422p"}, {"yuvj444p", "yuv444p"}, {"yuvj411p", "yuv411p"}};

// FFmpeg's name for the planes of a host format as they stand: the raw
// names, and the alpha formats rawvideo does not carry.
std::string FfmpegNameOf(const PixelFormat& f) {
  if (f.alpha && f.family != Family::kPackedRgb) {
    const std::string depth = f.sample == SampleType::kF32 ? "f32le" : f.bits > 8 ? std::to_string(f.bits) + "le" : "";
    if (f.family == Family::kPlanarRgb) return "gbrap" + depth;
    if (f.sample == SampleType::kF32) return "";
    const char* sub = f.log2_chroma_w == 0 ? "444" : f.log2_chroma_h ? "420" : "422";
    return std::string("yuva") + sub + "p" + depth;
  }
  return FfmpegPixFmt(f);
}

// I420 is YV12 with its chroma planes swapped in memory: frames come as YV12.
const PixelFormat* HostFormatNamed(const std::string& ffmpeg) {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  for (int i = 0; i < count; ++i)
    if (all[i].pixel_type != VideoInfo::CS_I420 && FfmpegNameOf(all[i]) == ffmpeg) return &all[i];
  return nullptr;
}

int HostBits(int depth, bool is_float) {
  if (is_float) return 32;
  for (const int bits : {8, 10, 12, 14, 16})
    if (depth <= bits) return bits;
  return 32;
}

// The host format that holds every sample of a decoded format with no host
// twin: the same family, chroma subsampling where the host has it (else
// 4:4:4) and the next depth up.
const PixelFormat* NearestHostFormat(const AVPixFmtDescriptor& d) {
  int depth = 0;
  for (int c = 0; c < d.nb_components; ++c) depth = std::max(depth, d.comp[c].depth);
  const bool is_float = (d.flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
  const bool alpha = (d.flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
  int bits = HostBits(depth, is_float);
  Family family = Family::kPlanarYuv;
  int lw = 0, lh = 0;
  if ((d.flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER)) != 0) {
    const bool packed = (d.flags & AV_PIX_FMT_FLAG_PLANAR) == 0 && !is_float;
    family = packed ? Family::kPackedRgb : Family::kPlanarRgb;
    if (packed) bits = bits <= 8 ? 8 : 16;
  } else if (d.nb_components <= 2) {
    family = alpha ? Family::kPlanarYuv : Family::kGrey;
  } else {
    lw = d.log2_chroma_w;
    lh = d.log2_chroma_h;
    const bool host_has = (lw == 1 && lh <= 1) || (lw == 0 && lh == 0) || (lw == 2 && lh == 0 && bits == 8 && !alpha);
    if (!host_has) lw = lh = 0;
  }
  const bool alpha_kept = alpha || (d.flags & AV_PIX_FMT_FLAG_PAL) != 0;
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  for (int i = 0; i < count; ++i) {
    const PixelFormat& f = all[i];
    if (f.pixel_type == VideoInfo::CS_I420 || f.family != family || f.bits != bits || f.alpha != alpha_kept) continue;
    if (family == Family::kPlanarYuv && (f.log2_chroma_w != lw || f.log2_chroma_h != lh)) continue;
    return &f;
  }
  return nullptr;
}

// The host format frames of `format` come in; `converted` when they are
// converted to get there.
const PixelFormat* HostFormatOf(AVPixelFormat format, bool* converted) {
  const char* name = av_get_pix_fmt_name(format);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  if (name == nullptr || d == nullptr) return nullptr;
  std::string plain = name;
  for (const auto& s : kSameLayout)
    if (plain == s.alias) plain = s.format;
  *converted = false;
  if (const PixelFormat* f = HostFormatNamed(plain)) return f;
  *converted = true;
  return NearestHostFormat(*d);
}

}  // namespace

int MediaPixelType(const std::string& ffmpeg_format, bool* converted) {
  const PixelFormat* f = HostFormatOf(av_get_pix_fmt(ffmpeg_format.c_str()), converted);
  return f ? f->pixel_type : 0;
}

struct MediaInput::State {
  std::string path;
  MediaOptions options;
  ff::InputFormat format;
  AVStream* stream = nullptr;
  ff::CodecContext decoder;
  ff::Frame frame{av_frame_alloc()};
  ff::Frame converted{av_frame_alloc()};
  ff::Packet packet{av_packet_alloc()};
  ff::Scaler scaler;
  int scaled_from = AV_PIX_FMT_NONE;  // the format `scaler` converts
  const PixelFormat* host = nullptr;
  AVPixelFormat target = AV_PIX_FMT_NONE;  // the FFmpeg twin of the host format
  VideoInfo vi{};
  MediaFacts facts;

  // The index: the stream's packets in decode order, with their
  // timestamps; frames in presentation order, with their packets.
  struct Packet {
    int64_t ts;   // presentation time stamp (the decode one where there is none)
    int64_t dts;  // decode time stamp (or AV_NOPTS_VALUE)
    bool key;
  };
  std::vector<Packet> packets;
  std::vector<int64_t> times;   // per frame, presentation order
  std::vector<int> packet_of;   // per frame, its packet's decode index
  std::vector<int> key_before;  // per frame: the key packet decoding starts from
  std::vector<int> last_key;    // per packet: the last key packet at or before it
  bool guessed = false;         // some packets had no presentation time stamp
  bool probe_errors = false;    // the demuxer's errors while the streams were probed to the file's end

  // Where decoding stands.
  int delivered = -1;       // the frame in `picture`, or -1
  int position = -1;        // the last frame out of the decoder, or -1
  int early = -1;           // in order (Next): a frame decoded early, past a lost one, or -1
  int sent = -1;            // decode index of the last packet sent, once synced
  bool synced = false;      // the packets sent are known by decode index
  bool from_start = false;  // reading on from the file's start after a seek that missed
  int sync_to = 0;          // after a seek: the key packet awaited
  bool input_done = false;
  bool flushed = false;
  int sequence = 0;  // frames out of the decoder in order (unindexed reading)
  Picture picture;

  // The sound, read on the same pass as the frames (ReadSound).
  int sound_index = -1;  // its stream's index in the file, once asked for
  ff::CodecContext sound_decoder;
  ff::Frame sound_frame{av_frame_alloc()};
  SoundSink sink;
  std::vector<float> pcm;
  bool sound_begun = false;  // a sound frame has gone to the sink
  bool sound_done = false;
  double sound_start = 0;
  std::string sound_trouble;

  [[noreturn]] void Fail(const std::string& what) const { throw ToolError(path + ": " + what); }
  [[noreturn]] void FailToOpen(int error) const;
  void Open();
  void Index();
  void SetRate();
  int64_t ShownBefore() const;
  void KeepWhole(AVRational rate);
  void OpenDecoder();
  void Seek(int key);  // to the key packet of this decode index
  bool Decode();       // the next frame out of the decoder into `frame`; false at its end
  int FrameIndexOf(const AVFrame& f) const;
  void Present(double time);
  void Reopen();
  void FeedSound(const AVPacket* p);  // nullptr: the decoder's last frames
};

// Why FFmpeg could not open a file, from what the file holds: FFmpeg's own
// text only where nothing better is known.
void MediaInput::State::FailToOpen(int error) const {
  if (error == AVERROR(ENOENT)) Fail("no such file");
  // A picture pattern (img%03d.png) is no one file to look into.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) Fail("cannot open: " + AvErrorText(error));
  auto in = InputStream::Open(path);  // the file's own error when it cannot be read
  if (in->size() == 0) Fail("the file is empty");
  // Its first bytes, as FFmpeg guesses the format from them.
  std::vector<uint8_t> head(4096 + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  const size_t got = in->ReadAt(0, head.data(), head.size() - AV_INPUT_BUFFER_PADDING_SIZE);
  // A YUV4MPEG2 header FFmpeg refuses (a frame size past its limits): the
  // tool's own reader says what is wrong with it.
  if (got >= 9 && std::memcmp(head.data(), "YUV4MPEG2", 9) == 0) {
    ReadY4mHeader(*in);
    Fail("FFmpeg cannot read its YUV4MPEG2 header (" + AvErrorText(error) + "): Y4MSource reads it");
  }
  AVProbeData probe{};
  probe.filename = path.c_str();
  probe.buf = head.data();
  probe.buf_size = static_cast<int>(got);
  const AVInputFormat* guess = av_probe_input_format(&probe, 1);
  if (guess == nullptr) Fail("FFmpeg does not recognise it as video or pictures in any format it reads");
  if (std::strstr(guess->name, "mov") != nullptr && error == AVERROR_INVALIDDATA)
    Fail(
        "the MP4/MOV file has no index (moov atom): it was not finished, as when a recording stops before its file "
        "is closed");
  Fail(std::string("cannot open it as ") + (guess->long_name ? guess->long_name : guess->name) + ": " +
       AvErrorText(error));
}

// Errors a demuxer reports only in its log (Matroska's "File ended
// prematurely"), caught while the index is made, and while the streams are
// probed (which can read a short file to its end): the thread's one scan.
thread_local const AVFormatContext* scanned = nullptr;
thread_local bool scan_errors = false;

void WatchLog(void* avcl, int level, const char* fmt, va_list args) {
  if (scanned != nullptr && avcl == scanned && level <= AV_LOG_ERROR) scan_errors = true;
  av_log_default_callback(avcl, level, fmt, args);
}

void MediaInput::State::Open() {
  // A pipe or a device could be read only once, and its frames not sought.
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    Fail("is not a file (MediaSource reads files; a YUV4MPEG2 pipe is Y4MSource(\"-\")'s)");
  format.reset();
  if (const int r = avformat_open_input(format.out(), path.c_str(), nullptr, nullptr); r < 0) FailToOpen(r);
  AVFormatContext* raw = format.get();
  scanned = raw;
  scan_errors = false;
  const int found = avformat_find_stream_info(raw, nullptr);
  scanned = nullptr;
  if (found < 0) Fail("cannot read its streams: " + AvErrorText(found));
  probe_errors = scan_errors && raw->pb != nullptr && avio_feof(raw->pb) != 0;
  std::vector<AVStream*> videos;
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    AVStream* s = raw->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
      videos.push_back(s);
  }
  if (videos.empty()) Fail("no video track");
  if (options.track < 0 || options.track >= static_cast<int>(videos.size()))
    Fail("no video track " + std::to_string(options.track) + " (it has " + std::to_string(videos.size()) +
         (videos.size() == 1 ? ": track 0)" : ", 0 to " + std::to_string(videos.size() - 1) + ")"));
  stream = videos[static_cast<size_t>(options.track)];
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    if (raw->streams[i] != stream && static_cast<int>(i) != sound_index) raw->streams[i]->discard = AVDISCARD_ALL;
  facts.container = raw->iformat->long_name ? raw->iformat->long_name : raw->iformat->name;
  facts.stream_index = stream->index;
}

void MediaInput::State::OpenDecoder() {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr)
    Fail(std::string("no decoder for its video (") + avcodec_get_name(stream->codecpar->codec_id) + ")");
  decoder.reset(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) Fail("cannot set up its decoder");
  decoder->pkt_timebase = stream->time_base;
  // As ffmpeg decodes: as many threads as cores, on frames and on slices.
  decoder->thread_count = 0;
  decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (const int e = avcodec_open2(decoder.get(), codec, nullptr); e < 0)
    Fail("cannot open its decoder: " + AvErrorText(e));
  facts.codec = codec->name;
}

void MediaInput::State::Index() {
  AVPacket* p = packet.get();
  int64_t end = 0;  // where the last video packet ends in the file
  scanned = format.get();
  scan_errors = false;
  int r = 0;
  while ((r = av_read_frame(format.get(), p)) >= 0) {
    if (p->stream_index == stream->index && (p->flags & AV_PKT_FLAG_DISCARD) == 0) {
      if ((p->flags & AV_PKT_FLAG_CORRUPT) != 0) {
        facts.cut = true;
        av_packet_unref(p);
        break;
      }
      const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
      if (ts == AV_NOPTS_VALUE) {
        scanned = nullptr;
        Fail("its video packets carry no time stamps");
      }
      packets.push_back({ts, p->dts, (p->flags & AV_PKT_FLAG_KEY) != 0});
      guessed = guessed || p->pts == AV_NOPTS_VALUE;
      if (p->pos >= 0) end = p->pos + p->size;
    }
    av_packet_unref(p);
  }
  scanned = nullptr;
  if ((r < 0 && r != AVERROR_EOF) || scan_errors || probe_errors) facts.cut = true;
  const std::string demuxer = format->iformat->name;
  const int64_t size = format->pb ? avio_size(format->pb) : -1;
  // A sample table that lists more packets than the file holds.
  if (demuxer.find("mov") != std::string::npos &&
      avformat_index_get_entries_count(stream) > static_cast<int>(packets.size()))
    facts.cut = true;
  // A transport stream ends in a whole packet (188 bytes, 192 in M2TS, the
  // size its demuxer found); the video packet the cut went through is not whole.
  int64_t ts_packet = 0;
  if (demuxer == "mpegts" && (av_opt_get_int(format->priv_data, "ts_packetsize", 0, &ts_packet) < 0 || ts_packet <= 0))
    ts_packet = 0;
  if (demuxer == "mpegts" && size > 0 && !packets.empty() &&
      (ts_packet > 0 ? size % ts_packet != 0 : size % 188 != 0 && size % 192 != 0)) {
    facts.cut = true;
    packets.pop_back();
  }
  // YUV4MPEG2 holds nothing after its last frame but another frame.
  if (demuxer == "yuv4mpegpipe" && size > end) facts.cut = true;
  if (packets.empty()) Fail(facts.cut ? "the file is cut short before its first frame" : "its video has no frames");
  if (!packets.front().key) packets.front().key = true;  // decoding has to start somewhere

  std::vector<int> order(packets.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return packets[a].ts < packets[b].ts; });
  times.resize(order.size());
  packet_of = order;
  for (size_t n = 0; n < order.size(); ++n) times[n] = packets[order[n]].ts;
  // Decoding from a key packet gives every frame shown at or after it that
  // comes after it in decode order.
  last_key.resize(packets.size());
  int key = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    if (packets[i].key) key = static_cast<int>(i);
    last_key[i] = key;
  }
  key_before.resize(order.size());
  for (size_t n = 0; n < order.size(); ++n) {
    int k = last_key[order[n]];
    while (k > 0 && packets[k].ts > times[n]) k = last_key[k - 1];
    // Packets without their own presentation time (AVI's) tell neither
    // which frame a decoded one is nor what a key frame starts: such files
    // are decoded from the start, their frames counted as they come.
    key_before[n] = guessed ? 0 : k;
  }
}

// A cut file's packets are the first ones in decode order; those cut off
// are decoded after them. The presentation time at or before which none of
// them can be shown, for a stream true to its reorder delay and its decode
// time stamps.
int64_t MediaInput::State::ShownBefore() const {
  // A decoder holds back `delay` frames to put them in presentation order:
  // a frame it lets out before the last packet comes before every frame
  // still to come. The delay is at least the one that puts these in order.
  int64_t bound = INT64_MIN;
  for (int delay = std::max(0, stream->codecpar->video_delay);; ++delay) {
    if (delay > 16) return INT64_MIN;  // FFmpeg's most; no order found
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> held;
    int64_t out = INT64_MIN;
    bool ordered = true;
    for (const Packet& p : packets) {
      held.push(p.ts);
      if (static_cast<int>(held.size()) <= delay) continue;
      if (held.top() < out) {
        ordered = false;
        break;
      }
      out = held.top();
      held.pop();
    }
    if (ordered) {
      bound = out;
      break;
    }
  }
  // A packet to come is decoded after the last one here and shown no
  // earlier than it is decoded, where the file's decode times say so.
  int64_t dts = INT64_MIN;
  bool kept = packets.back().dts != AV_NOPTS_VALUE;
  for (const Packet& p : packets) {
    if (p.dts == AV_NOPTS_VALUE) continue;
    kept = kept && p.dts > dts && p.ts >= p.dts;
    dts = p.dts;
  }
  return kept ? std::min(bound, dts) : bound;
}

// A cut file's whole frames, in presentation order: none shown after a
// frame cut off (its B-frames cut off after a P-frame) nor counted as if it
// came before it.
void MediaInput::State::KeepWhole(AVRational rate) {
  const size_t all = times.size();
  size_t whole = all;
  if (guessed) {
    // Counted as they come out of the decoder: the last frames it holds
    // back may come after frames cut off.
    const size_t held = static_cast<size_t>(std::max(0, stream->codecpar->video_delay));
    whole = all > held ? all - held : 1;
  } else {
    whole = std::max<size_t>(
        1, static_cast<size_t>(std::upper_bound(times.begin(), times.end(), ShownBefore()) - times.begin()));
    // Past those, where they are evenly spaced at the stream's rate, a frame
    // one frame after the last whole one leaves no room for one cut off.
    if (rate.num > 0 && rate.den > 0) {
      const double step = av_q2d(av_inv_q(rate)) / av_q2d(stream->time_base);
      const auto placed = [&](size_t n) {
        return std::abs(static_cast<double>(times[n] - times[0]) - static_cast<double>(n) * step) <= step / 2;
      };
      bool even = true;
      for (size_t n = 1; n < whole && even; ++n) even = placed(n);
      // With fps_num or any spacing, a frame after the first alone tells
      // nothing of how the file's frames are spaced.
      const bool spacing_known = options.fps_num == 0 && !options.any_spacing ? even : even && whole > 1;
      while (spacing_known && whole < all && placed(whole) &&
             std::abs(static_cast<double>(times[whole] - times[whole - 1]) - step) < step / 2)
        ++whole;
    }
  }
  times.resize(whole);
  packet_of.resize(whole);
  key_before.resize(whole);
}

void MediaInput::State::SetRate() {
  AVRational rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) av_reduce(&rate.num, &rate.den, rate.num, rate.den, INT32_MAX);
  if (facts.cut) KeepWhole(rate);
  if (options.fps_num != 0) {
    vi.fps_numerator = options.fps_num;
    vi.fps_denominator = options.fps_den;
    return;
  }
  if (rate.num <= 0 || rate.den <= 0)
    Fail("its video has no frame rate: give fps_num and fps_den to number its frames in presentation order");
  vi.fps_numerator = static_cast<unsigned>(rate.num);
  vi.fps_denominator = static_cast<unsigned>(rate.den);
  if (options.any_spacing) return;
  // Every frame within half a frame of its place on that clock.
  const double step = av_q2d(av_inv_q(rate)) / av_q2d(stream->time_base);
  for (size_t n = 1; n < times.size(); ++n) {
    const double off = static_cast<double>(times[n] - times[0]) - static_cast<double>(n) * step;
    if (std::abs(off) > step / 2) {
      char at[96];
      std::snprintf(at, sizeof at, "frame %zu is at %.6f s, not %.6f s", n,
                    static_cast<double>(times[n] - times[0]) * av_q2d(stream->time_base),
                    static_cast<double>(n) * av_q2d(av_inv_q(rate)));
      Fail(std::string("its frames are not evenly spaced at ") + std::to_string(rate.num) + "/" +
           std::to_string(rate.den) + " fps (" + at +
           "): give fps_num and fps_den to number them in presentation order at that rate");
    }
  }
}

void MediaInput::State::Reopen() {
  decoder.reset();
  format.reset();
  stream = nullptr;
  Open();  // the same track
  OpenDecoder();
}

void MediaInput::State::Seek(int key) {
  av_frame_unref(frame.get());
  delivered = position = early = -1;
  input_done = flushed = false;
  synced = from_start = false;
  sync_to = key;
  avcodec_flush_buffers(decoder.get());
  if (sink && sound_begun) {
    // Frames read again: the sound they would bring has gone to the sink.
    sound_trouble = "its frames were not read in one pass from the start";
    sink = nullptr;
  }
  if (av_seek_frame(format.get(), stream->index, packets[key].ts, AVSEEK_FLAG_BACKWARD) < 0) {
    Reopen();
    from_start = true;
  }
}

int MediaInput::State::FrameIndexOf(const AVFrame& f) const {
  if (guessed) return -1;
  const int64_t ts = f.best_effort_timestamp != AV_NOPTS_VALUE ? f.best_effort_timestamp : f.pts;
  // Frames that share a time stamp come in presentation order.
  const int next = position + 1;
  if (position >= 0 && next < static_cast<int>(times.size()) && times[static_cast<size_t>(next)] == ts) return next;
  const auto it = std::lower_bound(times.begin(), times.end(), ts);
  if (ts != AV_NOPTS_VALUE && it != times.end() && *it == ts) return static_cast<int>(it - times.begin());
  // A cut file's frames past its whole ones: never taken for one of them.
  if (facts.cut && ts != AV_NOPTS_VALUE && ts > times.back()) return static_cast<int>(times.size());
  return -1;
}

bool MediaInput::State::Decode() {
  AVPacket* p = packet.get();
  for (;;) {
    const int r = avcodec_receive_frame(decoder.get(), frame.get());
    if (r == 0) return true;
    if (r == AVERROR_EOF) return false;
    if (r != AVERROR(EAGAIN)) Fail("cannot decode its video: " + AvErrorText(r));
    if (input_done) {
      if (flushed) return false;
      avcodec_send_packet(decoder.get(), nullptr);
      flushed = true;
      continue;
    }
    const int got = av_read_frame(format.get(), p);
    if (got < 0) {
      input_done = true;
      continue;
    }
    if (p->stream_index != stream->index) {
      if (sink && p->stream_index == sound_index) FeedSound(p);
      av_packet_unref(p);
      continue;
    }
    const bool counted = (p->flags & AV_PKT_FLAG_DISCARD) == 0;
    const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    if (!packets.empty() && counted) {
      if (!synced) {
        // After a seek: packets before the key packet awaited are dropped;
        // a demuxer that landed past it reads again from the start.
        const Packet& want = packets[static_cast<size_t>(sync_to)];
        const bool past = want.dts != AV_NOPTS_VALUE && p->dts != AV_NOPTS_VALUE
                              ? p->dts > want.dts
                              : ts > want.ts && (p->flags & AV_PKT_FLAG_KEY) != 0;
        if (ts == want.ts) {
          synced = true;
          sent = sync_to - 1;
        } else if (!from_start && past) {
          av_packet_unref(p);
          Reopen();
          from_start = true;
          continue;
        } else {
          av_packet_unref(p);
          continue;
        }
      }
      if (++sent >= static_cast<int>(packets.size())) {  // the damaged tail of a cut file
        av_packet_unref(p);
        input_done = true;
        continue;
      }
    } else if (!packets.empty() && !synced) {
      av_packet_unref(p);
      continue;
    }
    const int e = avcodec_send_packet(decoder.get(), p);
    av_packet_unref(p);
    if (e < 0 && e != AVERROR_INVALIDDATA) Fail("cannot decode its video: " + AvErrorText(e));
  }
}

void MediaInput::State::Present(double time) {
  AVFrame* src = frame.get();
  if (src->width != vi.width || src->height != vi.height)
    Fail("its frames change size (" + std::to_string(src->width) + "x" + std::to_string(src->height) + " after " +
         std::to_string(vi.width) + "x" + std::to_string(vi.height) + ")");
  if (src->format != target) {
    if (!scaler || scaled_from != src->format) {
      scaled_from = src->format;
      // Lossless: no resizing, and chroma samples repeated where more are needed.
      scaler.reset(sws_getContext(vi.width, vi.height, static_cast<AVPixelFormat>(src->format), vi.width, vi.height,
                                  target, SWS_POINT | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr));
      if (!scaler)
        Fail(std::string("cannot convert ") + av_get_pix_fmt_name(static_cast<AVPixelFormat>(src->format)) +
             " frames to " + host->name);
      av_frame_unref(converted.get());
      converted->format = target;
      converted->width = vi.width;
      converted->height = vi.height;
      if (av_frame_get_buffer(converted.get(), 0) < 0) Fail("out of memory");
    }
    sws_scale(scaler.get(), src->data, src->linesize, 0, vi.height, converted->data, converted->linesize);
    src = converted.get();
  }
  Picture& pic = picture;
  pic.damage.clear();
  pic.count = SlotPlanes(*host);
  for (int k = 0; k < pic.count; ++k) {
    const PlaneSize size = PlaneSizeOf(*host, vi.width, vi.height, k);
    pic.planes[k] = {src->data[k], src->linesize[k], size.row_bytes, size.height};
  }
  pic.alpha = host->alpha && host->family != Family::kPackedRgb;
  if (pic.alpha) {
    const PlaneSize size = PlaneSizeOf(*host, vi.width, vi.height, 0);
    pic.planes[3] = {src->data[3], src->linesize[3], size.row_bytes, size.height};
  }
  pic.time = time;
}

void MediaInput::State::FeedSound(const AVPacket* p) {
  AVCodecContext* d = sound_decoder.get();
  if (avcodec_send_packet(d, p) < 0 && p != nullptr) return;  // a damaged packet: its sound is lost
  AVFrame* f = sound_frame.get();
  while (avcodec_receive_frame(d, f) == 0) {
    if (!sound_begun) {
      // Its own time, moved on by any priming dropped; the guessed one else.
      const int64_t ts = f->pts != AV_NOPTS_VALUE ? f->pts : f->best_effort_timestamp;
      const AVStream* s = format->streams[sound_index];
      sound_start = ts != AV_NOPTS_VALUE ? static_cast<double>(ts) * av_q2d(s->time_base) : 0;
      sound_begun = true;
    }
    SoundToFloat(*f, pcm);
    if (f->ch_layout.nb_channels > 0) sink(pcm.data(), static_cast<size_t>(f->nb_samples), f->ch_layout.nb_channels);
    av_frame_unref(f);
  }
}

MediaInput::MediaInput(std::unique_ptr<State> state) : s_(std::move(state)) {}
MediaInput::~MediaInput() = default;

std::unique_ptr<MediaInput> MediaInput::Open(const std::string& path, const MediaOptions& options) {
  auto s = std::make_unique<State>();
  s->path = path;
  s->options = options;
  av_log_set_level(AV_LOG_QUIET);
  av_log_set_callback(WatchLog);
  s->Open();
  s->Index();
  s->OpenDecoder();
  const AVCodecParameters* par = s->stream->codecpar;
  // What the decoder makes, where it says before a frame: a container's
  // tag can name another format (NUT's raw P010 reads as rgb555le).
  const auto decoded =
      s->decoder->pix_fmt != AV_PIX_FMT_NONE ? s->decoder->pix_fmt : static_cast<AVPixelFormat>(par->format);
  if (decoded == AV_PIX_FMT_NONE) s->Fail("cannot tell the pixel format of its video");
  bool converted = false;
  s->host = HostFormatOf(decoded, &converted);
  if (s->host == nullptr) s->Fail(std::string("no host format holds its ") + av_get_pix_fmt_name(decoded) + " frames");
  s->target = av_get_pix_fmt(FfmpegNameOf(*s->host).c_str());
  s->facts.decoded = av_get_pix_fmt_name(decoded);
  s->facts.delivered = converted ? std::string("converted from ") + s->facts.decoded + " to " + s->host->name +
                                       ", which holds every sample"
                                 : std::string("as decoded, ") + s->host->name;
  s->vi.width = par->width;
  s->vi.height = par->height;
  s->vi.pixel_type = s->host->pixel_type;
  if (par->width < 1 || par->height < 1 || par->width > 16384 || par->height > 16384)
    s->Fail("its frame size " + std::to_string(par->width) + "x" + std::to_string(par->height) +
            " is outside 1 to 16384 per side");
  if (par->width % s->host->chroma_step_w() != 0 || par->height % s->host->chroma_step_h() != 0)
    s->Fail("its frame size " + std::to_string(par->width) + "x" + std::to_string(par->height) +
            " is not whole chroma samples of " + s->host->name);
  if (par->field_order == AV_FIELD_TT || par->field_order == AV_FIELD_TB) s->vi.image_type = VideoInfo::IT_TFF;
  if (par->field_order == AV_FIELD_BB || par->field_order == AV_FIELD_BT) s->vi.image_type = VideoInfo::IT_BFF;
  s->SetRate();
  s->vi.num_frames = static_cast<int>(s->times.size());
  s->Seek(0);  // back to the start, for the first frame
  return std::unique_ptr<MediaInput>(new MediaInput(std::move(s)));
}

std::string MediaInput::CutMessage() const {
  return s_->path + ": the file is cut short after frame " + std::to_string(s_->vi.num_frames - 1) + " (" +
         std::to_string(s_->vi.num_frames) + " whole frames)";
}

const VideoInfo& MediaInput::info() const { return s_->vi; }
const std::string& MediaInput::name() const { return s_->path; }
const MediaFacts& MediaInput::facts() const { return s_->facts; }

double MediaInput::Time(int n) const {
  if (s_->options.fps_num != 0)
    return static_cast<double>(n) * s_->options.fps_den / static_cast<double>(s_->options.fps_num);
  return static_cast<double>(s_->times[static_cast<size_t>(n)]) * av_q2d(s_->stream->time_base);
}

const Picture& MediaInput::Frame(int n) {
  State& s = *s_;
  if (n == s.delivered) return s.picture;
  // On from where decoding stands, unless n is behind it or a key frame
  // nearer n lies ahead of it.
  int key = s.key_before[static_cast<size_t>(n)];
  if (n <= s.position || key > s.sent + 1) s.Seek(key);
  for (;;) {
    while (s.Decode()) {
      int got = s.FrameIndexOf(*s.frame);
      if (got < 0) got = s.position + 1;  // a frame without its time: the next one
      s.position = got;
      if (got < n) continue;
      if (got > n) break;
      s.delivered = n;
      s.Present(Time(n));
      return s.picture;
    }
    // The decoder passed over frame n: it needs a key frame further back.
    if (key == 0) s.Fail("frame " + std::to_string(n) + " does not come out of its decoder");
    key = s.last_key[static_cast<size_t>(key - 1)];
    s.Seek(key);
  }
}

// In order from the start, as verify reads: a frame the decoder passes
// over (a packet that did not decode) is lost, said in its picture, and
// the frame decoded after it is held for its turn.
const Picture* MediaInput::Next(bool) {
  State& s = *s_;
  const int n = s.delivered + 1;
  if (n >= s.vi.num_frames) {
    if (s.facts.cut) throw InputCut(CutMessage());
    return nullptr;
  }
  s.picture.damage.clear();
  s.delivered = n;
  const auto lost = [&s, n, this] {
    s.picture.damage = "no picture came out of the decoder";
    s.picture.time = Time(n);
    return &s.picture;
  };
  if (s.early >= 0) {
    if (s.early > n) return lost();
    s.early = -1;
    s.Present(Time(n));
    return &s.picture;
  }
  while (s.Decode()) {
    int got = s.FrameIndexOf(*s.frame);
    if (got < 0) got = s.position + 1;  // a frame without its time: the next one
    s.position = got;
    if (got < n) continue;
    if (got > n) {
      s.early = got;
      return lost();
    }
    s.Present(Time(n));
    return &s.picture;
  }
  return lost();  // the decoder ended before it
}

bool MediaInput::ReadSound(SoundSink sink) {
  State& s = *s_;
  AVFormatContext* f = s.format.get();
  const int index = av_find_best_stream(f, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return false;
  // The first sound stream in the file's order.
  int first = index;
  for (unsigned i = 0; i < f->nb_streams; ++i)
    if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      first = static_cast<int>(i);
      break;
    }
  AVStream* stream = f->streams[first];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) {
    s.sound_trouble = std::string("no decoder for its sound (") + avcodec_get_name(stream->codecpar->codec_id) + ")";
    return false;
  }
  s.sound_decoder.reset(avcodec_alloc_context3(codec));
  // The time base before opening: the samples a decoder drops at the
  // start (Opus's and AAC's priming) move its first frame's time on by them.
  if (!s.sound_decoder || avcodec_parameters_to_context(s.sound_decoder.get(), stream->codecpar) < 0 ||
      (s.sound_decoder->pkt_timebase = stream->time_base, avcodec_open2(s.sound_decoder.get(), codec, nullptr)) < 0) {
    s.sound_trouble = "cannot open its sound's decoder";
    s.sound_decoder.reset();
    return false;
  }
  s.sound_index = first;
  stream->discard = AVDISCARD_DEFAULT;
  s.sink = std::move(sink);
  // From the file's very start, the sound stream now among those read: a
  // seek to the first frame would pass over sound before it.
  s.Seek(0);
  s.Reopen();
  s.from_start = true;
  return true;
}

void MediaInput::FinishSound() {
  State& s = *s_;
  if (!s.sink || s.sound_done) return;
  s.sound_done = true;
  AVPacket* p = s.packet.get();
  while (!s.input_done && av_read_frame(s.format.get(), p) >= 0) {
    if (p->stream_index == s.sound_index) s.FeedSound(p);
    av_packet_unref(p);
  }
  s.input_done = true;
  s.FeedSound(nullptr);
}

int MediaInput::SoundRate() const { return s_->sound_decoder ? s_->sound_decoder->sample_rate : 0; }
double MediaInput::SoundStart() const { return s_->sound_start; }
const std::string& MediaInput::SoundTrouble() const { return s_->sound_trouble; }

}  // namespace tallyburn::tool
