#!/bin/sh
# Makes (setup) or removes (cleanup) the settings tests' linked file:
# C:\zvx-settings-link\program\Zorvex.ini, a symbolic link to
# C:\zvx-settings-link\elsewhere\target.ini, which the test writes. Wine cannot
# make one itself, and shows a host symbolic link to a file as a plain file.
# Usage: settings_links.sh setup|cleanup RUN_DIR
set -eu
fixture="$2/prefix/drive_c/zvx-settings-link"
case "$1" in
    setup)
        rm -rf "$fixture"
        mkdir -p "$fixture/program" "$fixture/elsewhere"
        ln -s "$fixture/elsewhere/target.ini" "$fixture/program/Zorvex.ini"
        ;;
    cleanup)
        rm -rf "$fixture"
        ;;
    *) echo "usage: $0 setup|cleanup RUN_DIR" >&2; exit 2 ;;
esac
