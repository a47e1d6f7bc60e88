#!/bin/sh
# Writes the NSIS 3 scripts of the two uninstallers that the benchmark sets beside
# Uninstall.exe, for a generated install folder TREE:
#   OUT/nsis-list.nsi   the way an NSIS script removes what its installer listed: a
#                       Delete per listed file, then an RMDir per listed folder, deepest
#                       first (folders of equal depth in list order);
#   OUT/nsis-rmdir.nsi  RMDir /r on the install folder.
# Each is an installer whose only work is to write its uninstaller beside itself
# (nsis-list.exe, nsis-rmdir.exe); makensis builds it, and it is run once.
# Entries come from TREE/Uninstall.lst (ANSI code page 1252, as Wine has it here) as
# Uninstall.exe takes them: trailing blanks and separators dropped, empty lines skipped;
# which of them are folders is read from TREE itself. An entry that could name anything
# outside TREE (rooted, a drive, a colon, a component of dots and blanks such as "..") makes the script fail:
# these uninstallers run without the checks Uninstall.exe makes.
# Usage: nsis-scripts.sh TREE OUT
set -eu
[ $# -eq 2 ] || { echo "usage: nsis-scripts.sh TREE OUT" >&2; exit 2; }
tree=$1
out=$2
folders=$(mktemp "${TMPDIR:-/tmp}/zvx-nsis-folders.XXXXXX")
body=$(mktemp "${TMPDIR:-/tmp}/zvx-nsis-body.XXXXXX")
trap 'rm -f "$folders" "$body"' EXIT
(cd "$tree" && find . -mindepth 1 -type d) | sed 's|^\./||; s|/|\\|g' > "$folders"

iconv -f CP1252 -t UTF-8 "$tree/Uninstall.lst" | awk '
    FILENAME == ARGV[1] { folder[$0] = 1; next }
    {
        sub(/\r$/, ""); sub(/[ \t\\\/]+$/, "")
        if ($0 == "") next
        if ($0 ~ /^[\\\/]/ || index($0, ":") || $0 ~ /(^|[\\\/])[. ]+([\\\/]|$)/) {
            print "nsis-scripts: refusing list entry " $0 > "/dev/stderr"; bad = 1; exit 1
        }
        name = $0; gsub(/\$/, "$$", name)
        if ($0 in folder) {
            n++; dir[n] = name; depth[n] = gsub(/[\\\/]/, "&", name)
            if (depth[n] > deepest) deepest = depth[n]
        } else
            print "    Delete \"$INSTDIR\\" name "\""
    }
    END {
        if (bad) exit 1
        for (d = deepest; d >= 0; d--)
            for (i = 1; i <= n; i++)
                if (depth[i] == d) print "    RMDir \"$INSTDIR\\" dir[i] "\""
    }' "$folders" - > "$body"

# script NAME: the installer and uninstaller around the uninstall section read from stdin
script() {
    printf '\357\273\277'
    cat <<EOF
; Made by bench/nsis-scripts.sh for the uninstall benchmark.
Target amd64-unicode
Name "$1"
OutFile "$1-setup.exe"
RequestExecutionLevel admin
SilentInstall silent

Section
    WriteUninstaller "\$EXEDIR\\$1.exe"
SectionEnd

Section "Uninstall"
EOF
    cat
    echo "SectionEnd"
}
script nsis-list < "$body" > "$out/nsis-list.nsi"
echo '    RMDir /r "$INSTDIR"' | script nsis-rmdir > "$out/nsis-rmdir.nsi"
