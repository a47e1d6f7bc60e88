#include "uninstall/program.h"

#include <ole2.h>
#include <shellapi.h>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/environment.h"
#include "common/base/file.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/settings_folder.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/localization/messages.h"
#include "resources/resource.h"
#include "uninstall/deployment.h"
#include "uninstall/integration/done_dialog.h"
#include "uninstall/integration/machine_record.h"
#include "uninstall/integration/setup_dialog.h"
#include "uninstall/message_box.h"
#include "uninstall/options.h"
#include "uninstall/process_state.h"
#include "uninstall/uninstall_run.h"

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
    // A copy made is recorded: it is no file the installer listed, and the uninstall
    // must remove it for the install folder to go.
    if (GateCopyNew(source, name))
        RecordSettingsCopy(name);
    return true;
}

// Told by the self-removal batch file when it could not delete the program.
static void ShowUninstallWarning()
{
    wchar_t programPath[kMaxPathChars];
    ProgramPath(programPath, kMaxPathChars);
    wchar_t text[512];
    FormatString(text, 512, L"%s\n", MessageText(IDS_UNINSTALLCOMPLETED));
    size_t used = wcslen(text);
    // The second message gets what room is left; the box shows a cut text as it is.
    FormatMessageWithString(IDS_UNINSTALLSHOULDDELETE, programPath, text + used, 512 - used);
    ShowMessageBox(nullptr, text, MessageText(IDS_UNINSTALLZVX), MB_ICONINFORMATION | MB_SETFOREGROUND);
}

void TakeOptionSteps(const OptionSteps& steps)
{
    for (size_t n = 0; n < steps.Count; n++) {
        if (steps.Steps[n] == OptionStep::Wait)
            Sleep(2000);
        else if (steps.Steps[n] == OptionStep::Warning)
            ShowUninstallWarning();
    }
}

// The settings dialog; -1 when not even the program's own template can be made.
static INT_PTR RunSetupDialog()
{
    HINSTANCE module = DialogModule(L"SETUPDLG");
    INT_PTR result = DialogBoxParamW(module, L"SETUPDLG", nullptr, SetupDialogProc, 0);
    // A language library's template may name a control class this Windows lacks
    // (the old RICHEDIT): the program's own template still shows the choices.
    if (result == -1 && module != OwnModule())
        result = DialogBoxParamW(OwnModule(), L"SETUPDLG", nullptr, SetupDialogProc, 0);
    return result;
}

// The settings dialog, and after OK the completion dialog and the program group.
static void RunSetupMode()
{
    INT_PTR result = RunSetupDialog();
    if (result == 0) {
        SetRunResult(L"cancelled");
        return;
    }
    // -1 (no dialog could be made, the rich-edit library missing) counts as OK, as
    // installers have always seen it. A silent run applies what OK would have, the
    // dialog pressing OK on itself there; a run with someone to answer it applied
    // nothing and says so.
    if (result == -1) {
        if (GetCommandOptions().Silent) {
            LogNote(L"the setup dialog cannot be made: the choices are applied without it");
            ApplySetupWithoutDialog();
        } else {
            SetRunResult(L"dialog-failed");
        }
    }
    CopyFromSfxFolder(L"zorvex.ini");
    const CommandOptions& options = GetCommandOptions();
    if (!options.Msi)
        DialogBoxParamW(DialogModule(L"DONEDLG"), L"DONEDLG", nullptr, DoneDialogProc, 0);
    const wchar_t* group = ProgramGroupFolder();
    if (group[0] != 0 && !options.Silent && !options.Msi && !options.NoExplorer && FileExists(group))
        GateShellExecute(L"open", group, nullptr, SW_SHOWNORMAL);
}

// What the options ask the run to do.
struct ModeRequest {
    bool Setup;
    bool Uninstall;
    OptionSteps Steps;
};

// The options from sfxcmd and the command line, and the steps they ask for.
// Read before the log opens, which the command line may name.
static void ReadOptions(ModeRequest& request)
{
    constexpr size_t kSfxcmdChars = 1024;
    wchar_t sfxcmd[kSfxcmdChars];
    ReadEnvironmentVariable(L"sfxcmd", sfxcmd, kSfxcmdChars);
    request.Setup = false;
    request.Uninstall = false;
    ParseOptions(true, sfxcmd, request.Setup, request.Uninstall);
    const wchar_t* commandLine = GetCommandLineW();
    wchar_t programPath[kMaxPathChars];
    if (ProgramPath(programPath, kMaxPathChars))
        commandLine = SkipUnquotedProgramPath(commandLine, programPath);
    request.Steps = ParseOptions(false, commandLine, request.Setup, request.Uninstall);
}

// The steps the options ask for, then the mode they choose.
static void RunModes(ModeRequest& request)
{
    CommandOptions& options = GetCommandOptions();
    // Nobody can answer a box or a dialog in a window station no user sees: the
    // caller who started the run there meant it to run.
    wchar_t stationNote[400];
    bool stationVisible = InspectWindowStation(stationNote, sizeof stationNote / sizeof stationNote[0]);
    if (!stationVisible)
        options.Silent = true;
    bool setupRequested = request.Setup;
    bool uninstallRequested = request.Uninstall;
    bool msi = options.Msi;
    // Only a run that would change the machine is previewed.
    bool preview = PreviewRequested() && (setupRequested || uninstallRequested);
    if (preview)
        BeginPreview();
    // Started before the steps the options ask for, so that the warning box is logged.
    StartChangeLog(setupRequested       ? (msi ? L"msi-setup" : L"setup")
                   : uninstallRequested ? (msi ? L"msi-uninstall" : L"uninstall")
                                        : L"none",
                   preview, GetCommandLineW());
    if (!stationVisible)
        LogNote(stationNote);
    TakeOptionSteps(request.Steps);

    // A preview changes nothing, and setup is nothing but changes: it does not run.
    if (setupRequested && preview) {
        LogNote(L"ZORVEX_PREVIEW=1: setup is not previewed and changes nothing");
        SetRunResult(L"stopped");
        setupRequested = false;
    }
    // Two runs at once would undo and redo each other's changes.
    if ((setupRequested || uninstallRequested) && !TakeRunLock()) {
        SetRunResult(L"busy");
        if (!options.Silent)
            ShowMessageBox(nullptr, MessageText(IDS_ALREADYRUNNING),
                           MessageText(setupRequested ? IDS_UNINSTTITLE : IDS_UNINSTALLZVX),
                           MB_ICONEXCLAMATION | MB_SETFOREGROUND);
        return;
    }
    if (setupRequested)
        RunSetupMode();
    if (uninstallRequested) {
        LogPreviewNote();
        RunUninstall();
    }
}

int RunProgram(HINSTANCE instance)
{
    HardenDllSearch(true);
    // Static: the steps of the longest command line take a few kilobytes.
    static ModeRequest request;
    ReadOptions(request);
    const CommandOptions& options = GetCommandOptions();
    OpenChangeLog(options.LogGiven ? options.LogPath : nullptr);
    LoadLanguageLibrary(instance, nullptr);
    InitLanguage(L"uninstall.lng");
    // Declared so that the end of the flow releases the rich-edit library, then
    // OLE, then the font.
    ScopedGdiObject boldFont;
    ScopedOleInitialize ole;
    ScopedLibrary richEdit(LoadSystemLibrary(L"riched20.dll"));

    HICON icon = LoadIconW(ResourceModule(), L"ZVXICON");
    if (icon == nullptr && ResourceModule() != instance)
        icon = LoadIconW(instance, L"ZVXICON");
    SetProductIcon(icon);
    boldFont.Reset(CreateFontW(ScaleForDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0,
                               L"MS Shell Dlg"));
    SetDialogBoldFont(static_cast<HFONT>(boldFont.Get()));

    RunModes(request);

    SetDialogBoldFont(nullptr);
    // The result line's word and the exit code come from one table.
    return ExitCodeForResult(RunResult(), options.MsiExitCodes);
}
