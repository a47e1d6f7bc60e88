// The product's HTML help, opened at a dialog's topic or at its contents.
#pragma once

#include <windows.h>

// topic: a page name such as "HELPIntegrationSettings", or null for the
// contents. Failures are silent; the help window belongs to the desktop.
void ShowHelp(HWND window, const wchar_t* topic);
