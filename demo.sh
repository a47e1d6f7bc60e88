#!/bin/sh
# Installs what is needed, builds, and runs the program's main job in a
# throwaway Wine prefix: setup of a sample install folder, then the uninstall,
# printing what setup changed and what differs afterwards from the state before
# setup. Nothing outside the temporary folder it makes is touched; the prefix is
# removed at the end. Exits non-zero when the uninstall leaves anything behind
# that the program is not meant to leave.
set -eu
cd "$(dirname "$0")"
./deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build >/dev/null
root=$(pwd)

work=$(mktemp -d /tmp/zvx-demo.XXXXXX)
. "$root/tools/wine-env.sh"
zvx_wine_use "$work"
wine=$zvx_wine
cleanup() {
    # ZVX_DEMO_KEEP=DIR keeps the registry and file snapshots for a closer look.
    if [ -n "${ZVX_DEMO_KEEP:-}" ]; then
        mkdir -p "$ZVX_DEMO_KEEP" && cp -r "$work/before" "$work/setup" "$work/preview" "$work/after" "$work/logs" "$ZVX_DEMO_KEEP/" 2>/dev/null || true
    fi
    zvx_wine_end
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
. "$root/tools/machine-state.sh"
. "$root/tools/change-log-check.sh"
# The change logs lie outside drive C:, so that they are no part of what is compared.
logs="$work/logs"
mkdir -p "$logs"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
log_status=0
# check_log LOG BEFORE AFTER: the log names every change the snapshots show, and nothing else.
check_log() {
    if zvx_log_check "$1" "$2" "$3" > "$work/log-check.txt"; then
        echo "   The change log names every change the registry and file comparison found, and nothing else."
    else
        echo "   The change log and the comparison disagree:"
        cat "$work/log-check.txt"
        log_status=1
    fi
}

[ -n "${DISPLAY:-}" ] || zvx_xvfb_start

echo "== Making a throwaway Wine prefix in $WINEPREFIX"
zvx_prefix_make

# Registry commands write into a file: Wine's background services would hold a pipe open.
reg() { $wine reg "$@" >"$work/reg.txt" 2>&1 </dev/null || true; }

# A sample install folder as the product's installer leaves it: the program, stand-ins
# for the product's files, and the list of what it installed (which also names the
# new-archive templates that setup writes beside the program).
install="$WINEPREFIX/drive_c/Program Files/Zorvex"
mkdir -p "$install"
cp build/Uninstall.exe "$install/"
for f in Zorvex.exe zvxext.dll zvxext32.dll Zorvex.chm Zvx.txt license.txt; do
    printf 'placeholder for %s\r\n' "$f" > "$install/$f"
done
printf '%s\r\n' Zorvex.exe zvxext.dll zvxext32.dll Zorvex.chm Zvx.txt license.txt zvxnew.dat zipnew.dat \
    Uninstall.exe Uninstall.lst > "$install/Uninstall.lst"
echo "== Sample install folder C:\\Program Files\\Zorvex:"
(cd "$install" && ls -1 | sed 's/^/   /')

echo "== Before setup, another program owns .zip (with a new-file entry) and .7z"
reg add 'HKCR\.zip' /ve /d OtherArc.zip /f
reg add 'HKCR\.zip\ShellNew' /v FileName /d 'C:\Other\empty.zip' /f
reg add 'HKCR\.7z' /ve /d OtherArc.7z /f
reg add 'HKCR\OtherArc.zip' /ve /d 'Other archiver ZIP file' /f
reg add 'HKCR\OtherArc.7z' /ve /d 'Other archiver 7z file' /f
printf '   %s\n' 'HKCR\.zip = OtherArc.zip, HKCR\.zip\ShellNew FileName = C:\Other\empty.zip, HKCR\.7z = OtherArc.7z'
zvx_snapshot "$work/before"

# The installer starts setup in the install folder; -s applies the saved and preset
# choices without showing the dialogs. The init text: rows zvx, zip, cab, arj, lz,
# lzh and 7z on (A1111111), a desktop shortcut (D1), the shell extension on (S1).
init=A1111111D1S1
echo "== Running Uninstall.exe -setup -s -init$init (silent setup)"
set +e
(cd "$install" && \
    $wine "$install/Uninstall.exe" -setup -s "-init$init" "-log=$(winpath "$logs/setup.log")" >/dev/null 2>&1 </dev/null)
rc=$?
set -e
echo "   exit code: $rc"
zvx_snapshot "$work/setup"
echo "== What setup changed:"
zvx_report "$work/before" "$work/setup"
echo "== Its change log (-log=), first lines and last:"
sed -n '1,6p' "$logs/setup.log" | sed 's/^/   /'
echo "   ... ($(wc -l < "$logs/setup.log") lines)"
tail -n 2 "$logs/setup.log" | sed 's/^/   /'
check_log "$logs/setup.log" "$work/before" "$work/setup"

echo "== Running ZORVEX_PREVIEW=1 Uninstall.exe -s -log=... (what the uninstall would do; changes nothing)"
set +e
ZORVEX_PREVIEW=1 $wine "$install/Uninstall.exe" -s "-log=$(winpath "$logs/preview.log")" >/dev/null 2>&1 </dev/null
rc=$?
set -e
zvx_wine_wait
echo "   exit code: $rc"
zvx_snapshot "$work/preview"
if [ -n "$(zvx_report "$work/setup" "$work/preview")" ]; then
    echo "   The preview changed the machine:"
    zvx_report "$work/setup" "$work/preview"
    log_status=1
else
    echo "   Registry and files are as they were. The preview's log:"
fi
sed 's/^/   /' "$logs/preview.log"

# As Intune or Configuration Manager would run it: silent, with its log and the
# exit codes of Windows Installer.
echo "== Running Uninstall.exe -s -log=... -exitcodes=msi (silent uninstall)"
set +e
$wine "$install/Uninstall.exe" -s "-log=$(winpath "$logs/uninstall.log")" -exitcodes=msi >/dev/null 2>&1 </dev/null
rc=$?
set -e
echo "   exit code: $rc ($(grep ' result ' "$logs/uninstall.log" | sed 's/^.* result //'), the log's result word and code)"
temp=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp | head -1)
if [ -f "$temp/Uninstall_Zvx.Bat" ]; then
    echo "== Self-removal batch file %TEMP%\\Uninstall_Zvx.Bat (it waits two seconds, then removes the rest):"
    tr -d '\r' < "$temp/Uninstall_Zvx.Bat" | sed 's/^/   /'
fi
i=0
while [ -e "$install" ] || [ -e "$temp/Uninstall_Zvx.Bat" ]; do
    i=$((i + 1))
    [ $i -le 300 ] || { echo "   the batch file did not finish within 30 s" >&2; break; }
    sleep 0.1
done
zvx_wine_wait

zvx_snapshot "$work/after"
echo "== The uninstall's change log, first lines and last:"
sed -n '1,4p' "$logs/uninstall.log" | sed 's/^/   /'
echo "   ... ($(wc -l < "$logs/uninstall.log") lines)"
tail -n 3 "$logs/uninstall.log" | sed 's/^/   /'
check_log "$logs/uninstall.log" "$work/setup" "$work/after"
zvx_log_changes "$logs/preview.log" > "$work/preview-changes.txt"
zvx_log_changes "$logs/uninstall.log" > "$work/uninstall-changes.txt"
if LC_ALL=C cmp -s "$work/preview-changes.txt" "$work/uninstall-changes.txt"; then
    echo "   The preview named exactly the changes the uninstall then made ($(wc -l < "$work/uninstall-changes.txt") lines)."
else
    echo "   The preview and the uninstall differ (< preview only, > uninstall only):"
    LC_ALL=C diff "$work/preview-changes.txt" "$work/uninstall-changes.txt" | grep '^[<>]' | sed 's/^/      /'
    log_status=1
fi
# What the program is meant to leave (README, "What the uninstall leaves"): parent keys
# that setup had to create for its handler keys and the registered application, which
# other programs share. The install folder's own files are meant to be gone. Anything
# else that differs from the state before setup is a fault.
shared_parents='^	HKEY_LOCAL_MACHINE\\Software\\Classes\\(\*|Drive|[Ff]older|exefile|lnkfile)(\\shellex(\\(ContextMenuHandlers|DragDropHandlers|PropertySheetHandlers))?)?$|^	HKEY_LOCAL_MACHINE\\Software\\RegisteredApplications$'
LC_ALL=C comm -3 "$work/before/registry.txt" "$work/after/registry.txt" > "$work/registry-diff.txt"
LC_ALL=C comm -3 "$work/before/files.txt" "$work/after/files.txt" > "$work/files-diff.txt"
grep -E "$shared_parents" "$work/registry-diff.txt" > "$work/by-design.txt" || true
grep -v -E "$shared_parents" "$work/registry-diff.txt" > "$work/unexpected.txt" || true
grep -v -E '^Program Files/Zorvex(/|$)' "$work/files-diff.txt" >> "$work/unexpected.txt" || true
echo "== What differs from the state before setup:"
gone=$(grep -c -E '^Program Files/Zorvex/' "$work/files-diff.txt" || true)
if grep -q -x 'Program Files/Zorvex' "$work/files-diff.txt"; then
    echo "   Removed, as the uninstall is meant to: C:\\Program Files\\Zorvex and the $gone files the installer put there."
fi
if [ -s "$work/by-design.txt" ]; then
    echo "   Left by design: parent keys that setup created and other programs share (the product's keys below them are gone):"
    sed -e 's/^	//' -e 's/^HKEY_LOCAL_MACHINE\\Software\\Classes/HKCR/' -e 's/^HKEY_LOCAL_MACHINE/HKLM/' -e 's/^/      /' \
        "$work/by-design.txt"
fi
if [ -s "$work/unexpected.txt" ]; then
    echo "   Left behind although the program is not meant to leave it (- before only, tab: after only):"
    sed 's/^/      /' "$work/unexpected.txt"
    status=1
else
    echo "   Nothing else: .zip and .7z belong to OtherArc again and .zip has its former new-file entry back; the"
    echo "   templates, shortcuts, program groups, App Paths, uninstall entry and product keys are gone."
    status=0
fi

if [ -f build/tests/render_dialogs.exe ]; then
    echo "== Pictures of the three dialogs (English):"
    shots="$root/build/demo-dialogs"
    rm -rf "$shots"
    mkdir -p "$shots"
    $wine build/tests/render_dialogs.exe "Z:$(printf '%s' "$shots" | tr / '\\')" en >/dev/null 2>&1 </dev/null || true
    for b in "$shots"/*.bmp; do
        [ -f "$b" ] || continue
        convert "$b" "${b%.bmp}.png" && rm -f "$b"
    done
    if ls "$shots"/*.png >/dev/null 2>&1; then
        ls -1 "$shots"/*.png | sed "s|^$root/|   |"
    else
        echo "   (none could be made)"
    fi
fi
[ "$log_status" -eq 0 ] || status=1
exit $status
