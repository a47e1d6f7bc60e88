#!/bin/sh
# Runs a test executable like wine-run.sh, with Wine's heap checker at its
# strictest, and fails the run when the checker reported anything.
# Usage: heap-check.sh EXE [ARGS...]
#
# WINEDEBUG=warn+heap alone makes Wine check only the arguments of heap calls
# (double frees, foreign pointers). The block tails that catch an overrun are
# checked only with the global flag FLG_HEAP_VALIDATE_ALL, which Wine reads at
# process start from the image's Image File Execution Options key: it is set here
# for the executable and for every image named in ZVX_HEAP_CHECK_IMAGES (child
# programs the tests start), and removed again afterwards.
here=$(dirname "$0")
exe=${1:?usage: heap-check.sh EXE [ARGS...]}
ifeo='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options'
images="$(basename "$exe") ${ZVX_HEAP_CHECK_IMAGES:-}"

set_flags() {
    for image in $images; do
        if [ "$1" = on ]; then
            ZVX_WINEDEBUG=-all sh "$here/wine-run.sh" reg add "$ifeo\\$image" /v GlobalFlag /t REG_DWORD /d 128 /f \
                >/dev/null || return 1
        else
            ZVX_WINEDEBUG=-all sh "$here/wine-run.sh" reg delete "$ifeo\\$image" /f >/dev/null
        fi
    done
}

set_flags on || { echo "heap-check: could not turn on heap validation" >&2; set_flags off; exit 125; }
out=$(mktemp "${TMPDIR:-/tmp}/zvx-heap-check.XXXXXX")
ZVX_WINEDEBUG=${ZVX_WINEDEBUG:-warn+heap} sh "$here/wine-run.sh" "$@" >"$out" 2>&1
rc=$?
set_flags off
cat "$out"
# Wine's heap messages read "<thread>:err:heap:<function> ..." or ":warn:heap:".
if grep -q '^[0-9a-f]*:\(err\|warn\):heap:' "$out"; then
    echo "heap-check: Wine reported heap errors (lines with err:heap or warn:heap above)"
    rm -f "$out"
    exit 1
fi
rm -f "$out"
exit $rc
