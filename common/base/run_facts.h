// What a run's log says of where it runs: the Windows version and whether the
// process's token is elevated.
#pragma once

#include <cstddef>

// "major.minor.build" as RtlGetVersion tells it; "unknown" when it cannot.
void WindowsVersionText(char* dest, size_t capacity);
// "elevated", "not-elevated" or "unknown".
const char* ElevationText();
