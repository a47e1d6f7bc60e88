// The integration settings dialog SETUPDLG: the user's choices loaded, shown
// and saved; on OK it hands them to the apply sequence.
#pragma once

#include <windows.h>

#include "uninstall/integration/integration_options.h"

INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// From the settings, with the .jar and .iso ownership rules and the Windows 11
// cascaded-menu rule.
void LoadOptions(IntegrationOptions& options);
// Overlays the installer's init text, letter-value pairs such as "A110D1S0".
void ApplyInitText(const wchar_t* initText, IntegrationOptions& options);
void ShowOptions(HWND window, const IntegrationOptions& options);
void ReadOptions(HWND window, IntegrationOptions& options);
void SaveOptions(const IntegrationOptions& options);
// Checks all archive types when any is unchecked, otherwise clears them all.
void ToggleAllAssociations(HWND window);
// What the dialog's OK applies when a silent run cannot make the dialog: the
// saved choices with the init text over them, saved and applied.
void ApplySetupWithoutDialog();
