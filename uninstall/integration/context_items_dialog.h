// The context-menu items dialog SETUPCONTEXTITEMS, opened from the setup
// dialog; it saves its own settings on OK.
#pragma once

#include <windows.h>

INT_PTR CALLBACK ContextItemsDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// cascaded: whether the setup dialog's cascaded-menu box is checked.
void RunContextItemsDialog(HWND owner, bool cascaded);
