#!/bin/sh
# The shared Wine environment's display handling, with real Xvfb servers and with
# stand-ins for an X server that hangs or fails: every wait is bounded, and a stop
# ends the run's own processes and nothing else.
set -u
. "$(dirname "$0")/../../tools/wine-env.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zvx-wine-env-test.XXXXXX")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
    for s in "$scratch"/*/; do
        [ -f "$s/xvfb.pid" ] && ZVX_WINE_STATE=${s%/} zvx_xvfb_stop
    done
    [ -f "$scratch/other.pid" ] && kill "$(cat "$scratch/other.pid")" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# An X server that never reports a display is stopped after the bound, with a clear message.
mkdir "$scratch/hang"
printf '#!/bin/sh\necho $$ > "%s"\nexec sleep 300\n' "$scratch/hang.pid" > "$scratch/hang.sh"
chmod +x "$scratch/hang.sh"
zvx_wine_use "$scratch/hang"
began=$(date +%s)
ZVX_XVFB=$scratch/hang.sh ZVX_XVFB_WAIT=2
if zvx_xvfb_start 2>"$scratch/hang.err"; then
    fail "a server that reports no display was taken as started"
fi
took=$(($(date +%s) - began))
[ "$took" -ge 2 ] && [ "$took" -le 9 ] || fail "gave up on the hanging server after $took s, not after about 2"
grep -q "reported no display within 2 s; stopped it" "$scratch/hang.err" || fail "message: $(cat "$scratch/hang.err")"
sleep 0.2
! zvx_alive "$(cat "$scratch/hang.pid")" || fail "the hanging server still runs"
[ ! -f "$scratch/hang/display" ] || fail "a display was recorded for the hanging server"

# One that ends at once is reported at once, not after the bound.
mkdir "$scratch/dies"
zvx_wine_use "$scratch/dies"
began=$(date +%s)
ZVX_XVFB=false ZVX_XVFB_WAIT=20
zvx_xvfb_start 2>"$scratch/dies.err" && fail "a server that ended was taken as started"
[ $(($(date +%s) - began)) -le 5 ] || fail "waited for a server that had ended"
grep -q "^wine-env: false ended before it reported a display" "$scratch/dies.err" || fail "message: $(cat "$scratch/dies.err")"

unset ZVX_XVFB ZVX_XVFB_WAIT

# Two real servers: each run gets its own display, and stopping one leaves the other.
for run in one two; do
    mkdir "$scratch/$run"
    zvx_wine_use "$scratch/$run"
    zvx_xvfb_start || fail "Xvfb did not start for run $run"
    [ "$(cat "$scratch/$run/display")" = "$DISPLAY" ] || fail "DISPLAY $DISPLAY is not the recorded $(cat "$scratch/$run/display")"
done
one_pid=$(cut -d ' ' -f 1 "$scratch/one/xvfb.pid")
two_pid=$(cut -d ' ' -f 1 "$scratch/two/xvfb.pid")
one_socket=/tmp/.X11-unix/X$(tr -dc 0-9 < "$scratch/one/display")
two_socket=/tmp/.X11-unix/X$(tr -dc 0-9 < "$scratch/two/display")
[ "$one_socket" != "$two_socket" ] || fail "both runs were given $one_socket"
[ -S "$one_socket" ] && [ -S "$two_socket" ] || fail "no X socket at $one_socket or $two_socket"
ZVX_WINE_STATE=$scratch/one zvx_xvfb_stop
sleep 0.2
! zvx_alive "$one_pid" || fail "the stopped Xvfb still runs"
zvx_alive "$two_pid" && [ -S "$two_socket" ] || fail "stopping one run's Xvfb ended the other's"
ZVX_WINE_STATE=$scratch/two zvx_xvfb_stop

# A recorded pid that now names another process (pids are reused) is left alone.
sleep 60 &
echo $! > "$scratch/other.pid"
other=$!
echo "$other 1" > "$scratch/reused.pid"
zvx_end_recorded "$scratch/reused.pid"
zvx_alive "$other" || fail "a process with the recorded pid but another start time was ended"
zvx_record "$other" "$scratch/own.pid"
zvx_end_recorded "$scratch/own.pid"
sleep 0.2
! zvx_alive "$other" || fail "the recorded process itself was not ended"
[ ! -f "$scratch/own.pid" ] || fail "the record was kept after its process ended"

[ $failures -eq 0 ] && echo "wine-env: all cases passed"
exit $((failures > 0))
