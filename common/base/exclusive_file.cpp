#include "common/base/exclusive_file.h"

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cwchar>

#include "common/base/long_path.h"
#include "common/base/paths.h"
#include "common/base/strings.h"

// The running user, as TOKEN_USER with the SID it points to behind it.
struct TokenUserBuffer {
    alignas(TOKEN_USER) BYTE Bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    PSID Sid() { return reinterpret_cast<TOKEN_USER*>(Bytes)->User.Sid; }
};

static bool ReadTokenUser(TokenUserBuffer& user, bool& elevated)
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return false;
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, user.Bytes, sizeof user.Bytes, &size))
        return false;
    TOKEN_ELEVATION elevation = {};
    elevated = GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
               elevation.TokenIsElevated != 0;
    return true;
}

bool MakeProtectedSecurity(ScopedLocalMem& descriptor)
{
    TokenUserBuffer user;
    bool elevated = false;
    if (!ReadTokenUser(user, elevated))
        return false;
    wchar_t* sidText = nullptr;
    if (!ConvertSidToStringSidW(user.Sid(), &sidText))
        return false;
    ScopedLocalMem sid(sidText);
    // Protected, so that nothing inherited from a shared temporary folder lets
    // another user in. OWNER RIGHTS takes the owner's implicit right to rewrite
    // the DACL. The label only where the token is elevated: a lower process may
    // not give an object a label above its own.
    wchar_t text[400];
    if (FormatString(text, sizeof text / sizeof text[0], L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;%s)(A;;RC;;;OW)%s",
                     sidText, elevated ? L"S:(ML;;NW;;;HI)" : L"") < 0)
        return false;
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &made, nullptr))
        return false;
    descriptor.Reset(made);
    return true;
}

// Rights that let their holder change a file, its attributes or its descriptor,
// or delete it.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                      FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL | MAXIMUM_ALLOWED;

static bool IsTrustedSid(PSID sid, PSID user)
{
    return EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

bool DescriptorKeepsOthersOut(PSECURITY_DESCRIPTOR descriptor, PSID user)
{
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || owner == nullptr ||
        !IsTrustedSid(owner, user))
        return false;
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    PACL dacl = nullptr;
    // No DACL at all lets everyone do everything.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) || !present || dacl == nullptr)
        return false;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            return false;
        auto* header = static_cast<ACE_HEADER*>(entry);
        // Entries only for what is made inside (a folder's) do not apply to the file.
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            // Deny entries only take rights away; any other kind that may allow
            // something is not understood here, and counts against the file.
            if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE ||
                header->AceType == SYSTEM_AUDIT_ACE_TYPE)
                continue;
            return false;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & kChangeRights) == 0 || IsTrustedSid(sid, user) ||
            IsWellKnownSid(sid, WinCreatorOwnerRightsSid))
            continue;
        return false;
    }
    return true;
}

bool HandleKeepsOthersOut(HANDLE handle)
{
    TokenUserBuffer user;
    bool elevated = false;
    if (!ReadTokenUser(user, elevated))
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    ScopedLocalMem owned(descriptor);
    return DescriptorKeepsOthersOut(descriptor, user.Sid());
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

bool ExclusiveName(wchar_t* path, size_t folderLength, size_t capacity, const wchar_t* base,
                   const wchar_t* extension, int attempt)
{
    constexpr size_t kNameChars = 300;
    wchar_t name[kNameChars];
    if (attempt == 0 ? FormatString(name, kNameChars, L"%s%s", base, extension) < 0
                     : !UnpredictableName(name, kNameChars, base, extension))
        return false;
    if (folderLength >= capacity)
        return false;
    path[folderLength] = 0;
    return AppendString(path, name, capacity);
}

bool CreateNewFile(const wchar_t* path, DWORD access, const SECURITY_ATTRIBUTES* security, ScopedFileHandle& file)
{
    auto* attributes = const_cast<SECURITY_ATTRIBUTES*>(security);
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    // The plain form drops a trailing dot or blank and would make the sibling.
    size_t length = wcslen(path);
    if (length > 0 && (path[length - 1] == L'.' || path[length - 1] == L' ')) {
        wchar_t longPath[kMaxPathChars];
        if (!ToExtendedLengthPath(path, longPath, kMaxPathChars)) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        file.Reset(CreateFileW(longPath, access, 0, attributes, CREATE_NEW, kFlags, nullptr));
        return file.Valid();
    }
    wchar_t retry[kMaxPathChars];
    const wchar_t* used;
    return WithExtendedRetry(path, retry, used, [&](const wchar_t* form) {
        file.Reset(CreateFileW(form, access, 0, attributes, CREATE_NEW, kFlags, nullptr));
        return file.Valid();
    });
}

bool IsNameTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}
