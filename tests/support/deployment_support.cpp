#include "tests/support/deployment_support.h"

#include <windows.h>
#include <sddl.h>

#include "uninstall/deployment.h"

namespace testsupport {

HiddenStation::HiddenStation(const wchar_t* name) : name_(name)
{
    station_ = CreateWindowStationW(name, 0, WINSTA_ALL_ACCESS, nullptr);
    if (station_ == nullptr)
        return;
    // A desktop is made in the process's own station: switch there for the call.
    HWINSTA own = GetProcessWindowStation();
    if (!SetProcessWindowStation(station_))
        return;
    desktop_ = CreateDesktopW(L"desktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
}

HiddenStation::~HiddenStation()
{
    if (desktop_ != nullptr)
        CloseDesktop(desktop_);
    if (station_ != nullptr)
        CloseWindowStation(station_);
}

long long HiddenStation::Flags() const
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (station_ == nullptr || !GetUserObjectInformationW(station_, UOI_FLAGS, &flags, sizeof flags, &needed))
        return -1;
    return flags.dwFlags;
}

ScopedSecurityMutex::ScopedSecurityMutex(const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    mutex_ = CreateMutexW(&security, TRUE, kRunLockName);
    owned_ = mutex_ != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
    LocalFree(descriptor);
}

ScopedSecurityMutex::~ScopedSecurityMutex()
{
    if (owned_)
        ReleaseMutex(mutex_);
    if (mutex_ != nullptr)
        CloseHandle(mutex_);
}

}  // namespace testsupport
