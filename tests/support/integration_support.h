// Helpers of the shell-integration tests: COM for the calling thread, and a
// second run of this test executable under Wine's own Windows 10 setting.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

namespace testsupport {

// COM for the test's thread, as the program's start-up provides it.
class ComApartment {
public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (ok_)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_;
};

std::wstring SelfPath();

// Runs this executable again, only the tests of filter, with Wine reporting
// Windows 10 to it alone (HKCU\Software\Wine\AppDefaults\<exe>\Version, removed
// afterwards; this process keeps the version it started with). The child sees
// IsWindows10Child() true. Returns the child's exit code (-1: not started, -2: timed out).
int RunSelfUnderWindows10(const std::wstring& filter, DWORD timeoutMs);
bool IsWindows10Child();

}  // namespace testsupport
