#!/usr/bin/env bash
# Runs every benchmark: the bench_* programs and the bench/*.sh scripts. Each prints its results
# as "name: value unit" lines; a summary of all such lines comes last.
set -u
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
log=$(mktemp)
status=0
# Programs that make windows run on Qt's offscreen platform unless a display is chosen.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for program in "$build"/bench/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" 2>&1 | tee -a "$log" || status=1
done
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  echo "== $(basename "$script")"
  "$script" "$build" 2>&1 | tee -a "$log" || status=1
done
echo
echo "== results"
grep -E '^[a-z0-9_]+: [-0-9.e+]+ ?[A-Za-z%/]*$' "$log"
rm -f "$log"
exit $status
