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

// Makes a Unix symbolic link inside the prefix (Wine has no Windows call that
// makes a link or junction, but reports a Unix link as a reparse point) by
// running /bin/ln. True once Windows sees the link.
bool MakeUnixSymlink(const std::wstring& link, const std::wstring& target);
// Removes such a link (Wine's RemoveDirectoryW on it removes its empty target
// instead, and leaves the link). Call it while the target still exists: only
// then can Windows see that the link is gone.
bool RemoveUnixSymlink(const std::wstring& link);

// Runs /bin/chmod or /bin/chown (program) with argument on the Unix file behind
// path, from which Wine makes the file's owner and DACL. True once Windows shows
// another descriptor than before.
bool ChangeUnixOwnership(const std::wstring& path, const std::string& program, const std::string& argument);

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
