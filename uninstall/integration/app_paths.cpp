#include "uninstall/integration/app_paths.h"

#include <windows.h>

#include "common/base/file.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/strings.h"
#include "common/localization/messages.h"
#include "common/settings/settings_store.h"
#include "resources/resource.h"
#include "uninstall/install_list.h"

const wchar_t kAppPathsKey[] = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zorvex.exe";
const wchar_t kUninstallKey[] = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvex archiver";

namespace {

const wchar_t kPublisher[] = L"Zorvex Software";
constexpr size_t kVersionPieceChars = 100;

}  // namespace

bool WriteAppPaths()
{
    wchar_t exe[kMaxPathChars];
    if (!ProgramFilePath(L"Zorvex.exe", exe, kMaxPathChars))
        return true;  // nothing to register, but nothing was denied either
    wchar_t folder[kMaxPathChars];
    CopyString(folder, exe, kMaxPathChars);
    StripNamePart(folder);

    // Setup without the rights to write here cannot do the rest either: the caller stops.
    if (WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"", exe) == ERROR_ACCESS_DENIED)
        return false;
    WriteString(HKEY_LOCAL_MACHINE, L"", L"exe64", exe);
    WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"Path", folder);
    // 32-bit programs look the name up in their own view.
    SetRegistryView(KEY_WOW64_32KEY);
    WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"", exe);
    WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"Path", folder);
    SetRegistryView(0);
    return true;
}

void AppendVersionText(wchar_t* text, size_t capacity)
{
    if (text[0] != 0)
        AppendString(text, L" ", capacity);
    wchar_t piece[kVersionPieceChars];
    FormatString(piece, kVersionPieceChars, L"%d.%02d", ZVX_VERSION_MAJOR, ZVX_VERSION_MINOR);
    AppendString(text, piece, capacity);
    FormatString(piece, kVersionPieceChars, L" %s %d", MessageText(IDS_BETA), ZVX_VERSION_BETA);
    AppendString(text, piece, capacity);
    FormatString(piece, kVersionPieceChars, L" (%s)", MessageText(IDS_64BIT));
    AppendString(text, piece, capacity);
}

// What deployment tools and Settings > Apps read besides the values above.
// folder: the program's folder with its trailing separator, or null.
static void WriteDeploymentValues(const wchar_t* program, const wchar_t* folder)
{
    // Only the path is quoted: winget takes a switch inside the quotes for part
    // of the path.
    wchar_t quiet[kMaxPathChars];
    if (FormatString(quiet, kMaxPathChars, L"\"%s\" -s", program) >= 0)
        WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString", quiet);
    uint32_t kib;
    if (folder != nullptr && InstalledSizeKiB(folder, program, kib))
        WriteInt(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize", kib);
    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t date[kVersionPieceChars];
    FormatString(date, kVersionPieceChars, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallDate", date);
    // The address comes from a language file: Settings offers it as a link, so
    // nothing but a web address is written, and one an earlier setup wrote goes.
    const wchar_t* home = MessageText(IDS_HOMEURL);
    wchar_t earlier[kMaxPathChars];
    if (IsWebAddress(home))
        WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"URLInfoAbout", home);
    else if (ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"URLInfoAbout", earlier, L"", kMaxPathChars) &&
             earlier[0] != 0)
        DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"URLInfoAbout");
}

void WriteUninstallEntry()
{
    wchar_t program[kMaxPathChars];
    if (!ProgramPath(program, kMaxPathChars))
        return;

    wchar_t displayName[kMaxPathChars] = L"Zorvex";
    AppendVersionText(displayName, kMaxPathChars);
    WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", displayName);
    wchar_t version[kVersionPieceChars];
    FormatString(version, kVersionPieceChars, L"%d.%02d.%d", ZVX_VERSION_MAJOR, ZVX_VERSION_MINOR,
                 ZVX_VERSION_BETA);
    WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", version);
    WriteInt(HKEY_LOCAL_MACHINE, kUninstallKey, L"VersionMajor", ZVX_VERSION_MAJOR);
    WriteInt(HKEY_LOCAL_MACHINE, kUninstallKey, L"VersionMinor", ZVX_VERSION_MINOR);
    WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", program);

    // An icon the installer chose stays as long as its file exists.
    wchar_t icon[kMaxPathChars];
    if (!ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayIcon", icon, L"", kMaxPathChars) ||
        !FileExists(icon)) {
        CopyString(icon, program, kMaxPathChars);
        if (!ReplaceNamePart(icon, L"Zorvex.exe", kMaxPathChars))
            icon[0] = 0;
    }
    if (icon[0] != 0)
        WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayIcon", icon);

    wchar_t folder[kMaxPathChars];
    bool haveFolder = FolderPart(program, folder, kMaxPathChars);
    if (haveFolder)
        WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", folder);
    WriteInt(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify", 1);
    WriteInt(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair", 1);
    WriteInt(HKEY_LOCAL_MACHINE, kUninstallKey, L"Language", 0);
    WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher", kPublisher);
    WriteDeploymentValues(program, haveFolder ? folder : nullptr);
}
