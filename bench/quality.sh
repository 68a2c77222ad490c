#!/usr/bin/env bash
# verify --reference against ffmpeg measuring the same pair: a 1080p H.264
# file made from a burned, moving picture (the delivered copy) and the
# burned YUV4MPEG2 stream it was made from (the reference), frame for frame
# aligned. Prints the best of several rounds of each and the ratio; wall
# time is the measure, processor time (every thread's) is shown beside it,
# steadier on a busy machine:
#   ffmpeg  ffmpeg -i dist.mp4 -i ref.y4m -lavfi "[0][1]psnr;[0][1]ssim" -f null -
#   verify  tallyburn verify dist.mp4 --reference ref.y4m  (PSNR and SSIM, paired by the code)
# usage: bench/quality.sh [BUILD_DIR] [FRAMES] [RUNS]
set -euo pipefail
build=${1:-build}
frames=${2:-120}
runs=${3:-3}
tool="$build/tallyburn"
[[ -x "$tool" ]] || { echo "no $tool: build the tallyburn_tool target first" >&2; exit 1; }
command -v ffmpeg > /dev/null || { echo "no ffmpeg: .ci/packages.txt lists it" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" -pix_fmt yuv420p -strict -1 \
  "$dir/master.y4m"
"$tool" --no-progress "Y4MSource(\"$dir/master.y4m\").TallyId()" -o "$dir/ref.y4m"
ffmpeg -v error -i "$dir/ref.y4m" -c:v libx264 -preset veryfast -crf 28 "$dir/dist.mp4"
cat "$dir/ref.y4m" "$dir/dist.mp4" > /dev/null  # into the page cache

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"

# In turns, so that a busy moment of the machine falls on both alike.
plain="" verify="" plain_cpu="" verify_cpu=""
for ((i = 0; i < runs; i++)); do
  best plain "ffmpeg -v error -i '$dir/dist.mp4' -i '$dir/ref.y4m' -lavfi '[0][1]psnr;[0][1]ssim' -f null -"
  best verify "'$tool' verify --no-progress '$dir/dist.mp4' --reference '$dir/ref.y4m' 2> /dev/null"
done

report() {  # name wall-nanoseconds cpu-microseconds
  awk -v n="$1" -v t="$2" -v c="$3" -v f="$frames" \
    'BEGIN { printf "%-6s %8.1f ms %8.1f fps %8.1f ms of processor time\n", n, t / 1e6, f / (t / 1e9), c / 1e3 }'
}
echo "$frames frames of 1920x1080 H.264 against YUV4MPEG2, PSNR and SSIM, best of $runs rounds:"
report ffmpeg "$plain" "$plain_cpu"
report verify "$verify" "$verify_cpu"
awk -v p="$plain" -v v="$verify" -v pc="$plain_cpu" -v vc="$verify_cpu" \
  'BEGIN { printf "verify --reference: %.2fx ffmpeg measuring the same pair (goal: 1.1x); processor time %.2fx\n", v / p, vc / pc }'
