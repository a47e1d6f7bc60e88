#!/bin/sh
# Makes (setup) or removes (cleanup) the uninstall tests' links:
# C:\zvx-link-fixture\Install\link and ...\Install\dotted. (a name that only the
# extended-length form reaches), symbolic links to C:\zvx-link-fixture\Outside;
# in the temporary folders Temp-link and Temp-dangling, Uninstall_Zvx.Bat as a
# symbolic link to the file Victim.txt beside them and to the missing Nowhere.txt;
# and Temp-through-link, a symbolic link to the folder Temp-target.
# Wine cannot make one itself; a host symbolic link to a folder shows in Wine as a
# reparse point, one to a file as the file.
# Usage: program_links.sh setup|cleanup RUN_DIR
set -eu
fixture="$2/prefix/drive_c/zvx-link-fixture"
case "$1" in
    setup)
        rm -rf "$fixture"
        mkdir -p "$fixture/Install" "$fixture/Outside"
        ln -s "$fixture/Outside" "$fixture/Install/link"
        ln -s "$fixture/Outside" "$fixture/Install/dotted."
        mkdir -p "$fixture/Temp-link" "$fixture/Temp-dangling" "$fixture/Temp-target"
        printf 'not the batch file\r\n' > "$fixture/Victim.txt"
        ln -s "$fixture/Victim.txt" "$fixture/Temp-link/Uninstall_Zvx.Bat"
        ln -s "$fixture/Nowhere.txt" "$fixture/Temp-dangling/Uninstall_Zvx.Bat"
        ln -s "$fixture/Temp-target" "$fixture/Temp-through-link"
        ;;
    cleanup)
        rm -rf "$fixture"
        ;;
    *) echo "usage: $0 setup|cleanup RUN_DIR" >&2; exit 2 ;;
esac
