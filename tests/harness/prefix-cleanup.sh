#!/bin/sh
# Ends the run's Wine processes and Xvfb, and removes the throwaway prefix.
# Usage: prefix-cleanup.sh RUN_DIR
set -u
run_dir=$1
case "$run_dir" in
    */wine-run) ;;
    *) echo "refusing to remove $run_dir" >&2; exit 1 ;;
esac
. "$(dirname "$0")/../../tools/wine-env.sh"
zvx_wine_use "$run_dir"
zvx_wine_stop
zvx_xvfb_stop
rm -rf "$run_dir"
exit 0
