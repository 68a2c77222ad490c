// The sound TallySync makes and `tallyburn verify` reads back: the shape of
// one mark and the table of pitches, in one place, with the reason for each
// choice.
//
//   frame k*P starts                          (P: the period in frames)
//   |
//   |<- sweep 8 ms ->|<------ tone 22 ms ------>|      silence      |
//   /\/\/\/\/\/\/\/\/\~~~~~~~~~~~~~~~~~~~~~~~~~~\__________________ ...
//   400 Hz ... 3200 Hz  pitch kPitches[count % 8]
//
// - Every mark starts on the first sample at or after the start time of a
//   frame whose number is a multiple of the period: the sample k*den*rate/num
//   rounded up, in integers, so the marks do not wander at 30000/1001 or
//   24000/1001. The sound is then at most one sample late (21 us at 48 kHz).
// - The mark opens with a linear sweep, the same in every mark, over 400 Hz
//   to 3200 Hz in 8 ms. A sweep correlates with itself in one narrow peak
//   (about 1/2800 Hz = 0.36 ms wide) with no side peak near it, so a matched
//   filter times it to a small fraction of a millisecond, where a plain tone
//   would leave a choice between its cycles. The detector uses the envelope
//   of that correlation, so a codec that turns the phase still times it
//   right. The first 0.5 ms rise as a raised cosine: a step would spread
//   over the whole spectrum and leave pre-echo from the codecs' blocks
//   (AAC's 1024, Opus's 20 ms frames) before the mark.
// - A tone follows, with the mark's pitch: the table below indexed by the
//   mark's count (frame / P) modulo its size, so a sound early or late by a
//   whole period or more (up to half the table's length) still pairs with
//   its own frame. Eight pitches, each about a third of an octave and at least
//   200 Hz above the one before: over the 20 ms the detector reads of the
//   tone, a Hann-windowed Goertzel filter is about 100 Hz wide on each side
//   and its side lobes 200 Hz off are 30 dB down, so a pitch is told apart
//   even after a codec has smeared it.
// - Everything lies within 400 Hz to 3200 Hz: inside the band AAC and Opus
//   keep at their lowest rates (they drop the top first, down to 4 kHz for
//   narrow-band Opus), far below Nyquist at 44.1 kHz and as low as 8 kHz,
//   and above the bass that low-rate coders and high-pass filters remove.
// - The same samples on every channel: a mono downmix adds them up in phase
//   (no channel cancels another), and a stereo coder's side channel is
//   empty, leaving all its bits to the mid channel that carries the marks.
// - The tone ends with a 2 ms raised-cosine fall, then silence until the
//   next mark, at least 30 ms: the detector finds a mark where the sound
//   rises from silence, so periods shorter than kMinPeriodSeconds are
//   refused.
// - `level` is the peak of the mark in dBFS (-12 by default: loud enough to
//   stand well above any codec's noise, far enough below full scale that
//   resampling's overshoot and a downmix of two full channels do not clip).
#pragma once

namespace tallyburn::sync {

inline constexpr double kSweepSeconds = 0.008;
inline constexpr double kSweepFromHz = 400.0;
inline constexpr double kSweepToHz = 3200.0;
inline constexpr double kToneSeconds = 0.022;
inline constexpr double kAttackSeconds = 0.0005;
inline constexpr double kReleaseSeconds = 0.002;
inline constexpr double kMarkSeconds = kSweepSeconds + kToneSeconds;  // 30 ms
inline constexpr double kMinPeriodSeconds = 0.060;                    // a mark, then as long in silence

// The pitches of the tone, by the mark's count modulo their number.
inline constexpr int kPitchCount = 8;
inline constexpr double kPitches[kPitchCount] = {500, 700, 900, 1150, 1450, 1800, 2250, 2800};

// The level range TallySync accepts, in dBFS (peak of a mark).
inline constexpr double kMinLevel = -60.0;
inline constexpr double kMaxLevel = 0.0;

// A clip without sound gets this: the rate of video production, two
// channels as every player and encoder takes, 16-bit as every container does.
inline constexpr int kDefaultRate = 48000;
inline constexpr int kDefaultChannels = 2;

// Rates the marks fit in: 8 kHz keeps 3200 Hz below Nyquist; the top is
// what any host hands out.
inline constexpr int kMinRate = 8000;
inline constexpr int kMaxRate = 768000;
inline constexpr int kMaxChannels = 64;

}  // namespace tallyburn::sync
