#include "uninstall/integration/setup_dialog.h"

#include <richedit.h>

#include <cwchar>

#include "common/base/change_log.h"
#include "common/base/file.h"
#include "common/base/strings.h"
#include "common/localization/dialog_localization.h"
#include "common/localization/messages.h"
#include "common/settings/settings_store.h"
#include "resources/resource.h"
#include "uninstall/integration/apply.h"
#include "uninstall/integration/associations.h"
#include "uninstall/integration/context_items_dialog.h"
#include "uninstall/integration/windows_version.h"
#include "uninstall/message_box.h"
#include "uninstall/options.h"
#include "uninstall/process_state.h"

static const wchar_t kSetupKey[] = L"Setup";
static const wchar_t kLinksKey[] = L"Setup\\Links";
static constexpr size_t kRowKeyChars = 80;
static constexpr size_t kHelpTextChars = 6 * kMessageTextChars + 16;

// The one-time notice about Windows 11's single top-level menu item.
static bool SingleTopItemNoticeShown;

// How a flag's default is settled while its setting is missing.
enum class FlagDefault { Off, On, OnWindows11 };

// The seven flags besides the association rows: each with its check box and its
// setting, in the order they are read and saved.
struct OptionBox {
    bool IntegrationOptions::*Flag;
    int CheckBoxId;
    const wchar_t* Key;
    const wchar_t* Value;
    FlagDefault Default;
};

static const OptionBox kOptionBoxes[] = {
    {&IntegrationOptions::DesktopLink, IDC_LINKDESKTOP, kLinksKey, L"Desktop", FlagDefault::Off},
    {&IntegrationOptions::StartMenuLink, IDC_LINKSTARTMENU, kLinksKey, L"StartMenu", FlagDefault::Off},
    {&IntegrationOptions::ProgramsLink, IDC_LINKPROGRAMS, kLinksKey, L"Programs", FlagDefault::On},
    {&IntegrationOptions::ShellExt, IDC_SHELLEXT, kSetupKey, L"ShellExt", FlagDefault::On},
    {&IntegrationOptions::CascadedMenu, IDC_SHELLCASCADED, kSetupKey, L"CascadedMenu", FlagDefault::OnWindows11},
    {&IntegrationOptions::MenuIcons, IDC_SHELLICONS, kSetupKey, L"MenuIcons", FlagDefault::On},
    {&IntegrationOptions::LegacyMenu, IDC_SHELLLEGACYMENU, kSetupKey, L"LegacyMenu", FlagDefault::Off},
};

static int DefaultValue(FlagDefault flagDefault)
{
    switch (flagDefault) {
    case FlagDefault::On: return 1;
    case FlagDefault::OnWindows11: return IsWindows11() ? 1 : 0;
    default: return 0;
    }
}

static bool RowKey(int row, wchar_t* key)
{
    return FormatString(key, kRowKeyChars, L"Setup\\%s", AssociationTable[row].Primary) >= 0;
}

void LoadOptions(IntegrationOptions& options)
{
    options = IntegrationOptions();
    for (int row = 0; row < kAssociationRows; ++row) {
        const wchar_t* primary = AssociationTable[row].Primary;
        wchar_t key[kRowKeyChars];
        bool set = RowKey(row, key) && ReadUserInt(key, L"Set", 1) != 0;
        bool isJar = wcscmp(primary, L".jar") == 0;
        bool isIso = wcscmp(primary, L".iso") == 0;
        if ((isJar || isIso) && !IsOwnAssociation(primary)) {
            // Java and disc-image tools own these types; take them only when asked.
            wchar_t owner[81];
            ReadString(HKEY_CLASSES_ROOT, primary, L"", owner, L"", 81);
            if (isJar || owner[0] != 0)
                set = false;
        }
        options.Associate[row] = set;
    }
    for (const OptionBox& box : kOptionBoxes)
        options.*box.Flag = ReadUserInt(box.Key, box.Value, DefaultValue(box.Default)) != 0;
    // Until the packaged menu has been installed once, Windows 11 shows the
    // classic commands only in a submenu.
    if (IsWindows11() && ReadUserInt(kSetupKey, L"NewContextMenu", 0) == 0)
        options.CascadedMenu = true;
}

void ApplyInitText(const wchar_t* initText, IntegrationOptions& options)
{
    const wchar_t* p = initText;
    while (p[0] != 0 && p[1] != 0) {
        wchar_t letter = UpperChar(p[0]);
        if (letter == L'A') {
            ++p;
            for (int i = 0; i < kAssociateFlags && IsDigit(*p); ++i, ++p)
                options.Associate[i] = *p == L'1';
            continue;
        }
        bool value = p[1] == L'1';
        switch (letter) {
        case L'C': options.CascadedMenu = value; break;
        case L'D': options.DesktopLink = value; break;
        case L'I': options.MenuIcons = value; break;
        case L'M': options.StartMenuLink = value; break;
        case L'P': options.ProgramsLink = value; break;
        case L'S': options.ShellExt = value; break;
        default: break;
        }
        p += 2;
    }
}

static void Check(HWND window, int id, bool set)
{
    CheckDlgButton(window, id, set ? BST_CHECKED : BST_UNCHECKED);
}

static bool Checked(HWND window, int id)
{
    return IsDlgButtonChecked(window, id) == BST_CHECKED;
}

static void Enable(HWND window, int id, bool enabled)
{
    HWND control = GetDlgItem(window, id);
    if (control != nullptr)
        EnableWindow(control, enabled ? TRUE : FALSE);
}

void ShowOptions(HWND window, const IntegrationOptions& options)
{
    for (int row = 0; row < kAssociationRows; ++row)
        Check(window, AssociationTable[row].CheckBoxId, options.Associate[row]);
    for (const OptionBox& box : kOptionBoxes)
        Check(window, box.CheckBoxId, options.*box.Flag);
    // The dependent boxes keep their state while disabled.
    Enable(window, IDC_SHELLCASCADED, options.ShellExt);
    Enable(window, IDC_SHELLICONS, options.ShellExt);
    Enable(window, IDC_SHELLLEGACYMENU, options.ShellExt && IsWindows11());
}

void ReadOptions(HWND window, IntegrationOptions& options)
{
    options = IntegrationOptions();
    for (int row = 0; row < kAssociationRows; ++row)
        options.Associate[row] = Checked(window, AssociationTable[row].CheckBoxId);
    for (const OptionBox& box : kOptionBoxes)
        options.*box.Flag = Checked(window, box.CheckBoxId);
}

void SaveOptions(const IntegrationOptions& options)
{
    for (int row = 0; row < kAssociationRows; ++row) {
        wchar_t key[kRowKeyChars];
        if (RowKey(row, key))
            WriteUserInt(key, L"Set", options.Associate[row] ? 1 : 0);
    }
    for (const OptionBox& box : kOptionBoxes)
        WriteUserInt(box.Key, box.Value, options.*box.Flag ? 1 : 0);
}

void ToggleAllAssociations(HWND window)
{
    bool anyUnchecked = false;
    for (int id = IDC_ASSOCZVX; id <= IDC_ASSOC001; ++id) {
        if (GetDlgItem(window, id) != nullptr && !Checked(window, id))
            anyUnchecked = true;
    }
    for (int id = IDC_ASSOCZVX; id <= IDC_ASSOC001; ++id)
        Check(window, id, anyUnchecked);
}

static void SetHelpText(HWND window)
{
    static wchar_t text[kHelpTextChars];
    CopyString(text, L"   ", kHelpTextChars);
    for (uint32_t id = IDS_INSTHELP1; id <= IDS_INSTHELP5; ++id) {
        AppendString(text, L" ", kHelpTextChars);
        AppendString(text, MessageText(id), kHelpTextChars);
    }
    AppendString(text, L"\r\n    ", kHelpTextChars);
    AppendString(text, MessageText(IDS_INSTHELP6), kHelpTextChars);
    SetDlgItemTextW(window, IDC_SETUPHELPTEXT, text);
}

static void InitSetupDialog(HWND window)
{
    SetHelpText(window);
    IntegrationOptions options;
    LoadOptions(options);
    ApplyInitText(GetCommandOptions().InitText, options);
    ShowOptions(window, options);
    SetForegroundWindow(window);
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(GetProductIcon()));
    SendDlgItemMessageW(window, IDC_SETUPHELPTEXT, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_BTNFACE));
    if (GetCommandOptions().Silent)
        SendMessageW(window, WM_COMMAND, IDOK, 0);
}

static void AcceptSetupDialog(HWND window)
{
    IntegrationOptions options;
    ReadOptions(window, options);
    SaveOptions(options);
    ApplySetupChoices(options);
    EndDialog(window, 1);
}

void ApplySetupWithoutDialog()
{
    IntegrationOptions options;
    LoadOptions(options);
    ApplyInitText(GetCommandOptions().InitText, options);
    SaveOptions(options);
    ApplySetupChoices(options);
}

static void OnCascadedClicked(HWND window)
{
    if (SingleTopItemNoticeShown || !IsWindows11() || Checked(window, IDC_SHELLCASCADED))
        return;
    ShowMessageBox(window, MessageText(IDS_SINGLETOPITEM), MessageText(IDS_UNINSTTITLE),
                   MB_ICONINFORMATION | MB_SETFOREGROUND);
    SingleTopItemNoticeShown = true;
}

INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (DialogMessageFilter(window, message, wParam, lParam, L"SETUPDLG", L"HELPIntegrationSettings"))
        return TRUE;
    if (message == WM_INITDIALOG) {
        InitSetupDialog(window);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        AcceptSetupDialog(window);
        break;
    case IDCANCEL:
        SetExitCode(1);
        EndDialog(window, 0);
        break;
    case IDC_SHELLEXT: {
        IntegrationOptions options;
        ReadOptions(window, options);
        ShowOptions(window, options);
        break;
    }
    case IDC_SHELLCASCADED:
        OnCascadedClicked(window);
        break;
    case IDC_ASSOCALL:
        ToggleAllAssociations(window);
        break;
    case IDC_SETCONTEXTMENU:
        RunContextItemsDialog(window, Checked(window, IDC_SHELLCASCADED));
        break;
    default:
        break;
    }
    return TRUE;
}
