#include "common/base/run_facts.h"

#include <windows.h>

#include "common/base/scoped.h"
#include "common/base/strings.h"

void WindowsVersionText(char* dest, size_t capacity)
{
    CopyStringA(dest, "unknown", capacity);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr)
        return;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto getVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    // The real version, whatever the manifest or a compatibility layer tells
    // GetVersionEx.
    if (getVersion != nullptr && getVersion(&info) == 0)
        FormatStringA(dest, capacity, "%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}

const char* ElevationText()
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return "unknown";
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size))
        return "unknown";
    return elevation.TokenIsElevated ? "elevated" : "not-elevated";
}

