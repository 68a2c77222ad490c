#include "timecode/timecode_engine.h"

#include <charconv>

namespace tallyburn::tc {
namespace {

// Drop-frame is SMPTE ST 12-1 at 29.97 and 59.94 and ST 12-3 at 119.88:
// 2, 4 and 8 labels a minute. 23.976 and 47.952 have none.
constexpr Rate kRates[] = {
    {24000, 1001, 24, 0, "23.976"}, {24, 1, 24, 0, "24"},    {25, 1, 25, 0, "25"},
    {30000, 1001, 30, 2, "29.97"},  {30, 1, 30, 0, "30"},    {48000, 1001, 48, 0, "47.952"},
    {48, 1, 48, 0, "48"},           {50, 1, 50, 0, "50"},    {60000, 1001, 60, 4, "59.94"},
    {60, 1, 60, 0, "60"},           {100, 1, 100, 0, "100"}, {120000, 1001, 120, 8, "119.88"},
    {120, 1, 120, 0, "120"},
};

constexpr int64_t kMinutesPerDay = 24 * 60;

int64_t FramesPerMinute(Mode m) noexcept { return 60 * int64_t{m.base} - m.drop; }
int64_t FramesPerTenMinutes(Mode m) noexcept { return 600 * int64_t{m.base} - 9 * int64_t{m.drop}; }

bool TwoDigits(std::string_view s, size_t at, int* value) noexcept {
  if (at + 2 > s.size()) return false;
  const char a = s[at], b = s[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  *value = (a - '0') * 10 + (b - '0');
  return true;
}

char* PutDigits(char* out, int value, int digits) noexcept {
  for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
  return out + digits;
}

}  // namespace

std::span<const Rate> Rates() noexcept { return kRates; }

const Rate* MatchRate(uint64_t numerator, uint64_t denominator) noexcept {
  if (numerator == 0 || denominator == 0) return nullptr;
  for (const Rate& r : kRates) {
    // |n/d - rn/rd| <= 0.0001 * rn/rd, in integers: |n rd - rn d| * 10000 <= rn d.
    const unsigned __int128 a = static_cast<unsigned __int128>(numerator) * r.denominator;
    const unsigned __int128 b = static_cast<unsigned __int128>(r.numerator) * denominator;
    const unsigned __int128 diff = a > b ? a - b : b - a;
    if (diff * 10000 <= b) return &r;
  }
  return nullptr;
}

bool ParseRate(std::string_view text, uint64_t* numerator, uint64_t* denominator) noexcept {
  const auto whole = [](std::string_view s, uint64_t* v) {
    if (s.empty() || s.size() > 12) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *v);
    return ec == std::errc() && end == s.data() + s.size();
  };
  uint64_t n = 0, d = 1;
  if (const size_t slash = text.find('/'); slash != std::string_view::npos) {
    if (!whole(text.substr(0, slash), &n) || !whole(text.substr(slash + 1), &d)) return false;
  } else if (const size_t dot = text.find('.'); dot != std::string_view::npos) {
    const std::string_view fraction = text.substr(dot + 1);
    uint64_t i = 0, f = 0;
    if (!whole(text.substr(0, dot), &i) || !whole(fraction, &f) || fraction.size() > 6) return false;
    for (size_t k = 0; k < fraction.size(); ++k) d *= 10;
    n = i * d + f;
  } else if (!whole(text, &n)) {
    return false;
  }
  if (n == 0 || d == 0) return false;
  *numerator = n;
  *denominator = d;
  return true;
}

int64_t FramesPerDay(Mode mode) noexcept { return kMinutesPerDay / 10 * FramesPerTenMinutes(mode); }

Label LabelAt(int64_t index, Mode mode) noexcept {
  const int64_t day = FramesPerDay(mode);
  int64_t wrapped = index % day;
  if (wrapped < 0) wrapped += day;
  // A day holds at most 120 * 86400 frames: the rest fits 32 bits, whose
  // divisions are several times cheaper.
  auto n = static_cast<int32_t>(wrapped);
  const int32_t base = mode.base, drop = mode.drop;
  if (drop > 0) {
    // Each ten minutes hold 9 minutes short of `drop` labels and one whole:
    // add back the labels skipped before n to count as non-drop does.
    const auto ten = static_cast<int32_t>(FramesPerTenMinutes(mode));
    const int32_t tens = n / ten, rest = n % ten;
    n += 9 * drop * tens;
    if (rest >= drop) n += drop * ((rest - drop) / static_cast<int32_t>(FramesPerMinute(mode)));
  }
  const int32_t seconds = n / base;
  return Label{seconds / 3600, seconds / 60 % 60, seconds % 60, n % base};
}

int64_t IndexOf(const Label& label, Mode mode) noexcept {
  const int64_t minutes = 60 * int64_t{label.hours} + label.minutes;
  const int64_t count = (60 * minutes + label.seconds) * mode.base + label.frames;
  return count - int64_t{mode.drop} * (minutes - minutes / 10);
}

std::string WhyInvalid(const Label& label, Mode mode) {
  if (label.hours < 0 || label.hours > 23) return "hours run from 00 to 23";
  if (label.minutes < 0 || label.minutes > 59) return "minutes run from 00 to 59";
  if (label.seconds < 0 || label.seconds > 59) return "seconds run from 00 to 59";
  if (label.frames < 0 || label.frames >= mode.base)
    return "frames run from 0 to " + std::to_string(mode.base - 1) + " at this rate";
  if (mode.drop > 0 && label.seconds == 0 && label.frames < mode.drop && label.minutes % 10 != 0)
    return "drop-frame skips frames 0 to " + std::to_string(mode.drop - 1) +
           " at the start of every minute not divisible by ten";
  return "";
}

bool ParseLabel(std::string_view text, Label* label, bool* drop_separator) noexcept {
  // HH:MM:SS:FF with ':' or ';' before the frames, 2 or 3 frame digits.
  if (text.size() != 11 && text.size() != 12) return false;
  if (text[2] != ':' || text[5] != ':') return false;
  const char sep = text[8];
  if (sep != ':' && sep != ';') return false;
  Label l{};
  if (!TwoDigits(text, 0, &l.hours) || !TwoDigits(text, 3, &l.minutes) || !TwoDigits(text, 6, &l.seconds) ||
      !TwoDigits(text, 9, &l.frames))
    return false;
  if (text.size() == 12) {
    const char c = text[11];
    if (c < '0' || c > '9') return false;
    l.frames = l.frames * 10 + (c - '0');
  }
  *label = l;
  *drop_separator = sep == ';';
  return true;
}

int FormatLabel(const Label& label, Mode mode, char* out) noexcept {
  char* p = PutDigits(out, label.hours, 2);
  *p++ = ':';
  p = PutDigits(p, label.minutes, 2);
  *p++ = ':';
  p = PutDigits(p, label.seconds, 2);
  *p++ = mode.drop > 0 ? ';' : ':';
  p = PutDigits(p, label.frames, mode.base > 99 ? 3 : 2);
  return static_cast<int>(p - out);
}

}  // namespace tallyburn::tc
