#include "uninstall/integration/registry_view32.h"

#include "common/base/gate.h"
#include "common/settings/settings_store.h"

void DeleteKeyIn32BitView(HKEY root, const wchar_t* keyPath)
{
    if (!IntegrationAllowed() || keyPath == nullptr)
        return;
    const wchar_t* subKey = keyPath;
    if (root != HKEY_CLASSES_ROOT) {
        if (keyPath[0] != L'\\')
            return;
        ++subKey;
    }
    if (subKey[0] != 0)
        GateDeleteKey(root, KEY_WOW64_32KEY, subKey);
}
