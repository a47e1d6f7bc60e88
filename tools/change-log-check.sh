# Checks a change log (ZORVEX_LOG) against the snapshots of tools/machine-state.sh.
# Sourced by demo.sh and the tests' harness; POSIX sh and awk (mawk will do).
#
# zvx_log_check LOG BEFORE AFTER: replays the log's changes with the outcome ok
# (and the del/rd lines of its batch file, which cmd runs after the program) on
# BEFORE's registry and files and compares the result with AFTER, both ways.
# Prints what differs: "missing from the log" (changed on the machine, not named)
# and "logged but not so" (named, but the machine does not show it). Also prints
# each identity that an ok line touched while the snapshots show it unchanged,
# unless the log itself undoes it (created, then deleted). Returns 1 on any.
#
# zvx_log_changes LOG: the change lines of a log, without time and pid, with the
# outcome preview written as ok, sorted, each once: a preview's list is compared
# with a real run's this way.

zvx_log_awk='
function tokenize(line,    i, c, n, t, r, q) {
    ntok = 0; i = 1; n = length(line)
    while (i <= n) {
        c = substr(line, i, 1)
        if (c == " ") { i++; continue }
        ntok++
        if (c == "\"") {
            t = ""; r = "\""; i++
            while (i <= n) {
                c = substr(line, i, 1)
                if (c == "\\") {
                    q = substr(line, i + 1, 1); r = r c q; i += 2
                    if (q == "n") t = t "\n"; else if (q == "r") t = t "\r"; else if (q == "t") t = t "\t"
                    else if (q == "x") { t = t "?"; r = r substr(line, i, 2); i += 2 }
                    else t = t q
                    continue
                }
                r = r c; i++
                if (c == "\"") break
                t = t c
            }
            tok[ntok] = t; raw[ntok] = r; quoted[ntok] = 1
        } else {
            t = ""
            while (i <= n && substr(line, i, 1) != " ") { t = t substr(line, i, 1); i++ }
            tok[ntok] = t; raw[ntok] = t; quoted[ntok] = 0
        }
    }
}
# Wine keeps one key for both registry views of some keys, which its export shows
# under both spellings: App Paths, and the 32-bit classes
# (Software\Wow6432Node\Classes is Software\Classes\Wow6432Node). Ids are
# compared in one spelling.
function canon(id,    l, p, q) {
    l = tolower(id)
    p = "hkey_local_machine\\software\\wow6432node\\classes"; q = "hkey_local_machine\\software\\classes\\wow6432node"
    if (index(l, p) == 1) return q substr(l, length(p) + 1)
    p = "hkey_local_machine\\software\\wow6432node\\microsoft\\windows\\currentversion\\app paths"
    q = "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\app paths"
    if (index(l, p) == 1) return q substr(l, length(p) + 1)
    return l
}
function regkey(root, path) {
    if (root == "HKCR") return "HKEY_LOCAL_MACHINE\\Software\\Classes\\" path
    if (root == "HKCR32") return "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\" path
    if (root == "HKLM") return "HKEY_LOCAL_MACHINE\\" path
    if (root == "HKLM32") { sub(/^[Ss][Oo][Ff][Tt][Ww][Aa][Rr][Ee]\\/, "", path); return "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\" path }
    if (root == "HKCU") return "HKEY_CURRENT_USER\\" path
    return ""
}
# A path of drive C: as the file snapshot names it; "" for anything else.
function filepath(p) {
    sub(/^\\\\\?\\/, "", p)
    if (tolower(substr(p, 1, 3)) != "c:\\") return ""
    p = substr(p, 4); gsub(/\\/, "/", p); sub(/\/+$/, "", p)
    return p
}
'

zvx_log_check() {
    awk -v logfile="$1" "$zvx_log_awk"'
        function addkey(k,    p) {
            while (k != "" && !(canon(k) in keys)) {
                keys[canon(k)] = k; touch(canon(k))
                p = k; if (!sub(/\\[^\\]*$/, "", p)) break; k = p
                if (tolower(k) == "hkey_local_machine" || tolower(k) == "hkey_current_user") break
            }
        }
        function touch(id) { touched[id] = 1 }
        function delkey(k,    lk, v) {
            lk = canon(k); delete keys[lk]; touch(lk); undone[lk] = 1
            for (v in vals) if (index(v, lk " | ") == 1) delete vals[v]
        }
        function setval(k, name, data,    id) {
            addkey(k); id = canon(k) " | " tolower(name)
            vals[id] = k " | " name "=" data; touch(id)
        }
        function delval(k, name,    id) { id = canon(k) " | " tolower(name); delete vals[id]; touch(id); undone[id] = 1 }
        function addfile(p) { if (p == "") return; files[tolower(p)] = p; touch("file:" tolower(p)) }
        function delfile(p,    f) {
            if (p == "") return
            delete files[tolower(p)]; touch("file:" tolower(p)); undone["file:" tolower(p)] = 1
        }
        function deltree(p,    f) {
            if (p == "") return
            delfile(p)
            for (f in files) if (index(f, tolower(p) "/") == 1) { delete files[f]; touch("file:" f) }
        }
        FILENAME ~ /registry.txt$/ && side == "before" {
            p = index($0, " | ")
            if (p == 0) { keys[canon($0)] = $0; bk[canon($0)] = 1 }
            else { q = index(substr($0, p + 3), "="); id = canon(substr($0, 1, p - 1)) " | " tolower(substr($0, p + 3, q - 1)); vals[id] = $0; bv[id] = $0 }
            next
        }
        FILENAME ~ /files.txt$/ && side == "before" { files[tolower($0)] = $0; bf[tolower($0)] = 1; next }
        FILENAME ~ /registry.txt$/ && side == "after" {
            p = index($0, " | ")
            if (p == 0) ak[canon($0)] = $0
            else { q = index(substr($0, p + 3), "="); id = canon(substr($0, 1, p - 1)) " | " tolower(substr($0, p + 3, q - 1)); av[id] = $0 }
            next
        }
        FILENAME ~ /files.txt$/ && side == "after" { af[tolower($0)] = $0; next }
        FILENAME == logfile {
            tokenize($0)
            ev = tok[3]
            if (ev == "batch-line") {
                t = tok[4]
                if (t ~ /^del "/ || t ~ /^rd "/) { sub(/^(del|rd) "/, "", t); sub(/".*$/, "", t); delfile(filepath(t)) }
                next
            }
            if (tok[4] != "ok") next
            if (ev == "key-create") addkey(regkey(tok[5], tok[6]))
            else if (ev == "key-delete") delkey(regkey(tok[5], tok[6]))
            else if (ev == "value-set") {
                # REG_DWORD: root, type, number, key, name; texts: root, type, key, name, data.
                if (tok[6] == "REG_DWORD") { k = regkey(tok[5], tok[8]); name = tok[9] == "" ? "@" : raw[9]; data = sprintf("dword:%08x", tok[7]) }
                else { k = regkey(tok[5], tok[7]); name = tok[8] == "" ? "@" : raw[8]; data = raw[9] }
                if (k != "") setval(k, name, data)
            }
            else if (ev == "value-delete") { k = regkey(tok[5], tok[6]); if (k != "") delval(k, tok[7] == "" ? "@" : raw[7]) }
            else if (ev == "file-write" || ev == "folder-create" || ev == "shortcut-save") addfile(filepath(tok[5]))
            else if (ev == "file-delete" || ev == "folder-delete") delfile(filepath(tok[5]))
            else if (ev == "folder-empty") deltree(filepath(tok[5]))
            else if (ev == "file-copy") addfile(filepath(tok[6]))
            else if (ev == "file-rename") { delfile(filepath(tok[5])); addfile(filepath(tok[6])) }
            else if (ev == "file-replace") { delfile(filepath(tok[6])); addfile(filepath(tok[5])) }
            else if (ev == "restart-delete") touch(tolower("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager | \"PendingFileRenameOperations\""))
            next
        }
        END {
            bad = 0
            # Only what the snapshots cover counts: the filtered parts are left out on both sides.
            for (k in keys) if (!(k in ak) && covered(k)) { print "   logged but not so: key " keys[k]; bad++ }
            for (k in ak) if (!(k in keys)) { print "   missing from the log: key " ak[k]; bad++ }
            for (v in vals) if (!(v in av) && covered(v)) { print "   logged but not so: " vals[v]; bad++ }
            for (v in av) if (!(v in vals) || valpart(vals[v]) != valpart(av[v])) { print "   missing from the log: " av[v]; bad++ }
            for (f in files) if (!(f in af)) { print "   logged but not so: " winpath(files[f]); bad++ }
            for (f in af) if (!(f in files)) { print "   missing from the log: " winpath(af[f]); bad++ }
            for (id in touched) {
                if (id ~ /^file:/) { f = substr(id, 6); changed = ((f in bf) != (f in af)) }
                else if (index(id, " | ")) changed = ((id in bv) != (id in av)) || valpart(bv[id]) != valpart(av[id])
                else changed = ((id in bk) != (id in ak))
                if (!changed && !(id in undone) && covered(id)) { print "   logged, but unchanged: " id; bad++ }
            }
            exit bad > 0
        }
        function winpath(f) { gsub(/\//, "\\", f); return "C:\\" f }
        function valpart(line) { return tolower(substr(line, index(line, " | ") + 3)) }
        function covered(id) {
            id = tolower(id)
            return (index(id, "hkey_local_machine\\software") == 1 || index(id, "hkey_current_user\\software") == 1 ||
                    index(id, "hkey_local_machine\\system\\currentcontrolset\\control\\session manager") == 1 ||
                    index(id, "file:") == 1) &&
                   index(id, "hkey_current_user\\software\\wine") != 1 && index(id, "hkey_local_machine\\software\\wine") != 1 &&
                   index(id, "hkey_current_user\\software\\microsoft\\windows\\currentversion\\explorer\\") != 1 &&
                   index(id, "file:windows/") != 1
        }
    ' side=before "$2/registry.txt" side=before "$2/files.txt" side=log "$1" side=after "$3/registry.txt" side=after "$3/files.txt"
}

zvx_log_changes() {
    awk "$zvx_log_awk"'
        {
            tokenize($0); ev = tok[3]
            if (ev !~ /^(key-|value-|file-|folder-|restart-|shortcut-|shell-|process)/) next
            if (tok[4] == "preview") tok[4] = "ok"
            if (tok[4] != "ok") next
            # The two views of App Paths are one key in Wine (see canon).
            if (tok[5] == "HKLM32" && tolower(tok[6]) ~ /^software\\microsoft\\windows\\currentversion\\app paths/) raw[5] = "HKLM"
            line = ev " ok"
            for (i = 5; i <= ntok; i++) line = line " " raw[i]
            print line
        }' "$1" | LC_ALL=C sort -u
}
