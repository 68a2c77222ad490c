// The verify report as one self-contained page: inline SVG and CSS, no
// script and nothing fetched. Charts down the left, the text report beside
// them:
//   numbers    the number each delivered frame carries against its
//              position; dropped numbers as red lines where they are
//              missing, repeated frames orange, frames out of order purple,
//              unreadable ones grey ticks along the bottom
//   PSNR Y     per delivered frame compared (--reference), dB
//   SSIM       per delivered frame compared (all planes)
//   timing     with presentation times, in ms: the time to the next frame
//              (grey), how long each number stayed on screen (blue, at its
//              first frame), frozen ones red, ones cut short orange, and
//              orange lines where numbers were skipped
#pragma once

#include <string>

#include "tool/verify/report.h"

namespace tallyburn::tool {

// Where the page draws: every chart is kChartWidth x kChartHeight pixels,
// the k-th (from 0) at kChartTop + k * kChartHeight from the page's top
// left, its plot area kPlotLeft to kPlotRight across and kPlotTop to
// kPlotBottom down within it. Delivered frame i of n is drawn at
// kPlotLeft + (i + 0.5) * (kPlotRight - kPlotLeft) / n; a drop before it
// at kPlotLeft + i * (kPlotRight - kPlotLeft) / n. Values run from the
// axis's lowest kPlotInset above the bottom to its highest kPlotInset
// below the top, so that dots at either end are whole.
inline constexpr int kChartWidth = 960;
inline constexpr int kChartHeight = 300;
inline constexpr int kChartTop = 48;
inline constexpr int kPlotLeft = 70;
inline constexpr int kPlotRight = 940;
inline constexpr int kPlotTop = 36;
inline constexpr int kPlotBottom = 270;
inline constexpr int kPlotInset = 8;

// The colours of the marks, as CSS writes them.
inline constexpr const char* kFrameColour = "#1f77b4";
inline constexpr const char* kDropColour = "#d62728";
inline constexpr const char* kRepeatColour = "#ff7f0e";
inline constexpr const char* kBackwardsColour = "#9467bd";
inline constexpr const char* kUnreadableColour = "#888888";
inline constexpr const char* kQualityColour = "#2ca02c";
inline constexpr const char* kIntervalColour = "#bbbbbb";

// The page of a run on `input`.
std::string ReportHtml(const VerifyReport& report, const std::string& input);

}  // namespace tallyburn::tool
