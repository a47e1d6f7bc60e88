#!/bin/sh
# Counts, from a Wine relay log (WINEDEBUG=+relay, best with +pid), the calls a run
# made on the entries of an install list, and the passes it made over the list.
# Usage: count-calls.sh FOLDER LIST LOG
#   FOLDER  the install folder as the program names it (C:\...), without a final
#           backslash
#   LIST    the install list, one entry a line, relative to FOLDER
#   LOG     the relay log
# Prints one line: "CALLS PASSES ENTRIES_TOUCHED ENTRIES BREAKDOWN", the breakdown
# being "Function count, ..." by falling count (ties by name).
#
# A call counts for an entry when its path argument names the entry or the entry's
# numbered .tmp name, plain or in the extended-length form; or when its first
# argument is a handle that CreateFileW returned for such a path, from that
# CreateFileW's return up to and with the CloseHandle of the handle (a handle value
# is reused once closed). Handles are told apart by process; a CreateFileW's return
# is matched to its call by thread.
set -eu
[ $# -eq 3 ] || { echo "usage: count-calls.sh FOLDER LIST LOG" >&2; exit 2; }
# The folder goes through the environment: awk -v would take its backslashes as escapes.
ZVX_ROOT=$1 awk '
    # The relay log doubles every backslash of a string argument.
    function undouble(s,   out, i, c) {
        out = ""
        for (i = 1; i <= length(s); i++) {
            c = substr(s, i, 1); out = out c
            if (c == "\\" && substr(s, i + 1, 1) == "\\") i++
        }
        return out
    }
    # The entry a path names, or "" when it names none.
    function entry_of(path) {
        if (substr(path, 1, 4) == "\\\\?\\") path = substr(path, 5)
        if (index(path, root) != 1) return ""
        path = substr(path, length(root) + 1)
        sub(/\.[0-9]+\.tmp$/, "", path)
        return (path in index_of) ? path : ""
    }
    # A handle value as one spelling: lower case, without leading zeros.
    function handle_value(h) {
        h = tolower(h)
        sub(/^0+/, "", h)
        return h
    }
    # What a failed CreateFileW returns (INVALID_HANDLE_VALUE), in either width.
    function is_invalid(h) {
        return h == "" || h == "ffffffff" || h == "ffffffffffffffff"
    }
    function count(path, fn) {
        call_path[++calls] = path; by[fn]++
        if (!(path in seen)) { seen[path] = 1; touched++ }
    }
    BEGIN { root = ENVIRON["ZVX_ROOT"] "\\" }
    FNR == NR { sub(/\r$/, ""); if ($0 != "") index_of[$0] = ++n; next }
    {
        sub(/\r$/, "")
        # "PID:TID:Call ..." with +pid, "TID:Call ..." without.
        if (!match($0, /^[0-9a-f]+(:[0-9a-f]+)?:(Call|Ret) +/)) next
        thread = substr($0, 1, RLENGTH); sub(/:(Call|Ret) +$/, "", thread)
        process = thread; if (!sub(/:.*$/, "", process)) process = ""
        rest = substr($0, RLENGTH + 1)
        if (rest !~ /^(KERNEL32|KERNELBASE)\./) next
        fn = rest; sub(/^[A-Z0-9]+\./, "", fn); sub(/\(.*/, "", fn)
    }
    /:Ret +(KERNEL32|KERNELBASE)\.CreateFileW\(\)/ {
        if (!(thread in opening)) next
        path = opening[thread]; delete opening[thread]
        if (!match($0, /retval=[0-9a-fA-F]+/)) next
        h = handle_value(substr($0, RSTART + 7, RLENGTH - 7))
        if (!is_invalid(h)) held[process SUBSEP h] = path
        next
    }
    /:Call +(KERNEL32|KERNELBASE)\./ {
        if (fn == "CreateFileW") delete opening[thread]
        args = rest; sub(/^[^(]*\(/, "", args)
        first = args; sub(/[,)].*$/, "", first)
        # A first argument that is a handle: a bare number, no string after it.
        if (first ~ /^[0-9a-fA-F]+$/) {
            key = process SUBSEP handle_value(first)
            if (key in held) {
                count(held[key], fn)
                if (fn == "CloseHandle") delete held[key]
                next
            }
        }
        if (!match(rest, /L"[^"]*"/)) next
        path = entry_of(undouble(substr(rest, RSTART + 2, RLENGTH - 3)))
        if (path == "") next
        count(path, fn)
        if (fn == "CreateFileW") opening[thread] = path
    }
    END {
        # A call on a folder above the entry that the next calls work on (a check of
        # the path on the way down) belongs to that entry; a pass is a run of calls
        # whose entries go forward through the list.
        owner = ""
        for (i = calls; i >= 1; i--) {
            p = call_path[i]
            if (owner == "" || index(owner, p "\\") != 1) owner = p
            k[i] = index_of[owner]
        }
        passes = calls > 0 ? 1 : 0
        for (i = 2; i <= calls; i++)
            if (k[i] < k[i - 1]) passes++
        # The breakdown by falling count, then by name.
        m = 0
        for (f in by) name[++m] = f
        for (i = 1; i <= m; i++)
            for (j = i + 1; j <= m; j++)
                if (by[name[j]] > by[name[i]] || (by[name[j]] == by[name[i]] && name[j] < name[i])) {
                    t = name[i]; name[i] = name[j]; name[j] = t
                }
        list = ""
        for (i = 1; i <= m; i++) list = list sprintf("%s%s %d", i > 1 ? ", " : "", name[i], by[name[i]])
        printf "%d %d %d %d %s\n", calls + 0, passes, touched + 0, n, list
    }' "$2" "$3"
