// Cached tests of the running Windows version.
#pragma once

#include <cstdint>

// (major << 8) + minor on the NT platform, else 0x0501.
unsigned WindowsVersion();
bool IsWindows11();
// Whether WMI's operating-system name contains "Windows 10" (COM initialised by the caller).
bool WmiNameMentionsWindows10();

// Test seam: Wine has no Windows 11. When set, both probes answer from these
// values instead of GetVersionExW and WMI (wmiAnswer < 0: ask the real WMI),
// and the caches are cleared. The program never calls it.
struct WindowsVersionOverride {
    uint32_t Major;
    uint32_t Minor;
    uint32_t Build;
    int WmiMentionsWindows10;  // 1, 0, or -1 for the real WMI query
};
void SetWindowsVersionOverrideForTesting(const WindowsVersionOverride* values);
// Counts of GetVersionExW and WMI calls the probes made (for the caching tests).
unsigned VersionProbeCallsForTesting();
