#!/bin/sh
# Benchmarks of Uninstall.exe, each figure set against a reference measured side
# by side in the same run (these machines are shared and noisy: the ratios count,
# not the times). Builds a release configuration in build-bench/, makes a
# throwaway Wine prefix under /tmp and a folder for the benchmark's trees on the
# tmpfs /dev/shm, removes both at the end, and prints the figures as Markdown for
# bench/RESULTS.md. Nothing outside those three folders is touched (but for the
# nsis package, which the uninstall comparison installs when it is missing).
#
# ZVX_BENCH_ROUNDS (default 3) rounds of the uninstall comparison, five times that
# many of the start-up comparison and of the in-process figures (their runs are
# short, and a burst of load from elsewhere can double one of them).
# ZVX_BENCH_PARTS (default all: "uninstall calls startup data size") chooses parts.
# ZVX_BENCH_LOGS, when set, names a folder that keeps the relay logs of the call
# count (the figures' breakdown can then be read from them).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${ZVX_BENCH_ROUNDS:-3}
parts=" ${ZVX_BENCH_PARTS:-uninstall calls startup data size} "
part() { case "$parts" in *" $1 "*) return 0 ;; *) return 1 ;; esac; }

# The uninstall comparison sets the uninstallers that NSIS 3 builds beside the program.
if part uninstall; then ./deps.sh nsis; else ./deps.sh; fi
build=$root/build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZVX_BUILD_TESTS=OFF -DZVX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 >/dev/null

work=$(mktemp -d /tmp/zvx-bench.XXXXXX)
# The trees live in memory: the disk's write-back of one contender's tree must not
# decide another's figure.
shm=$(mktemp -d /dev/shm/zvx-bench.XXXXXX)
. "$root/tools/wine-env.sh"
zvx_wine_use "$work"
wine=$zvx_wine
cleanup() {
    zvx_wine_end
    if [ -n "${ZVX_BENCH_LOGS:-}" ] && ls "$work"/relay*.log >/dev/null 2>&1; then
        mkdir -p "$ZVX_BENCH_LOGS" && cp "$work"/relay*.log "$work/relay.lst" "$ZVX_BENCH_LOGS/" || true
    fi
    rm -rf "$work" "$shm"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Setup mode makes dialogs, which need a display: one of our own.
zvx_xvfb_start
echo "Making a throwaway Wine prefix in $WINEPREFIX" >&2
zvx_prefix_make
zvx_wineserver_keep

bench_win='C:\zvx-bench'
bench_dir="$WINEPREFIX/drive_c/zvx-bench"
# C:\zvx-bench is a link to the tmpfs folder. Uninstall.exe refuses entries reached
# through a link below its install folder, not an install folder that lies in one.
ln -s "$shm" "$bench_dir"
cp "$build"/bench/*.exe "$build/Uninstall.exe" "$bench_dir/"
figures="$work/figures.txt"
: > "$figures"
notes="$work/notes.txt"
: > "$notes"

# run_quiet LOG COMMAND...: Wine's background processes must not hold a pipe of
# ours open, so output goes through a file.
run_quiet() {
    log=$1; shift
    "$@" >"$log" 2>&1 </dev/null
}

# timed NAME ROUND COMMAND LINE: runs the command line under the timer, ended after
# $time_limit seconds, and records the elapsed milliseconds; last_exit is the child's
# exit code, or "none" (and no figure) when the timer could not measure it.
time_limit=600
timed() {
    name=$1; round=$2; shift 2
    sync
    last_exit=none
    if ! run_quiet "$work/timer.out" $wine "$bench_win\\zvx_bench_timer.exe" -t "$time_limit" -- "$@"; then
        echo "$name, round $round: $(tr -d '\r' < "$work/timer.out" | head -n 1)" >> "$notes"
        return 0
    fi
    line=$(tr -d '\r' < "$work/timer.out" | grep '^elapsed_ms=' | tail -n 1)
    ms=${line#elapsed_ms=}; ms=${ms%% *}
    echo "$name $round $ms" >> "$figures"
    last_exit=${line##*exit=}
}

# The uninstaller hands over to a batch file in the temporary folder, which ends
# two seconds later at the earliest; the next measurement must not share the CPU with it.
wait_for_batch() {
    i=0
    while find "$WINEPREFIX/drive_c/users" -name Uninstall_Zvx.Bat 2>/dev/null | grep -q .; do
        i=$((i + 1))
        if [ $i -gt 300 ]; then
            echo "the self-removal batch file did not finish within 60 s" >> "$notes"
            return 0
        fi
        sleep 0.2
    done
}

# Entries of a generated tree still on disk (the list itself not counted).
left_in() {
    [ -d "$1" ] || { echo 0; return; }
    find "$1" -mindepth 1 ! -name Uninstall.lst | wc -l | tr -d ' '
}

# Written data goes to disk before any timing starts, so that no contender pays
# for the write-back of the trees.
make_tree() {
    run_quiet "$work/tree.out" $wine "$bench_win\\zvx_bench_tree.exe" "$@" ||
        { cat "$work/tree.out" >&2; exit 1; }
    sync
}

# The first start of each program in a new prefix loads its libraries from disk;
# that start belongs to no round.
run_quiet "$work/warm.out" $wine "$bench_win\\zvx_bench_timer.exe" -t 60 -- "$bench_win\\Uninstall.exe" -x || true
run_quiet "$work/warm.out" $wine "$bench_win\\zvx_bench_timer.exe" -t 60 -- "$bench_win\\zvx_bench_floor.exe" \
    "$bench_win\\none" || true
run_quiet "$work/warm.out" $wine "$bench_win\\zvx_bench_timer.exe" -t 60 -- cmd /c rem || true

# ---- 1. Uninstall of a generated install folder ---------------------------
# Beside Uninstall.exe, the uninstallers that NSIS 3 builds for the same folder, one
# from its list and one removing it whole, built from a tree made as the rounds' trees
# are. Started with _?= and the install folder, an NSIS uninstaller works in place,
# as Uninstall.exe does; without it, it would copy itself to the temporary folder,
# start that copy and end at once, and its time would say nothing.
entries=0
uninstall_void=""
nsis_void=""
kinds="floor uninstall nsis-list nsis-rmdir rd"
if part uninstall; then
    echo "Building the NSIS uninstallers" >&2
    make_tree "$bench_win\\nsis-source"
    mkdir -p "$work/nsis" "$bench_dir/nsis" "$bench_dir/nsis-warm"
    sh "$root/bench/nsis-scripts.sh" "$bench_dir/nsis-source" "$work/nsis"
    cp "$bench_dir/nsis-source/Uninstall.lst" "$work/nsis/source.lst"
    rm -rf "$bench_dir/nsis-source"
    for n in nsis-list nsis-rmdir; do
        run_quiet "$work/makensis.out" makensis -V2 "$work/nsis/$n.nsi" || { cat "$work/makensis.out" >&2; exit 1; }
        cp "$work/nsis/$n-setup.exe" "$bench_dir/nsis/"
        # The installer's only work: writing the uninstaller beside itself.
        run_quiet "$work/nsis.out" $wine "$bench_win\\nsis\\$n-setup.exe" /S || true
        [ -f "$bench_dir/nsis/$n.exe" ] || { echo "the NSIS installer $n-setup.exe wrote no $n.exe" >&2; exit 1; }
        run_quiet "$work/warm.out" $wine "$bench_win\\zvx_bench_timer.exe" -t 60 -- "$bench_win\\nsis\\$n.exe" /S \
            "_?=$bench_win\\nsis-warm" || true
    done
    nsis_version=$(makensis -VERSION)
fi
# rotate N WORDS...: the words turned N places to the left
rotate() {
    turns=$1; shift
    while [ "$turns" -gt 0 ]; do
        first=$1; shift; set -- "$@" "$first"; turns=$((turns - 1))
    done
    echo "$*"
}
r=1
part uninstall && echo "Uninstall of 11,000 entries: $rounds rounds (cmd's rd is slow under Wine)" >&2
while part uninstall && [ $r -le "$rounds" ]; do
    for kind in $kinds; do
        make_tree "$bench_win\\$kind-$r"
        cmp -s "$work/nsis/source.lst" "$bench_dir/$kind-$r/Uninstall.lst" ||
            { echo "the generator made different trees" >&2; exit 1; }
    done
    entries=$(tr -d '\r' < "$work/tree.out" | sed -n 's/^entries=\([0-9]*\).*/\1/p')
    cp "$build/Uninstall.exe" "$bench_dir/uninstall-$r/"
    cp "$bench_dir/nsis/nsis-list.exe" "$bench_dir/nsis-list-$r/"
    cp "$bench_dir/nsis/nsis-rmdir.exe" "$bench_dir/nsis-rmdir-$r/"
    # The order turns round by round, so that no contender always runs first.
    for kind in $(rotate $(((r - 1) % 5)) $kinds); do
        case $kind in
            floor)
                timed floor "$r" "$bench_win\\zvx_bench_floor.exe" "$bench_win\\floor-$r"
                [ "$last_exit" = 0 ] || { echo "the floor could not remove its tree" >&2; exit 1; } ;;
            uninstall)
                timed uninstall "$r" "$bench_win\\uninstall-$r\\Uninstall.exe" -s
                wait_for_batch
                left=$(left_in "$bench_dir/uninstall-$r")
                # Uninstall.exe itself goes with the batch file; anything else left means
                # the run did not do the work, and its time says nothing.
                [ "$left" -le 1 ] || uninstall_void="Uninstall.exe -s left $left of $entries entries" ;;
            nsis-list | nsis-rmdir)
                timed "$kind" "$r" "$bench_win\\$kind-$r\\$kind.exe" /S "_?=$bench_win\\$kind-$r"
                # The running uninstaller cannot remove itself.
                left=$(left_in "$bench_dir/$kind-$r")
                [ "$last_exit" = 0 ] && [ "$left" -le 1 ] ||
                    nsis_void="$kind.exe /S left $left of $entries entries (exit code $last_exit)" ;;
            rd)
                timed rd "$r" cmd /c rd /s /q "$bench_win\\rd-$r"
                [ ! -d "$bench_dir/rd-$r" ] || { echo "rd /s /q left its tree" >&2; exit 1; } ;;
        esac
    done
    for kind in $kinds; do
        rm -rf "$bench_dir/$kind-$r"
    done
    r=$((r + 1))
done

# ---- 2. Passes and file-system calls per entry, from Wine's relay log -------
# A smaller tree of the same depth: the passes depend on the depth, the calls per
# entry on the list's shape, and a relay log of 11,000 entries is needlessly large.
# Only calls from the program's own module (RelayFromInclude) into kernel32 and
# kernelbase (RelayInclude) are logged; bench/count-calls.sh counts a call for an
# entry when its path argument names the entry or the entry's numbered .tmp name,
# in either the plain or the extended-length form, or when its first argument is a
# handle that CreateFileW returned for such a path, until that handle is closed.
# The uninstaller runs under the timer, which bounds it; what the timer's runtime
# calls is logged too, but names no entry.
relay_key='HKCU\Software\Wine\Debug'
if part calls; then
    echo "Counting file-system calls under WINEDEBUG=+relay" >&2
    $wine reg add "$relay_key" /v RelayFromInclude /d 'Uninstall.exe;zvx_bench_floor.exe' /f >/dev/null 2>&1
    $wine reg add "$relay_key" /v RelayInclude /d 'kernel32.*;kernelbase.*' /f >/dev/null 2>&1
    make_tree "$bench_win\\relay-floor" 1000 100 6
    make_tree "$bench_win\\relay-uninstall" 1000 100 6
    cp "$build/Uninstall.exe" "$bench_dir/relay-uninstall/"
    cp "$bench_dir/relay-floor/Uninstall.lst" "$work/relay.lst"
    WINEDEBUG=+pid,+relay run_quiet "$work/relay-floor.log" $wine "$bench_win\\zvx_bench_floor.exe" \
        "$bench_win\\relay-floor" || true
    WINEDEBUG=+pid,+relay run_quiet "$work/relay-uninstall.log" $wine "$bench_win\\zvx_bench_timer.exe" -t 600 \
        -- "$bench_win\\relay-uninstall\\Uninstall.exe" -s || true
    wait_for_batch
    # A file that can be neither deleted nor renamed (held open without delete sharing
    # by the timer) is to be scheduled for deletion at restart once, not once per pass.
    make_tree "$bench_win\\relay-locked" 20 4 3
    cp "$build/Uninstall.exe" "$bench_dir/relay-locked/"
    locked=$(tr -d '\r' < "$bench_dir/relay-locked/Uninstall.lst" | grep -m 1 'f[0-9]*\.dat$')
    locked_name=${locked##*\\}
    WINEDEBUG=+pid,+relay run_quiet "$work/relay-locked.log" $wine "$bench_win\\zvx_bench_timer.exe" \
        -t 600 -l "$bench_win\\relay-locked\\$locked" -- "$bench_win\\relay-locked\\Uninstall.exe" -s || true
    wait_for_batch
    # MoveFileExW with no target: the scheduling call.
    scheduled=$(grep -c "Call KERNEL32\.MoveFileExW([0-9a-f]* L\"[^\"]*$locked_name[^\"]*\",0*," "$work/relay-locked.log" || true)
    locked_void=""
    locked_left=$(left_in "$bench_dir/relay-locked")
    locked_depth=$(printf '%s' "$locked" | tr -cd '\\' | wc -c | tr -d ' ')
    [ -f "$bench_dir/relay-locked/$(printf '%s' "$locked" | tr '\\' /)" ] && [ "$locked_left" -le $((locked_depth + 2)) ] ||
        locked_void="Uninstall.exe -s left $locked_left entries of a tree where only $locked and its folders must stay"
    [ "$scheduled" -gt 0 ] || [ -n "$locked_void" ] || locked_void="no scheduling call was seen"
    relay_floor=$(sh "$root/bench/count-calls.sh" "$bench_win\\relay-floor" "$work/relay.lst" "$work/relay-floor.log")
    relay_uninstall=$(sh "$root/bench/count-calls.sh" "$bench_win\\relay-uninstall" "$work/relay.lst" "$work/relay-uninstall.log")
    relay_left=$(left_in "$bench_dir/relay-uninstall")
    $wine reg delete "$relay_key" /v RelayFromInclude /f >/dev/null 2>&1 || true
    $wine reg delete "$relay_key" /v RelayInclude /f >/dev/null 2>&1 || true
    rm -rf "$bench_dir/relay-floor" "$bench_dir/relay-uninstall" "$bench_dir/relay-locked"
fi

# ---- 3. Setup and uninstall of the sample folder against the start-up floor --
# The sample: the program, a language file, a stand-in for the archiver and a few
# files and folders, all listed in Uninstall.lst, as are the two new-archive
# templates that setup writes beside the program.
sample_language() {
    printf '***messages***\r\n:STRINGS\r\nIDS_UNINSTALLZVX "Uninstall Zorvex"\r\n'
}
make_sample() {
    s="$bench_dir/$1"
    mkdir -p "$s/Formats" "$s/Help"
    cp "$build/Uninstall.exe" "$s/"
    cp "$WINEPREFIX/drive_c/windows/system32/notepad.exe" "$s/Zorvex.exe"
    printf 'Zorvex archiver\r\n' > "$s/ReadMe.txt"
    printf 'plug-in\r\n' > "$s/Formats/zvxfmt.dat"
    printf 'help\r\n' > "$s/Help/zorvex.chm"
    sample_language > "$s/uninstall.lng"
    printf 'Zorvex.exe\r\nUninstall.exe\r\nuninstall.lng\r\nReadMe.txt\r\nFormats\r\nFormats\\zvxfmt.dat\r\nHelp\r\nHelp\\zorvex.chm\r\nzvxnew.dat\r\nzipnew.dat\r\n' \
        > "$s/Uninstall.lst"
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zorvex archiver'
startup_rounds=$((rounds * 5))
# A run this short that takes a minute waits for an answer nobody gives.
time_limit=60
setup_void=""
sample_void=""
# The reference for what the window system costs: the program's start-up and its
# two dialogs, closed at once, with no work; the same language file beside it.
if part startup; then
    mkdir -p "$bench_dir/dialogs"
    cp "$build/bench/zvx_bench_dialogs.exe" "$bench_dir/dialogs/"
    sample_language > "$bench_dir/dialogs/uninstall.lng"
    run_quiet "$work/warm.out" $wine "$bench_win\\zvx_bench_timer.exe" -t 60 -- "$bench_win\\dialogs\\zvx_bench_dialogs.exe" || true
fi
r=1
part startup && echo "Start-up, setup and uninstall of the sample folder: $startup_rounds rounds" >&2
while part startup && [ $r -le "$startup_rounds" ]; do
    make_sample "sample-$r"
    sample="$bench_win\\sample-$r"
    timed startup "$r" "$sample\\Uninstall.exe" -x
    timed dialogs "$r" "$bench_win\\dialogs\\zvx_bench_dialogs.exe"
    timed setup "$r" "$sample\\Uninstall.exe" -setup -s
    $wine reg query "$uninstall_key" >/dev/null 2>&1 ||
        setup_void="Uninstall.exe -setup -s made no entry in the list of installed programs"
    timed sample_uninstall "$r" "$sample\\Uninstall.exe" -s
    wait_for_batch
    [ "$(left_in "$bench_dir/sample-$r")" -le 1 ] ||
        sample_void="Uninstall.exe -s left the sample folder's files in place"
    ! $wine reg query "$uninstall_key" >/dev/null 2>&1 ||
        sample_void="Uninstall.exe -s left the entry in the list of installed programs"
    rm -rf "$bench_dir/sample-$r"
    r=$((r + 1))
done

# ---- 4. Settings file and language file, in process -------------------------
data_void=""
: > "$work/data.txt"
if part data; then
    echo "Settings and language files in process" >&2
    mkdir -p "$bench_dir/data"
    cp "$build/bench/zvx_bench_data.exe" "$bench_dir/data/"
    run_quiet "$work/data.out" $wine "$bench_win\\data\\zvx_bench_data.exe" "$startup_rounds" ||
        data_void="zvx_bench_data failed: $(tr -d '\r' < "$work/data.out" | grep -v '=' | head -n 1)"
    tr -d '\r' < "$work/data.out" | grep '=' > "$work/data.txt" || true
fi
data() { sed -n "s/^$1=//p" "$work/data.txt"; }

# ---- 5. Release size ---------------------------------------------------------
# The file as the release build leaves it, which is the file shipped.
size=$(wc -c < "$build/Uninstall.exe" | tr -d ' ')
if x86_64-w64-mingw32-objdump -h "$build/Uninstall.exe" | grep -q '\.debug_' ||
    x86_64-w64-mingw32-nm "$build/Uninstall.exe" 2>/dev/null | grep -q .; then
    stripped="not stripped"
else
    stripped="stripped"
fi
imports=$(x86_64-w64-mingw32-objdump -p "$build/Uninstall.exe" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' |
    tr 'A-Z\n' 'a-z ' | sed 's/ $//')

# ---- Report --------------------------------------------------------------------
median() { # median NAME: of the recorded milliseconds
    awk -v n="$1" '$1 == n { v[++c] = $3 } END {
        if (c == 0) { print "-"; exit }
        for (i = 1; i <= c; i++) for (j = i + 1; j <= c; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
        printf "%.1f\n", (c % 2) ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2 }' "$figures"
}
ratio() { # ratio NAME REFERENCE: median over the rounds of NAME / REFERENCE of the same round
    awk -v n="$1" -v d="$2" '$1 == n { a[$2] = $3 } $1 == d { b[$2] = $3 } END {
        c = 0; for (r in a) if ((r in b) && b[r] > 0) v[++c] = a[r] / b[r]
        if (c == 0) { print "-"; exit }
        for (i = 1; i <= c; i++) for (j = i + 1; j <= c; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
        printf "%.2f\n", (c % 2) ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2 }' "$figures"
}
rounds_of() { # rounds_of NAME REFERENCE: each round's ratio, in round order
    awk -v n="$1" -v d="$2" '$1 == n { a[$2] = $3 } $1 == d { b[$2] = $3 } END {
        out = ""; for (r = 1; r in a || r in b; r++) if ((r in a) && (r in b) && b[r] > 0) out = out sprintf("%s%.2f", out == "" ? "" : " ", a[r] / b[r])
        print (out == "" ? "-" : out) }' "$figures"
}
verdict() { # verdict VALUE LIMIT VOID_REASON [UNIT]
    if [ -n "$3" ]; then echo "not yet measurable: $3"
    elif [ "$1" = "-" ]; then echo "not measured"
    else awk -v v="$1" -v l="$2" -v u="${4:-}" 'BEGIN { if (v <= l) print "met"; else printf "missed by %.2f%s\n", v - l, u }'
    fi
}
per() { awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.2f\n", a / b * s }'; }

# data_table FILE OPERATION...: the in-process figures of one file
data_table() {
    file=$1; shift
    mb=$(awk -v b="$(data "${file}_bytes")" 'BEGIN { printf "%.3f", b / 1048576 }')
    thousands=$(awk -v e="$(data "${file}_entries")" 'BEGIN { print e / 1000 }')
    raw=$(data "${file}_raw_read_ms")
    echo "| operation | ms | ms per MB | ms per thousand entries | ratio to the raw read |"
    echo "|---|---|---|---|---|"
    for op in "$@"; do
        v=$(data "${file}_${op}_ms")
        echo "| $(echo "$op" | tr '_' ' ') | $v | $(per "$v" "$mb" 1) | $(per "$v" "$thousands" 1) | $(per "$v" "$raw" 1) |"
    done
}
# reference_row LABEL NAME REFERENCE VOID_REASON: a contender without a target
reference_row() {
    if [ -n "$4" ]; then
        echo "| $1 | $(median "$2") | - | | reference | not yet measurable: $4 |"
    else
        echo "| $1 | $(median "$2") | $(ratio "$2" "$3") | $(rounds_of "$2" "$3") | reference | |"
    fi
}
# versus_row LABEL NAME REFERENCE VOID_REASON
versus_row() {
    if [ -n "$4" ]; then echo "| $1 | not yet measurable: $4 | |"
    else echo "| $1 | $(ratio "$2" "$3") | $(rounds_of "$2" "$3") |"
    fi
}
# target_row LABEL NAME REFERENCE LIMIT VOID_REASON: no ratio for a run that did not do the work
target_row() {
    if [ -n "$5" ]; then row_ratio="-"; else row_ratio=$(ratio "$2" "$3"); fi
    echo "| $1 | $(median "$2") | $row_ratio | $(rounds_of "$2" "$3") | at most $4 | $(verdict "$row_ratio" "$4" "$5") |"
}

echo
echo "## Figures of $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- machine: \`$(uname -a)\`, $(nproc) processors"
echo "- Wine: $($wine --version 2>/dev/null), compiler: $(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo unknown)"
# The product's code is everything but bench/, the tests and the Markdown files:
# its last commit names what was measured.
product=$(git -C "$root" log -1 --format=%h -- . ':!bench' ':!tests' ':!*.md' 2>/dev/null || echo unknown)
[ -z "$(git -C "$root" status --porcelain -- . ':!bench' ':!tests' ':!*.md' 2>/dev/null)" ] ||
    product="$product with uncommitted changes"
echo "- product code: commit $product, release build, $rounds rounds (start-up and in-process: $startup_rounds), medians"
echo "- trees: on $(df --output=fstype "$shm" | tail -n 1) (\`C:\\zvx-bench\` is a link to a folder in /dev/shm)"

if part uninstall; then
    echo
    echo "### Uninstall of a generated install folder ($entries entries: 10,000 files in 1,000 folders up to 6 deep)"
    echo
    echo "| contender | median ms | ratio to the floor (median of rounds) | ratio in each round | target | status |"
    echo "|---|---|---|---|---|---|"
    echo "| floor: one delete call per entry, deepest first | $(median floor) | 1.00 | | | |"
    target_row '`Uninstall.exe -s`' uninstall floor 2.5 "$uninstall_void"
    reference_row "NSIS $nsis_version uninstaller from the same list (\`Delete\` per file, then \`RMDir\` per folder, deepest first), \`/S _?=\`" nsis-list floor "$nsis_void"
    reference_row "NSIS $nsis_version uninstaller with \`RMDir /r\`, \`/S _?=\`" nsis-rmdir floor "$nsis_void"
    reference_row '`cmd /c rd /s /q`' rd floor ""
    echo
    echo "\`Uninstall.exe -s\` against the NSIS uninstallers, in the same rounds (below 1: Uninstall.exe is faster):"
    echo
    echo "| against | ratio of \`Uninstall.exe -s\` (median of rounds) | ratio in each round |"
    echo "|---|---|---|"
    void="$uninstall_void${uninstall_void:+${nsis_void:+; }}$nsis_void"
    versus_row "the NSIS uninstaller from the same list" uninstall nsis-list "$void"
    versus_row "the NSIS uninstaller with \`RMDir /r\`" uninstall nsis-rmdir "$void"
fi

if part calls; then
    set -- $relay_floor
    f_calls=$1; f_entries=$4
    set -- $relay_uninstall
    u_calls=$1; u_passes=$2; u_touched=$3; u_entries=$4; shift 4
    u_breakdown="$*"
    relay_void=""
    [ "$relay_left" -le 1 ] || relay_void="Uninstall.exe -s left $relay_left of $u_entries entries"
    # The floor makes one call per entry by construction: any other count means the
    # counting, not the program, is wrong.
    [ "$f_calls" = "$f_entries" ] ||
        relay_void="${relay_void:+$relay_void; }the count is off: the floor made $f_calls counted calls over $f_entries entries"
    echo
    echo "### Passes and file-system calls per listed entry"
    echo
    echo "Counted from Wine's relay log over a tree of $u_entries entries (1,000 files in 100 folders up to 6 deep)."
    echo
    echo "| run | passes over the list | calls per entry | entries touched | calls by function |"
    echo "|---|---|---|---|---|"
    echo "| floor (checks the count) | one sweep, deepest first | $(per "$f_calls" "$f_entries" 1) | | |"
    if [ -n "$relay_void" ]; then
        echo "| \`Uninstall.exe -s\` | not yet measurable: $relay_void | | | |"
    else
        echo "| \`Uninstall.exe -s\` | $u_passes | $(per "$u_calls" "$u_entries" 1) | $u_touched | ${u_breakdown:--} |"
    fi
    echo
    if [ -n "$locked_void" ]; then
        printf '%s\n' "A file that can be neither deleted nor renamed: not yet measurable: $locked_void."
    else
        printf '%s\n' "A file that can be neither deleted nor renamed ($locked, held open without delete sharing) was scheduled for deletion at restart $scheduled times; target: once ($(verdict "$scheduled" 1 "" " schedules"))."
    fi
fi

if part startup; then
    echo
    echo "### Setup and uninstall of the sample folder against the program's start-up"
    echo
    echo "| run | median ms | ratio to \`Uninstall.exe -x\` (median of rounds) | ratio in each round | target | status |"
    echo "|---|---|---|---|---|---|"
    echo "| \`Uninstall.exe -x\` (start-up floor) | $(median startup) | 1.00 | | | |"
    echo "| start-up and the two dialogs, closed at once, no work (reference) | $(median dialogs) | $(ratio dialogs startup) | $(rounds_of dialogs startup) | reference | |"
    target_row '`Uninstall.exe -setup -s`' setup startup 2.0 "$setup_void"
    target_row '`Uninstall.exe -s`' sample_uninstall startup 2.0 "$sample_void"
fi

if part data; then
    echo
    echo "### Language file and settings file, in process (medians of $startup_rounds rounds)"
    echo
    [ -z "$data_void" ] || { echo "not measured: $data_void"; echo; }
    if [ -n "$(data language_load_ms)" ]; then
        echo "Language file: $(data language_bytes) bytes of UTF-16, $(data language_entries) entries; $(data language_lookups) look-ups."
        echo
        data_table language raw_read load lookups
    else
        echo "Language file: no figures."
    fi
    if [ -n "$(data settings_load_ms)" ]; then
        echo
        echo "Settings file: $(data settings_bytes) bytes of UTF-16, $(data settings_entries) entries; $(data settings_lookups) look-ups."
        echo
        data_table settings raw_read load lookups save raw_write
    fi
fi

if part size; then
    size_kb=$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1024 }')
    echo
    echo "### Release size"
    echo
    echo "| file | bytes | KB | target | status |"
    echo "|---|---|---|---|---|"
    echo "| \`Uninstall.exe\` as built ($stripped, static; imports: $imports) | $size | $size_kb | at most 256 KB | $(verdict "$size_kb" 256 "" " KB") |"
fi
if [ -s "$notes" ]; then
    echo
    sed 's/^/- /' "$notes"
fi
