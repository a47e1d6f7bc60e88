#!/bin/sh
# Makes the throwaway Wine prefix and the Xvfb display for one test run.
# Usage: prefix-setup.sh RUN_DIR
set -eu
run_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine-env.sh"
if [ -d "$run_dir" ]; then
    # A previous run that was interrupted may have left its prefix behind.
    sh "$here/prefix-cleanup.sh" "$run_dir"
fi
mkdir -p "$run_dir"
zvx_wine_use "$run_dir"
zvx_xvfb_start
zvx_prefix_make
# Keep one wineserver for the whole run: every test executable then starts faster.
zvx_wineserver_keep
echo "Wine prefix ready: $WINEPREFIX, display $DISPLAY"
