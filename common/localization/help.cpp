#include "common/localization/help.h"

#include <cwchar>

#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/strings.h"
#include "common/localization/messages.h"

using HtmlHelpProc = HWND(WINAPI*)(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data);

static constexpr UINT kDisplayTopic = 0;  // HH_DISPLAY_TOPIC
static constexpr UINT kDisplayToc = 1;    // HH_DISPLAY_TOC
static constexpr size_t kTargetChars = kMaxPathChars + 50;

// Settled by the first call that finds the control, kept for the process.
static HMODULE HelpLibrary;
static HtmlHelpProc HtmlHelp;
static wchar_t HelpFilePath[kMaxPathChars];
static bool Retried;

// The program's path, or its short form, with the help file's name in place of
// the program's, and the translated copy in the language folder when one exists.
static bool LocateHelpFile(bool shortForm, wchar_t* path, size_t capacity)
{
    if (!ProgramPath(path, capacity))
        return false;
    if (shortForm) {
        wchar_t shortPath[kMaxPathChars];
        DWORD shortLength = GetShortPathNameW(path, shortPath, kMaxPathChars);
        if (shortLength > 0 && shortLength < kMaxPathChars)
            CopyString(path, shortPath, capacity);
    }
    if (!ReplaceNamePart(path, L"zorvex.chm", capacity))
        return false;
    FindInLanguageFolder(path, path, capacity);
    return true;
}

void ShowHelp(HWND window, const wchar_t* topic)
{
    HWND owner = GetDesktopWindow();
    if (HelpLibrary == nullptr)
        HelpLibrary = LoadSystemLibrary(L"hhctrl.ocx");  // tried again on the next call when it fails
    if (HtmlHelp == nullptr) {
        if (HelpLibrary == nullptr)
            return;
        HtmlHelp = reinterpret_cast<HtmlHelpProc>(
            reinterpret_cast<void*>(GetProcAddress(HelpLibrary, "HtmlHelpW")));
        if (!LocateHelpFile(false, HelpFilePath, kMaxPathChars))
            HelpFilePath[0] = 0;
        if (HtmlHelp == nullptr)
            return;
    }
    if (HelpFilePath[0] == 0)
        return;

    wchar_t target[kTargetChars];
    UINT command = kDisplayToc;
    if (topic != nullptr) {
        if (FormatString(target, kTargetChars, L"%s::/html/%s.htm", HelpFilePath, topic) < 0)
            return;
        command = kDisplayTopic;
    } else {
        CopyString(target, HelpFilePath, kTargetChars);
    }
    if (HtmlHelp(owner, target, command, 0) != nullptr || Retried)
        return;

    // The help control takes narrow paths inside: a folder name that the ANSI
    // code page cannot hold is tried once more through its short form.
    Retried = true;
    char narrow[kMaxPathChars];
    wchar_t roundTrip[kMaxPathChars];
    if (AnsiFromWide(HelpFilePath, narrow, kMaxPathChars) && WideFromAnsi(narrow, roundTrip, kMaxPathChars) &&
        wcscmp(roundTrip, HelpFilePath) == 0)
        return;
    wchar_t shortPath[kMaxPathChars];
    if (!LocateHelpFile(true, shortPath, kMaxPathChars))
        return;
    CopyString(HelpFilePath, shortPath, kMaxPathChars);
    ShowHelp(window, topic);
}
