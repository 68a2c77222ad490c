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
// - Two levels, 25% and 75% of the luma range, in luma only, over neutral
//   chroma: far from both ends, so a range conversion, ringing or clipping
//   does not move a module across the middle, and chroma subsampling and
//   colour conversions do not touch it. The reader thresholds at the mean
//   of the clock row's own light and dark modules, so levels that moved
//   together still read.
// - The clock row is the sync pattern: 68 equal modules in turn, found on a
//   scan line as a run of equal-length runs, whatever the scale; it gives
//   the module size and the position of every data module below it. The
//   dark border makes the first light module's left edge the strip's.
// - The data row: a start pair (light, dark), the number's 32 bits, its
//   CRC-32, and a stop pair (dark, light), most significant bit first,
//   light for 1. The start and stop pairs catch a grid read one module off;
//   the CRC-32 makes a damaged strip read as unreadable, never as another
//   number (a random error passes it once in 4 billion). Plain binary, not
//   Gray code: a frame is read or refused whole, never read approximately.
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

// Levels as fractions of the luma range (of full scale in RGB).
inline constexpr double kDark = 0.25;
inline constexpr double kLight = 0.75;

// The data row's light (1) and dark (0) modules, left to right.
using DataRow = bool[kModules];

}  // namespace tallyburn::framecode
