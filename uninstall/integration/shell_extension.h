// Shell extension registration, classic handlers, packaged context menu, and
// the registered application with its capabilities.
#pragma once

#include "uninstall/integration/integration_options.h"

// Class identifiers shared with the shell extension DLLs.
extern const wchar_t kShellExtClsid32[];  // zvxext32.dll
extern const wchar_t kShellExtClsid64[];  // zvxext.dll

struct ShellExtVariant {
    const wchar_t* DllName;
    const wchar_t* Clsid;
    const wchar_t* HandlerName;
    bool Is32Bit;
};
extern const ShellExtVariant kShellExtVariants[2];  // 32-bit first, then 64-bit

// Ends by telling the shell that associations changed, unless notifyShell is false:
// then the caller does, once, after changes of its own.
void RegisterShellIntegration(bool remove, const IntegrationOptions& options, bool notifyShell = true);
void RegisterShellExtension(const IntegrationOptions& options, const ShellExtVariant& variant);
void RunContextMenuPackageInstaller(bool install);
