// The folder for the run's own temporary files (the self-removal batch file and
// the preview's log). Where Windows has GetTempPath2W, its answer: for SYSTEM
// that is C:\Windows\SystemTemp, which only SYSTEM and Administrators can write,
// instead of the Windows Temp folder that every user can create files in.
#pragma once

#include <windows.h>
#include <cstddef>

using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);

// The call that names the folder: GetTempPath2W when kernel32 has it (path2
// not null), otherwise GetTempPathW.
TempPathFunction ChooseTempPathFunction(TempPathFunction path2);

// The folder with its trailing backslash into dest; its length, or 0 (dest
// empty) when it could not be had whole.
size_t TemporaryFolder(wchar_t* dest, size_t capacity);

// Stands in for kernel32's GetTempPath2W (null: look it up again), so that a
// test can show the choice on a Windows that lacks it. The program never calls it.
void SetTempPath2ForTesting(TempPathFunction function);
