#include "uninstall/integration/install_owner.h"

#include <windows.h>

#include <cwchar>

#include "common/base/file.h"
#include "common/base/identity.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/strings.h"
#include "common/settings/settings_store.h"
#include "uninstall/integration/app_paths.h"
#include "uninstall/integration/machine_record.h"
#include "uninstall/integration/shell_extension.h"

namespace {

constexpr size_t kKeyChars = 160;

// A folder as compared: without the "\\?\" of a final path ("\\?\UNC\" as "\\")
// and without trailing separators; false when it does not fit.
bool ComparableFolder(const wchar_t* folder, wchar_t* dest, size_t capacity)
{
    bool whole;
    if (wcsncmp(folder, L"\\\\?\\UNC\\", 8) == 0)
        whole = CopyString(dest, L"\\\\", capacity) && AppendString(dest, folder + 8, capacity);
    else if (wcsncmp(folder, L"\\\\?\\", 4) == 0 && HasDriveLetter(folder + 4))
        whole = CopyString(dest, folder + 4, capacity);
    else
        whole = CopyString(dest, folder, capacity);
    size_t length = wcslen(dest);
    while (length > 0 && (dest[length - 1] == L'\\' || dest[length - 1] == L'/'))
        dest[--length] = 0;
    return whole && length > 0;
}

bool SameFolder(const wchar_t* a, const wchar_t* b)
{
    wchar_t left[kMaxPathChars];
    wchar_t right[kMaxPathChars];
    return ComparableFolder(a, left, kMaxPathChars) && ComparableFolder(b, right, kMaxPathChars) &&
           CompareStringOrdinal(left, -1, right, -1, TRUE) == CSTR_EQUAL;
}

// The folder's final path (links resolved, long names) with its trailing
// separator; false when it cannot be opened.
bool FinalFolder(const wchar_t* folder, wchar_t* dest, size_t capacity)
{
    wchar_t stripped[kMaxPathChars];
    if (!ComparableFolder(folder, stripped, kMaxPathChars))
        return false;
    // A drive's root keeps its separator.
    if (HasDriveLetter(stripped) && stripped[2] == 0)
        AppendSeparator(stripped, kMaxPathChars);
    return FinalPathIn(stripped, L"", dest, capacity);
}

bool HoldsFile(const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[kMaxPathChars];
    return JoinPath(folder, name, path, kMaxPathChars) && FileExists(path);
}

}  // namespace

bool FolderNamedBy(RegistrationSource source, const wchar_t* value, wchar_t* dest, size_t capacity)
{
    if (capacity == 0)
        return false;
    dest[0] = 0;
    wchar_t path[kMaxPathChars];
    const wchar_t* text = value;
    while (*text == L' ' || *text == L'\t')
        ++text;
    if (*text == L'"') {
        const wchar_t* close = wcschr(text + 1, L'"');
        if (close == nullptr || static_cast<size_t>(close - text - 1) >= kMaxPathChars)
            return false;
        wmemcpy(path, text + 1, close - text - 1);
        path[close - text - 1] = 0;
    } else if (!CopyString(path, text, kMaxPathChars)) {
        return false;
    }
    if (!IsAbsolutePath(path))
        return false;
    bool whole;
    if (source == kNamedByInstallLocation || source == kNamedByRecord) {
        size_t length = wcslen(path);  // at least 2: the path is absolute
        bool separated = path[length - 1] == L'\\' || path[length - 1] == L'/';
        whole = CopyString(dest, path, capacity) && (separated || AppendString(dest, L"\\", capacity));
    } else {
        whole = FolderPart(path, dest, capacity);
    }
    if (!whole)
        dest[0] = 0;
    return whole;
}

InstallOwnership DecideInstallOwnership(const wchar_t* ownFolder, const NamedFolder (&named)[kRegistrationSources])
{
    InstallOwnership result = {false, kNamedByInstallLocation, false};
    bool entryNamesOwn = false;
    bool entryNamesOther = false;
    for (int source = 0; source < kRegistrationSources; ++source) {
        const NamedFolder& folder = named[source];
        if (folder.Folder == nullptr || folder.Folder[0] == 0)
            continue;
        bool own = SameFolder(folder.Folder, ownFolder);
        bool other = !own && folder.HoldsProgram;
        if (source == kNamedByInstallLocation || source == kNamedByUninstallString) {
            entryNamesOwn = entryNamesOwn || own;
            entryNamesOther = entryNamesOther || other;
        }
        if (other && !result.OtherInstall) {
            result.OtherInstall = true;
            result.OtherSource = static_cast<RegistrationSource>(source);
        }
    }
    result.EntryIsOwn = entryNamesOwn && !entryNamesOther;
    return result;
}

InstallOwnership WhoseRegistration(wchar_t* otherFolder, size_t capacity)
{
    InstallOwnership asDesigned = {false, kNamedByInstallLocation, false};
    CopyString(otherFolder, L"", capacity);
    wchar_t program[kMaxPathChars];
    wchar_t ownFolder[kMaxPathChars];
    wchar_t ownFinal[kMaxPathChars];
    // Without this folder's own final path nothing can be told apart.
    if (!ProgramPath(program, kMaxPathChars) || !FolderPart(program, ownFolder, kMaxPathChars) ||
        !FinalFolder(ownFolder, ownFinal, kMaxPathChars))
        return asDesigned;

    wchar_t serverKey[kKeyChars];
    FormatString(serverKey, kKeyChars, L"\\Software\\Classes\\CLSID\\%s\\InProcServer32", kShellExtClsid64);
    struct Source {
        const wchar_t* Key;
        const wchar_t* Value;
    };
    const Source sources[kRegistrationSources] = {
        {kUninstallKey, L"InstallLocation"},
        {kUninstallKey, L"UninstallString"},
        {kAppPathsKey, L""},
        {serverKey, L""},
        {nullptr, nullptr},
    };
    wchar_t raw[kRegistrationSources][kMaxPathChars];
    wchar_t resolved[kRegistrationSources][kMaxPathChars];
    NamedFolder named[kRegistrationSources] = {};
    for (int source = 0; source < kRegistrationSources; ++source) {
        wchar_t value[kMaxPathChars];
        bool read = sources[source].Key != nullptr
                        ? ReadString(HKEY_LOCAL_MACHINE, sources[source].Key, sources[source].Value, value, L"",
                                     kMaxPathChars)
                        : RecordedInstallFolder(value, kMaxPathChars);
        named[source].Folder = resolved[source];
        resolved[source][0] = 0;
        if (!read || !FolderNamedBy(static_cast<RegistrationSource>(source), value, raw[source], kMaxPathChars))
            continue;
        // A folder that cannot be opened holds nothing: its registration is stale.
        if (FinalFolder(raw[source], resolved[source], kMaxPathChars)) {
            named[source].HoldsProgram =
                HoldsFile(resolved[source], L"Zorvex.exe") || HoldsFile(resolved[source], NamePart(program));
        } else {
            CopyString(resolved[source], raw[source], kMaxPathChars);
        }
    }
    InstallOwnership ownership = DecideInstallOwnership(ownFinal, named);
    if (ownership.OtherInstall)
        CopyString(otherFolder, raw[ownership.OtherSource], capacity);
    return ownership;
}
