# Snapshots of a Wine prefix's registry and files, and readable differences
# between two of them. Sourced by demo.sh; needs WINEPREFIX and wine set.

# Flattens a .reg export into one line per key ("KEY") and one per value
# ("KEY | NAME=DATA"), continuation lines joined.
zvx_flatten_reg() {
    iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' | awk '
        /^\[.*\]$/ { key = substr($0, 2, length($0) - 2); print key; next }
        /^Windows Registry Editor/ || /^$/ { next }
        {
            line = $0
            while (line ~ /\\$/ && (getline more) > 0) {
                sub(/\\$/, "", line); sub(/^ +/, "", more); line = line more
            }
            print key " | " line
        }'
}

# zvx_snapshot DIR: DIR/registry.txt and DIR/files.txt of the prefix, sorted.
# The registry parts are the ones the program may touch: the machine's and the
# user's software keys (classes included) and the session manager's pending renames.
zvx_snapshot() {
    mkdir -p "$1"
    : > "$1/registry.unsorted"
    for zvx_root in 'HKLM\Software' 'HKCU\Software' 'HKLM\System\CurrentControlSet\Control\Session Manager'; do
        rm -f "$1/export.reg"
        $wine reg export "$zvx_root" "$1/export.reg" /y >/dev/null 2>&1 </dev/null || true
        [ -f "$1/export.reg" ] && zvx_flatten_reg "$1/export.reg" >> "$1/registry.unsorted"
    done
    rm -f "$1/export.reg"
    # Wine's own bookkeeping changes with every program start; it is not the product's.
    grep -v -e '^HKEY_CURRENT_USER\\Software\\Wine' \
            -e '^HKEY_LOCAL_MACHINE\\Software\\Wine' \
            -e '^HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\' \
        "$1/registry.unsorted" | LC_ALL=C sort > "$1/registry.txt"
    rm -f "$1/registry.unsorted"
    (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print) | sed -n 's|^\./||p' |
        LC_ALL=C sort > "$1/files.txt"
}

# zvx_report BEFORE AFTER: the registry keys and values added, removed or changed
# (grouped by key; sibling keys with the same values and values with the same data
# folded into one line), then the files.
# Prints nothing for identical snapshots; returns the number of differing lines (capped).
zvx_report() {
    awk -v OFS='\t' '
        function abbrev(k) {
            sub(/^HKEY_LOCAL_MACHINE\\Software\\Classes/, "HKCR", k)
            sub(/^HKEY_LOCAL_MACHINE/, "HKLM", k)
            sub(/^HKEY_CURRENT_USER/, "HKCU", k)
            return k
        }
        function take(line, side,    p, k, v, n, d, q) {
            p = index(line, " | ")
            if (p == 0) { key[side, line] = 1; keys[line] = 1; return }
            k = substr(line, 1, p - 1); v = substr(line, p + 3)
            if (substr(v, 1, 2) == "@=") { n = "@"; d = substr(v, 3) }
            else { q = index(v, "\"="); n = substr(v, 1, q); d = substr(v, q + 2) }
            val[side, k, n] = d; names[k, n] = 1
        }
        FNR == NR { take($0, "b"); next }
        { take($0, "a") }
        END {
            for (k in keys) {
                if ((("a", k) in key) && !(("b", k) in key)) print abbrev(k), 0, "+ key"
                if ((("b", k) in key) && !(("a", k) in key)) print abbrev(k), 0, "- key"
            }
            for (kn in names) {
                split(kn, part, SUBSEP); k = part[1]; n = part[2]
                inb = (("b", k, n) in val); ina = (("a", k, n) in val)
                if (ina && !inb) print abbrev(k), 1, "+ " n " = " val["a", k, n]
                else if (inb && !ina) print abbrev(k), 1, "- " n " = " val["b", k, n]
                else if (val["a", k, n] != val["b", k, n])
                    print abbrev(k), 1, "* " n " = " val["a", k, n] "   (was " val["b", k, n] ")"
            }
        }' "$1/registry.txt" "$2/registry.txt" | LC_ALL=C sort -t "$(printf '\t')" -k1,1 -k2,2n -k3,3 |
    awk -F '\t' '
        # Collect each key: whether it is new or gone, and its value lines.
        $1 != last { n++; name[n] = $1; state[n] = ""; body[n] = ""; last = $1 }
        $3 == "+ key" { state[n] = " (new)"; next }
        $3 == "- key" { state[n] = " (deleted)"; next }
        { body[n] = body[n] $3 "\n" }
        function parent(k) { sub(/\\[^\\]*$/, "", k); return k }
        function leaf(k) { return substr(k, length(parent(k)) + 2) }
        # Values with the same sign and data, three or more, become one line.
        function fold(b,    lines, m, i, sign, rest, p, vname, data, keyd, order, names, count, out, o) {
            m = split(b, lines, "\n"); o = 0; delete names; delete count; delete order
            for (i = 1; i <= m; i++) {
                if (lines[i] == "") continue
                sign = substr(lines[i], 1, 2); rest = substr(lines[i], 3); p = index(rest, " = ")
                vname = substr(rest, 1, p - 1); data = substr(rest, p)
                keyd = sign data
                if (!(keyd in count)) { order[++o] = keyd; names[keyd] = vname } else names[keyd] = names[keyd] ", " vname
                count[keyd]++
            }
            out = ""
            for (i = 1; i <= o; i++) {
                keyd = order[i]
                if (count[keyd] >= 3)
                    out = out "         " substr(keyd, 1, 2) names[keyd] substr(keyd, 3) "  (" count[keyd] " values)\n"
                else {
                    m = split(names[keyd], lines, ", ")
                    for (p = 1; p <= m; p++) out = out "         " substr(keyd, 1, 2) lines[p] substr(keyd, 3) "\n"
                }
            }
            return out
        }
        END {
            for (i = 1; i <= n; i++) {
                # A new key without values of its own under which more keys are new says nothing more.
                if (body[i] == "" && state[i] == " (new)" && i < n && index(name[i + 1], name[i] "\\") == 1) continue
                b = fold(body[i])
                # Siblings with the same state and the same values are shown once.
                j = i
                while (j < n && parent(name[j + 1]) == parent(name[i]) && state[j + 1] == state[i] && fold(body[j + 1]) == b &&
                       !(body[j + 1] == "" && j + 1 < n && index(name[j + 2], name[j + 1] "\\") == 1))
                    j++
                if (j == i) print "      " name[i] state[i]
                else {
                    list = leaf(name[i])
                    for (k = i + 1; k <= j; k++) list = list ", " leaf(name[k])
                    print "      " parent(name[i]) "\\{" list "}" state[i] ", each:"
                }
                printf "%s", b
                i = j
            }
        }' > "$2/registry-report.txt"
    LC_ALL=C comm -13 "$1/files.txt" "$2/files.txt" | sed 's|^|      + C:\\|; s|/|\\|g' > "$2/files-report.txt"
    LC_ALL=C comm -23 "$1/files.txt" "$2/files.txt" | sed 's|^|      - C:\\|; s|/|\\|g' >> "$2/files-report.txt"
    if [ -s "$2/registry-report.txt" ]; then
        echo "   Registry (+ added, - removed, * changed):"
        cat "$2/registry-report.txt"
    fi
    if [ -s "$2/files-report.txt" ]; then
        echo "   Files and folders (+ added, - removed):"
        cat "$2/files-report.txt"
    fi
}
