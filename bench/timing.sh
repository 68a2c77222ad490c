# Timing helpers the media benchmarks share; sourced, not run.

elapsed() {  # wall nanoseconds of the command in $1
  local t0 t1
  t0=$(date +%s%N)
  bash -c "$1"
  t1=$(date +%s%N)
  echo $((t1 - t0))
}

cpu() {  # user + system microseconds of the command in $1 (its threads summed)
  TIMEFORMAT='%3U %3S'
  local t
  t=$({ time bash -c "$1" > /dev/null 2>&1; } 2>&1)
  awk -v t="$t" 'BEGIN { split(t, a, " "); printf "%d", (a[1] + a[2]) * 1e6 }'
}

# best NAME COMMAND: times COMMAND and keeps the best wall time in $NAME and
# the best processor time in ${NAME}_cpu.
best() {
  local t c cpu_name="${1}_cpu"
  t=$(elapsed "$2")
  if [[ -z "${!1}" || $t -lt ${!1} ]]; then printf -v "$1" '%s' "$t"; fi
  c=$(cpu "$2")
  if [[ -z "${!cpu_name}" || $c -lt ${!cpu_name} ]]; then printf -v "$cpu_name" '%s' "$c"; fi
}
