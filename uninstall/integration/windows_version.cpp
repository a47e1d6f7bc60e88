#include "uninstall/integration/windows_version.h"

#include <windows.h>
#include <objbase.h>
#include <wbemcli.h>

#include <cwchar>

#include "common/base/scoped.h"

namespace {

// GetVersionExW wants the size of the plain record, not the EX one.
constexpr DWORD kVersionInfoSize = 276;
static_assert(sizeof(OSVERSIONINFOW) == kVersionInfoSize, "OSVERSIONINFOW layout");

// Build numbers from this one on are Windows 11, unless WMI still calls the system Windows 10.
constexpr DWORD kFirstWindows11Build = 22000;

struct VersionCache {
    LONG Platform = -1;  // -1: not asked yet
    DWORD Major = 0;
    DWORD Minor = 0;
};
VersionCache g_version;

bool g_windows11Asked = false;
bool g_windows11 = false;

bool g_overrideSet = false;
WindowsVersionOverride g_override = {};
unsigned g_probeCalls = 0;

// A BSTR owned for the length of one call.
class ScopedBstr {
public:
    explicit ScopedBstr(const wchar_t* text) : bstr_(SysAllocString(text)) {}
    ~ScopedBstr() { SysFreeString(bstr_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR Get() const { return bstr_; }

private:
    BSTR bstr_;
};

// One GetVersionExW, or the values a test put in its place.
void QueryVersion(OSVERSIONINFOW& info)
{
    ++g_probeCalls;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = kVersionInfoSize;
    if (g_overrideSet) {
        info.dwPlatformId = VER_PLATFORM_WIN32_NT;
        info.dwMajorVersion = g_override.Major;
        info.dwMinorVersion = g_override.Minor;
        info.dwBuildNumber = g_override.Build;
        return;
    }
    // Without an answer the record stays zero: platform 0 then reads as an old system.
    GetVersionExW(&info);
}

bool QueryWmiName()
{
    ScopedComPtr<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.ReceiveVoid())) ||
        !locator)
        return false;

    ScopedBstr nameSpace(L"ROOT\\CIMV2");
    ScopedBstr language(L"WQL");
    ScopedBstr query(L"SELECT * FROM Win32_OperatingSystem");
    if (nameSpace.Get() == nullptr || language.Get() == nullptr || query.Get() == nullptr)
        return false;

    ScopedComPtr<IWbemServices> services;
    if (FAILED(locator->ConnectServer(nameSpace.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      services.Receive())) ||
        !services)
        return false;
    if (FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
        return false;

    ScopedComPtr<IEnumWbemClassObject> results;
    if (FAILED(services->ExecQuery(language.Get(), query.Get(),
                                   WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                   results.Receive())) ||
        !results)
        return false;

    bool mentions = false;
    for (;;) {
        ScopedComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        HRESULT hr = results->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.Receive(), &returned);
        if (FAILED(hr) || returned == 0 || !object)
            break;
        VARIANT name;
        VariantInit(&name);
        // Only a text counts; any other type, or a null text, says nothing about the name.
        if (SUCCEEDED(object->Get(L"Name", 0, &name, nullptr, nullptr)) && name.vt == VT_BSTR &&
            name.bstrVal != nullptr && wcsstr(name.bstrVal, L"Windows 10") != nullptr)
            mentions = true;
        VariantClear(&name);
    }
    return mentions;
}

}  // namespace

unsigned WindowsVersion()
{
    if (g_version.Platform == -1) {
        OSVERSIONINFOW info;
        QueryVersion(info);
        g_version.Platform = static_cast<LONG>(info.dwPlatformId);
        g_version.Major = info.dwMajorVersion;
        g_version.Minor = info.dwMinorVersion;
    }
    if (g_version.Platform != VER_PLATFORM_WIN32_NT)
        return 0x0501;
    return (g_version.Major << 8) + g_version.Minor;
}

bool IsWindows11()
{
    if (!g_windows11Asked) {
        OSVERSIONINFOW info;
        QueryVersion(info);
        // Some Windows 10 systems report Windows 11 build numbers; WMI's product name tells them apart.
        g_windows11 = info.dwMajorVersion > 10 ||
                      (info.dwMajorVersion == 10 && info.dwBuildNumber >= kFirstWindows11Build &&
                       !WmiNameMentionsWindows10());
        g_windows11Asked = true;
    }
    return g_windows11;
}

bool WmiNameMentionsWindows10()
{
    ++g_probeCalls;
    if (g_overrideSet && g_override.WmiMentionsWindows10 >= 0)
        return g_override.WmiMentionsWindows10 != 0;
    return QueryWmiName();
}

void SetWindowsVersionOverrideForTesting(const WindowsVersionOverride* values)
{
    g_overrideSet = values != nullptr;
    if (values != nullptr)
        g_override = *values;
    g_version = VersionCache();
    g_windows11Asked = false;
    g_windows11 = false;
}

unsigned VersionProbeCallsForTesting()
{
    return g_probeCalls;
}
