#!/bin/sh
# Runs a Windows executable under Wine inside the test run's throwaway prefix.
# ctest uses this as the cross-compiling emulator; the prefix and the X display
# are made by prefix-setup.sh and named by ZVX_WINE_RUN_DIR.
run_dir=${ZVX_WINE_RUN_DIR:?ZVX_WINE_RUN_DIR is not set: run the tests through ctest}
[ -d "$run_dir/prefix" ] || { echo "wine-run: no prefix in $run_dir (the setup test did not run)" >&2; exit 125; }
. "$(dirname "$0")/../../tools/wine-env.sh"
zvx_wine_use "$run_dir"
export WINEDEBUG="${ZVX_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="$zvx_wine_overrides${ZVX_WINEDLLOVERRIDES:+;$ZVX_WINEDLLOVERRIDES}"
# Wine may start its own background processes (services, devices) during the
# run; they must not hold ctest's output pipe open, so the output goes through a file.
out=$(mktemp "${TMPDIR:-/tmp}/zvx-wine-out.XXXXXX")
# Now and then Wine fails a process's start before any of its code runs; such a
# start printed nothing else, and is tried again, at most twice.
for attempt in 1 2 3; do
    "$zvx_wine" "$@" >"$out" 2>&1 </dev/null
    rc=$?
    [ $rc -ne 0 ] && [ "$(grep -vc 'failed to map the shared user data' "$out")" -eq 0 ] &&
        grep -q 'failed to map the shared user data' "$out" || break
    echo "wine-run: Wine failed to start the program (attempt $attempt); trying again" >&2
    sleep 1
done
cat "$out"
rm -f "$out"
exit $rc
