#!/usr/bin/env bash
# CPack's Debian package: it holds what `cmake --install` installs, under /usr, and declares the
# Debian 12 packages of the libraries the program links (found by dpkg-shlibdeps) and its fonts.
set -uo pipefail
build=$1
app_id=$2
skip=77
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v $tool > /dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > cpack.log 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no .deb"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for need in libqt6widgets6 libqt6gui6 libavformat59 libavcodec59 libavfilter8 libswscale6 libavutil57 libc6 fonts-dejavu-extra; do
  grep -qE "(^|, )$need( |,|$)" <<< "$depends" || fail "the package does not depend on $need"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for file in ./usr/bin/kelvra ./usr/share/kelvra/help/kel.html ./usr/share/applications/$app_id.desktop \
            ./usr/share/metainfo/$app_id.metainfo.xml ./usr/share/icons/hicolor/256x256/apps/$app_id.png \
            ./usr/share/doc/kelvra/copyright; do
  grep -qx "$file" <<< "$contents" || fail "the package lacks $file"
done
# The licence, in Debian's machine-readable copyright format.
copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/kelvra/copyright)
grep -qx 'License: GPL-3.0-or-later' <<< "$copyright" || fail "the copyright file does not name GPL-3.0-or-later"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' <<< "$copyright" ||
  fail "the copyright file is not in Debian's machine-readable format"
echo "Debian package: $(basename "$deb"), contents and dependencies as expected"
