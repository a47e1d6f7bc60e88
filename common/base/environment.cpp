#include "common/base/environment.h"

#include <windows.h>

bool ReadEnvironmentVariable(const wchar_t* name, wchar_t* buffer, size_t capacity)
{
    if (capacity == 0)
        return false;
    buffer[0] = 0;
    DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD length = GetEnvironmentVariableW(name, buffer, size);
    if (length == 0 || length >= size) {
        buffer[0] = 0;
        return false;
    }
    return true;
}
