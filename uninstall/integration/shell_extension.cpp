#include "uninstall/integration/shell_extension.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/file.h"
#include "common/base/module.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/settings/settings_store.h"
#include "uninstall/integration/associations.h"
#include "uninstall/integration/registry_view32.h"
#include "uninstall/integration/windows_version.h"

// Fixed for the life of the product: the shell extension DLLs implement these classes.
const wchar_t kShellExtClsid32[] = L"{9D119554-2812-4B4D-BEEA-38E10781E553}";
const wchar_t kShellExtClsid64[] = L"{C2268F65-AD7D-48C0-9A17-B66F66E34450}";

const ShellExtVariant kShellExtVariants[2] = {
    {L"zvxext32.dll", kShellExtClsid32, L"Zorvex32", true},
    {L"zvxext.dll", kShellExtClsid64, L"Zorvex", false},
};

namespace {

const wchar_t kApprovedKey[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kRegisteredApplicationsKey[] = L"\\Software\\RegisteredApplications";
constexpr uint32_t kKeyChars = 160;
constexpr DWORD kInstallerRemovalWaitMs = 20000;

// One handler key of a variant: either <...>\{clsid} with an empty default value,
// or <...>\<handler name> whose default value names the class.
struct HandlerKey {
    const wchar_t* Format;  // key path with one %s
    bool NamedByHandler;
};

const HandlerKey kPropertySheetKeys[] = {
    {L"Zorvex\\shellex\\PropertySheetHandlers\\%s", false},
    {L"Zorvex.ZIP\\shellex\\PropertySheetHandlers\\%s", false},
    {L"exefile\\shellex\\PropertySheetHandlers\\%s", false},
};
const wchar_t* const kDropHandlerKeys[] = {
    L"Zorvex\\shellex\\DropHandler",
    L"Zorvex.ZIP\\shellex\\DropHandler",
};
const HandlerKey kDragDropKeys[] = {
    {L"Folder\\shellex\\DragDropHandlers\\%s", true},
    {L"Drive\\shellex\\DragDropHandlers\\%s", true},
};
const HandlerKey kContextMenuKeys[] = {
    {L"Zorvex\\shellex\\ContextMenuHandlers\\%s", false},
    {L"Zorvex.ZIP\\shellex\\ContextMenuHandlers\\%s", false},
    {L"*\\shellex\\ContextMenuHandlers\\%s", true},
    {L"Folder\\shellex\\ContextMenuHandlers\\%s", true},
    {L"lnkfile\\shellex\\ContextMenuHandlers\\%s", true},
};

bool FormatKey(wchar_t* key, const wchar_t* format, const wchar_t* argument)
{
    return FormatString(key, kKeyChars, format, argument) > 0;
}

void SetHandlerKey(const HandlerKey& row, const ShellExtVariant& variant, bool wanted)
{
    wchar_t key[kKeyChars];
    if (!FormatKey(key, row.Format, row.NamedByHandler ? variant.HandlerName : variant.Clsid))
        return;
    if (wanted)
        WriteString(HKEY_CLASSES_ROOT, key, L"", row.NamedByHandler ? variant.Clsid : L"");
    else
        DeleteKey(HKEY_CLASSES_ROOT, key);
}

void WriteClassKeys(const ShellExtVariant& variant, const wchar_t* classKey, const wchar_t* serverKey)
{
    wchar_t dll[kMaxPathChars];
    if (!ProgramFilePath(variant.DllName, dll, kMaxPathChars) || !FileExists(dll))
        return;
    SetRegistryView(variant.Is32Bit ? KEY_WOW64_32KEY : 0);
    WriteString(HKEY_CLASSES_ROOT, classKey, L"", L"Zorvex");
    WriteString(HKEY_CLASSES_ROOT, serverKey, L"", dll);
    WriteString(HKEY_CLASSES_ROOT, serverKey, L"ThreadingModel", L"Apartment");
    SetRegistryView(0);
}

void DeleteClassKeys(const ShellExtVariant& variant, const wchar_t* classKey, const wchar_t* serverKey)
{
    DeleteKey(HKEY_CLASSES_ROOT, serverKey);
    DeleteKey(HKEY_CLASSES_ROOT, classKey);
    // The 32-bit class was written in the 32-bit view, which the store's deletions do not reach.
    if (variant.Is32Bit) {
        DeleteKeyIn32BitView(HKEY_CLASSES_ROOT, serverKey);
        DeleteKeyIn32BitView(HKEY_CLASSES_ROOT, classKey);
    }
}

void RegisterApplication(bool remove)
{
    if (WindowsVersion() >= 0x0600) {
        if (!remove) {
            WriteString(HKEY_LOCAL_MACHINE, kRegisteredApplicationsKey, L"Zorvex", L"Software\\Zorvex\\Capabilities");
            WriteString(HKEY_LOCAL_MACHINE, L"Capabilities", L"ApplicationDescription", L"Zorvex");
            // Every type the product can open, whichever the user chose.
            for (int row = 0; row < kAssociationRows; ++row) {
                const wchar_t* position = AssociationTable[row].Extensions;
                wchar_t ext[kExtensionChars];
                while (NextExtension(position, ext, kExtensionChars))
                    WriteString(HKEY_LOCAL_MACHINE, L"Capabilities\\FileAssociations", ext,
                                row == 1 ? L"Zorvex.ZIP" : L"Zorvex");
            }
            return;
        }
        DeleteValue(HKEY_LOCAL_MACHINE, kRegisteredApplicationsKey, L"Zorvex");
    } else if (!remove) {
        return;
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"");
}

}  // namespace

void RunContextMenuPackageInstaller(bool install)
{
    // The first store call makes the store look for its settings file; only after
    // it does the gate answer for that file. A closed gate starts nothing and records nothing.
    ReadUserInt(L"Setup", L"NewContextMenu", 0);
    if (!IntegrationAllowed())
        return;
    wchar_t package[kMaxPathChars];
    if (!ProgramFilePath(L"ZvxExtPackage.msix", package, kMaxPathChars) || !FileExists(package))
        return;
    wchar_t installer[kMaxPathChars];
    if (!ProgramFilePath(L"ZvxExtInstaller.exe", installer, kMaxPathChars) || !FileExists(installer))
        return;

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = install ? 0 : SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = installer;
    info.lpParameters = install ? L"-install" : L"-Uninstall";
    info.nShow = SW_SHOWNORMAL;
    if (GateShellExecuteEx(&info) && !install) {
        // The removal must be done before the files it uses are deleted; a hung
        // installer must not hold up the uninstall for ever.
        ScopedHandle process(info.hProcess);
        if (process)
            WaitForSingleObject(process.Get(), kInstallerRemovalWaitMs);
    }
    WriteUserInt(L"Setup", L"NewContextMenu", install ? 1 : 0);
}

void RegisterShellExtension(const IntegrationOptions& options, const ShellExtVariant& variant)
{
    wchar_t classKey[kKeyChars];
    wchar_t serverKey[kKeyChars];
    if (!FormatKey(classKey, L"CLSID\\%s", variant.Clsid) ||
        !FormatKey(serverKey, L"CLSID\\%s\\InProcServer32", variant.Clsid))
        return;

    if (options.ShellExt) {
        WriteClassKeys(variant, classKey, serverKey);
        for (const HandlerKey& row : kPropertySheetKeys)
            SetHandlerKey(row, variant, true);
        for (const wchar_t* key : kDropHandlerKeys)
            WriteString(HKEY_CLASSES_ROOT, key, L"", variant.Clsid);
        for (const HandlerKey& row : kDragDropKeys)
            SetHandlerKey(row, variant, true);
        WriteString(HKEY_LOCAL_MACHINE, kApprovedKey, variant.Clsid, L"Zorvex shell extension");
    } else {
        DeleteClassKeys(variant, classKey, serverKey);
        for (const HandlerKey& row : kPropertySheetKeys)
            SetHandlerKey(row, variant, false);
        for (const wchar_t* key : kDropHandlerKeys)
            DeleteKey(HKEY_CLASSES_ROOT, key);
        for (const HandlerKey& row : kDragDropKeys)
            SetHandlerKey(row, variant, false);
        DeleteValue(HKEY_LOCAL_MACHINE, kApprovedKey, variant.Clsid);
    }

    if (!variant.Is32Bit && IsWindows11())
        RunContextMenuPackageInstaller(options.ShellExt);

    // Windows 11 shows the packaged menu; the classic handlers only when the user asked for them.
    bool classicMenu = options.ShellExt && (!IsWindows11() || options.LegacyMenu);
    for (const HandlerKey& row : kContextMenuKeys)
        SetHandlerKey(row, variant, classicMenu);
}

void RegisterShellIntegration(unsigned flags, const IntegrationOptions& options)
{
    for (const ShellExtVariant& variant : kShellExtVariants)
        RegisterShellExtension(options, variant);
    RegisterApplication((flags & kShellRemove) != 0);
    if ((flags & kShellLeaveNotice) == 0)
        GateNotifyShell(SHCNE_ASSOCCHANGED, SHCNF_IDLIST);
}
