#include "common/base/exclusive_file.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <cwchar>

#include "common/base/file.h"
#include "common/base/strings.h"

// The running user's SID as text, for LocalFree.
static bool UserSidText(ScopedLocalMem& text)
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return false;
    // TOKEN_USER with the SID it points to behind it.
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, user, sizeof user, &size))
        return false;
    wchar_t* sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid))
        return false;
    text.Reset(sid);
    return true;
}

bool MakeOwnerOnlySecurity(ScopedLocalMem& descriptor)
{
    ScopedLocalMem sid;
    if (!UserSidText(sid))
        return false;
    // Protected, so that nothing inherited from a shared temporary folder lets
    // another user change what runs elevated.
    wchar_t text[320];
    if (FormatString(text, sizeof text / sizeof text[0], L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;%s)",
                     static_cast<const wchar_t*>(sid.Get())) < 0)
        return false;
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &made, nullptr))
        return false;
    descriptor.Reset(made);
    return true;
}

// Without the "\\?\" of GetFinalPathNameByHandleW, and "\\?\UNC\" as "\\".
static const wchar_t* WithoutVerbatimPrefix(const wchar_t* path, wchar_t* buffer, size_t capacity)
{
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        if (FormatString(buffer, capacity, L"\\\\%s", path + 8) < 0)
            return nullptr;
        return buffer;
    }
    return wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
}

bool IsRequestedFile(const BY_HANDLE_FILE_INFORMATION& info, const wchar_t* finalPath, const wchar_t* requestedPath)
{
    if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    wchar_t finalBuffer[kMaxPathChars];
    wchar_t requestedBuffer[kMaxPathChars];
    const wchar_t* a = WithoutVerbatimPrefix(finalPath, finalBuffer, kMaxPathChars);
    const wchar_t* b = WithoutVerbatimPrefix(requestedPath, requestedBuffer, kMaxPathChars);
    return a != nullptr && b != nullptr && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Whether the file open in file is the plain file at its name with no other
// link. Through a junction or link among the folders it would lie elsewhere; the
// name is compared in its long form, as a temporary folder may be given short.
static bool IsFileAsNamed(const File& file)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.NativeHandle(), &info))
        return false;
    wchar_t finalPath[kMaxPathChars];
    DWORD length = GetFinalPathNameByHandleW(file.NativeHandle(), finalPath, kMaxPathChars,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kMaxPathChars)
        return false;
    wchar_t fullPath[kMaxPathChars];
    length = GetFullPathNameW(file.Name(), kMaxPathChars, fullPath, nullptr);
    if (length == 0 || length >= kMaxPathChars)
        return false;
    wchar_t longPath[kMaxPathChars];
    length = GetLongPathNameW(fullPath, longPath, kMaxPathChars);
    if (length == 0 || length >= kMaxPathChars)
        return false;
    return IsRequestedFile(info, finalPath, longPath);
}

static bool UnpredictableName(wchar_t* name, size_t capacity, const wchar_t* base, const wchar_t* extension)
{
    unsigned char bytes[8];
    if (!RtlGenRandom(bytes, sizeof bytes))
        return false;
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    wchar_t digits[2 * sizeof bytes + 1];
    for (size_t i = 0; i < sizeof bytes; i++) {
        digits[2 * i] = kHex[bytes[i] >> 4];
        digits[2 * i + 1] = kHex[bytes[i] & 0xF];
    }
    digits[2 * sizeof bytes] = 0;
    return FormatString(name, capacity, L"%s_%s%s", base, digits, extension) >= 0;
}

// Answers of an exclusive create that something stands at the name: a file, a
// link (dangling too), a folder, or a file on its way out.
static bool IsNameTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

// When something stands at the file's own name: the names tried after it.
constexpr int kUnpredictableNames = 4;
constexpr size_t kNameChars = 64;

bool CreateExclusiveFile(File& file, wchar_t* path, size_t folderLength, size_t capacity, const wchar_t* base,
                         const wchar_t* extension)
{
    ScopedLocalMem descriptor;
    if (!MakeOwnerOnlySecurity(descriptor))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    for (int attempt = 0; attempt <= kUnpredictableNames; attempt++) {
        wchar_t name[kNameChars];
        if (attempt == 0) {
            if (FormatString(name, kNameChars, L"%s%s", base, extension) < 0)
                return false;
        } else if (!UnpredictableName(name, kNameChars, base, extension)) {
            return false;
        }
        path[folderLength] = 0;
        if (!AppendString(path, name, capacity))
            return false;
        // One that is not as named is deleted through its handle when file goes.
        if (file.CreateNew(path, &security))
            return IsFileAsNamed(file);
        if (!IsNameTaken(GetLastError()))
            return false;
    }
    return false;
}
