#include "common/base/environment.h"

#include <windows.h>

#include "common/base/strings.h"

bool ReadEnvironmentVariable(const wchar_t* name, wchar_t* buffer, size_t capacity)
{
    if (capacity == 0)
        return false;
    buffer[0] = 0;
    DWORD size = Win32Capacity(capacity);
    return KeepWholeText(GetEnvironmentVariableW(name, buffer, size), buffer, size);
}
