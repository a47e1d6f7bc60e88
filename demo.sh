#!/bin/sh
# Installs what is needed, builds, and runs the program's main job in a
# throwaway Wine prefix, printing what it did. Nothing outside the temporary
# folder it makes is touched; the prefix is removed at the end.
set -eu
cd "$(dirname "$0")"
./deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build >/dev/null
root=$(pwd)

work=$(mktemp -d /tmp/zvx-demo.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
wine=/usr/lib/wine/wine64
cleanup() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    while ! grep -q '[0-9]' "$work/display" 2>/dev/null; do sleep 0.1; done
    export DISPLAY=":$(tr -dc 0-9 < "$work/display")"
fi

echo "== Making a throwaway Wine prefix in $WINEPREFIX"
$wine wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w

install="$WINEPREFIX/drive_c/Program Files/Zorvex"
mkdir -p "$install"
cp build/Uninstall.exe "$install/"
echo "== Sample install folder: C:\\Program Files\\Zorvex"
ls -1 "$install" | sed 's/^/   /'

echo "== Running Uninstall.exe"
set +e
$wine "$install/Uninstall.exe" >/dev/null 2>&1
rc=$?
set -e
echo "   exit code: $rc"
