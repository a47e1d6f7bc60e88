// A silent setup that does no work: the start-up of Uninstall.exe, then its two
// dialogs, SETUPDLG and DONEDLG, from the same resources and with the same
// manifest, each closed as soon as it is initialised. No setting is read and
// nothing is written. bench/run.sh times it beside `Uninstall.exe -x` and
// `Uninstall.exe -setup -s`: it is what the window system alone costs a setup.
#include <windows.h>
#include <ole2.h>

#include "common/base/module.h"
#include "common/base/scoped.h"
#include "common/localization/dialog_localization.h"
#include "common/localization/messages.h"
#include "uninstall/program.h"

// The dialog being opened, for the localization filter (WM_SETFONT comes before
// the initialisation parameter could say it).
static const wchar_t* g_dialogName = L"";

static INT_PTR CALLBACK CloseWhenInitialised(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (DialogMessageFilter(window, message, wParam, lParam, g_dialogName, nullptr))
        return TRUE;
    if (message != WM_INITDIALOG)
        return FALSE;
    EndDialog(window, 1);
    return TRUE;
}

static void OpenAndClose(const wchar_t* name)
{
    g_dialogName = name;
    DialogBoxParamW(ResourceModule(), name, nullptr, CloseWhenInitialised, 0);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // The program's start-up, step by step as its main flow makes it.
    HardenDllSearch(true);
    LoadLanguageLibrary(instance, nullptr);
    InitLanguage(L"uninstall.lng");
    {
        ScopedGdiObject bold;
        ScopedOleInitialize ole;
        ScopedLibrary richEdit(LoadSystemLibrary(L"riched20.dll"));
        LoadIconW(ResourceModule(), L"ZVXICON");
        bold.Reset(CreateFontW(ScaleForDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0,
                               L"MS Shell Dlg"));

        OpenAndClose(L"SETUPDLG");
        OpenAndClose(L"DONEDLG");
    }
    LanguageExitCleanup();
    return 0;
}
