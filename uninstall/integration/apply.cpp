#include "uninstall/integration/apply.h"

#include <windows.h>
#include <shlobj.h>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/file.h"
#include "common/base/strings.h"
#include "common/settings/settings_store.h"
#include "uninstall/integration/app_paths.h"
#include "uninstall/integration/associations.h"
#include "uninstall/integration/machine_record.h"
#include "uninstall/integration/shell_extension.h"
#include "uninstall/integration/shortcuts.h"
#include "uninstall/options.h"
#include "uninstall/process_state.h"

bool ApplyIntegration(const IntegrationOptions& options, wchar_t* groupPathOut, size_t groupPathCapacity)
{
    if (!WriteAppPaths())
        return false;
    RecordInstallFolder();
    // RegisterProgIds tells the shell once every association is written; that notice
    // covers the shell extension's keys too. A second one a moment earlier would only
    // make Explorer reload its associations twice.
    RegisterShellIntegration(kShellApply | kShellLeaveNotice, options);
    ApplyAssociations(options);
    if (!RegisterProgIds()) {
        // Stopped before its notice: the shell must still hear of the extension.
        GateNotifyShell(SHCNE_ASSOCCHANGED, SHCNF_IDLIST);
        return false;
    }
    wchar_t iconPath[kMaxPathChars];
    ReadUserString(L"Interface\\Themes", L"ShellExtIcon", iconPath, L"", kMaxPathChars);
    bool useIcon = iconPath[0] != 0 && FileExists(iconPath);
    UpdateShortcuts(options, groupPathOut, groupPathCapacity, useIcon ? iconPath : nullptr);
    return true;
}

void ApplySetupChoices(const IntegrationOptions& options)
{
    ApplyIntegration(options, ProgramGroupFolder(), kProgramGroupFolderChars);
    DeleteUserValue(L"Interface\\Misc", L"RemShown");
    // A Windows Installer package registers the product itself.
    if (!GetCommandOptions().Msi)
        WriteUninstallEntry();
    AssociateExtension(L".ace", kReleaseExtension);
}
