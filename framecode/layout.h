// The frame code TallyId burns and `tallyburn verify` reads: its layout,
// in one place, with the reason for each choice.
//
//   +--------------------------------------------------------------------+
//   | border: dark, one module all round                                 |
//   |  L D L D L D ...  clock row: 68 modules, light and dark in turn     |
//   |  1 0 b31 ... b0 c31 ... c0 0 1   data row: 68 modules              |
//   +--------------------------------------------------------------------+
//
// - Modules are squares of 8 pixels times the scale (8 at 480 lines, 24 at
//   1080, 48 at 2160), and the strip starts on a 16-pixel boundary: codecs
//   work in 8x8 and 16x16 blocks, so a module is whole blocks of one flat
//   level, which survive quantisation; at half size a module is still 4
//   pixels, and its centre is read.
// - A frame narrower than the strip at scale 1 (560 pixels) gets the
//   largest of the smaller modules that fits (kSmallModules: 6, 4 and 2
//   pixels), so frames down to 140x8, a 160x90 proxy among them, carry the
//   same strip. Even sizes only: the strip is then whole chroma samples in
//   every subsampling (70 modules of an even size are a multiple of 4
//   pixels) and whole pairs of RGB32 pixels, as the painter writes them. One layout at every size: the reader needs no
//   other, and strips burned before small modules existed read as they always did. A module of 2 pixels is the smallest
//   a reader can still find edges in; such a strip reads at its own size, not scaled down further.
// - Two levels, 25% and 75% of the luma range, in luma only, over neutral
//   chroma: far from both ends, so a range conversion, ringing or clipping
//   does not flatten a module, and chroma subsampling and colour
//   conversions do not touch it. The reader assumes nothing about where the
//   levels sit: it finds the clock's edges as swings of the line up and
//   down, wherever they are in the range, and thresholds the data row at
//   the mean of the clock's own light and dark modules. A dim or bright
//   capture, a TV picture mode or a gamma change moves the levels together
//   and still reads, down to a contrast of a tenth of the range
//   (kLeastContrast), about what a person can still make out.
// - The clock row is the sync pattern: 68 equal modules in turn, found on a
//   scan line as a run of equal-length runs, whatever the scale; it gives
//   the module size and the position of every data module below it. The
//   dark border makes the first light module's left edge the strip's.
// - The data row: a start pair (light, dark), the number's 32 bits, its
//   CRC-32, and a stop pair (dark, light), most significant bit first,
//   light for 1. The start and stop pairs catch a grid read one module off;
//   the CRC-32 makes a damaged strip read as unreadable, never as another
//   number (a random row passes it once in 4 billion). Plain binary, not
//   Gray code: a frame is read or refused whole, never read approximately.
// - Any two numbers' rows differ in at least 10 modules (kDistance: the
//   CRC-32 over 32 bits of data; found by trying every difference of up to
//   9 bits). So a row read from a picture may be a little wrong and still
//   give its number, never another's: the 3 modules read nearest the
//   threshold (a block a low-rate encoder smeared to grey) are tried at
//   both levels (kMaxDoubtful), and one more module may be wrong whatever
//   it looks like (kMaxWrong: a block an encoder left from the frame
//   before). A wrong number needs 6 modules read wrong besides the 3 tried
//   (10 - 3 - 1); a row of random modules passes about once in 120 million
//   instead of once in 4 billion, and only behind a clock that read whole.
#pragma once

#include <cstdint>

namespace tallyburn::framecode {

inline constexpr int kNumberBits = 32;
inline constexpr int kCheckBits = 32;
inline constexpr int kModules = 2 + kNumberBits + kCheckBits + 2;  // per row: 68
inline constexpr int kBorder = 1;                                  // modules all round
inline constexpr int kWidthModules = kModules + 2 * kBorder;       // 70
inline constexpr int kHeightModules = 2 + 2 * kBorder;             // 4
inline constexpr int kModulePixels = 8;                            // at scale 1
inline constexpr int kGrid = 16;                                   // the strip's position, in pixels

// Module sizes in pixels below scale 1, largest first, for frames the
// strip at scale 1 does not fit.
inline constexpr int kSmallModules[] = {6, 4, 2};

// Levels as fractions of the luma range (of full scale in RGB).
inline constexpr double kDark = 0.25;
inline constexpr double kLight = 0.75;
// The least difference between the clock's light and dark modules that
// reads, as a fraction of the luma range (219 of 255 at 8 bits).
inline constexpr double kLeastContrast = 0.1;

inline constexpr int kDistance = 10;    // modules between any two numbers' rows
inline constexpr int kMaxDoubtful = 3;  // modules tried at both levels
inline constexpr int kMaxWrong = 1;     // other modules that may be wrong

// The data row's light (1) and dark (0) modules, left to right.
using DataRow = bool[kModules];

}  // namespace tallyburn::framecode
