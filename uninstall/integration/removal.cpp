#include "uninstall/integration/removal.h"

#include <windows.h>
#include <shlobj.h>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/strings.h"
#include "common/settings/settings_store.h"
#include "uninstall/integration/app_paths.h"
#include "uninstall/integration/associations.h"
#include "uninstall/integration/integration_options.h"
#include "uninstall/integration/machine_record.h"
#include "uninstall/integration/registry_view32.h"
#include "uninstall/integration/shell_extension.h"
#include "uninstall/integration/shortcuts.h"
#include "uninstall/options.h"

namespace {

// .rev is taken without a record of its former owner; another program that has
// taken it since keeps it.
void RemoveRecoveryVolumeType()
{
    wchar_t owner[80];
    ReadString(HKEY_CLASSES_ROOT, L".rev", L"", owner, L"", 80);
    if (CompareNoCase(owner, L"Zorvex.REV") == 0)
        DeleteKeyTree(HKEY_CLASSES_ROOT, L".rev");
}

}  // namespace

void RemoveIntegration()
{
    IntegrationOptions none = {};

    // The records of the former owners go with the machine key and the user's
    // settings below: use them first.
    ApplyAssociations(none);
    GateNotifyShell(SHCNE_ASSOCCHANGED, SHCNF_FLUSH);
    // What setup made in other profiles only the machine's record knows.
    RemoveRecordedShortcuts();
    if (!GetCommandOptions().Msi)
        RemoveRecordedSettingsCopy();
    RegisterShellIntegration(kShellRemove, none);
    // The record lies in the registry whatever serves the product key: while
    // Zorvex.ini is loaded, the call above removed only the file's entries.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"\\Software\\Zorvex");
    UpdateShortcuts(none, nullptr, 0, nullptr);

    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Zorvex");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Zorvex.ZIP");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Zorvex.REV");
    RemoveRecoveryVolumeType();

    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    // Likewise what a setup wrote into the user's registry before its settings
    // file came (copied beside the program after setup).
    DeleteKeyTree(HKEY_CURRENT_USER, L"\\Software\\Zorvex");

    // A Windows Installer package owns these two entries itself.
    if (GetCommandOptions().Msi)
        return;
    DeleteKey(HKEY_LOCAL_MACHINE, kUninstallKey);
    DeleteKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
    // Setup wrote App Paths in the 32-bit view as well; nothing of the product stays there.
    DeleteKeyIn32BitView(HKEY_LOCAL_MACHINE, kAppPathsKey);
}
