#!/usr/bin/env bash
# A filter's frame in each real host beside that host's own copy of the
# same frame, timed by the host's probe in one run:
#   AviSynth+ Linux, 2.5 door   build/libtallyburn_avisynth25.so
#   AviSynth+ Linux, C door     build/libtallyburn_avisynth_c.so
#   AviSynth+ Windows, C door   build/mingw/tallyburn.dll under Wine
# Each filter makes its source frame writable (the host copies it) and
# burns its box; the copy is the host's StackVertical of the frame's two
# halves: a new frame and one copy of every line of every plane by the host.
# Goal: a filter's frame within 1.02x of the copy. Hosts that are missing
# are left out.
# usage: bench/hosts.sh [BUILD_DIR] [FRAMES] [REPS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
frames=${2:-300}
reps=${3:-7}
here=$(cd "$(dirname "$0")/.." && pwd)
linux="${TALLYBURN_AVSPLUS:-$here/../shared/avsplus}/avsprobe"
windows="${TALLYBURN_AVSPLUS_WIN:-$here/../shared/avsplus-win}/avsprobe.exe"
wine="${TALLYBURN_WINE:-/usr/lib/wine/wine64}"
source='c = ColorBars(1920, 1080, pixel_type="YV12").AssumeFPS(25, 1)'

ns() {  # ns_per_frame of the script $2 run by the probe command $1
  $1 time "$2" "$frames" "$reps" 2> /dev/null | sed -n 's/^ns_per_frame=//p'
}

row() {  # host label, probe command, LoadPlugin path
  local copy
  copy=$(ns "$2" "$source
StackVertical(c.Crop(0, 0, 0, 540), c.Crop(0, 540, 0, 0))")
  for filter in 'TallyTC()' 'TallyFrame()' 'TallyId()' 'FrameTC()' 'Tallyburn()'; do
    local t
    t=$(ns "$2" "LoadPlugin(\"$3\")
$source
c.$filter")
    awk -v h="$1" -v f="$filter" -v t="$t" -v c="$copy" \
      'BEGIN { printf "%-28s %-13s %9.3f ms  copy %9.3f ms  %5.3fx\n", h, f, t / 1e6, c / 1e6, t / c }'
  done
}

echo "host                         filter         its frame       the host's copy  ratio (goal 1.02x)"
[[ -x "$linux" ]] && row "AviSynth+ Linux, 2.5 door" "$linux" "$build/libtallyburn_avisynth25.so"
[[ -x "$linux" && -f "$build/libtallyburn_avisynth_c.so" ]] &&
  row "AviSynth+ Linux, C door" "$linux" "$build/libtallyburn_avisynth_c.so"
if [[ -f "$windows" && -x "$wine" && -f "$build/mingw/tallyburn.dll" ]]; then
  export WINEDEBUG=-all WINEPREFIX="$build/wine"
  "$(dirname "$wine")/wineserver" -p30 < /dev/null > /dev/null 2>&1 || true
  row "AviSynth+ Windows, C door" "$wine $windows" "Z:$build/mingw/tallyburn.dll"
fi
