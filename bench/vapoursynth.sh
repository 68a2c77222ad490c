#!/usr/bin/env bash
# A frame of each of our filters in the real VapourSynth core beside the
# host's own copy of the same frame, for a few formats and sizes, in one
# run; prints each best time and the ratio.
#
# The source is a BlankClip that hands out one held frame (keep=true), so
# every filter must copy it before writing. The host's own copy is
# std.FlipVertical: a new frame, every line of every plane copied, nothing
# computed; it is the cheapest of the host's filters that writes a whole
# new frame. Ours copies the same planes (the core's copy on first write,
# properties kept) and paints its box or strip into the copy.
# usage: bench/vapoursynth.sh [BUILD_DIR] [FRAMES] [REPS]
set -euo pipefail
build=${1:-build}
frames=${2:-300}
reps=${3:-7}
here=$(cd "$(dirname "$0")" && pwd)
probe=${TALLYBURN_VAPOURSYNTH:-$here/../../shared/vapoursynth}/vsprobe
plugin="$build/libtallyburn.so"
[[ -x "$probe" ]] || { echo "no VapourSynth probe at $probe (set TALLYBURN_VAPOURSYNTH)" >&2; exit 1; }
[[ -f "$plugin" ]] || { echo "no $plugin: build the tallyburn target first" >&2; exit 1; }

ns() {  # best ns per frame of the chain in $1
  "$probe" --load "$plugin" time "$1" "$frames" "$reps" | sed -n 's/^ns_per_frame=//p'
}

printf '%-34s %-24s %12s %12s %8s\n' case filter "filter ns" "copy ns" ratio
for source in "YUV420P8 1920 1080" "YUV422P10 1920 1080" "RGBS 1280 720"; do
  read -r format width height <<< "$source"
  src="std.BlankClip(width=$width, height=$height, format=$format, length=$((frames + 1)), fpsnum=25, fpsden=1, keep=true)"
  for filter in "tally.TC()" "tally.Frame()" "tally.Id()"; do
    # In turn, so that a busy moment of the machine falls on both alike.
    copy=$(ns "$src | std.FlipVertical()")
    ours=$(ns "$src | $filter")
    copy2=$(ns "$src | std.FlipVertical()")
    copy=$(awk -v a="$copy" -v b="$copy2" 'BEGIN { print (a < b ? a : b) }')
    awk -v c="$format/${width}x$height" -v f="$filter" -v o="$ours" -v k="$copy" \
      'BEGIN { printf "%-34s %-24s %12.0f %12.0f %7.3fx\n", c, f, o, k, o / k }'
  done
done
