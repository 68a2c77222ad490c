// The timecode engine: broadcast rates, SMPTE drop-frame and non-drop
// counting, labels both ways, parsing and text. Pure functions on plain
// values, shared by the filters and the tool.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tallyburn::tc {

// A timecode rate: the exact frame rate, the nominal frames per second the
// labels count to, and the labels drop-frame skips each minute (0 where no
// standard defines drop-frame: 23.976 and 47.952 count plainly).
struct Rate {
  uint32_t numerator;
  uint32_t denominator;
  int base;
  int drop_labels;
  const char* name;  // "29.97"
};

// Every rate the labels can run at, slowest first.
std::span<const Rate> Rates() noexcept;

// The rate within 0.01% of numerator/denominator, or null.
const Rate* MatchRate(uint64_t numerator, uint64_t denominator) noexcept;

// "25", "29.97", "30000/1001": the exact value as a fraction. False for
// anything else, zero and negative values included.
bool ParseRate(std::string_view text, uint64_t* numerator, uint64_t* denominator) noexcept;

// How labels count: to `base` frames a second, skipping `drop` labels at the
// start of every minute not divisible by ten (0: non-drop).
struct Mode {
  int base;
  int drop;
};

struct Label {
  int hours;
  int minutes;
  int seconds;
  int frames;
};

// Labels in 24 hours; the count wraps to 00:00:00:00 after the last.
int64_t FramesPerDay(Mode mode) noexcept;

// The label of frame `index` counted from 00:00:00:00, any index: past 24
// hours the clock starts again, and before 0 it runs back from 24 hours.
Label LabelAt(int64_t index, Mode mode) noexcept;

// The frame index of a label within the day. The label must be valid.
int64_t IndexOf(const Label& label, Mode mode) noexcept;

// "" when the label exists at this mode; otherwise why not.
std::string WhyInvalid(const Label& label, Mode mode);

// HH:MM:SS:FF (or FFF), ';' before the frames in drop-frame. False for any
// other shape. `drop_separator` tells whether ';' was used.
bool ParseLabel(std::string_view text, Label* label, bool* drop_separator) noexcept;

// Longest text FormatLabel writes, without a terminator.
inline constexpr int kMaxLabelText = 12;

// Writes the label's text without printf-style formatting; returns its
// length (11, or 12 with three frame digits at a base over 99).
int FormatLabel(const Label& label, Mode mode, char* out) noexcept;

}  // namespace tallyburn::tc
