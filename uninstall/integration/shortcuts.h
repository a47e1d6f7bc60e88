// Desktop and Start menu shortcuts and the program groups.
#pragma once

#include <cstddef>

#include "uninstall/integration/integration_options.h"

// groupPathOut may be null; iconPath may be null.
void UpdateShortcuts(const IntegrationOptions& options, wchar_t* groupPathOut, size_t groupPathCapacity,
                     const wchar_t* iconPath);
bool CreateShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* workingDirectory,
                    const wchar_t* description, const wchar_t* iconPath);
void RemoveFolderTree(const wchar_t* path);
// The shortcuts and program groups that setup made and recorded for the machine,
// in whichever profile: a shortcut only while it still leads to this folder's
// Zorvex.exe, a group with the files in it, never through a link.
void RemoveRecordedShortcuts();
