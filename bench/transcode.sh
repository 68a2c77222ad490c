#!/usr/bin/env bash
# Times, on one 1080p H.264 file with AAC sound, in turns, the best of
# several rounds of each:
#   ffmpeg     ffmpeg -i in.mp4 -c:v libx264 -preset veryfast -c:a copy   (decode and encode, no burn: the limit)
#   tallyburn  tallyburn 'MediaSource("in.mp4").TallyTC()' -o out.mp4 --codec libx264 --codec-options preset=veryfast
#   drawtext   ffmpeg ... -vf drawtext=timecode=... (ffmpeg's own burn-in, run only to time it)
# and prints the tool's time against the limit (goal: 1.05x) and against
# drawtext (goal: below 1x).
# usage: bench/transcode.sh [BUILD_DIR] [FRAMES] [RUNS]
set -euo pipefail
build=${1:-build}
frames=${2:-240}
runs=${3:-3}
tool="$build/tallyburn"
[[ -x "$tool" ]] || { echo "no $tool: build the tallyburn_tool target first" >&2; exit 1; }
command -v ffmpeg > /dev/null || { echo "no ffmpeg" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
in="$dir/in.mp4"
# A picture that moves and sound, encoded as a camera or an editor would.
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -f lavfi -i "sine=r=48000" -frames:v "$frames" \
  -t "$((frames / 25))" -c:v libx264 -preset medium -pix_fmt yuv420p -c:a aac -shortest "$in"
cat "$in" > /dev/null  # into the page cache

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"

drawtext_filter="drawtext=timecode='00\\:00\\:00\\:00':rate=25:fontcolor=white:box=1:boxcolor=black:x=(w-tw)/2:y=h-th"
have_drawtext=1
ffmpeg -v error -y -i "$in" -frames:v 1 -vf "$drawtext_filter" -f null - 2> /dev/null || have_drawtext=0

for ((i = 0; i < runs; i++)); do
  best ffmpeg "ffmpeg -v error -y -i '$in' -c:v libx264 -preset veryfast -c:a copy '$dir/ffmpeg.mp4'"
  best tallyburn "'$tool' --no-progress 'MediaSource(\"$in\").TallyTC()' -o '$dir/tallyburn.mp4' --codec libx264 --codec-options preset=veryfast"
  if ((have_drawtext)); then
    best drawtext "ffmpeg -v error -y -i '$in' -vf \"$drawtext_filter\" -c:v libx264 -preset veryfast -c:a copy '$dir/drawtext.mp4'"
  fi
done

report() {  # name
  local w="$1" c="${1}_cpu"
  awk -v n="$1" -v w="${!w}" -v c="${!c}" -v f="$frames" \
    'BEGIN { printf "%-10s %8.0f ms wall %6.1f fps %8.0f ms cpu\n", n, w / 1e6, f / (w / 1e9), c / 1e3 }'
}
ratio() {  # name against goal
  local bw="$1" bc="${1}_cpu" lw="$2" lc="${2}_cpu"
  awk -v bw="${!bw}" -v bc="${!bc}" -v lw="${!lw}" -v lc="${!lc}" -v a="$1" -v b="$2" -v g="$3" \
    'BEGIN { printf "%s: %.3fx %s wall, %.3fx cpu (goal: %s)\n", a, bw / lw, b, bc / lc, g }'
}
echo "$frames frames of 1920x1080 H.264 with AAC, to H.264 veryfast with the sound copied, best of $runs rounds:"
report ffmpeg
report tallyburn
((have_drawtext)) && report drawtext
ratio tallyburn ffmpeg "1.05x; ffmpeg decodes and encodes without a burn"
if ((have_drawtext)); then
  ratio tallyburn drawtext "below 1x; ffmpeg burns its timecode with drawtext"
else
  echo "drawtext: not in this ffmpeg (or no font): not timed"
fi
