#!/usr/bin/env bash
# Builds the Windows program with mingw-w64, as `make windows` does, once plain and once with
# UNICODE defined; any compiler or resource-compiler warning fails. Then checks that kelvra.exe
# is a 32-bit GUI program importing exactly the expected DLLs, with its dialogs and icon.
set -uo pipefail
top=$1
work=$2
skip=77
prefix=i686-w64-mingw32

for tool in "$prefix-g++" "$prefix-windres" "$prefix-objdump"; do
  command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed (scripts/install-deps.sh installs it)"; exit $skip; }
done

# The program's own libraries, and what mingw-w64's static start-up code and C runtime need:
# kernel32 (critical sections, TLS, module loading at start-up) and msvcrt (the C library).
# A DLL of the GCC or C++ runtime here would mean they were not linked in statically.
expected="avicap32.dll comctl32.dll comdlg32.dll kernel32.dll msvcrt.dll msvfw32.dll user32.dll"

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

check_variant() {
  local name=$1; shift
  local dir=$work/$name log=$work/$name.log
  echo "== $name"
  mkdir -p "$work"
  if ! { cmake -S "$top/windows" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
           -DKELVRA_WARNINGS_AS_ERRORS=ON "${launcher[@]}" "$@" &&
         cmake --build "$dir" --clean-first -j 1; } > "$log" 2>&1; then
    cat "$log"; echo "FAIL: the $name build failed"; return 1
  fi
  if grep -i 'warning' "$log"; then echo "FAIL: the $name build has warnings"; return 1; fi
  local exe=$dir/kelvra.exe headers
  [ -f "$exe" ] || { echo "FAIL: the $name build made no $exe"; return 1; }
  headers=$("$prefix-objdump" -p "$exe")
  grep -q 'file format pei-i386' <<< "$headers" || { echo "FAIL: $exe is not a 32-bit Windows program"; return 1; }
  grep -qE 'Subsystem[[:space:]]+00000002' <<< "$headers" || { echo "FAIL: $exe is not a GUI program"; return 1; }
  local dlls
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ' | sed 's/ $//')
  echo "imports: $dlls"
  [ "$dlls" = "$expected" ] || { echo "FAIL: expected imports: $expected"; return 1; }
  # windres compiled the templates and found the icon file: IDD_MAIN, IDD_ABOUT, IDD_PLAYER,
  # IDD_QUICKHELP and the group icon IDI_KELVRA (app/resource.h).
  local rc
  rc=$("$prefix-windres" -i "$exe" -J coff -O rc)
  for id in 104 200 600 900; do
    grep -qE "^$id DIALOGEX" <<< "$rc" || { echo "FAIL: $exe has no dialog $id"; return 1; }
  done
  grep -qE '^400 14 /\* RT_GROUP_ICON' <<< "$rc" || { echo "FAIL: $exe has no icon 400"; return 1; }
}

status=0
check_variant ansi || status=1
check_variant unicode -DKELVRA_UNICODE=ON || status=1
[ $status = 0 ] && echo "Windows program: builds without warnings, imports as expected"
exit $status
