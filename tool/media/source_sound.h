// The media source's sound streams in a media output, read from its file
// as the frames are written: PCM cut at the output's first and last
// sample, compressed sound copied whole or decoded, cut and encoded again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avisynth.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/media_run.h"
#include "tool/media/muxer.h"
#include "tool/media/sound_encoder.h"

namespace tallyburn::tool {

// How one sound stream of the source reaches the output.
enum class SoundWay {
  kCopy,    // packets as they are: compressed sound and the whole clip
  kCutPcm,  // PCM packets cut at the first and last sample
  kEncode,  // decoded, cut at the samples, encoded again
};

struct SoundPlan {
  int input_index;
  SoundWay way;
  const AVCodec* encoder;  // kEncode
  std::string from, to;    // codec names, for --info
};

// What the source's sound streams become: PCM is cut at any sample;
// compressed sound is copied when the whole clip is written, and encoded
// again with its own codec when the output starts or ends inside one of
// its packets; a codec the container cannot hold becomes its own.
std::vector<SoundPlan> PlanSound(const AVFormatContext* source, const AVOutputFormat* format, bool whole);

class SourceSound {
 public:
  // The planned streams of `source` (which outlives this), for the
  // frames `run` writes; the file then reads only them.
  SourceSound(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run, AVFormatContext* source,
              const AVOutputFormat* container);
  ~SourceSound();
  bool empty() const { return tracks_.empty(); }
  void AddStreams(Muxer& muxer);
  // The sound up to `seconds` of the output.
  void Pump(double seconds);
  // The rest of it.
  void Finish();

 private:
  struct Track;
  std::unique_ptr<Track> OpenTrack(const SoundPlan& plan, double from, double to) const;
  void OpenDecoder(Track& t) const;
  void OpenEncoder(Track& t) const;
  void Packet(Track& t, AVPacket* packet);
  void CutPcm(Track& t, const AVPacket* packet, int64_t at);
  void Decode(Track& t, const AVPacket* packet);

  std::string path_;
  std::string source_path_;
  const AVOutputFormat* container_;
  AVFormatContext* source_;
  Muxer* muxer_ = nullptr;
  std::vector<std::unique_ptr<Track>> tracks_;
  ff::Packet packet_{av_packet_alloc()};
  ff::Frame frame_{av_frame_alloc()};
  bool at_end_ = false;
  double reached_ = -1e18;  // output seconds of the last sound packet read
};

}  // namespace tallyburn::tool
