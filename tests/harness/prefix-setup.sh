#!/bin/sh
# Makes the throwaway Wine prefix and the Xvfb display for one test run.
# Usage: prefix-setup.sh RUN_DIR
set -eu
run_dir=$1
wine_dir=/usr/lib/wine
if [ -d "$run_dir" ]; then
    # A previous run that was interrupted may have left its prefix behind.
    sh "$(dirname "$0")/prefix-cleanup.sh" "$run_dir"
fi
mkdir -p "$run_dir"

# A display of our own, on the first free number, for every test that makes a window.
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -dpi 96 >/dev/null 2>&1 &
echo $! > "$run_dir/xvfb.pid"
echo ":$n" > "$run_dir/display"
i=0
while [ ! -e "/tmp/.X11-unix/X$n" ]; do
    i=$((i + 1)); [ $i -le 100 ] || { echo "Xvfb did not start on :$n" >&2; exit 1; }
    sleep 0.1
done

export WINEPREFIX="$run_dir/prefix" WINEDEBUG=-all DISPLAY=":$n"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
"$wine_dir/wine64" wineboot -i >/dev/null 2>&1
"$wine_dir/wineserver" -w 2>/dev/null || true
# Keep one wineserver for the whole run: every test executable then starts faster.
"$wine_dir/wineserver" -p >/dev/null 2>&1 || true
[ -d "$WINEPREFIX/drive_c/windows" ] || { echo "wineboot made no prefix in $WINEPREFIX" >&2; exit 1; }
echo "Wine prefix ready: $WINEPREFIX, display :$n"
