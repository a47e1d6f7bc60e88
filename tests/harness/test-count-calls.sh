#!/bin/sh
# The benchmark's call count, run over relay log excerpts written out by hand: calls
# that name an entry (plainly, in the extended-length form, by its numbered .tmp
# name), calls through a handle opened for an entry until it is closed, handles
# told apart by process and their opening matched by thread, and the passes.
set -u
here=$(cd "$(dirname "$0")" && pwd)
count_calls="$here/../../bench/count-calls.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zvx-count-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# check NAME LIST EXPECTED: counts the log on stdin over LIST (lines separated by
# "|", written with CRLF as the program's lists are) in C:\zvx\t.
check() {
    printf '%s' "$2" | tr '|' '\n' | sed 's/$/\r/' > "$scratch/$1.lst"
    cat > "$scratch/$1.log"
    actual=$(sh "$count_calls" 'C:\zvx\t' "$scratch/$1.lst" "$scratch/$1.log") || fail "$1: the count failed"
    [ "$actual" = "$3" ] || fail "$1: expected \"$3\", got \"$actual\""
}

# By name. A check of App on the way to App\b.dat belongs to that entry; the
# RemoveDirectoryW on App goes back up the list and so starts a second pass.
# Not counted: narrow strings, names outside the folder or only starting like it,
# names not listed, other DLLs.
check names 'App|App\a.dat|App\b.dat' '5 2 3 3 GetFileAttributesW 2, DeleteFileW 1, MoveFileExW 1, RemoveDirectoryW 1' <<'LOG'
0010:0014:Call KERNEL32.MultiByteToWideChar(00000000,00000000,00213808 "App\\a.dat",ffffffff,00211842,1000007e3) ret=14000491b
0010:0014:Call KERNEL32.DeleteFileW(00211808 L"C:\\zvx\\t\\App\\a.dat") ret=140008499
0010:0014:Ret  KERNEL32.DeleteFileW() retval=00000001 ret=140008499
0010:0014:Call KERNEL32.DeleteFileW(00211808 L"C:\\zvx\\other\\App\\a.dat") ret=140008499
0010:0014:Call KERNEL32.DeleteFileW(00211808 L"C:\\zvx\\tApp\\a.dat") ret=140008499
0010:0014:Call KERNEL32.DeleteFileW(00211808 L"C:\\zvx\\t\\App\\c.dat") ret=140008499
0010:0014:Call ntdll.RtlDosPathNameToNtPathName_U(00211808 L"C:\\zvx\\t\\App\\b.dat",0021f000,00000000,00000000) ret=140008499
0010:0014:Call KERNELBASE.GetFileAttributesW(00211808 L"\\\\?\\C:\\zvx\\t\\App\\b.dat") ret=14000967b
0010:0014:Call KERNEL32.GetFileAttributesW(00211808 L"C:\\zvx\\t\\App") ret=14000967b
0010:0014:Call KERNEL32.MoveFileExW(00211808 L"C:\\zvx\\t\\App\\b.dat.12.tmp",00000000,00000004) ret=140008966
0010:0014:Call KERNEL32.RemoveDirectoryW(00211808 L"C:\\zvx\\t\\App") ret=140008a10
LOG

# Through a handle: every call on it counts, the CloseHandle too, and no call after
# it, when the same value comes back for a file not listed. A failed open gives no
# handle. The same value in another process is another handle; a value may be
# written wider than the call that returned it.
check handles 'App|App\a.dat|App\b.dat' '10 2 3 3 CreateFileW 3, SetFileInformationByHandle 3, CloseHandle 2, GetFileInformationByHandleEx 1, GetFinalPathNameByHandleW 1' <<'LOG'
0010:0014:Call KERNEL32.CreateFileW(00211808 L"C:\\zvx\\t\\App\\a.dat",00110180,00000007,00000000,00000003,102200000,00000000) ret=140008499
0010:0014:Ret  KERNEL32.CreateFileW() retval=00000088 ret=140008499
0010:0014:Call KERNEL32.GetFileInformationByHandleEx(00000088,00000009,0020f1b8,00000008) ret=140003643
0010:0014:Ret  KERNEL32.GetFileInformationByHandleEx() retval=00000001 ret=140003643
0010:0014:Call KERNEL32.GetFinalPathNameByHandleW(00000088,00209fe0,00000808,00000000) ret=1400036e3
0010:0014:Ret  KERNEL32.GetFinalPathNameByHandleW() retval=0000005e ret=1400036e3
0010:0014:Call KERNEL32.CompareStringOrdinal(0020d190 L"Z:\\dev\\shm\\t\\App\\a.dat",00000019,00216810 L"Z:\\dev\\shm\\t\\App\\a.dat",00000019,00000001) ret=14000353c
0010:0014:Call KERNEL32.GetLastError() ret=14001fe59
0010:0014:Call KERNEL32.SetFileInformationByHandle(00000088,00000015,0020f21c,00000004) ret=140008b58
0010:0014:Ret  KERNEL32.SetFileInformationByHandle() retval=00000000 ret=140008b58
0010:0014:Call KERNEL32.SetFileInformationByHandle(00000088,00000004,0020f21c,00000001) ret=140008b58
0010:0014:Ret  KERNEL32.SetFileInformationByHandle() retval=00000001 ret=140008b58
0010:0014:Call KERNEL32.CloseHandle(00000088) ret=14001fe64
0010:0014:Ret  KERNEL32.CloseHandle() retval=00000001 ret=14001fe64
0010:0014:Call KERNEL32.CreateFileW(00211808 L"C:\\zvx\\t\\Uninstall.lst",80000000,00000001,00000000,00000003,00000080,00000000) ret=1400051a0
0010:0014:Ret  KERNEL32.CreateFileW() retval=00000088 ret=1400051a0
0010:0014:Call KERNEL32.ReadFile(00000088,00213000,00010000,0021f0ac,00000000) ret=1400051d2
0010:0014:Call KERNEL32.CloseHandle(00000088) ret=1400051e0
0010:0014:Call KERNEL32.CreateFileW(00211808 L"C:\\zvx\\t\\App\\b.dat",00110180,00000007,00000000,00000003,102200000,00000000) ret=140008499
0010:0014:Ret  KERNEL32.CreateFileW() retval=ffffffffffffffff ret=140008499
0010:0014:Call KERNEL32.GetLastError() ret=140009a6e
0010:0014:Call KERNEL32.GetFileType(ffffffffffffffff) ret=140009a80
0010:0014:Call KERNEL32.CreateFileW(00211808 L"C:\\zvx\\t\\App",00110180,00000007,00000000,00000003,102200000,00000000) ret=140008499
0010:0014:Ret  KERNEL32.CreateFileW() retval=000000000000009c ret=140008499
0030:0034:Call KERNEL32.GetFileType(0000009c) ret=1400022f0
0030:0034:Call KERNEL32.CloseHandle(0000009c) ret=1400022f8
0010:0014:Call KERNEL32.SetFileInformationByHandle(0000009c,00000004,0020f21c,00000001) ret=140008b58
0010:0014:Call KERNEL32.CloseHandle(0000009c) ret=14001fe64
LOG

# Two threads opening at once, their returns in the other order, logged without
# +pid: each handle goes to the path its own thread opened.
check threads 'App|App\a.dat' '3 1 1 2 CloseHandle 1, CreateFileW 1, SetFileInformationByHandle 1' <<'LOG'
0014:Call KERNEL32.CreateFileW(00211808 L"C:\\zvx\\t\\App\\a.dat",00110180,00000007,00000000,00000003,102200000,00000000) ret=140008499
0018:Call KERNEL32.CreateFileW(00311808 L"C:\\zvx\\t\\Uninstall.lst",80000000,00000001,00000000,00000003,00000080,00000000) ret=1400051a0
0018:Ret  KERNEL32.CreateFileW() retval=00000090 ret=1400051a0
0014:Ret  KERNEL32.CreateFileW() retval=00000094 ret=140008499
0018:Call KERNEL32.ReadFile(00000090,00213000,00010000,0031f0ac,00000000) ret=1400051d2
0014:Call KERNEL32.SetFileInformationByHandle(00000094,00000004,0020f21c,00000001) ret=140008b58
0018:Call KERNEL32.CloseHandle(00000090) ret=1400051e0
0014:Call KERNEL32.CloseHandle(00000094) ret=14001fe64
LOG

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all call counts as expected"
