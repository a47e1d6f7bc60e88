#!/bin/sh
# Installs what is needed, builds, and runs the program's two jobs, setup and
# then the uninstall, in a throwaway Wine prefix, printing what they did.
# Nothing outside the temporary folder it makes is touched; the prefix is
# removed at the end.
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

# A sample install folder as the product's installer leaves it: the program,
# placeholder files and folders, and the list of what it installed.
install="$WINEPREFIX/drive_c/Program Files/Zorvex"
mkdir -p "$install/Formats" "$install/Help"
cp build/Uninstall.exe "$install/"
for f in Zorvex.exe zvx.exe Formats/zip.fmt Formats/tar.fmt Help/zorvex.chm WhatsNew.txt License.txt; do
    printf 'placeholder\r\n' > "$install/$f"
done
# Folders may come before their files: the uninstall makes repeated passes. The list
# also names the new-archive templates that setup writes beside the program.
printf '%s\r\n' Formats Help Zorvex.exe zvx.exe 'Formats\zip.fmt' 'Formats\tar.fmt' 'Help\zorvex.chm' \
    WhatsNew.txt License.txt zvxnew.dat zipnew.dat Uninstall.exe Uninstall.lst > "$install/Uninstall.lst"
echo "== Sample install folder C:\\Program Files\\Zorvex:"
(cd "$install" && find . -mindepth 1 | sort | sed 's|^\./|   |')

# Registry commands write into a file: Wine's background services would hold a pipe open.
reg() { $wine reg "$@" >"$work/reg.txt" 2>&1 </dev/null || true; }
show_zip() {
    reg query 'HKCR\.zip' /s
    tr -d '\r' < "$work/reg.txt" | grep -v '^$' | sed 's/^/   /'
    reg query 'HKCR\Zorvex.ZIP'
    grep -q 'Zorvex.ZIP' "$work/reg.txt" && echo "   HKCR\Zorvex.ZIP exists" || echo "   HKCR\Zorvex.ZIP does not exist"
}

echo "== Before setup another program owns .zip, with its own new-file entry"
reg add 'HKCR\.zip' /ve /d OtherArc.zip /f
reg add 'HKCR\.zip\ShellNew' /v FileName /d 'C:\Other\empty.zip' /f
reg add 'HKCR\OtherArc.zip' /ve /d 'Other archiver ZIP file' /f
show_zip
show_value() {  # key, value name (empty: the default value), label
    if [ -n "$2" ]; then reg query "$1" /v "$2"; else reg query "$1" /ve; fi
    v=$(tr -d '\r' < "$work/reg.txt" | awk '/REG_/ {sub(/^.*REG_[A-Z_]+ +/, ""); print; exit}')
    echo "   $3: ${v:-(none)}"
}
show_integration() {
    show_value 'HKCR\.zvx' '' '.zvx opens with'
    show_value 'HKCR\.cab' '' '.cab opens with'
    show_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Zorvex.exe' '' 'App Paths'
    show_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zorvex archiver' DisplayName \
        'In the list of installed programs'
    group="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zorvex"
    if [ -d "$group" ]; then
        echo "   Program group: $(ls -1 "$group" | tr '\n' ' ')"
    else
        echo "   Program group: (none)"
    fi
}

# The installer starts setup in the install folder; -s applies the saved and
# preset choices without showing the dialogs, -init presets them: the zvx, zip
# and arj rows on, cab off, a desktop shortcut.
echo "== Running Uninstall.exe -setup -s -initA1101D1 (silent setup)"
set +e
(cd "$install" && $wine "$install/Uninstall.exe" -setup -s -initA1101D1 >/dev/null 2>&1)
rc=$?
set -e
echo "   exit code: $rc"
echo "== After setup: .zip is Zorvex's, its former owner recorded"
show_zip
reg query 'HKCU\Software\Zorvex\Setup\.zip'
tr -d '\r' < "$work/reg.txt" | grep REG_ | sed 's/^ */   record: /'
show_integration

echo "== Running Uninstall.exe -s (silent uninstall)"
set +e
$wine "$install/Uninstall.exe" -s >/dev/null 2>&1
rc=$?
set -e
echo "   exit code: $rc"
echo "== .zip after the uninstall: given back to its former owner"
show_zip
echo "== The rest of the integration after the uninstall:"
show_integration
echo "== Left in the folder when the program has ended (the batch file removes the rest):"
(cd "$install" && find . -mindepth 1 | sort | sed 's|^\./|   |')

# The batch file waits two seconds (its first line) before it deletes anything.
temp=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp | head -1)
if [ -f "$temp/Uninstall_Zvx.Bat" ]; then
    echo "== Self-removal batch file %TEMP%\\Uninstall_Zvx.Bat:"
    tr -d '\r' < "$temp/Uninstall_Zvx.Bat" | sed 's/^/   /'
fi

echo "== Waiting for the batch file"
i=0
while [ -e "$install" ] || [ -e "$temp/Uninstall_Zvx.Bat" ]; do
    i=$((i + 1))
    [ $i -le 300 ] || { echo "   the batch file did not finish within 30 s" >&2; exit 1; }
    sleep 0.1
done
echo "== Result:"
if [ -e "$install" ]; then echo "   C:\\Program Files\\Zorvex is still there"; exit 1; fi
echo "   C:\\Program Files\\Zorvex is gone, and so is the batch file"
ls -1 "$WINEPREFIX/drive_c/Program Files" | sed 's/^/   C:\\Program Files\\/'
