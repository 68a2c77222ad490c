#!/usr/bin/env bash
# verify of a 1080p H.264 MP4 with AAC stereo sound at 48 kHz, with its
# sound measured for sync and without (--no-sync), each command's best of
# several rounds taken in turn, and the ratio (goal: 1.1x): the sound is
# decoded and searched for marks on the frames' read pass. Wall time is the
# measure; processor time (every thread's) is shown beside it.
# usage: bench/verify_sound.sh [BUILD_DIR] [FRAMES] [RUNS]
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
# A moving picture with the frame code burned in, and a sound all along.
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" -f yuv4mpegpipe - \
  | "$tool" --no-progress 'Y4MSource("-").TallyId()' -o "$dir/v.y4m"
ffmpeg -v error -i "$dir/v.y4m" -f lavfi -i "sine=frequency=1000:sample_rate=48000,aformat=channel_layouts=stereo" \
  -shortest -c:v libx264 -preset veryfast -crf 23 -c:a aac -b:a 128k "$in"
rm "$dir/v.y4m"
cat "$in" > /dev/null  # into the page cache

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"

sound="" quiet="" sound_cpu="" quiet_cpu=""
for ((i = 0; i < runs; i++)); do
  best quiet "'$tool' verify --no-progress --no-sync '$in' 2> /dev/null"
  best sound "'$tool' verify --no-progress '$in' 2> /dev/null"
done

report() {  # name wall-nanoseconds cpu-microseconds
  awk -v n="$1" -v t="$2" -v c="$3" -v f="$frames" \
    'BEGIN { printf "%-9s %8.1f ms %8.1f fps %8.1f ms of processor time\n", n, t / 1e6, f / (t / 1e9), c / 1e3 }'
}
echo "$frames frames of 1920x1080 H.264 with AAC stereo ($(( $(stat -c %s "$in") / 1000 )) kB), best of $runs rounds:"
report no-sync "$quiet" "$quiet_cpu"
report sync "$sound" "$sound_cpu"
awk -v q="$quiet" -v s="$sound" -v qc="$quiet_cpu" -v sc="$sound_cpu" \
  'BEGIN { printf "verify with its sound measured: %.2fx verify --no-sync (goal: 1.1x); processor time %.2fx\n", s / q, sc / qc }'
