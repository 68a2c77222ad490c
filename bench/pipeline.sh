#!/usr/bin/env bash
# Streams 1080p 4:2:0 YUV4MPEG2 through five commands in one run and
# prints the best of several rounds of each:
#   copy   cat | cat                                  (the pipe alone)
#   pass   cat | tallyburn 'Y4MSource("-")' | cat     (the tool, no filters)
#   burn   cat | tallyburn 'Y4MSource("-").FrameTC().Tallyburn()' | cat
#   cat    cat FILE > /dev/null                       (reading the file)
#   file   tallyburn 'Y4MSource(FILE).FrameTC().Tallyburn()' -o /dev/null
#   verify tallyburn verify FILE                          (a file burned by TallyId)
# and the ratios: the tool with both filters, and verify, each against cat
# of the same file.
# usage: bench/pipeline.sh [BUILD_DIR] [FRAMES] [RUNS]
set -euo pipefail
build=${1:-build}
frames=${2:-150}
runs=${3:-5}
tool="$build/tallyburn"
[[ -x "$tool" ]] || { echo "no $tool: build the tallyburn_tool target first" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
in="$dir/in.y4m"
"$tool" --no-progress "ColorBars(1920, 1080, \"YV12\", length=$frames)" -o "$in"
cat "$in" > /dev/null  # into the page cache
coded="$dir/coded.y4m"
"$tool" --no-progress "ColorBars(1920, 1080, \"YV12\", length=$frames).TallyId()" -o "$coded"
cat "$coded" > /dev/null

elapsed() {  # wall nanoseconds of the pipeline in $1
  local t0 t1
  t0=$(date +%s%N)
  bash -c "$1"
  t1=$(date +%s%N)
  echo $((t1 - t0))
}

# best NAME COMMAND: times COMMAND and keeps the best time in $NAME.
best() {
  local t
  t=$(elapsed "$2")
  if [[ -z "${!1}" || $t -lt ${!1} ]]; then printf -v "$1" '%s' "$t"; fi
}

# All run in turn, `runs` rounds, so that a busy moment of the machine
# falls on all of them alike; each keeps its best time.
copy="" pass="" burn="" plain="" file="" plain2="" verify=""
for ((i = 0; i < runs; i++)); do
  best plain2 "cat '$coded' > /dev/null"
  best verify "'$tool' verify --no-progress '$coded' 2> /dev/null"
  best plain "cat '$in' > /dev/null"
  best file "'$tool' --no-progress 'Y4MSource(\"$in\").FrameTC().Tallyburn()' -o /dev/null"
  best copy "cat '$in' | cat > /dev/null"
  best pass "cat '$in' | '$tool' --no-progress 'Y4MSource(\"-\")' -o - | cat > /dev/null"
  best burn "cat '$in' | '$tool' --no-progress 'Y4MSource(\"-\").FrameTC().Tallyburn()' -o - | cat > /dev/null"
done

mb=$(( $(stat -c %s "$in") / 1000000 ))
report() {  # name nanoseconds
  awk -v n="$1" -v t="$2" -v f="$frames" -v mb="$mb" \
    'BEGIN { printf "%-6s %8.1f ms %8.1f fps %8.0f MB/s\n", n, t / 1e6, f / (t / 1e9), mb / (t / 1e9) }'
}
echo "$frames frames of 1920x1080 4:2:0 ($mb MB), best of $runs rounds:"
report copy "$copy"
report pass "$pass"
report burn "$burn"
awk -v p="$pass" -v b="$burn" 'BEGIN { printf "filters cost %+.1f%% of the pass-through time\n", (b - p) * 100 / p }'
report cat "$plain"
report file "$file"
awk -v c="$plain" -v f="$file" 'BEGIN { printf "the tool with both filters, file to /dev/null: %.2fx cat of the file (goal: 1.1x)\n", f / c }'
report cat "$plain2"
report verify "$verify"
awk -v c="$plain2" -v v="$verify" 'BEGIN { printf "verify of a file burned by TallyId: %.2fx cat of the file (goal: 1.1x)\n", v / c }'
