#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop sees: the program, its
# help book, the menu entry and the icon in every size. Then the installed program runs under
# Xvfb to its main window, Help opens the installed book (not the "cannot be found" page), and
# Exit ends it as a user would.
set -euo pipefail
build=$1
app_id=$2
sizes=$3

if [ -z "${KELVRA_INSTALL_INNER:-}" ]; then
  export KELVRA_INSTALL_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill -9 "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }

[ -x "$prefix/bin/kelvra" ] || fail "no program at $prefix/bin/kelvra"
[ -f "$prefix/share/kelvra/help/kel.html" ] || fail "no help book in $prefix/share/kelvra/help"
desktop=$prefix/share/applications/$app_id.desktop
[ -f "$desktop" ] || fail "no menu entry $desktop"
[ -f "$prefix/share/metainfo/$app_id.metainfo.xml" ] || fail "no AppStream file"
grep -qx "Exec=kelvra" "$desktop" || fail "the menu entry does not start kelvra"
grep -qx "Icon=$app_id" "$desktop" || fail "the menu entry does not name the icon $app_id"

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in $sizes; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  [ -f "$png" ] || fail "no ${size}x${size} icon"
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w x $h" = "$size x $size" ] || fail "$png is $w x $h"
done
echo "installed files: program, help book, menu entry, AppStream file, icons $sizes"

export HOME=$work/home KELVRA_CAPTURE_DRIVERS=test
unset KELVRA_HELP_DIR
mkdir -p "$HOME"
"$prefix/bin/kelvra" > "$work/program.log" 2>&1 &
pid=$!
main=$(timeout 20 xdotool search --sync --onlyvisible --name "Kelvra Time-lapse V1.2" | head -1) || true
[ -n "$main" ] || { cat "$work/program.log"; fail "the installed program showed no main window"; }
echo "the installed program shows its main window"
sleep 0.5

# Focus starts on REC; Help is the 19th tab stop after it, Exit three further on.
tabs() { for _ in $(seq "$1"); do xdotool key --delay 30 Tab; done; }
tabs 19
xdotool key space
book=$(timeout 10 xdotool search --sync --onlyvisible --name "Kelvra Time-lapse Help" | head -1) || true
if [ -z "$book" ]; then
  xdotool search --onlyvisible --name "Help file not found" > /dev/null && fail "the installed program did not find its installed help book"
  fail "Help opened no help window"
fi
echo "Help shows the installed book"

xdotool windowfocus --sync "$main"
tabs 3
xdotool key space
question=$(timeout 10 xdotool search --sync --onlyvisible --name "^Exit$" | head -1) || true
[ -n "$question" ] || fail "Exit asked no question"
xdotool key Return
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after Exit and Yes"
wait "$pid" && status=0 || status=$?
[ "$status" = 1 ] || fail "exit status $status, expected 1"
echo "installed program: passed"
