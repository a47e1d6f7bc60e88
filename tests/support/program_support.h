// Helpers of the program and uninstall tests: the restart schedule, the
// processes a run leaves behind, install folders laid out as the installer would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// HKLM\System\CurrentControlSet\Control\Session Manager
extern const wchar_t kSessionManagerKey[];
// The names scheduled for deletion at restart (sources of
// PendingFileRenameOperations whose target is empty), as stored ("\??\C:\...").
std::vector<std::wstring> PendingDeletions();
bool IsPendingDeletion(const std::wstring& path);

// An environment variable set for this process and put back when the owner goes.
class EnvironmentGuard {
public:
    EnvironmentGuard(const wchar_t* name, const wchar_t* value);
    ~EnvironmentGuard();
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    std::wstring name_;
    bool existed_ = false;
    std::wstring value_;
};

// Ids of the running processes whose parent is pid and whose program file is
// named exeName (Wine's desktop process, for one, may be started by any GUI program).
std::vector<DWORD> ChildProcessIds(DWORD pid, const wchar_t* exeName);
// Waits until every process of ids has ended; false when one still runs at the timeout.
bool WaitForProcesses(const std::vector<DWORD>& ids, DWORD timeoutMs);

// The user's temporary folder with its trailing backslash.
std::wstring TempFolder();
// Where the uninstall writes its self-removal batch file.
std::wstring BatchFilePath();
std::wstring CurrentDirectory();
// text in the code page (CP_ACP, CP_OEMCP); empty when a character has no form there.
std::string Narrow(const std::wstring& text, UINT codePage);
// GetShortPathNameW, or empty.
std::wstring ShortPath(const std::wstring& path);
DWORD Attributes(const std::wstring& path);

// The SID of this process's user, as text (S-1-5-...).
std::wstring UserSid();
// path's DACL as read back, in SDDL ("D:P(A;;FA;;;SY)..."); empty when unreadable.
std::wstring DaclText(const std::wstring& path);

}  // namespace testsupport
