# Timing helpers the media benchmarks share; sourced, not run.

# measure COMMAND: "WALL CPU" of one run of COMMAND, wall in nanoseconds and
# user + system time (its threads and children summed) in microseconds: on
# a machine shared with other work the processor time is the steadier one.
measure() {
  local TIMEFORMAT='%3R %3U %3S' t
  t=$({ time bash -c "$1" > /dev/null 2>&1; } 2>&1)
  awk -v t="$t" 'BEGIN { split(t, a, " "); printf "%.0f %.0f\n", a[1] * 1e9, (a[2] + a[3]) * 1e6 }'
}

# best NAME COMMAND: times one run of COMMAND and keeps the best wall time
# in $NAME and the best processor time in ${NAME}_cpu.
best() {
  local t c cpu_name="${1}_cpu"
  read -r t c < <(measure "$2")
  if [[ -z "${!1:-}" || $t -lt ${!1} ]]; then printf -v "$1" '%s' "$t"; fi
  if [[ -z "${!cpu_name:-}" || $c -lt ${!cpu_name} ]]; then printf -v "$cpu_name" '%s' "$c"; fi
}
