#include "tool/cli/options.h"

#include <unistd.h>

#include <climits>
#include <cstdint>

#include "tool/media/outputs.h"

namespace tallyburn::tool {
namespace {

using R = RenderOptions;
using V = VerifyCommand;

int FrameNumber(const std::string& s, const char* option) {
  return static_cast<int>(ParseFrameNumber(s, option, INT_MAX));
}

void Script(R& o, const std::string& arg) {
  // Reached only after an option: the subcommand's options follow it.
  if (!o.script_given && arg == "verify")
    throw UsageError("verify comes first: tallyburn verify [options] [INPUT] (options before it are not verify's)");
  if (o.script_given) throw UsageError("one SCRIPT only; quote it as one argument");
  o.script = arg;
  o.script_given = true;
}

void Frames(R& o, const std::string& v) {
  const FrameRange range = ParseFrameRange(v, {"--frames", INT_MAX, true});
  o.first = static_cast<int>(range.first);
  o.last = range.last ? std::optional<int>(static_cast<int>(*range.last)) : std::nullopt;
  o.range_given = true;
}

// An encoder's name, never empty.
std::string Encoder(const std::string& v, const char* option) {
  if (v.empty()) throw UsageError(std::string(option) + " needs an encoder's name");
  return v;
}

constexpr Option<R> kRenderOptions[] = {
    {.names = "-o, --output",
     .value = "PATH",
     .help = "where the frames go, by name or by the path:\n"
             "Extensions in any case. Without -o, YUV4MPEG2 goes to\n"
             "standard output when it is not a terminal. A file is\n"
             "written beside its place and replaces it only when\n"
             "the run succeeds; an output that is also an input is\n"
             "refused.",
     .apply = [](R& o, const std::string& v) { o.output = v; },
     .listing = OutputHelp},
    {.names = "--codec",
     .value = "NAME",
     .help = "a media file's video encoder (ffmpeg -encoders lists\n"
             "them: libx264, libx265, prores_ks, ffv1, dnxhd, ...)",
     .apply = [](R& o, const std::string& v) { o.codec = Encoder(v, "--codec"); }},
    {.names = "--codec-options",
     .value = "S",
     .help = "the encoder's own options, \"key=value:key=value\"\n"
             "(ffmpeg -h encoder=NAME lists them), such as\n"
             "\"crf=18:preset=fast\" for libx264",
     .apply = [](R& o, const std::string& v) { o.codec_options = v; }},
    {.names = "--audio-codec",
     .value = "NAME",
     .help = "the sound encoder of a clip that makes its own sound\n"
             "(TallySync): PCM in MOV, MKV and most others, aac in\n"
             "MP4 unless given; otherwise the source's sound is kept",
     .apply = [](R& o, const std::string& v) { o.audio_codec = Encoder(v, "--audio-codec"); }},
    {.names = "--raw",
     .value = nullptr,
     .help = "write raw frames (native packing, lines top-down)",
     .apply = [](R& o, const std::string&) { o.raw = true; }},
    {.names = "--frame",
     .value = "N",
     .help = "only frame N",
     .apply =
         [](R& o, const std::string& v) {
           o.first = o.last = FrameNumber(v, "--frame");
           o.single_frame = true;
         }},
    {.names = "--frames",
     .value = "A-B",
     .help = "frames A to B, inclusive (A- : from A to the end);\n"
             "not with --frame",
     .apply = Frames},
    {.names = "--info",
     .value = nullptr,
     .help = "print the clip's size, rate, whole frames and pixel\n"
             "type (from a pipe, after reading it to its end), a\n"
             "media source's timecode and, with -o, what the\n"
             "output would be",
     .apply = [](R& o, const std::string&) { o.info = true; }},
    {.names = "--progress",
     .value = nullptr,
     .help = "show frames done, speed and time left on standard\n"
             "error (the default when it is a terminal)",
     .apply = [](R& o, const std::string&) { o.progress = true; }},
    {.names = "--no-progress",
     .value = nullptr,
     .help = "do not",
     .apply = [](R& o, const std::string&) { o.progress = false; }},
    {.names = "--plugin",
     .value = "PATH",
     .help = "the plug-in to load (default: libtallyburn.so beside\n"
             "the tool, or in ../lib/avisynth)",
     .apply = [](R& o, const std::string& v) { o.plugin = v; }},
    {.names = "-h, --help",
     .value = nullptr,
     .help = "this text",
     .apply = [](R& o, const std::string&) { o.help = true; },
     .ends = true},
    {.names = "--version",
     .value = nullptr,
     .help = "the version",
     .apply = [](R& o, const std::string&) { o.version = true; },
     .ends = true},
};

void Input(V& o, const std::string& arg) {
  if (o.input_given) throw UsageError("one INPUT only");
  o.run.input = arg;
  o.input_given = true;
}

void Expect(V& o, const std::string& v) {
  const FrameRange range = ParseFrameRange(v, {"--expect", UINT32_MAX, false});
  o.run.expect = NumberRange{static_cast<uint32_t>(range.first), static_cast<uint32_t>(*range.last)};
}

void SyncPeriod(V& o, const std::string& v) {
  const uint64_t n = ParseFrameNumber(v, "--sync-period", UINT32_MAX);
  if (n == 0) throw UsageError("--sync-period: \"" + v + "\" is not a number of frames above 0");
  o.run.sync_period = static_cast<int64_t>(n);
}

constexpr Option<V> kVerifyOptions[] = {
    {.names = "--json",
     .value = "FILE",
     .help = "the whole report as JSON (\"numbers\": one per input frame,\n"
             "null where none could be read; \"dropped\": [first, last]\n"
             "ranges; \"times\": each frame's presentation time in\n"
             "seconds; see the README)",
     .apply = [](V& o, const std::string& v) { o.json = v; }},
    {.names = "--expect",
     .value = "A-B",
     .help = "the numbers that should be there, so that drops at either\n"
             "end are reported too",
     .apply = Expect},
    {.names = "--reference",
     .value = "REF",
     .help = "compare each frame with the frame of REF (any input as\n"
             "above: the burned file, or the master before TallyId,\n"
             "whose frame k is number k) that carries the same number:\n"
             "PSNR and SSIM from FFmpeg's psnr and ssim filters, the\n"
             "frame scaled to REF's size first, the code's rows left\n"
             "out of both; per frame in the JSON (\"quality\"), with the\n"
             "mean, minimum, 5th percentile and worst ten frames",
     .apply = [](V& o, const std::string& v) { o.run.reference = v; }},
    {.names = "--html",
     .value = "FILE",
     .help = "the report as one self-contained page: the number each\n"
             "frame carries, quality, frame intervals and sync, drawn",
     .apply = [](V& o, const std::string& v) { o.html = v; }},
    {.names = "--sync-period",
     .value = "N",
     .help = "the marks are N frames apart (without it, told from\n"
             "their spacing)",
     .apply = SyncPeriod,
     .lead = "A media file with sound is measured for sync too: TallySync's marks in\n"
             "its first sound stream against the frames carrying their numbers, the\n"
             "offset of each in ms (positive: the sound is late), their mean, extremes\n"
             "and drift (\"sync\", \"sync_summary\" in the JSON)."},
    {.names = "--no-sync",
     .value = nullptr,
     .help = "do not read the sound",
     .apply = [](V& o, const std::string&) { o.run.sync = false; }},
    {.names = "--progress",
     .value = nullptr,
     .help = "frames read on standard error (the default on a terminal)",
     .apply = [](V& o, const std::string&) { o.run.progress = true; },
     .lead = "The text and JSON reports give the timing too (\"timing\"): how long each\n"
             "frame stayed, the cadence (3:2 for 24p captured at 60), freezes,\n"
             "stutters and the spread of the intervals between frames."},
    {.names = "--no-progress",
     .value = nullptr,
     .help = "do not",
     .apply = [](V& o, const std::string&) { o.run.progress = false; }},
    {.names = "-h, --help",
     .value = nullptr,
     .help = "this text",
     .apply = [](V& o, const std::string&) { o.help = true; },
     .ends = true},
};

}  // namespace

const Grammar<RenderOptions>& RenderGrammar() {
  static const Grammar<RenderOptions> grammar{kRenderOptions, "--help", Script};
  return grammar;
}

const Grammar<VerifyCommand>& VerifyGrammar() {
  static const Grammar<VerifyCommand> grammar{kVerifyOptions, "tallyburn verify --help", Input};
  return grammar;
}

RenderOptions ParseRenderOptions(int argc, char** argv) {
  RenderOptions o;
  o.progress = isatty(STDERR_FILENO) != 0;
  Parse(RenderGrammar(), argc, argv, o);
  if (o.help || o.version) return o;
  if (o.single_frame && o.range_given) throw UsageError("--frame and --frames clash: give one of them");
  return o;
}

VerifyCommand ParseVerifyOptions(int argc, char** argv) {
  VerifyCommand o;
  o.run.progress = isatty(STDERR_FILENO) != 0;
  Parse(VerifyGrammar(), argc, argv, o);
  return o;
}

}  // namespace tallyburn::tool
