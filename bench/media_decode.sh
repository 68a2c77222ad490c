#!/usr/bin/env bash
# Decoding a 1080p H.264 MP4 in one run, each command's best of several
# rounds taken in turn:
#   ffmpeg  ffmpeg -i in.mp4 -f null -          (the decode alone: the limit)
#   verify  tallyburn verify in.mp4             (decode and read every frame code)
#   source  tallyburn 'MediaSource("in.mp4")' -o /dev/null   (decode, copy, write)
#   index   tallyburn --info 'MediaSource("in.mp4")'         (open and count the frames)
# and the ratios: verify to ffmpeg (goal: 1.05x), and what counting the
# frames by demuxing the file once costs beside the decode. Wall time is
# the measure; processor time (every thread's) is shown beside it, steadier
# on a busy machine.
# usage: bench/media_decode.sh [BUILD_DIR] [FRAMES] [RUNS]
set -euo pipefail
build=${1:-build}
frames=${2:-250}
runs=${3:-5}
tool="$build/tallyburn"
[[ -x "$tool" ]] || { echo "no $tool: build the tallyburn_tool target first" >&2; exit 1; }
command -v ffmpeg > /dev/null || { echo "no ffmpeg: bash scripts/install-packages" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
in="$dir/in.mp4"
# A moving picture with the frame code burned in, as a delivered file has.
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" -f yuv4mpegpipe - \
  | "$tool" --no-progress 'Y4MSource("-").TallyId()' -o - \
  | ffmpeg -v error -f yuv4mpegpipe -i - -c:v libx264 -preset veryfast -crf 23 "$in"
cat "$in" > /dev/null  # into the page cache

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"

plain="" verify="" source="" index="" plain_cpu="" verify_cpu="" source_cpu="" index_cpu=""
for ((i = 0; i < runs; i++)); do
  best plain "ffmpeg -v error -i '$in' -f null -"
  best verify "'$tool' verify --no-progress '$in' 2> /dev/null"
  best source "'$tool' --no-progress 'MediaSource(\"$in\")' -o /dev/null"
  best index "'$tool' --info 'MediaSource(\"$in\")' > /dev/null"
done

report() {  # name wall-nanoseconds cpu-microseconds
  awk -v n="$1" -v t="$2" -v c="$3" -v f="$frames" \
    'BEGIN { printf "%-7s %8.1f ms %8.1f fps %8.1f ms of processor time\n", n, t / 1e6, f / (t / 1e9), c / 1e3 }'
}
echo "$frames frames of 1920x1080 H.264 ($(( $(stat -c %s "$in") / 1000 )) kB), best of $runs rounds:"
report ffmpeg "$plain" "$plain_cpu"
report verify "$verify" "$verify_cpu"
report source "$source" "$source_cpu"
report index "$index" "$index_cpu"
awk -v p="$plain" -v v="$verify" -v pc="$plain_cpu" -v vc="$verify_cpu" \
  'BEGIN { printf "verify of an H.264 file: %.2fx ffmpeg -f null (goal: 1.05x); processor time %.2fx\n", v / p, vc / pc }'
awk -v p="$plain" -v s="$source" 'BEGIN { printf "MediaSource to /dev/null as YUV4MPEG2: %.2fx ffmpeg -f null\n", s / p }'
awk -v p="$plain" -v x="$index" 'BEGIN { printf "opening and counting the frames: %.1f%% of the decode\n", x * 100 / p }'
