// Helpers for the foundation library's tests.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Records what reaches the error handler's message hook while it lives.
class ErrorReports {
public:
    ErrorReports();
    ~ErrorReports();
    ErrorReports(const ErrorReports&) = delete;
    ErrorReports& operator=(const ErrorReports&) = delete;

    // (kind, name) in the order they came; name empty when none was given.
    const std::vector<std::pair<int, std::wstring>>& Reports() const;
};

// "\\?\" + an absolute drive path: names a file exactly as given, trailing dot included.
std::wstring Verbatim(const std::wstring& absolutePath);
bool ExistsVerbatim(const std::wstring& absolutePath);

// Keeps the current directory and restores it when the test ends.
class CurrentDirectoryGuard {
public:
    CurrentDirectoryGuard();
    ~CurrentDirectoryGuard();
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

private:
    std::wstring saved_;
};

}  // namespace testsupport
