// The context-menu items dialog and the setup dialog's own controls, run
// modally in this process with the real dialog procedures and driven through
// window messages; Windows 11 comes from the version seam (Wine has none).
#include <gtest/gtest.h>

#include "common/localization/language_file.h"
#include "common/localization/messages.h"
#include "resources/resource.h"
#include "tests/support/dialog_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "tests/support/window_support.h"
#include "uninstall/integration/context_items_dialog.h"
#include "uninstall/integration/done_dialog.h"
#include "uninstall/integration/setup_dialog.h"
#include "uninstall/integration/windows_version.h"
#include "uninstall/process_state.h"

using namespace testsupport;

namespace {

const WindowsVersionOverride kWindows10 = {10, 0, 19045, 1};
const WindowsVersionOverride kWindows11 = {10, 0, 22631, 0};

const wchar_t kMenuItems[] = L"Software\\Zorvex\\Setup\\MenuItems";
const wchar_t kTopMenuItems[] = L"Software\\Zorvex\\Setup\\TopMenuItems";

const int kCommandBoxes[] = {IDC_CONTEXTEXTRACTTO,  IDC_CONTEXTEXTRACTHERE, IDC_CONTEXTEXTRACT,
                             IDC_CONTEXTEXTRACTSEPARATE, IDC_CONTEXTOPENSFX, IDC_CONTEXTOPENARC,
                             IDC_CONTEXTADD,        IDC_CONTEXTADDARC,      IDC_CONTEXTEMAILARC,
                             IDC_CONTEXTEMAILARCOPT, IDC_CONTEXTTEST,       IDC_CONTEXTCONVERT};
const int kTopBoxes[] = {IDC_CONTEXTTOPEXTRACT,        IDC_CONTEXTTOPEXTRACTTO, IDC_CONTEXTTOPEXTRACTHERE,
                         IDC_CONTEXTTOPEXTRACTSEPARATE, IDC_CONTEXTTOPADDARC,    IDC_CONTEXTTOPADD};
const int kOtherBoxes[] = {IDC_CONTEXTNEWZVX,   IDC_CONTEXTNEWZIP,     IDC_CONTEXTSFXLOCAL, IDC_CONTEXTSFXNETWORK,
                           IDC_CONTEXTSFXOTHER, IDC_CONTEXTDRAGADD,    IDC_CONTEXTDRAGEXTRACT};

bool Visible(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr && IsWindowVisible(control);
}

// What the dialog showed, taken by a script step.
struct Seen {
    std::map<int, bool> visible;
    std::map<int, bool> checked;
    std::wstring masks;
};

DialogStep Observe(Seen& seen)
{
    return [&seen]() {
        HWND dialog = ActiveThreadDialog();
        if (dialog == nullptr)
            return false;
        for (int id = IDC_CONTEXTEXTRACTTO; id <= IDC_CONTEXTSFXOTHER; ++id) {
            seen.visible[id] = Visible(dialog, id);
            seen.checked[id] = IsChecked(dialog, id);
        }
        seen.masks = ControlText(dialog, IDC_CONTEXTALWAYSARC);
        return true;
    };
}

DialogStep Press(int id)
{
    return [id]() {
        HWND dialog = ActiveThreadDialog();
        return dialog != nullptr && PressButton(dialog, id);
    };
}

DialogStep SetText(int id, const wchar_t* text)
{
    return [id, text]() {
        HWND dialog = ActiveThreadDialog();
        return dialog != nullptr && SetDlgItemTextW(dialog, id, text) != FALSE;
    };
}

// The window's close box, which a dialog turns into IDCANCEL (SETUPDLG has no
// Cancel button).
DialogStep CloseBox()
{
    return []() {
        HWND dialog = ActiveThreadDialog();
        return dialog != nullptr && PostMessageW(dialog, WM_CLOSE, 0, 0) != FALSE;
    };
}

// A click as the user makes it: the box toggles and notifies its dialog.
DialogStep Click(int id)
{
    return [id]() {
        HWND dialog = ActiveThreadDialog();
        if (dialog == nullptr || GetDlgItem(dialog, id) == nullptr)
            return false;
        PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
        return true;
    };
}

class ContextItemsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        DestroyLanguageTable();
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex");
    }
    void TearDown() override
    {
        SetWindowsVersionOverrideForTesting(nullptr);
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex");
        SetExitCode(0);
    }
    INT_PTR Run(bool cascaded, std::vector<DialogStep> steps)
    {
        int stalled = 0;
        INT_PTR result = RunScriptedDialog(L"SETUPCONTEXTITEMS", ContextItemsDialogProc, cascaded ? 1 : 0,
                                           std::move(steps), &stalled);
        EXPECT_EQ(-1, stalled) << "the script stalled at this step";
        return result;
    }
};

TEST_F(ContextItemsDialog, Windows10ShowsTheTwelveCommandsWhateverTheCascadeAndNeverWritesTopItems)
{
    SetWindowsVersionOverrideForTesting(&kWindows10);
    for (bool cascaded : {false, true}) {
        SCOPED_TRACE(cascaded);
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex");
        Seen seen;
        EXPECT_EQ(TRUE, Run(cascaded, {Observe(seen), Press(IDOK)}));
        for (int id : kCommandBoxes)
            EXPECT_TRUE(seen.visible[id]) << id;
        for (int id : kTopBoxes)
            EXPECT_FALSE(seen.visible[id]) << id;
        for (int id : kOtherBoxes)
            EXPECT_TRUE(seen.visible[id]) << id;
        // Defaults: everything on but Test and Convert; the masks "*.iso".
        EXPECT_TRUE(seen.checked[IDC_CONTEXTEXTRACTTO]);
        EXPECT_FALSE(seen.checked[IDC_CONTEXTTEST]);
        EXPECT_FALSE(seen.checked[IDC_CONTEXTCONVERT]);
        EXPECT_TRUE(seen.checked[IDC_CONTEXTDRAGEXTRACT]);
        EXPECT_EQ(L"*.iso", seen.masks);

        EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, kTopMenuItems));
        EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kMenuItems, L"ExtrTo"));
        EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kMenuItems, L"Convert"));
        EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kMenuItems, L"NewZIP"));
        EXPECT_EQ(L"*.iso", StringOf(HKEY_CURRENT_USER, kMenuItems, L"AlwaysArc"));
    }
}

TEST_F(ContextItemsDialog, Windows11WithoutCascadeChoosesTopItemsOnePerGroup)
{
    SetWindowsVersionOverrideForTesting(&kWindows11);
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kTopMenuItems, L"Extr", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kTopMenuItems, L"ExtrTo", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kTopMenuItems, L"AddArc", 0));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kTopMenuItems, L"AddTo", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kMenuItems, L"Test", 1));
    Seen seen;
    EXPECT_EQ(TRUE, Run(false, {Observe(seen), Press(IDOK)}));
    for (int id : kCommandBoxes)
        EXPECT_FALSE(seen.visible[id]) << id;
    for (int id : kTopBoxes)
        EXPECT_TRUE(seen.visible[id]) << id;
    for (int id : kOtherBoxes)
        EXPECT_TRUE(seen.visible[id]) << id;
    EXPECT_TRUE(seen.checked[IDC_CONTEXTTOPEXTRACT]);
    EXPECT_FALSE(seen.checked[IDC_CONTEXTTOPEXTRACTTO]);
    EXPECT_FALSE(seen.checked[IDC_CONTEXTTOPEXTRACTHERE]);
    EXPECT_TRUE(seen.checked[IDC_CONTEXTTOPEXTRACTSEPARATE]);
    EXPECT_FALSE(seen.checked[IDC_CONTEXTTOPADDARC]);
    EXPECT_TRUE(seen.checked[IDC_CONTEXTTOPADD]);
    // Hidden command boxes still carry their stored state.
    EXPECT_TRUE(seen.checked[IDC_CONTEXTTEST]);

    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kTopMenuItems, L"Extr"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kTopMenuItems, L"ExtrTo"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kTopMenuItems, L"ExtrHere"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kTopMenuItems, L"ExtrSep"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, kTopMenuItems, L"AddArc"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kTopMenuItems, L"AddTo"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kMenuItems, L"Test"));
}

TEST_F(ContextItemsDialog, Windows11WithCascadeIsTheClassicDialog)
{
    SetWindowsVersionOverrideForTesting(&kWindows11);
    Seen seen;
    EXPECT_EQ(TRUE, Run(true, {Observe(seen), Press(IDOK)}));
    for (int id : kCommandBoxes)
        EXPECT_TRUE(seen.visible[id]) << id;
    for (int id : kTopBoxes)
        EXPECT_FALSE(seen.visible[id]) << id;
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, kTopMenuItems));
}

TEST_F(ContextItemsDialog, CancelStoresNothingAndAnEmptyMaskListStaysEmpty)
{
    SetWindowsVersionOverrideForTesting(&kWindows10);
    EXPECT_EQ(FALSE, Run(true, {Click(IDC_CONTEXTTEST), SetText(IDC_CONTEXTALWAYSARC, L"*.img"), Press(IDCANCEL)}));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, kMenuItems));

    EXPECT_EQ(TRUE, Run(true, {Click(IDC_CONTEXTTEST), SetText(IDC_CONTEXTALWAYSARC, L""), Press(IDOK)}));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kMenuItems, L"Test"));
    EXPECT_EQ(L"", StringOf(HKEY_CURRENT_USER, kMenuItems, L"AlwaysArc"));
    Seen seen;
    EXPECT_EQ(FALSE, Run(true, {Observe(seen), Press(IDCANCEL)}));
    EXPECT_EQ(L"", seen.masks);
    EXPECT_TRUE(seen.checked[IDC_CONTEXTTEST]);
}

// The setup dialog around it, cancelled: nothing of its own is applied.
class SetupDialogControls : public ContextItemsDialog {
protected:
    INT_PTR RunSetup(std::vector<DialogStep> steps)
    {
        int stalled = 0;
        INT_PTR result = RunScriptedDialog(L"SETUPDLG", SetupDialogProc, 0, std::move(steps), &stalled);
        EXPECT_EQ(-1, stalled) << "the script stalled at this step";
        return result;
    }
};

TEST_F(SetupDialogControls, ContextItemsSavedByTheirOkSurviveCancellingSetup)
{
    SetWindowsVersionOverrideForTesting(&kWindows11);
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup", L"NewContextMenu", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup", L"CascadedMenu", 0));
    Seen seen;
    HWND setup = nullptr;
    INT_PTR result = RunSetup({
        [&setup]() { return (setup = ActiveThreadDialog()) != nullptr; },
        Press(IDC_SETCONTEXTMENU),
        // The nested dialog is the active one once the setup dialog is disabled.
        [&setup]() { return ActiveThreadDialog() != nullptr && ActiveThreadDialog() != setup; },
        Observe(seen),
        Click(IDC_CONTEXTTOPADD),
        Press(IDOK),
        [&setup]() { return ActiveThreadDialog() == setup; },
        CloseBox(),
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(1, GetExitCode());
    // Cascade cleared in the setup dialog on Windows 11: top mode.
    EXPECT_TRUE(seen.visible[IDC_CONTEXTTOPADD]);
    EXPECT_FALSE(seen.visible[IDC_CONTEXTADD]);
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kTopMenuItems, L"AddTo"));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, kMenuItems, L"ExtrTo"));
    // The setup dialog itself saved nothing.
    EXPECT_EQ(-1, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zvx", L"Set"));
    EXPECT_EQ(-1, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup", L"ShellExt"));
}

TEST_F(SetupDialogControls, ShellBoxesToggleAllAndTheSingleTopItemNoticeOnce)
{
    SetWindowsVersionOverrideForTesting(&kWindows11);
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup", L"NewContextMenu", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup", L"CascadedMenu", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup", L"LegacyMenu", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.cab", L"Set", 0));
    HWND setup = nullptr;
    std::wstring notice;
    std::vector<bool> states;
    auto record = [&]() {
        HWND d = ActiveThreadDialog();
        if (d != setup)
            return false;
        for (int id : {IDC_SHELLCASCADED, IDC_SHELLICONS, IDC_SHELLLEGACYMENU}) {
            states.push_back(IsChecked(d, id));
            states.push_back(IsWindowEnabled(GetDlgItem(d, id)) != FALSE);
        }
        for (int id = IDC_ASSOCZVX; id <= IDC_ASSOC001; ++id)
            states.push_back(IsChecked(d, id));
        return true;
    };
    INT_PTR result = RunSetup({
        [&setup]() { return (setup = ActiveThreadDialog()) != nullptr; },
        record,
        // Clearing the cascade on Windows 11 explains the single top item once.
        Click(IDC_SHELLCASCADED),
        [&]() {
            HWND box = ActiveThreadDialog();
            if (box == nullptr || box == setup)
                return false;
            notice = MessageBoxText(box);
            return PressButton(box, IDOK);
        },
        [&setup]() { return ActiveThreadDialog() == setup; },
        Click(IDC_SHELLCASCADED),
        Click(IDC_SHELLCASCADED),
        Click(IDC_SHELLEXT),
        Click(IDC_ASSOCALL),
        record,
        Click(IDC_ASSOCALL),
        record,
        CloseBox(),
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(std::wstring(MessageText(IDS_SINGLETOPITEM)), notice);
    ASSERT_EQ(3u * 24u, states.size());
    // At first: cascade, icons and legacy checked and enabled; .cab unchecked.
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(states[i]) << i;
    EXPECT_FALSE(states[6 + 2]);
    EXPECT_TRUE(states[6 + 3]);
    // Shell extension cleared: the three are disabled and keep their state
    // (cascade unchecked by the three clicks).
    EXPECT_FALSE(states[24 + 0]);
    EXPECT_FALSE(states[24 + 1]);
    EXPECT_TRUE(states[24 + 2]);
    EXPECT_FALSE(states[24 + 3]);
    EXPECT_TRUE(states[24 + 4]);
    EXPECT_FALSE(states[24 + 5]);
    // One unchecked type: toggling checks all; all checked: toggling clears all.
    for (int i = 6; i < 24; ++i) {
        EXPECT_TRUE(states[24 + i]) << i;
        EXPECT_FALSE(states[48 + i]) << i;
    }
    EXPECT_EQ(-1, DwordOf(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\.zip", L"Set"));
}

// Under a language file that translates every key of the three dialogs (and
// the setup dialog's help pieces), the dialogs show no text of their templates:
// every control that shows text has a key. Only the two fields that show data
// (the mask list and the install folder) keep what the program puts there.
class EveryDialogText : public ContextItemsDialog {
protected:
    void TearDown() override
    {
        DestroyLanguageTable();
        RemoveTree(folder_);
        ContextItemsDialog::TearDown();
    }
    void LoadTranslation()
    {
        std::wstring body;
        for (const wchar_t* dialog : {L"SETUPDLG", L"SETUPCONTEXTITEMS", L"DONEDLG"}) {
            body += L":DIALOG " + std::wstring(dialog) + L"\r\n";
            std::string prefix = "$" + std::string(dialog, dialog + wcslen(dialog)) + ":";
            for (size_t n = 0; n < KeyTableSize; n++) {
                std::string key = KeyTable[n].Key;
                if (key.compare(0, prefix.size(), prefix) != 0 || key.substr(prefix.size()) == "SIZE")
                    continue;
                std::wstring item(key.begin() + static_cast<std::ptrdiff_t>(prefix.size()), key.end());
                body += item + L" T:" + item + L"\r\n";
            }
        }
        body += L":STRINGS\r\n";
        for (int n = 1; n <= 6; n++)
            body += L"IDS_INSTHELP" + std::to_wstring(n) + L" T:IDS_INSTHELP" + std::to_wstring(n) + L"\r\n";
        folder_ = MakeScratchFolder(L"every-dialog-text");
        std::wstring path = folder_ + L"\\uninstall.lng";
        ASSERT_TRUE(WriteLanguageFile(path, body));
        LoadLanguageFile(path.c_str());
        ASSERT_GT(LanguageEntryCount(), 80u);
    }
    // "id: text" of every child (hidden ones too) whose text is not translated.
    static DialogStep CollectUntranslated(std::vector<std::wstring>& untranslated, std::wstring& caption)
    {
        return [&untranslated, &caption]() {
            HWND dialog = ActiveThreadDialog();
            if (dialog == nullptr)
                return false;
            caption = WindowText(dialog);
            EnumChildWindows(
                dialog,
                [](HWND child, LPARAM param) -> BOOL {
                    int id = GetDlgCtrlID(child);
                    std::wstring text = WindowText(child);
                    size_t start = text.find_first_not_of(L" \r\n");
                    bool data = id == IDC_CONTEXTALWAYSARC || id == IDC_INSTFOLDER;
                    if (!data && start != std::wstring::npos && text.compare(start, 2, L"T:") != 0)
                        reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(std::to_wstring(id) + L": " +
                                                                                        text);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&untranslated));
            return true;
        };
    }

    std::wstring folder_;
};

TEST_F(EveryDialogText, NoControlOfTheThreeDialogsShowsAnUntranslatedText)
{
    SetWindowsVersionOverrideForTesting(&kWindows10);
    LoadTranslation();
    struct Run {
        const wchar_t* name;
        DLGPROC proc;
        DialogStep end;
    };
    for (const Run& run : {Run{L"SETUPDLG", SetupDialogProc, CloseBox()},
                           Run{L"SETUPCONTEXTITEMS", ContextItemsDialogProc, Press(IDCANCEL)},
                           Run{L"DONEDLG", DoneDialogProc, Press(IDOK)}}) {
        std::vector<std::wstring> untranslated;
        std::wstring caption;
        int stalled = 0;
        RunScriptedDialog(run.name, run.proc, 0, {CollectUntranslated(untranslated, caption), run.end}, &stalled);
        EXPECT_EQ(-1, stalled) << testing::PrintToString(std::wstring(run.name));
        EXPECT_EQ(L"T:CAPTION", caption) << testing::PrintToString(std::wstring(run.name));
        EXPECT_EQ(std::vector<std::wstring>{}, untranslated) << testing::PrintToString(std::wstring(run.name));
    }
}

}  // namespace
