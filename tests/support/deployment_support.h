// What the deployment tests need around the real program: a window station
// that no user sees, as a service or a run as SYSTEM in session 0 has.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// A window station of this process's making with one desktop in it; a process
// started there (ChildProcess::StartOnDesktop with Desktop()) shows nothing
// to the user. Closed when the owner goes.
class HiddenStation {
public:
    explicit HiddenStation(const wchar_t* name);
    ~HiddenStation();
    HiddenStation(const HiddenStation&) = delete;
    HiddenStation& operator=(const HiddenStation&) = delete;

    bool Made() const { return desktop_ != nullptr; }
    // "station\desktop", as STARTUPINFOW.lpDesktop takes it.
    std::wstring Desktop() const { return name_ + L"\\desktop"; }
    // The station's UOI_FLAGS as this process reads them (-1 when unreadable).
    long long Flags() const;

private:
    std::wstring name_;
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
};

// The one-run lock's name, made and held by this process with the given
// security (SDDL), as another program or user could make it first. Released
// and closed when the owner goes.
class ScopedSecurityMutex {
public:
    explicit ScopedSecurityMutex(const wchar_t* sddl);
    ~ScopedSecurityMutex();
    ScopedSecurityMutex(const ScopedSecurityMutex&) = delete;
    ScopedSecurityMutex& operator=(const ScopedSecurityMutex&) = delete;
    // Made new here and held by this thread.
    bool Owned() const { return owned_; }

private:
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
};

}  // namespace testsupport
