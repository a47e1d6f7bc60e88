#include "uninstall/integration/associations.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/file.h"
#include "common/base/module.h"
#include "common/base/find.h"
#include "common/base/strings.h"
#include "common/localization/messages.h"
#include "common/settings/settings_store.h"
#include "resources/resource.h"

// The boxes are given per row: rows 4 and 13 come before rows 5 and 14 although
// their boxes have the higher ids, so no arithmetic on the row index works.
const AssociationRow AssociationTable[kAssociationRows] = {
    {L".zvx", L".zvx", IDC_ASSOCZVX},
    {L".zip", L".zip", IDC_ASSOCZIP},
    {L".cab", L".cab", IDC_ASSOCCAB},
    {L".arj", L".arj", IDC_ASSOCARJ},
    {L".lz.tlz", L".lz", IDC_ASSOCLZ},
    {L".lzh.lha", L".lzh", IDC_ASSOCLZH},
    {L".7z", L".7z", IDC_ASSOC7Z},
    {L".tar", L".tar", IDC_ASSOCTAR},
    {L".gz.tgz", L".gz", IDC_ASSOCGZ},
    {L".uue.xxe.uu", L".uue", IDC_ASSOCUUE},
    {L".bz2.tbz2.bz.tbz", L".bz2", IDC_ASSOCBZ2},
    {L".jar", L".jar", IDC_ASSOCJAR},
    {L".iso", L".iso", IDC_ASSOCISO},
    {L".z.taz", L".z", IDC_ASSOCZ},
    {L".xz.txz", L".xz", IDC_ASSOCXZ},
    {L".zipx", L".zipx", IDC_ASSOCZIPX},
    {L".zst.tzst", L".zst", IDC_ASSOCZST},
    {L".001", L".001", IDC_ASSOC001},
};

namespace {

const wchar_t kProgId[] = L"Zorvex";
const wchar_t kZipProgId[] = L"Zorvex.ZIP";

constexpr uint32_t kSavedKeyChars = 80;
constexpr uint32_t kOwnerChars = 80;
constexpr uint32_t kTypeChars = 512;
constexpr unsigned kVolumesTakenAtSetup = 30;    // .r00 to .r29
constexpr unsigned kVolumesGivenBack = 100;      // .r00 to .r99

// The empty archives behind the new-file entries. Their first bytes stay zero in
// the image and are stored at run time, so that the program file never holds a
// complete archive signature that scanners would take it for.
constexpr uint32_t kZvxTemplateSize = 24;
constexpr uint32_t kZipTemplateSize = 22;
unsigned char g_zvxTemplate[kZvxTemplateSize] = {
    0x00, 0x76, 0x78, 0x21, 0x1A, 0x07, 0x01, 0x00,  // signature
    0xC1, 0xDF, 0x5F, 0x56, 0x03, 0x01, 0x04, 0x00,  // main archive header
    0x1D, 0x77, 0x56, 0x51, 0x03, 0x05, 0x04, 0x00,  // end of archive
};
unsigned char g_zipTemplate[kZipTemplateSize] = {0x00, 0x4B, 0x05, 0x06};

void StoreTemplateFirstBytes()
{
    g_zvxTemplate[0] = 0x5A;
    g_zipTemplate[0] = 0x50;
}

bool IsOwnProgId(const wchar_t* progId)
{
    return CompareNoCase(progId, kProgId) == 0 || CompareNoCase(progId, kZipProgId) == 0;
}

// Writes the empty archive beside the program unless a file of its size is there
// already (whatever its bytes: it may be the user's own template).
void EnsureTemplateFile(const wchar_t* path, const unsigned char* bytes, uint32_t size)
{
    FindData found;
    if (FindSingle(path, found) && !found.IsDirectory && found.Size == size)
        return;
    File file;
    if (!file.Create(path, kCreateWriteOnly))
        return;
    file.Write(bytes, size);
    file.Close();
}

// Records what the extension was before the product first took it; type is its
// current default value, as the caller read it.
void SaveFormerState(const wchar_t* ext, const wchar_t* type, const wchar_t* newFileKey, const wchar_t* savedKey)
{
    wchar_t fileName[kMaxPathChars];
    ReadString(HKEY_CLASSES_ROOT, newFileKey, L"FileName", fileName, L"", kMaxPathChars);
    wchar_t nullFile[kMaxPathChars];
    bool hasNullFile = ReadString(HKEY_CLASSES_ROOT, newFileKey, L"NullFile", nullFile, L"", kMaxPathChars);

    WriteUserInt(savedKey, L"Exist", KeyExists(HKEY_CLASSES_ROOT, ext) ? 1 : 0);
    WriteUserString(savedKey, L"Type", type);
    const wchar_t* formerNew = fileName[0] != 0 ? fileName : hasNullFile ? L"*" : L"";
    WriteUserString(savedKey, L"ShellNew", formerNew);
}

void TakeNewFileEntry(const wchar_t* newFileKey, bool isZvx)
{
    DeleteKey(HKEY_CLASSES_ROOT, newFileKey);
    wchar_t path[kMaxPathChars];
    if (!ProgramFilePath(isZvx ? L"zvxnew.dat" : L"zipnew.dat", path, kMaxPathChars))
        return;
    // A closed gate leaves everything outside the settings file alone, template files too.
    if (IntegrationAllowed()) {
        if (isZvx)
            EnsureTemplateFile(path, g_zvxTemplate, kZvxTemplateSize);
        else
            EnsureTemplateFile(path, g_zipTemplate, kZipTemplateSize);
    }
    WriteString(HKEY_CLASSES_ROOT, newFileKey, L"FileName", path);
}

bool FormatVolumeExtension(unsigned number, wchar_t* ext, size_t capacity)
{
    return FormatString(ext, capacity, L".r%02u", number) > 0;
}

void GiveBackVolumes(bool existed, const wchar_t* type)
{
    for (unsigned n = 0; n < kVolumesGivenBack; ++n) {
        wchar_t volume[8];
        if (!FormatVolumeExtension(n, volume, 8))
            continue;
        if (existed && type[0] != 0)
            WriteString(HKEY_CLASSES_ROOT, volume, L"", type);
        else
            DeleteKey(HKEY_CLASSES_ROOT, volume);
    }
}

void GiveBackNewFileEntry(const wchar_t* ext, const wchar_t* newFileKey, const wchar_t* savedKey,
                          bool existed, bool releasing)
{
    if (!existed) {
        DeleteKey(HKEY_CLASSES_ROOT, newFileKey);
        // The release above could not delete the extension's key while ShellNew was
        // still below it; without this the key would stay behind, empty.
        if (releasing)
            DeleteKey(HKEY_CLASSES_ROOT, ext);
        return;
    }
    wchar_t former[kMaxPathChars];
    ReadUserString(savedKey, L"ShellNew", former, L"", kMaxPathChars);
    DeleteValue(HKEY_CLASSES_ROOT, newFileKey, L"FileName");
    if (former[0] == 0)
        return;
    if (former[0] == L'*')
        WriteString(HKEY_CLASSES_ROOT, newFileKey, L"NullFile", L"");
    else
        WriteString(HKEY_CLASSES_ROOT, newFileKey, L"FileName", former);
}

void WriteIconIfEmpty(const wchar_t* key, const wchar_t* icon)
{
    wchar_t current[kMaxPathChars];
    ReadString(HKEY_CLASSES_ROOT, key, L"", current, L"", kMaxPathChars);
    if (current[0] == 0)
        WriteString(HKEY_CLASSES_ROOT, key, L"", icon);
}

}  // namespace

bool NextExtension(const wchar_t*& position, wchar_t* ext, size_t capacity)
{
    if (position == nullptr || position[0] == 0 || capacity == 0)
        return false;
    size_t length = 1;  // the extension's own leading dot
    while (position[length] != 0 && position[length] != L'.')
        ++length;
    // A cut extension would name another type: the list ends there instead.
    if (length >= capacity || length >= kExtensionChars)
        return false;
    wmemcpy(ext, position, length);
    ext[length] = 0;
    position += length;
    return true;
}

bool IsOwnAssociation(const wchar_t* ext)
{
    wchar_t owner[kOwnerChars];
    ReadString(HKEY_CLASSES_ROOT, ext, L"", owner, L"", kOwnerChars);
    return IsOwnProgId(owner);
}

void AssociateExtension(const wchar_t* ext, unsigned flags)
{
    bool associate = (flags & kBindExtension) != 0;
    bool newEntryWanted = (flags & kWantNewFileEntry) != 0;
    bool isZvx = (flags & kZvxRow) != 0;
    bool isZip = (flags & kZipRow) != 0;
    StoreTemplateFirstBytes();
    wchar_t newFileKey[kMaxPathChars];
    wchar_t savedKey[kSavedKeyChars];
    if (FormatString(newFileKey, kMaxPathChars, L"%s\\ShellNew", ext) < 0 ||
        FormatString(savedKey, kSavedKeyChars, L"Setup\\%s", ext) < 0)
        return;

    if ((isZvx && ReadUserInt(L"Setup\\MenuItems", L"NewZVX", 1) == 0) ||
        (isZip && ReadUserInt(L"Setup\\MenuItems", L"NewZIP", 1) == 0))
        newEntryWanted = false;

    if (associate) {
        // Behind a closed gate every classes-root read answers its default; saving those
        // would overwrite the real record of the former owner.
        if (IntegrationAllowed()) {
            // One read tells both whether the type is ours and what to record: a value
            // too long for the buffer reads as empty, which is not ours either.
            wchar_t type[kTypeChars];
            ReadString(HKEY_CLASSES_ROOT, ext, L"", type, L"", kTypeChars);
            if (!IsOwnProgId(type))
                SaveFormerState(ext, type, newFileKey, savedKey);
        }
        WriteString(HKEY_CLASSES_ROOT, ext, L"", isZip ? kZipProgId : kProgId);
        if (isZvx) {
            for (unsigned n = 0; n < kVolumesTakenAtSetup; ++n) {
                wchar_t volume[8];
                if (FormatVolumeExtension(n, volume, 8))
                    WriteString(HKEY_CLASSES_ROOT, volume, L"", kProgId);
            }
        }
        if (newEntryWanted && (isZvx || isZip))
            TakeNewFileEntry(newFileKey, isZvx);
    }

    // Another program's extension is never touched, and a bind that failed ends here.
    if (!IsOwnAssociation(ext))
        return;
    if (associate && newEntryWanted)
        return;

    bool existed = ReadUserInt(savedKey, L"Exist", 1) != 0;
    if (!associate) {
        wchar_t type[kTypeChars];
        ReadUserString(savedKey, L"Type", type, L"", kTypeChars);
        if (IsOwnProgId(type))
            type[0] = 0;
        if (existed) {
            WriteString(HKEY_CLASSES_ROOT, ext, L"", type);
        } else {
            WriteString(HKEY_CLASSES_ROOT, ext, L"", L"");
            DeleteKey(HKEY_CLASSES_ROOT, ext);
        }
        if (isZvx)
            GiveBackVolumes(existed, type);
    }
    if (isZvx || isZip)
        GiveBackNewFileEntry(ext, newFileKey, savedKey, existed, !associate);
}

void ApplyAssociations(const IntegrationOptions& options)
{
    for (int row = 0; row < kAssociationRows; ++row) {
        const wchar_t* position = AssociationTable[row].Extensions;
        unsigned flags = options.Associate[row] ? kBindExtension : kReleaseExtension;
        if (options.ShellExt)
            flags |= kWantNewFileEntry;
        if (row == 0)
            flags |= kZvxRow;
        else if (row == 1)
            flags |= kZipRow;
        wchar_t ext[kExtensionChars];
        while (NextExtension(position, ext, kExtensionChars))
            AssociateExtension(ext, flags);
    }
}

bool RegisterProgIds()
{
    wchar_t exe[kMaxPathChars];
    wchar_t command[kMaxPathChars + 8];
    wchar_t archiveIcon[kMaxPathChars + 4];
    wchar_t volumeIcon[kMaxPathChars + 4];
    bool havePaths = ProgramFilePath(L"Zorvex.exe", exe, kMaxPathChars) &&
                     FormatString(command, kMaxPathChars + 8, L"\"%s\" \"%%1\"", exe) > 0 &&
                     FormatString(archiveIcon, kMaxPathChars + 4, L"%s,0", exe) > 0 &&
                     FormatString(volumeIcon, kMaxPathChars + 4, L"%s,1", exe) > 0;

    if (WriteString(HKEY_CLASSES_ROOT, kProgId, L"", MessageText(IDS_ZORVEXARC)) == ERROR_ACCESS_DENIED)
        return false;
    // Without the program's own path there is no command or icon to register.
    if (havePaths) {
        WriteString(HKEY_CLASSES_ROOT, L"Zorvex\\shell\\open\\command", L"", command);
        WriteIconIfEmpty(L"Zorvex\\DefaultIcon", archiveIcon);
    }
    WriteString(HKEY_CLASSES_ROOT, kZipProgId, L"", MessageText(IDS_ZORVEXZIPARC));
    if (havePaths) {
        WriteString(HKEY_CLASSES_ROOT, L"Zorvex.ZIP\\shell\\open\\command", L"", command);
        WriteIconIfEmpty(L"Zorvex.ZIP\\DefaultIcon", archiveIcon);
    }
    WriteString(HKEY_CLASSES_ROOT, L".rev", L"", L"Zorvex.REV");
    WriteString(HKEY_CLASSES_ROOT, L"Zorvex.REV", L"", MessageText(IDS_ZVXRECVOL));
    if (havePaths) {
        WriteString(HKEY_CLASSES_ROOT, L"Zorvex.REV\\shell\\open\\command", L"", command);
        WriteIconIfEmpty(L"Zorvex.REV\\DefaultIcon", volumeIcon);
    }
    GateNotifyShell(SHCNE_ASSOCCHANGED, SHCNF_IDLIST);
    return true;
}
