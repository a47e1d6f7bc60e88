// Translation, resizing and mirroring of the program's dialogs by the language
// file, and the dialogs' help keys. Every dialog procedure hands each message
// to DialogMessageFilter first and returns TRUE at once when it answers true.
#pragma once

#include <windows.h>
#include <cstddef>

// dialogName is the template name ("SETUPDLG", "DONEDLG", "SETUPCONTEXTITEMS");
// helpTopic the dialog's help topic, or null for none.
bool DialogMessageFilter(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const wchar_t* dialogName,
                         const wchar_t* helpTopic);

// Control texts, caption and SIZE scaling of the language file.
void LocalizeDialog(HWND window, const wchar_t* dialogName);
// The text of "$" + dialogName + ":" + itemName; false when the file has none.
bool FindDialogText(const wchar_t* dialogName, const wchar_t* itemName, wchar_t* buffer, size_t capacity);
// The usable SIZE entry of a dialog ("120*110": width, then height percentage).
bool GetDialogScale(const wchar_t* dialogName, int& widthPercent, int& heightPercent);
// Adds WS_EX_LAYOUTRTL when the language is right to left.
void MirrorWindow(HWND window);
