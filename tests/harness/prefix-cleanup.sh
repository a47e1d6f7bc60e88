#!/bin/sh
# Ends the run's Wine processes and Xvfb, and removes the throwaway prefix.
# Usage: prefix-cleanup.sh RUN_DIR
set -u
run_dir=$1
if [ -d "$run_dir/prefix" ]; then
    WINEPREFIX="$run_dir/prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    WINEPREFIX="$run_dir/prefix" /usr/lib/wine/wineserver -w 2>/dev/null || true
fi
if [ -f "$run_dir/xvfb.pid" ]; then
    pid=$(cat "$run_dir/xvfb.pid")
    kill "$pid" 2>/dev/null || true
fi
case "$run_dir" in
    */wine-run) rm -rf "$run_dir" ;;
    *) echo "refusing to remove $run_dir" >&2; exit 1 ;;
esac
exit 0
