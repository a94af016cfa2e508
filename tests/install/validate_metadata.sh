#!/usr/bin/env bash
# The menu entry and the AppStream file, checked by freedesktop's and AppStream's own validators
# (no network: the validator would otherwise fetch the homepage).
set -uo pipefail
desktop=$1
metainfo=$2
skip=77
for tool in desktop-file-validate appstreamcli; do
  command -v $tool > /dev/null || { echo "skipped: $tool is not installed (scripts/install-deps.sh installs it)"; exit $skip; }
done
status=0
desktop-file-validate "$desktop" || { echo "FAIL: desktop-file-validate $desktop"; status=1; }
appstreamcli validate --no-net "$metainfo" || { echo "FAIL: appstreamcli validate $metainfo"; status=1; }
# The licence the project is published under (LICENSE at the top of the source).
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" ||
  { echo "FAIL: $metainfo does not declare GPL-3.0-or-later"; status=1; }
[ $status = 0 ] && echo "menu entry and AppStream file: valid"
exit $status
