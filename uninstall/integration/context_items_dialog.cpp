#include "uninstall/integration/context_items_dialog.h"

#include "common/localization/dialog_localization.h"
#include "common/localization/language_file.h"
#include "common/localization/messages.h"
#include "common/settings/settings_store.h"
#include "resources/resource.h"
#include "uninstall/integration/windows_version.h"

static const wchar_t kMenuItemsKey[] = L"Setup\\MenuItems";
static const wchar_t kTopMenuItemsKey[] = L"Setup\\TopMenuItems";
static constexpr size_t kAlwaysArcChars = 1024;

struct MenuItemBox {
    const wchar_t* Value;
    int Id;
    int Default;
    bool HiddenInTopMode;
};

// Read by the shell extension and by the association code (NewZVX, NewZIP).
static const MenuItemBox kMenuItems[] = {
    {L"ExtrTo", IDC_CONTEXTEXTRACTTO, 1, true},
    {L"ExtrHere", IDC_CONTEXTEXTRACTHERE, 1, true},
    {L"Extr", IDC_CONTEXTEXTRACT, 1, true},
    {L"ExtrSep", IDC_CONTEXTEXTRACTSEPARATE, 1, true},
    {L"OpenSFX", IDC_CONTEXTOPENSFX, 1, true},
    {L"OpenArc", IDC_CONTEXTOPENARC, 1, true},
    {L"AddTo", IDC_CONTEXTADD, 1, true},
    {L"AddArc", IDC_CONTEXTADDARC, 1, true},
    {L"EmailArc", IDC_CONTEXTEMAILARC, 1, true},
    {L"EmailOpt", IDC_CONTEXTEMAILARCOPT, 1, true},
    {L"Test", IDC_CONTEXTTEST, 0, true},
    {L"Convert", IDC_CONTEXTCONVERT, 0, true},
    {L"NewZVX", IDC_CONTEXTNEWZVX, 1, false},
    {L"NewZIP", IDC_CONTEXTNEWZIP, 1, false},
    {L"SFXLocal", IDC_CONTEXTSFXLOCAL, 1, false},
    {L"SFXNetwork", IDC_CONTEXTSFXNETWORK, 1, false},
    {L"SFXOther", IDC_CONTEXTSFXOTHER, 1, false},
    {L"DragAdd", IDC_CONTEXTDRAGADD, 1, false},
    {L"DragExtr", IDC_CONTEXTDRAGEXTRACT, 1, false},
};

struct TopItemBox {
    const wchar_t* Value;
    int Id;
    int Default;
    int Group;  // of the items in one group, the menu shows at most one
};

static const TopItemBox kTopItems[] = {
    {L"Extr", IDC_CONTEXTTOPEXTRACT, 1, 0},
    {L"ExtrTo", IDC_CONTEXTTOPEXTRACTTO, 0, 0},
    {L"ExtrHere", IDC_CONTEXTTOPEXTRACTHERE, 0, 0},
    {L"ExtrSep", IDC_CONTEXTTOPEXTRACTSEPARATE, 1, 1},
    {L"AddArc", IDC_CONTEXTTOPADDARC, 1, 2},
    {L"AddTo", IDC_CONTEXTTOPADD, 0, 2},
};

static void Show(HWND window, int id, bool visible)
{
    HWND control = GetDlgItem(window, id);
    if (control != nullptr)
        ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
}

static UINT CheckState(int value)
{
    return value != 0 ? BST_CHECKED : BST_UNCHECKED;
}

static uint32_t BoxValue(HWND window, int id)
{
    return IsDlgButtonChecked(window, id) == BST_CHECKED ? 1 : 0;
}

// Top mode: Windows 11 without the cascaded menu puts the chosen commands
// directly into its one top-level menu, so those replace the twelve submenu ones.
static bool IsTopMode(HWND window)
{
    return GetWindowLongPtrW(window, DWLP_USER) != 0;
}

static void InitContextItemsDialog(HWND window, bool cascaded)
{
    bool topMode = !cascaded && IsWindows11();
    SetWindowLongPtrW(window, DWLP_USER, topMode ? 1 : 0);
    if (!topMode) {
        for (const TopItemBox& item : kTopItems)
            Show(window, item.Id, false);
    } else {
        for (const MenuItemBox& item : kMenuItems) {
            if (item.HiddenInTopMode)
                Show(window, item.Id, false);
        }
        int shownGroup = -1;
        for (const TopItemBox& item : kTopItems) {
            if (item.Group == shownGroup)
                continue;
            int value = ReadUserInt(kTopMenuItemsKey, item.Value, item.Default);
            CheckDlgButton(window, item.Id, CheckState(value));
            if (value != 0)
                shownGroup = item.Group;
        }
    }
    for (const MenuItemBox& item : kMenuItems)
        CheckDlgButton(window, item.Id, CheckState(ReadUserInt(kMenuItemsKey, item.Value, item.Default)));

    wchar_t masks[kAlwaysArcChars];
    ReadUserString(kMenuItemsKey, L"AlwaysArc", masks, L"*.iso", kAlwaysArcChars);
    HWND edit = GetDlgItem(window, IDC_CONTEXTALWAYSARC);
    // What the user types must come back whole on OK.
    SendMessageW(edit, EM_LIMITTEXT, kAlwaysArcChars - 1, 0);
    SetWindowTextW(edit, masks);
    if (RightToLeft()) {
        // File masks read left to right in every language.
        LONG exStyle = GetWindowLongW(edit, GWL_EXSTYLE);
        SetWindowLongW(edit, GWL_EXSTYLE, exStyle & ~WS_EX_RTLREADING);
    }
}

static void SaveContextItems(HWND window)
{
    for (const MenuItemBox& item : kMenuItems)
        WriteUserInt(kMenuItemsKey, item.Value, BoxValue(window, item.Id));
    if (IsTopMode(window)) {
        for (const TopItemBox& item : kTopItems)
            WriteUserInt(kTopMenuItemsKey, item.Value, BoxValue(window, item.Id));
    }
    wchar_t masks[kAlwaysArcChars];
    if (GetDlgItemTextW(window, IDC_CONTEXTALWAYSARC, masks, kAlwaysArcChars) == 0)
        masks[0] = 0;
    WriteUserString(kMenuItemsKey, L"AlwaysArc", masks);
    SaveSettingsFile();
}

INT_PTR CALLBACK ContextItemsDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (DialogMessageFilter(window, message, wParam, lParam, L"SETUPCONTEXTITEMS", L"HELPContextItems") ||
        message == WM_HELP)
        return TRUE;
    if (message == WM_INITDIALOG) {
        InitContextItemsDialog(window, lParam != 0);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        SaveContextItems(window);
        EndDialog(window, TRUE);
        return TRUE;
    case IDCANCEL:
        EndDialog(window, FALSE);
        return TRUE;
    default:
        return FALSE;
    }
}

void RunContextItemsDialog(HWND owner, bool cascaded)
{
    DialogBoxParamW(DialogModule(L"SETUPCONTEXTITEMS"), L"SETUPCONTEXTITEMS", owner, ContextItemsDialogProc,
                    cascaded ? 1 : 0);
}
