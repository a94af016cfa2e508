#!/usr/bin/env bash
# The Win32 conformance run: the Windows program and its installer, built from the same sources
# with mingw-w64 and makensis, on Wine (a real Win32 implementation) in a fresh prefix on Xvfb.
#   wine_run.sh win32|win64 <source folder> <work folder> <windows_listing_check>
# 1. The installer runs silently (/S) into "Program Files\Kelvra", with its Start-menu entries.
# 2. The installed program starts: "Driver Error !" shows before the main window (Wine has no
#    capture window), with the program's exact text; Enter closes it.
# 3. win32_probe lists the main window's controls through the Win32 API; windows_listing_check
#    compares them with template 104 and with this platform's window.
# 4. REC with Capture Every 1 and Seconds counts 3 or 4 frames in 3.5 s; Escape pauses; STOP ALL
#    stops. QuickHelp and About keep Escape and close with OK.
# 5. Exit, Yes: the process ends with status 1. The silent uninstaller leaves nothing behind.
# KELVRA_WINDOWS_SHOTS=1 runs the installer page by page instead and saves pictures of its pages
# and of the program in shots/windows-<arch>-*.png.
set -uo pipefail
arch=$1
top=$2
work=$3
listing_check=$4
skip=77
shots=${KELVRA_WINDOWS_SHOTS:-}

case $arch in
  win32) mingw=i686-w64-mingw32; toolchain=mingw-i686.cmake; loader=/usr/lib/wine/wine ;;
  win64) mingw=x86_64-w64-mingw32; toolchain=mingw-x86_64.cmake; loader=/usr/lib/wine/wine64 ;;
  *) echo "usage: $0 win32|win64 <source> <work> <listing check>"; exit 2 ;;
esac

if [ -z "${KELVRA_WINE_INNER:-}" ]; then
  for tool in "$mingw-gcc" "$mingw-g++" "$mingw-windres" makensis xvfb-run wineserver; do
    command -v "$tool" > /dev/null ||
      { echo "skipped: $tool is not installed (scripts/install-deps.sh test installs it)"; exit $skip; }
  done
  [ -x "$loader" ] || { echo "skipped: $loader is not installed (package wine${arch#win})"; exit $skip; }
  # A machine without 32-bit support (or a sandbox without it) cannot start wine32 at all.
  if ! version=$("$loader" --version 2>&1); then
    echo "skipped: $loader cannot run on this machine: $version"
    exit $skip
  fi
  echo "$version ($arch)"
  export KELVRA_WINE_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

started=$(date +%s.%N)
seconds_since() { echo "$(date +%s.%N) $1" | awk '{printf "%.1f", $1 - $2}'; }
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }

rm -rf "$work/prefix" "$work/home"  # the build stays for the next run
mkdir -p "$work/home"
export HOME=$work/home WINEPREFIX=$work/prefix WINEARCH=$arch WINEDEBUG=-all
export WINELOADER=$loader WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver32
# No menu entries on the host desktop, no downloads of .NET or Gecko.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill -9 "$program_pid" 2> /dev/null
  "$WINESERVER" -k 2> /dev/null
  rm -rf "$work/prefix" "$work/home"
}
trap cleanup EXIT

# ---- Build: the program, its installer and the probe ------------------------------------------
step "building the $arch program, installer and probe"
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
{ cmake -S "$top/windows" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain" "${launcher[@]}" &&
  cmake --build "$work/build" -j 2; } > "$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the $arch build"; }
setup=$work/build/kelvra-1.2-setup.exe
[ -f "$setup" ] || fail "no installer $setup"
"$mingw-gcc" -O2 -Wall -Wextra -Wno-unused-parameter -o "$work/win32_probe.exe" "$top/tests/windows/win32_probe.c" \
  -luser32 -lcomctl32 || fail "building win32_probe"

wine() { "$WINELOADER" "$@"; }
probe() { "$WINELOADER" "$work/win32_probe.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
shot() {
  [ -n "$shots" ] || return 0
  sleep 0.5
  mkdir -p "$top/shots"
  ffmpeg -loglevel error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" -frames:v 1 \
    "$top/shots/windows-$arch-$1.png" && echo "picture: shots/windows-$arch-$1.png"
}

# ---- A fresh prefix ---------------------------------------------------------------------------
boot_start=$(date +%s.%N)
wine wineboot -i > "$work/wineboot.log" 2>&1
"$WINESERVER" -w
echo "wineboot: $(seconds_since "$boot_start") s"
drive_c=$WINEPREFIX/drive_c
# Pictures: Xvfb has no window manager, so Wine draws the title bars itself on a desktop of its own.
if [ -n "$shots" ]; then
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f > /dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f > /dev/null 2>&1
fi
[ -d "$drive_c/windows" ] || { cat "$work/wineboot.log"; fail "wineboot made no prefix"; }

# ---- Install ----------------------------------------------------------------------------------
install_dir="$drive_c/Program Files/Kelvra"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvra Time-lapse"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvra'
setup_caption="Kelvra Time-lapse 1.2 Setup"
if [ -n "$shots" ]; then
  step "installing page by page"
  wine "$setup" & setup_pid=$!
  probe wait "$setup_caption*" 30000 || fail "the installer showed no window"
  shot installer-1-welcome
  probe click "$setup_caption*" 1 && sleep 1 && shot installer-2-licence
  probe click "$setup_caption*" 1 && sleep 3 && shot installer-3-finish
  probe click "$setup_caption*" 1
  wait $setup_pid || fail "the installer failed"
else
  step "installing silently"
  wine "$setup" /S || fail "the silent installer failed"
fi
"$WINESERVER" -w
for f in kelvra.exe uninstall.exe LICENSE.txt help/kel.html help/help.css help/controls.html; do
  [ -f "$install_dir/$f" ] || fail "the installer did not put $f into Program Files\\Kelvra"
done
for f in "Kelvra Time-lapse.lnk" "Kelvra Help.lnk"; do
  [ -f "$menu/$f" ] || fail "no Start-menu entry \"$f\""
done
wine reg query "$uninstall_key" > /dev/null 2>&1 || fail "no uninstall entry $uninstall_key"
# The program's fixed help path \progra~1\Kelvra names this folder on Windows, where the first
# "Program Files" folder gets the short name PROGRA~1. Wine makes short names from a hash
# (PROG~FBU), so here the folder itself is what is checked: the 64-bit "Program Files", not
# "Program Files (x86)".
[ -e "$drive_c/Program Files (x86)/Kelvra" ] && fail "installed under Program Files (x86)"
echo "installed: Program Files\\Kelvra, its help pages, Start-menu entries, uninstall entry"

# ---- The installed program --------------------------------------------------------------------
main="Kelvra Time-lapse V1.2"
step "starting the installed program"
(cd "$install_dir" && exec "$WINELOADER" "C:\\Program Files\\Kelvra\\kelvra.exe") & program_pid=$!
probe wait "Driver Error !" 30000 || fail "no \"Driver Error !\" box"
probe hidden "$main" || fail "the main window was shown before the Driver Error box was answered"
driver_text="There was a problem connecting to your capture device.  This could be because the device is not connected or a program using the device has crashed. You need to restart your computer. Kelvra will run anyway without capture."
box=$(probe boxtext "Driver Error !")
[ "$box" = "$driver_text" ] || fail "the Driver Error box says: $box"
shot driver-error
probe key "Driver Error !" 0x0D  # VK_RETURN
probe gone "Driver Error !" 5000 || fail "Enter did not close the Driver Error box"
probe wait "$main" 10000 || fail "no main window after the Driver Error box"
echo "Driver Error ! shown before the main window with the program's text; Enter closed it"
sleep 0.3
shot main-window

# ---- The listing ------------------------------------------------------------------------------
step "listing the main window's controls"
probe list "$main" "C:\\Program Files\\Kelvra\\kelvra.exe" 104 > "$work/wine-104.txt" || fail "listing the controls"
echo "$(wc -l < "$work/wine-104.txt") controls listed"
KELVRA_WINE_LISTING=$work/wine-104.txt QT_QPA_PLATFORM=offscreen "$listing_check" > "$work/listing.log" 2>&1 ||
  { cat "$work/listing.log"; fail "the controls differ (listing in $work/wine-104.txt)"; }
grep -E '^\[  (PASSED|SKIPPED|FAILED) ' "$work/listing.log"
grep -q '^\[  SKIPPED' "$work/listing.log" && { cat "$work/listing.log"; fail "the listing check skipped"; }

# ---- Recording --------------------------------------------------------------------------------
step "REC with Capture Every 1 and Seconds"
probe settext "$main" 21 1 || fail "setting Capture Every"
probe click "$main" 16 || fail "clicking Seconds"
rec_start=$(date +%s.%N)
probe click "$main" 1 || fail "clicking REC"
probe waittext "$main" 112 REC 2000 || fail "no REC status"
sleep "$(echo "$rec_start" "$(date +%s.%N)" | awk '{d = 3.5 - ($2 - $1); print (d > 0 ? d : 0)}')"
frames=$(probe text "$main" 128)
status=$(probe text "$main" 112)
echo "after 3.5 s: counter $frames, status $status"
[ "$frames" = 3 ] || [ "$frames" = 4 ] || fail "the counter reads \"$frames\" after 3.5 s at one frame a second"
[ "$status" = REC ] || fail "the status reads \"$status\" while recording"
shot recording
probe key "$main" 0x1B || fail "pressing Escape"  # VK_ESCAPE
probe waittext "$main" 112 PAUSED 3000 || fail "Escape did not pause"
probe click "$main" 3 || fail "clicking STOP ALL"
probe waittext "$main" 112 STOP 3000 || fail "STOP ALL did not stop"
echo "Escape: PAUSED; STOP ALL: STOP"

# ---- QuickHelp and About ----------------------------------------------------------------------
for dialog in "13:Quick Reference of main controls:quickhelp" "14:About Kelvra:about"; do
  IFS=: read -r button caption name <<< "$dialog"
  step "$caption"
  probe click "$main" "$button" || fail "clicking $button"
  probe wait "$caption" 5000 || fail "no \"$caption\" dialog"
  shot "$name"
  probe key "$caption" 0x1B
  probe stays "$caption" 700 || fail "Escape closed \"$caption\""
  probe click "$caption" 15 || fail "clicking OK"
  probe gone "$caption" 5000 || fail "OK did not close \"$caption\""
  echo "$caption: Escape kept it open, OK closed it"
done

# ---- Exit -------------------------------------------------------------------------------------
step "Exit, Yes"
probe click "$main" 15 || fail "clicking Exit"
probe wait Exit 5000 || fail "no Exit question"
question=$(probe boxtext Exit)
[ "$question" = "Are you sure you want to quit ?" ] || fail "the Exit box asks: $question"
shot exit
probe click Exit 6 || fail "clicking Yes"  # IDYES
for _ in $(seq 100); do kill -0 "$program_pid" 2> /dev/null || break; sleep 0.1; done
kill -0 "$program_pid" 2> /dev/null && fail "the program did not end after Yes"
wait "$program_pid"; exit_status=$?
program_pid=""
[ "$exit_status" = 1 ] || fail "the program ended with status $exit_status, not 1"
echo "Exit, Yes: the program ended with status 1"

# ---- Uninstall --------------------------------------------------------------------------------
step "uninstalling silently"
# The uninstaller copies itself away and runs from there; the wineserver outlives both.
wine "C:\\Program Files\\Kelvra\\uninstall.exe" /S || fail "the uninstaller failed"
"$WINESERVER" -w
[ -e "$install_dir" ] && { find "$install_dir"; fail "the uninstaller left Program Files\\Kelvra behind"; }
[ -e "$menu" ] && { find "$menu"; fail "the uninstaller left the Start-menu folder behind"; }
wine reg query "$uninstall_key" > /dev/null 2>&1 && fail "the uninstaller left $uninstall_key behind"
echo "uninstalled: no folder, no Start-menu entries, no uninstall entry left"
echo "Win32 conformance run ($arch): passed in $(seconds_since "$started") s"
