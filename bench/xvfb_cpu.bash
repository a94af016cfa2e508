# Sourced by the CPU benchmarks (bench/*_cpu.sh): an X server of their own, and a process's CPU in
# percent of one core (user + system time from /proc/<pid>/stat) over $seconds after $warmup.
# The caller sets `name` (for messages), `seconds` and `warmup` before using these.

started=()
scratch=$(mktemp -d)
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
ticks=$(getconf CLK_TCK)

# start_xvfb FIRST LAST SIZE: an Xvfb on the first free display number from FIRST to LAST, exported
# as DISPLAY; ends the script when none starts.
start_xvfb() {
  local n display=""
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "$3" -nolisten tcp >/dev/null 2>&1 &
    started+=($!)
    for _ in $(seq 50); do
      DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && display=":$n" && break
      sleep 0.1
    done
    [ -n "$display" ] && break
  done
  [ -n "$display" ] || { echo "$name: no Xvfb display could be started" >&2; exit 1; }
  export DISPLAY=$display
}

# CPU ticks (user + system) of a process; the command name may hold spaces, so cut after ')'.
cpu_ticks() {
  local rest
  rest=$(sed 's/^.*) //' "/proc/$1/stat") || return 1
  set -- $rest
  echo $(( ${12} + ${13} ))
}

# The CPU percent of process $1.
measure_pid() {
  local pid=$1 t0 c0 t1 c1
  sleep "$warmup"
  c0=$(cpu_ticks "$pid" 2>/dev/null)
  t0=$(date +%s.%N)
  sleep "$seconds"
  c1=$(cpu_ticks "$pid" 2>/dev/null)
  t1=$(date +%s.%N)
  if [ -z "$c0" ] || [ -z "$c1" ]; then
    echo "$name: process $pid ended early" >&2
    return 1
  fi
  awk -v c="$((c1 - c0))" -v hz="$ticks" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.1f\n", 100 * c / hz / (t1 - t0) }'
}
