#include "uninstall/program.h"

#include <ole2.h>
#include <shellapi.h>

#include "common/base/file.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/localization/language_file.h"
#include "common/localization/messages.h"
#include "uninstall/integration/done_dialog.h"
#include "uninstall/integration/setup_dialog.h"
#include "uninstall/options.h"
#include "uninstall/path_retry.h"
#include "uninstall/uninstall_run.h"

static int ExitCode = 0;
static HICON ProductIcon = nullptr;
static HFONT DialogBoldFont = nullptr;
static wchar_t ProgramGroupPath[kProgramGroupFolderChars];

int GetExitCode()
{
    return ExitCode;
}

void SetExitCode(int code)
{
    ExitCode = code;
}

HICON GetProductIcon()
{
    return ProductIcon;
}

HFONT GetDialogBoldFont()
{
    return DialogBoldFont;
}

wchar_t* ProgramGroupFolder()
{
    return ProgramGroupPath;
}

bool GetProgramPath(wchar_t* path, size_t capacity)
{
    DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD length = GetModuleFileNameW(nullptr, path, size);
    // A full buffer may hold a cut path.
    if (length == 0 || length >= size) {
        if (capacity > 0)
            path[0] = 0;
        return false;
    }
    return true;
}

bool ReadEnvironmentVariable(const wchar_t* name, wchar_t* buffer, size_t capacity)
{
    if (capacity == 0)
        return false;
    buffer[0] = 0;
    DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD length = GetEnvironmentVariableW(name, buffer, size);
    if (length == 0 || length >= size) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

bool IsOneStringFormat(const wchar_t* format)
{
    int strings = 0;
    for (const wchar_t* p = format; *p != 0; p++) {
        if (*p != L'%')
            continue;
        if (p[1] == L'%') {
            p++;
        } else if (p[1] == L's') {
            strings++;
            p++;
        } else {
            return false;
        }
    }
    return strings == 1;
}

int FormatMessageWithString(uint32_t id, const wchar_t* argument, wchar_t* buffer, size_t capacity)
{
    const wchar_t* format = MessageText(id);
    wchar_t ownText[kMessageTextChars];
    if (!IsOneStringFormat(format)) {
        if (LoadStringW(OwnModule(), id, ownText, kMessageTextChars) > 0 && IsOneStringFormat(ownText))
            format = ownText;
        else
            format = L"%s";
    }
    return FormatString(buffer, capacity, format, argument);
}

void HardenDllSearch(bool safeSearch)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr)
        return;
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
    if (setDllDirectory != nullptr)
        setDllDirectory(safeSearch ? L"" : nullptr);
    if (!safeSearch)
        return;
    // Where kernel32 has it, libraries loaded by bare name come from System32 only,
    // never from the program's folder, which a download folder may share with it.
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t path[kMaxPathChars];
    UINT length = GetSystemDirectoryW(path, kMaxPathChars);
    if (length == 0 || length >= kMaxPathChars)
        return nullptr;
    if (!JoinPath(path, name, path, kMaxPathChars))
        return nullptr;
    return LoadLibraryW(path);
}

int32_t ScaleForDpi(int32_t length)
{
    static int32_t dpiY = 0;
    if (dpiY == 0) {
        ScopedGetDC screen(nullptr);
        if (screen.Get() != nullptr)
            dpiY = GetDeviceCaps(screen.Get(), LOGPIXELSY);
    }
    // 64-bit product: the truncating division gives what 32-bit arithmetic gives
    // for every length that does not overflow, and no undefined result otherwise.
    return static_cast<int32_t>(static_cast<int64_t>(length) * dpiY / 96);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags)
{
    if (RightToLeft())
        flags |= MB_RIGHT | MB_RTLREADING;
    return MessageBoxW(owner, text, caption, flags);
}

bool CopyFromSfxFolder(const wchar_t* name)
{
    wchar_t settingsCopy[kMaxPathChars];
    LocateSettingsFolder(settingsCopy, kMaxPathChars, false);
    // When the settings folder's copy cannot even be named, nothing is copied:
    // the product may well have its settings already.
    if (!JoinPath(settingsCopy, name, settingsCopy, kMaxPathChars) || FileExists(settingsCopy))
        return true;
    wchar_t source[kMaxPathChars];
    if (!ReadEnvironmentVariable(L"sfxname", source, kMaxPathChars) || source[0] == 0)
        return true;
    if (!ReplaceNamePart(source, name, kMaxPathChars) || !FileExists(source))
        return false;
    // Never over an existing file; whether the copy worked does not matter to setup.
    WithExtendedRetry(source, name, [](const wchar_t* from, const wchar_t* to) {
        return CopyFileW(from, to, TRUE) != FALSE;
    });
    return true;
}

// The settings dialog, and after OK the completion dialog and the program group.
static void RunSetupMode()
{
    // -1 (the dialog could not be made) counts as OK, as installers have always seen it.
    if (DialogBoxParamW(DialogModule(L"SETUPDLG"), L"SETUPDLG", nullptr, SetupDialogProc, 0) == 0)
        return;
    CopyFromSfxFolder(L"zorvex.ini");
    const CommandOptions& options = GetCommandOptions();
    if (!options.Msi)
        DialogBoxParamW(DialogModule(L"DONEDLG"), L"DONEDLG", nullptr, DoneDialogProc, 0);
    const wchar_t* group = ProgramGroupFolder();
    if (group[0] != 0 && !options.Silent && !options.Msi && !options.NoExplorer && FileExists(group))
        ShellExecuteW(nullptr, L"open", group, nullptr, L"", SW_SHOWNORMAL);
}

int RunProgram(HINSTANCE instance)
{
    HardenDllSearch(true);
    LoadLanguageLibrary(instance, nullptr);
    InitLanguage(L"uninstall.lng");
    OleInitialize(nullptr);
    ScopedLibrary richEdit(LoadSystemLibrary(L"riched20.dll"));

    ProductIcon = LoadIconW(ResourceModule(), L"ZVXICON");
    if (ProductIcon == nullptr && ResourceModule() != instance)
        ProductIcon = LoadIconW(instance, L"ZVXICON");
    DialogBoldFont = CreateFontW(ScaleForDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0,
                                 L"MS Shell Dlg");

    constexpr size_t kSfxcmdChars = 1024;
    wchar_t sfxcmd[kSfxcmdChars];
    ReadEnvironmentVariable(L"sfxcmd", sfxcmd, kSfxcmdChars);
    bool setupRequested = false;
    bool uninstallRequested = false;
    ParseOptions(true, sfxcmd, setupRequested, uninstallRequested);
    const wchar_t* commandLine = GetCommandLineW();
    wchar_t programPath[kMaxPathChars];
    if (GetProgramPath(programPath, kMaxPathChars))
        commandLine = SkipUnquotedProgramPath(commandLine, programPath);
    ParseOptions(false, commandLine, setupRequested, uninstallRequested);

    if (setupRequested)
        RunSetupMode();
    if (uninstallRequested)
        RunUninstall();

    richEdit.Reset();
    OleUninitialize();
    if (DialogBoldFont != nullptr) {
        DeleteObject(DialogBoldFont);
        DialogBoldFont = nullptr;
    }
    return ExitCode;
}
