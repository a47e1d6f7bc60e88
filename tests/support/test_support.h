// Helpers shared by the tests: scratch folders on the prefix's drive C, files,
// child processes. They use Win32 directly, never the code under test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// Folder of the build tree (Windows form), where Uninstall.exe and test helpers lie.
std::wstring BinDir();

// A fresh, empty scratch folder C:\zvx-tests\<name> (removed first if present).
std::wstring MakeScratchFolder(const std::wstring& name);
// Deletes a folder tree (clears read-only attributes first); true when it is gone.
bool RemoveTree(const std::wstring& path);

bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool ReadBytes(const std::wstring& path, std::string& bytes);
bool Exists(const std::wstring& path);

// Starts a program, waits up to timeoutMs; returns its exit code, or -1 when it
// did not start and -2 when it timed out (it is then terminated).
int RunProcess(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs,
               const wchar_t* currentDirectory = nullptr);

}  // namespace testsupport
