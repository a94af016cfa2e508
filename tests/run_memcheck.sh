#!/usr/bin/env bash
# Runs a test program under valgrind's memcheck. Valgrind cannot execute every instruction of
# every CPU (AVX-512 start-up code in the system's codec libraries, for one); when it stops on
# such an instruction the check is skipped with the reason (exit 77), never passed or failed.
set -u
skip=77
log=$(mktemp)
trap 'rm -f "$log"' EXIT
valgrind -q --error-exitcode=9 --log-file="$log" "$@"
rc=$?
cat "$log" >&2
if grep -qE 'unhandled instruction bytes|Unrecognised instruction|Illegal opcode' "$log"; then
    echo "SKIPPED: valgrind $(valgrind --version) cannot execute an instruction of this CPU" \
         "($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'))" >&2
    exit $skip
fi
exit $rc
