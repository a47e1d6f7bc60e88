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

# A display of our own; Xvfb picks a free number and tells it through -displayfd.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -dpi 96 3>"$run_dir/display.num" >/dev/null 2>&1 &
echo $! > "$run_dir/xvfb.pid"
i=0
while ! grep -q '[0-9]' "$run_dir/display.num" 2>/dev/null; do
    i=$((i + 1)); [ $i -le 100 ] || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
n=$(tr -dc 0-9 < "$run_dir/display.num")
echo ":$n" > "$run_dir/display"

export WINEPREFIX="$run_dir/prefix" WINEDEBUG=-all DISPLAY=":$n"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
"$wine_dir/wine64" wineboot -i >/dev/null 2>&1
"$wine_dir/wineserver" -w 2>/dev/null || true
# Keep one wineserver for the whole run: every test executable then starts faster.
"$wine_dir/wineserver" -p >/dev/null 2>&1 || true
[ -d "$WINEPREFIX/drive_c/windows" ] || { echo "wineboot made no prefix in $WINEPREFIX" >&2; exit 1; }
echo "Wine prefix ready: $WINEPREFIX, display :$n"
