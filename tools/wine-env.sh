# The Wine environment that every script of this project runs Windows programs in,
# sourced (". tools/wine-env.sh"; POSIX sh): Debian's wine64 and its wineserver,
# Wine's own chatter off, and nothing written on the host (winemenubuilder would add
# menu entries and file associations to the Linux desktop; mscoree and mshtml would
# offer to download Mono and Gecko).
#
# A run keeps what it makes in one state folder of its own:
#   STATE/prefix          the throwaway Wine prefix
#   STATE/display         ":N", the run's Xvfb display
#   STATE/xvfb.pid        that Xvfb, as "PID START" (START: its start time in clock ticks)
#   STATE/wineserver.pid  the prefix's wineserver, the same way, when the run keeps one
# Processes are ended by their recorded pid, and only while that pid still names the
# process that was started (same start time): on a shared machine a pid is soon reused,
# and another engineer's Xvfb or wineserver must never be hit.
#
# ZVX_XVFB_WAIT (default 30) bounds, in seconds, the wait for Xvfb to report its display;
# ZVX_WINE_WAIT (default 300) the waits for Wine (a new prefix takes 15 s on an idle
# machine, several times that on a loaded one). ZVX_XVFB names the X server to start
# (default Xvfb; the harness's own tests put stand-ins there).

zvx_wine=/usr/lib/wine/wine64
zvx_wineserver=/usr/lib/wine/wineserver
zvx_wine_overrides="winemenubuilder.exe=d;mscoree=d;mshtml=d"

# zvx_wine_use STATE: this shell and its children use STATE's prefix (and display, if
# one was started), whichever process made them.
zvx_wine_use() {
    ZVX_WINE_STATE=$1
    export WINEPREFIX="$1/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="$zvx_wine_overrides"
    if [ -f "$1/display" ]; then
        DISPLAY=$(cat "$1/display")
        export DISPLAY
    fi
}

# zvx_alive PID: the process runs (a zombie, ended but not yet reaped, does not).
zvx_alive() {
    kill -0 "$1" 2>/dev/null || return 1
    zvx_state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d ' ' -f 1)
    [ "$zvx_state" != Z ]
}

# zvx_started PID: the process's start time since boot, in clock ticks (field 22 of
# /proc/PID/stat; the name before it may hold blanks and parentheses).
zvx_started() {
    sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d ' ' -f 20
}

# zvx_record PID FILE
zvx_record() {
    echo "$1 $(zvx_started "$1")" > "$2"
}

# zvx_end_recorded FILE: ends the process recorded in FILE if it is still that
# process, waiting up to five seconds before it is killed outright; removes FILE.
zvx_end_recorded() {
    [ -f "$1" ] || return 0
    read -r zvx_pid zvx_start < "$1" || true
    rm -f "$1"
    case "$zvx_pid" in ''|*[!0-9]*) return 0 ;; esac
    zvx_alive "$zvx_pid" && [ "$(zvx_started "$zvx_pid")" = "$zvx_start" ] || return 0
    kill "$zvx_pid" 2>/dev/null || return 0
    zvx_i=0
    while zvx_alive "$zvx_pid"; do
        zvx_i=$((zvx_i + 1))
        if [ $zvx_i -gt 50 ]; then
            kill -KILL "$zvx_pid" 2>/dev/null || true
            return 0
        fi
        sleep 0.1
    done
}

# zvx_xvfb_start [XVFB ARGS...]: a display of the run's own. Xvfb picks a free number
# and reports it through -displayfd; DISPLAY is exported. Fails, with Xvfb stopped,
# when no display is reported within ZVX_XVFB_WAIT seconds or Xvfb ends first.
zvx_xvfb_start() {
    zvx_st=${ZVX_WINE_STATE:?zvx_wine_use STATE first}
    rm -f "$zvx_st/display"
    : > "$zvx_st/display.num"
    "${ZVX_XVFB:-Xvfb}" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -dpi 96 "$@" \
        3>"$zvx_st/display.num" >/dev/null 2>&1 </dev/null &
    zvx_record $! "$zvx_st/xvfb.pid"
    read -r zvx_xpid zvx_rest < "$zvx_st/xvfb.pid"
    zvx_limit=${ZVX_XVFB_WAIT:-30}
    zvx_i=0
    # Xvfb writes the number and a newline once it accepts connections.
    while [ "$(wc -l < "$zvx_st/display.num")" -lt 1 ]; do
        if ! zvx_alive "$zvx_xpid"; then
            rm -f "$zvx_st/xvfb.pid"
            echo "wine-env: ${ZVX_XVFB:-Xvfb} ended before it reported a display (is xvfb installed? ./deps.sh installs it)" >&2
            return 1
        fi
        zvx_i=$((zvx_i + 1))
        if [ $zvx_i -gt $((zvx_limit * 10)) ]; then
            zvx_end_recorded "$zvx_st/xvfb.pid"
            echo "wine-env: ${ZVX_XVFB:-Xvfb} reported no display within $zvx_limit s; stopped it" >&2
            return 1
        fi
        sleep 0.1
    done
    echo ":$(tr -dc 0-9 < "$zvx_st/display.num")" > "$zvx_st/display"
    DISPLAY=$(cat "$zvx_st/display")
    export DISPLAY
}

zvx_xvfb_stop() {
    zvx_end_recorded "${ZVX_WINE_STATE:?}/xvfb.pid"
    rm -f "$ZVX_WINE_STATE/display" "$ZVX_WINE_STATE/display.num"
}

# zvx_wine_wait: waits, at most ZVX_WINE_WAIT seconds, until the prefix's processes
# and its wineserver have ended (never while the run keeps its wineserver).
zvx_wine_wait() {
    timeout "${ZVX_WINE_WAIT:-300}" "$zvx_wineserver" -w 2>/dev/null && return 0
    echo "wine-env: the Wine processes of $WINEPREFIX did not end within ${ZVX_WINE_WAIT:-300} s" >&2
    return 1
}

# zvx_prefix_make: a new prefix in STATE/prefix, ready for use, its processes ended.
zvx_prefix_make() {
    timeout "${ZVX_WINE_WAIT:-300}" "$zvx_wine" wineboot -i >/dev/null 2>&1 </dev/null || true
    zvx_wine_wait || return 1
    [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "wine-env: wineboot made no prefix in $WINEPREFIX" >&2; return 1; }
}

# zvx_wineserver_keep: one wineserver for the rest of the run, so that each Wine
# program starts faster. Started in the foreground of its own background job: its pid
# is then known.
zvx_wineserver_keep() {
    "$zvx_wineserver" -f -p >/dev/null 2>&1 </dev/null &
    zvx_record $! "${ZVX_WINE_STATE:?}/wineserver.pid"
}

# zvx_wine_stop: ends the prefix's processes and its wineserver. "wineserver -k" asks
# the prefix's own server (found through the prefix, not by name) to end them and
# itself; a server the run kept is then ended by its pid if it did not go.
zvx_wine_stop() {
    [ -d "$WINEPREFIX" ] || { rm -f "${ZVX_WINE_STATE:?}/wineserver.pid"; return 0; }
    "$zvx_wineserver" -k 2>/dev/null || true
    zvx_end_recorded "${ZVX_WINE_STATE:?}/wineserver.pid"
    timeout 30 "$zvx_wineserver" -w 2>/dev/null || true
}

# zvx_wine_end: what every script's clean-up does, the Wine processes first (they
# may still draw on the display), then the run's Xvfb display.
zvx_wine_end() {
    zvx_wine_stop
    zvx_xvfb_stop
}
