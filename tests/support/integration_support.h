// Helpers of the shell-integration tests: COM for the calling thread, the
// product's files beside the test program and its shortcuts, and a second run of
// this test executable under Wine's own Windows 10 setting or with a settings
// file beside it. The registry they read and restore: registry_support.h.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

namespace testsupport {

// COM for the test's thread, as the program's start-up provides it.
class ComApartment {
public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (ok_)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_;
};

// The code under test takes the running program's folder as the product's folder.
// Called once before the tests (integration_fixture.h does), this copies the test
// executable into the scratch folder C:\zvx-tests\<name>, runs the copy with the same
// arguments, removes the folder and ends with the copy's exit code; in the copy it
// returns at once. The tests then place the product's files in a folder of their own.
bool RunFromScratchFolder();

std::wstring SelfPath();
// The folder of this test executable: the "program folder" of the code under test.
std::wstring ProgramFolder();
std::wstring InProgramFolder(const std::wstring& name);

// ---- files
// Creates a small file of that name beside the test program (a stand-in for a product file).
bool PlaceProgramFile(const std::wstring& name, const std::string& bytes = "stand-in");
// Removes every product file and log the tests place beside the test program.
void RemoveProgramFiles();

// Shell folders as Wine reports them.
std::wstring ShellFolder(int csidl);
// Deletes every shortcut and program group the product makes, on both desktops,
// both Start menus and both program folders.
void RemoveShortcuts();

// A shortcut read back through IShellLinkW.
struct ShortcutInfo {
    bool Loaded = false;
    std::wstring Target, Description, Icon, WorkingDirectory, Arguments;
    int IconIndex = -1;
};
ShortcutInfo ReadShortcut(const std::wstring& path);

// The names (not paths) in a folder, sorted; empty when it does not exist.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

// ---- second runs of this executable
// Runs this executable again, only the tests of filter. With windows10, Wine reports
// Windows 10 to it alone (HKCU\Software\Wine\AppDefaults\<exe>\Version, removed
// afterwards; this process keeps the version it started with). The child sees
// ChildMode() == mode. Returns the child's exit code (-1: not started, -2: timed out).
int RunSelf(const std::wstring& filter, const std::wstring& mode, bool windows10, DWORD timeoutMs);
// The mode this process was started in by RunSelf, empty in the first run.
std::wstring ChildMode();
bool IsWindows10Child();

}  // namespace testsupport
