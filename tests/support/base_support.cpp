#include "tests/support/base_support.h"

#include "common/base/errors.h"

namespace testsupport {

static std::vector<std::pair<int, std::wstring>> recorded;

static void RecordReport(int kind, const wchar_t* name)
{
    recorded.emplace_back(kind, name != nullptr ? name : L"");
}

static ErrorMessageHook previousHook = nullptr;

ErrorReports::ErrorReports()
{
    recorded.clear();
    previousHook = SetErrorMessageHook(RecordReport);
}

ErrorReports::~ErrorReports()
{
    SetErrorMessageHook(previousHook);
    recorded.clear();
}

const std::vector<std::pair<int, std::wstring>>& ErrorReports::Reports() const
{
    return recorded;
}

std::wstring Verbatim(const std::wstring& absolutePath)
{
    return L"\\\\?\\" + absolutePath;
}

bool ExistsVerbatim(const std::wstring& absolutePath)
{
    return GetFileAttributesW(Verbatim(absolutePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

CurrentDirectoryGuard::CurrentDirectoryGuard()
{
    wchar_t buffer[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    if (length > 0 && length < MAX_PATH * 4)
        saved_ = buffer;
}

CurrentDirectoryGuard::~CurrentDirectoryGuard()
{
    if (!saved_.empty())
        SetCurrentDirectoryW(saved_.c_str());
}

}  // namespace testsupport
