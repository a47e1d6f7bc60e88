#include "common/base/temp_folder.h"

#include "common/base/strings.h"

static TempPathFunction gTempPath2ForTesting = nullptr;

TempPathFunction ChooseTempPathFunction(TempPathFunction path2)
{
    return path2 != nullptr ? path2 : GetTempPathW;
}

void SetTempPath2ForTesting(TempPathFunction function)
{
    gTempPath2ForTesting = function;
}

// Looked up at run time: Windows before 10 build 20348 (and Wine 8) lack it.
static TempPathFunction LookUpTempPath2()
{
    if (gTempPath2ForTesting != nullptr)
        return gTempPath2ForTesting;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return nullptr;
    return reinterpret_cast<TempPathFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetTempPath2W")));
}

size_t TemporaryFolder(wchar_t* dest, size_t capacity)
{
    if (capacity == 0)
        return 0;
    DWORD size = Win32Capacity(capacity);
    DWORD length = ChooseTempPathFunction(LookUpTempPath2())(size, dest);
    return KeepWholeText(length, dest, size) ? length : 0;
}
