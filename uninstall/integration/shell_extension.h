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

// What RegisterShellIntegration does beside the two variants, which follow options.ShellExt.
enum ShellIntegrationFlags : unsigned {
    kShellApply = 0,
    // Also delete the registered application and the product's machine key.
    kShellRemove = 1u << 0,
    // Do not tell the shell that associations changed: the caller does, once,
    // after changes of its own.
    kShellLeaveNotice = 1u << 1,
};
void RegisterShellIntegration(unsigned flags, const IntegrationOptions& options);
void RegisterShellExtension(const IntegrationOptions& options, const ShellExtVariant& variant);
void RunContextMenuPackageInstaller(bool install);
