#include "uninstall/integration/done_dialog.h"

#include <shellapi.h>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/paths.h"
#include "common/base/strings.h"
#include "common/localization/dialog_localization.h"
#include "common/localization/help.h"
#include "common/localization/messages.h"
#include "resources/resource.h"
#include "uninstall/options.h"
#include "uninstall/process_state.h"

static void Open(const wchar_t* target)
{
    GateShellExecute(L"open", target, nullptr, SW_SHOWNORMAL);
}

// False when the current directory does not fit: a cut path names another folder.
static bool CurrentFolder(wchar_t* path, size_t capacity)
{
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(capacity), path);
    if (length == 0 || length >= capacity) {
        path[0] = 0;
        return false;
    }
    return true;
}

static void OpenLicense()
{
    wchar_t path[kMaxPathChars];
    if (!CurrentFolder(path, kMaxPathChars))
        return;
    AppendSeparator(path, kMaxPathChars);
    if (!AppendString(path, L"license.txt", kMaxPathChars))
        return;
    FindInLanguageFolder(path, path, kMaxPathChars);
    Open(path);
}

// The address comes from a language file; anything but a web address would be
// started as a program or document, so the program's own address is used then.
static void OpenHomePage()
{
    const wchar_t* address = MessageText(IDS_HOMEURL);
    wchar_t own[kMessageTextChars];
    if (!IsWebAddress(address)) {
        if (LoadStringW(OwnModule(), IDS_HOMEURL, own, static_cast<int>(kMessageTextChars)) <= 0 ||
            !IsWebAddress(own))
            return;
        address = own;
    }
    Open(address);
}

static void InitDoneDialog(HWND window)
{
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(GetProductIcon()));
    SendDlgItemMessageW(window, IDC_THANKS, WM_SETFONT, reinterpret_cast<WPARAM>(GetDialogBoldFont()), TRUE);
    wchar_t folder[kMaxPathChars];
    CurrentFolder(folder, kMaxPathChars);
    SetDlgItemTextW(window, IDC_INSTFOLDER, folder);
    if (GetCommandOptions().Silent)
        SendMessageW(window, WM_COMMAND, IDOK, 0);
}

INT_PTR CALLBACK DoneDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (DialogMessageFilter(window, message, wParam, lParam, L"DONEDLG", nullptr))
        return TRUE;
    if (message == WM_INITDIALOG) {
        InitDoneDialog(window);
        // Enter closes the dialog; the folder field would start with its text selected.
        SetFocus(GetDlgItem(window, IDOK));
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
    case IDCANCEL:
        EndDialog(window, 1);
        break;
    case IDC_VIEWHELP:
        ShowHelp(window, nullptr);
        break;
    case IDC_VIEWLICENSE:
        OpenLicense();
        break;
    case IDC_HOMEPAGE:
        OpenHomePage();
        break;
    default:
        break;
    }
    return TRUE;
}
