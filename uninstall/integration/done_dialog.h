// The completion dialog DONEDLG shown after setup.
#pragma once

#include <windows.h>

INT_PTR CALLBACK DoneDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
