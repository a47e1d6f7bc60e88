#!/bin/sh
# Makes (setup) or removes (cleanup) the tests' symbolic links below
# C:\zvx-link-fixture, all leading out of the folder that holds them:
#   Install\link, Install\dotted. (a name that only the extended-length form
#     reaches) and Trailing\link: folders, to Outside and TrailingTarget;
#   Help\zorvex.gid: a file, to HelpTarget\index.gid;
#   Programs\User\Zorvex and Programs\Common\Zorvex: program groups, to
#     GroupTarget\User and GroupTarget\Common;
#   Temp-link\Uninstall_Zvx.Bat and Temp-dangling\Uninstall_Zvx.Bat: files, to
#     Victim.txt and to the missing Nowhere.txt;
#   Temp-through-link: a temporary folder, to Temp-target;
#   Sized\through and Sized\linked.bin: a folder and a file, to SizedTarget and
#     SizedTarget\big.bin (3000 bytes), for the size of an install.
# Wine cannot make one itself; it shows a host symbolic link to a folder as a
# reparse point and one to a file as a plain file.
# Usage: program_links.sh setup|cleanup RUN_DIR
set -eu
fixture="$2/prefix/drive_c/zvx-link-fixture"
case "$1" in
    setup)
        rm -rf "$fixture"
        mkdir -p "$fixture/Install" "$fixture/Outside" "$fixture/Trailing" "$fixture/TrailingTarget" \
            "$fixture/Help" "$fixture/HelpTarget" "$fixture/Programs/User" "$fixture/Programs/Common" \
            "$fixture/GroupTarget/User" "$fixture/GroupTarget/Common"
        ln -s "$fixture/Outside" "$fixture/Install/link"
        ln -s "$fixture/Outside" "$fixture/Install/dotted."
        ln -s "$fixture/TrailingTarget" "$fixture/Trailing/link"
        printf 'outside' > "$fixture/HelpTarget/index.gid"
        ln -s "$fixture/HelpTarget/index.gid" "$fixture/Help/zorvex.gid"
        ln -s "$fixture/GroupTarget/User" "$fixture/Programs/User/Zorvex"
        ln -s "$fixture/GroupTarget/Common" "$fixture/Programs/Common/Zorvex"
        mkdir -p "$fixture/Temp-link" "$fixture/Temp-dangling" "$fixture/Temp-target"
        printf 'not the batch file\r\n' > "$fixture/Victim.txt"
        ln -s "$fixture/Victim.txt" "$fixture/Temp-link/Uninstall_Zvx.Bat"
        ln -s "$fixture/Nowhere.txt" "$fixture/Temp-dangling/Uninstall_Zvx.Bat"
        ln -s "$fixture/Temp-target" "$fixture/Temp-through-link"
        mkdir -p "$fixture/Sized" "$fixture/SizedTarget"
        head -c 3000 /dev/zero > "$fixture/SizedTarget/big.bin"
        ln -s "$fixture/SizedTarget" "$fixture/Sized/through"
        ln -s "$fixture/SizedTarget/big.bin" "$fixture/Sized/linked.bin"
        ;;
    cleanup)
        rm -rf "$fixture"
        ;;
    *) echo "usage: $0 setup|cleanup RUN_DIR" >&2; exit 2 ;;
esac
