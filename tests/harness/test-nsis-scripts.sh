#!/bin/sh
# The benchmark's NSIS scripts, made from real scratch trees and compared with the
# scripts written out by hand: the list's lines taken as Uninstall.exe takes them,
# folders told from files by the tree, the folders deepest first, "$" kept literal,
# and no script at all for a list that reaches outside its tree.
set -u
here=$(cd "$(dirname "$0")" && pwd)
make_scripts="$here/../../bench/nsis-scripts.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zvx-nsis-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect FILE: FILE must hold the UTF-8 byte-order mark and then stdin, byte for byte.
expect() {
    { printf '\357\273\277'; cat; } > "$scratch/expected"
    cmp -s "$scratch/expected" "$1" || { fail "$1 differs:"; diff "$scratch/expected" "$1"; }
}

# A tree with nested folders, an empty one, one listed with a trailing backslash,
# "$" in names, blanks at line ends, an empty line, a name in code page 1252 (e9: é)
# and a listed file that is not there.
t="$scratch/tree"
mkdir -p "$t/App/Help/de" "$t/App/Lang" "$t/Plug\$ins/x" "$t/Empty"
for f in App/zvx.exe App/Help/index.chm "App/Help/de/caf$(printf '\303\251').txt" "Plug\$ins/\$Pay.dll" ReadMe.txt; do
    echo data > "$t/$f"
done
printf 'App\r\nApp\\zvx.exe\r\nApp\\Help\\\r\nApp\\Help\\index.chm  \r\n\r\nApp\\Help\\de\r\nApp\\Help\\de\\caf\351.txt\r\nApp\\Lang\r\nApp\\Gone.dll\r\nEmpty\t\r\nPlug$ins\r\nPlug$ins\\$Pay.dll\r\nPlug$ins\\x\r\nReadMe.txt' \
    > "$t/Uninstall.lst"
mkdir "$scratch/out"
sh "$make_scripts" "$t" "$scratch/out" || fail "no scripts for a plain tree"
expect "$scratch/out/nsis-list.nsi" <<'EOF'
; Made by bench/nsis-scripts.sh for the uninstall benchmark.
Target amd64-unicode
Name "nsis-list"
OutFile "nsis-list-setup.exe"
RequestExecutionLevel admin
SilentInstall silent

Section
    WriteUninstaller "$EXEDIR\nsis-list.exe"
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\App\zvx.exe"
    Delete "$INSTDIR\App\Help\index.chm"
    Delete "$INSTDIR\App\Help\de\café.txt"
    Delete "$INSTDIR\App\Gone.dll"
    Delete "$INSTDIR\Plug$$ins\$$Pay.dll"
    Delete "$INSTDIR\ReadMe.txt"
    RMDir "$INSTDIR\App\Help\de"
    RMDir "$INSTDIR\App\Help"
    RMDir "$INSTDIR\App\Lang"
    RMDir "$INSTDIR\Plug$$ins\x"
    RMDir "$INSTDIR\App"
    RMDir "$INSTDIR\Empty"
    RMDir "$INSTDIR\Plug$$ins"
SectionEnd
EOF
# The other script differs only in its names and its uninstall section.
sed -e 's/nsis-rmdir/nsis-list/g' -e '/^    RMDir \/r "$INSTDIR"$/d' "$scratch/out/nsis-rmdir.nsi" > "$scratch/rmdir-as-list"
grep -v '^    [DR]' "$scratch/out/nsis-list.nsi" | cmp -s - "$scratch/rmdir-as-list" &&
    grep -qx '    RMDir /r "$INSTDIR"' "$scratch/out/nsis-rmdir.nsi" || fail "nsis-rmdir.nsi: $(cat "$scratch/out/nsis-rmdir.nsi")"

# A tree without any folder: every entry is a file.
mkdir "$scratch/flat" "$scratch/flat-out"
echo data > "$scratch/flat/a.txt"
printf 'a.txt\r\nb.txt\r\n' > "$scratch/flat/Uninstall.lst"
sh "$make_scripts" "$scratch/flat" "$scratch/flat-out" || fail "no scripts for a tree without folders"
sed -n '/^Section "Uninstall"$/,/^SectionEnd$/p' "$scratch/flat-out/nsis-list.nsi" > "$scratch/flat-section"
printf 'Section "Uninstall"\n    Delete "$INSTDIR\\a.txt"\n    Delete "$INSTDIR\\b.txt"\nSectionEnd\n' |
    cmp -s - "$scratch/flat-section" || { fail "tree without folders:"; cat "$scratch/flat-section"; }

# Entries that could name something outside the tree: no script is written.
for entry in '..\Windows' 'App\..\..\x' 'App\ . \x' '\Windows' '/etc' 'C:\Windows' 'C:x' 'App\zvx.exe:stream' '..'; do
    rm -rf "$scratch/refused"
    mkdir "$scratch/refused"
    printf 'App\r\n%s\r\n' "$entry" > "$t/Uninstall.lst"
    if sh "$make_scripts" "$t" "$scratch/refused" 2>/dev/null; then
        fail "a script was made for the entry $entry"
    fi
    [ -z "$(ls "$scratch/refused")" ] || fail "files were written for the entry $entry"
done

[ $failures -eq 0 ] && echo "nsis-scripts: all cases passed"
exit $((failures > 0))
