# Sourced by the end-to-end scripts: the script runs again inside its own X server, in a scratch
# home whose videos folder takes the recording ($file), and can start the program to its main
# window and step through the tab order. `fail` may be replaced by the script.
if [ -z "${KELVRA_E2E_INNER:-}" ]; then
  export KELVRA_E2E_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'if [ -n "${pid:-}" ]; then kill -9 "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
export HOME=$work
mkdir -p "$work/Videos"
file=$work/Videos/capture.avi

fail() { echo "$*"; cat "$work/program.log" 2>/dev/null; exit 1; }

# start_program [VAR=value ...]: the program with those variables, until its main window shows.
start_program() {
  env "$@" "$program" > "$work/program.log" 2>&1 &
  pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --name "Kelvra Time-lapse V1.2" | head -1)
  [ -n "$window" ] || fail "the main window did not appear"
  sleep 0.5
}

tabs() { for _ in $(seq "$1"); do xdotool key --delay 30 Tab; done; }
