#!/bin/sh
# Makes (setup) or removes (cleanup) the uninstall tests' linked folder:
# C:\zvx-link-fixture\Install\link and ...\Install\dotted. (a name that only the
# extended-length form reaches), symbolic links to C:\zvx-link-fixture\Outside.
# Wine cannot make one itself; a host symbolic link shows in Wine as a reparse point.
# Usage: program_links.sh setup|cleanup RUN_DIR
set -eu
fixture="$2/prefix/drive_c/zvx-link-fixture"
case "$1" in
    setup)
        rm -rf "$fixture"
        mkdir -p "$fixture/Install" "$fixture/Outside"
        ln -s "$fixture/Outside" "$fixture/Install/link"
        ln -s "$fixture/Outside" "$fixture/Install/dotted."
        ;;
    cleanup)
        rm -rf "$fixture"
        ;;
    *) echo "usage: $0 setup|cleanup RUN_DIR" >&2; exit 2 ;;
esac
