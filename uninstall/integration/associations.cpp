#include "uninstall/integration/associations.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "common/base/change_log.h"
#include "common/base/gate.h"
#include "common/base/file.h"
#include "common/base/module.h"
#include "common/base/find.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/localization/messages.h"
#include "common/settings/settings_store.h"
#include "resources/resource.h"
#include "uninstall/integration/machine_record.h"

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
// What Exist reads as where no per-user record holds one.
constexpr int32_t kNoUserRecord = -1;

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

// Records what the extension was before the product first took it: for the
// machine, in its own types, and per user as earlier versions read it. False
// when the former state cannot be had whole: the extension is then not taken,
// since it could not be given back.
bool SaveFormerState(const wchar_t* ext, const wchar_t* savedKey)
{
    FormerState former;
    if (!ReadFormerState(ext, former))
        return false;
    RecordFormerState(ext, former);

    wchar_t type[kTypeChars];
    FormerValueText(former.Default, type, kTypeChars);
    wchar_t fileName[kMaxPathChars];
    FormerValueText(former.FileName, fileName, kMaxPathChars);
    WriteUserInt(savedKey, L"Exist", former.Existed ? 1 : 0);
    WriteUserString(savedKey, L"Type", type);
    const wchar_t* formerNew = fileName[0] != 0 ? fileName : former.NullFile.Present ? L"*" : L"";
    WriteUserString(savedKey, L"ShellNew", formerNew);
    return true;
}

// An extension that a setup of an earlier version took has its record in the
// user's settings only: the machine gets a copy, so that an uninstall by another
// account can give it back too. Texts only, as that record holds them; whether
// ShellNew existed it does not know, so that key is kept.
void KeepUserRecordForTheMachine(const wchar_t* ext, const wchar_t* savedKey)
{
    FormerState former;
    int32_t existed = ReadUserInt(savedKey, L"Exist", kNoUserRecord);
    if (existed == kNoUserRecord || RecordedFormerState(ext, former))
        return;
    former.Existed = existed != 0;
    former.ShellNewExisted = true;
    wchar_t text[kMaxPathChars];
    ReadUserString(savedKey, L"Type", text, L"", kTypeChars);
    bool whole = SetFormerText(former.Default, text);
    ReadUserString(savedKey, L"ShellNew", text, L"", kMaxPathChars);
    former.FileName.Present = false;
    former.NullFile.Present = false;
    if (text[0] == L'*')
        whole = whole && SetFormerText(former.NullFile, L"");
    else if (text[0] != 0)
        whole = whole && SetFormerText(former.FileName, text);
    if (whole)
        RecordFormerState(ext, former);
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

// Every volume type gets the former owner of .zvx (data null: none, and the
// volume keys go).
void GiveBackVolumes(DWORD type, const void* data, DWORD bytes)
{
    for (unsigned n = 0; n < kVolumesGivenBack; ++n) {
        wchar_t volume[8];
        if (!FormatVolumeExtension(n, volume, 8))
            continue;
        if (data != nullptr)
            WriteTypedValue(HKEY_CLASSES_ROOT, volume, L"", type, data, bytes);
        else
            DeleteKey(HKEY_CLASSES_ROOT, volume);
    }
}

// What a give-back works on: a release, or a bind without the product's
// new-file entry (the extension stays the product's, its former entry comes back).
struct GiveBack {
    const wchar_t* Ext;
    const wchar_t* NewFileKey;
    const wchar_t* SavedKey;
    bool Releasing;
    bool IsZvx;
    bool NewFileRow;  // the zvx or the zip row
};

bool IsTextValue(const FormerValue& value)
{
    return value.Type == REG_SZ || value.Type == REG_EXPAND_SZ;
}

// A text naming one of the product's own program identifiers (a record made
// while the extension was the product's already counts as none).
bool IsOwnValue(const FormerValue& value)
{
    wchar_t text[kOwnerChars];
    return IsTextValue(value) && FormerValueText(value, text, kOwnerChars) && IsOwnProgId(text);
}

bool IsEmptyText(const FormerValue& value)
{
    wchar_t text[kOwnerChars];
    return IsTextValue(value) && FormerValueText(value, text, kOwnerChars) && text[0] == 0;
}

// Whether the classes-root key holds nothing but the value ownValue (or not even
// that) and the subkey goneSubkey (null: no subkey), which the caller removes:
// deleting the key then loses nothing of another program's. Decided before the
// removals, so that a preview decides as the run does.
bool KeyHoldsOnly(const wchar_t* key, const wchar_t* ownValue, const wchar_t* goneSubkey)
{
    ScopedRegKey handle;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, handle.Receive()) !=
        ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    if (subkeys > 1 || values > 1)
        return false;
    ScopedRegKey subkey;
    if (subkeys == 1 && (goneSubkey == nullptr || RegOpenKeyExW(handle.Get(), goneSubkey, 0, KEY_QUERY_VALUE,
                                                                subkey.Receive()) != ERROR_SUCCESS))
        return false;
    return values == 0 || RegQueryValueExW(handle.Get(), ownValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// The new-file entry that names one of the product's templates.
bool NamesOwnTemplate(const wchar_t* newFileKey, bool isZvx)
{
    wchar_t fileName[kMaxPathChars];
    return ReadString(HKEY_CLASSES_ROOT, newFileKey, L"FileName", fileName, L"", kMaxPathChars) &&
           CompareNoCase(NamePart(fileName), isZvx ? L"zvxnew.dat" : L"zipnew.dat") == 0;
}

// From the machine's record: each value as it was, in its own type.
void GiveBackFromMachineRecord(const GiveBack& g, const FormerState& former)
{
    if (g.Releasing) {
        bool formerOwner = former.Existed && former.Default.Present && !IsOwnValue(former.Default);
        if (formerOwner)
            GiveBackFormerValue(g.Ext, L"", former.Default);
        else
            DeleteValue(HKEY_CLASSES_ROOT, g.Ext, L"");
        if (!former.Existed)
            DeleteKey(HKEY_CLASSES_ROOT, g.Ext);
        if (g.IsZvx) {
            bool volumesOwner = formerOwner && !IsEmptyText(former.Default);
            GiveBackVolumes(former.Default.Type, volumesOwner ? former.Default.Data : nullptr, former.Default.Bytes);
        }
    }
    if (!g.NewFileRow)
        return;
    if (!former.Existed) {
        DeleteKey(HKEY_CLASSES_ROOT, g.NewFileKey);
        // The key could not go while ShellNew was still below it.
        if (g.Releasing)
            DeleteKey(HKEY_CLASSES_ROOT, g.Ext);
        return;
    }
    // A ShellNew key that setup made goes again once the product's entry has left it.
    bool dropNewFileKey = !former.ShellNewExisted && KeyHoldsOnly(g.NewFileKey, L"FileName", nullptr);
    DeleteValue(HKEY_CLASSES_ROOT, g.NewFileKey, L"FileName");
    GiveBackFormerValue(g.NewFileKey, L"FileName", former.FileName);
    GiveBackFormerValue(g.NewFileKey, L"NullFile", former.NullFile);
    if (dropNewFileKey)
        DeleteKey(HKEY_CLASSES_ROOT, g.NewFileKey);
}

// From the record setups of earlier versions kept in the user's settings (or
// Zorvex.ini): texts only, written back as REG_SZ.
void GiveBackFromUserRecord(const GiveBack& g)
{
    bool existed = ReadUserInt(g.SavedKey, L"Exist", 1) != 0;
    if (g.Releasing) {
        wchar_t type[kTypeChars];
        ReadUserString(g.SavedKey, L"Type", type, L"", kTypeChars);
        if (IsOwnProgId(type))
            type[0] = 0;
        if (existed) {
            WriteString(HKEY_CLASSES_ROOT, g.Ext, L"", type);
        } else {
            DeleteValue(HKEY_CLASSES_ROOT, g.Ext, L"");
            DeleteKey(HKEY_CLASSES_ROOT, g.Ext);
        }
        if (g.IsZvx) {
            bool volumesOwner = existed && type[0] != 0;
            GiveBackVolumes(REG_SZ, volumesOwner ? type : nullptr,
                            static_cast<DWORD>((wcslen(type) + 1) * sizeof(wchar_t)));
        }
    }
    if (!g.NewFileRow)
        return;
    if (!existed) {
        DeleteKey(HKEY_CLASSES_ROOT, g.NewFileKey);
        if (g.Releasing)
            DeleteKey(HKEY_CLASSES_ROOT, g.Ext);
        return;
    }
    wchar_t former[kMaxPathChars];
    ReadUserString(g.SavedKey, L"ShellNew", former, L"", kMaxPathChars);
    DeleteValue(HKEY_CLASSES_ROOT, g.NewFileKey, L"FileName");
    if (former[0] == 0)
        return;
    if (former[0] == L'*')
        WriteString(HKEY_CLASSES_ROOT, g.NewFileKey, L"NullFile", L"");
    else
        WriteString(HKEY_CLASSES_ROOT, g.NewFileKey, L"FileName", former);
}

// No record anywhere (the user's settings gone, a record that was never made):
// only what is plainly the product's goes, its default value, its new-file
// entry and its volume types, and a key only when nothing else is left in it.
// An empty default value is never written: it would take the type from the
// program that Windows would otherwise find for it.
void GiveBackWithoutRecord(const GiveBack& g)
{
    bool ownEntry = g.NewFileRow && NamesOwnTemplate(g.NewFileKey, g.IsZvx);
    bool dropNewFileKey = ownEntry && KeyHoldsOnly(g.NewFileKey, L"FileName", nullptr);
    bool dropKey = g.Releasing && KeyHoldsOnly(g.Ext, L"", dropNewFileKey ? L"ShellNew" : nullptr);
    if (g.Releasing) {
        DeleteValue(HKEY_CLASSES_ROOT, g.Ext, L"");
        for (unsigned n = 0; g.IsZvx && n < kVolumesGivenBack; ++n) {
            wchar_t volume[8];
            wchar_t owner[kOwnerChars];
            if (!FormatVolumeExtension(n, volume, 8) ||
                !ReadString(HKEY_CLASSES_ROOT, volume, L"", owner, L"", kOwnerChars) || !IsOwnProgId(owner))
                continue;
            bool dropVolume = KeyHoldsOnly(volume, L"", nullptr);
            DeleteValue(HKEY_CLASSES_ROOT, volume, L"");
            if (dropVolume)
                DeleteKey(HKEY_CLASSES_ROOT, volume);
        }
    }
    if (ownEntry)
        DeleteValue(HKEY_CLASSES_ROOT, g.NewFileKey, L"FileName");
    if (dropNewFileKey)
        DeleteKey(HKEY_CLASSES_ROOT, g.NewFileKey);
    if (dropKey)
        DeleteKey(HKEY_CLASSES_ROOT, g.Ext);
}

// The machine's record first; the user's when the machine holds none of this
// extension (a setup of an earlier version); least harm when there is neither.
void GiveBackFormerState(const GiveBack& g)
{
    FormerState former;
    if (RecordedFormerState(g.Ext, former))
        GiveBackFromMachineRecord(g, former);
    else if (ReadUserInt(g.SavedKey, L"Exist", kNoUserRecord) != kNoUserRecord)
        GiveBackFromUserRecord(g);
    else
        GiveBackWithoutRecord(g);
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
            // A value too long for the buffer reads as empty, which is not ours either.
            wchar_t type[kTypeChars];
            ReadString(HKEY_CLASSES_ROOT, ext, L"", type, L"", kTypeChars);
            if (IsOwnProgId(type)) {
                KeepUserRecordForTheMachine(ext, savedKey);
            } else if (!SaveFormerState(ext, savedKey)) {
                wchar_t note[kSavedKeyChars + 96];
                FormatString(note, kSavedKeyChars + 96, L"%s left as it is: its former state cannot be recorded whole",
                             ext);
                LogNote(note);
                return;
            }
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
    GiveBackFormerState({ext, newFileKey, savedKey, !associate, isZvx, isZvx || isZip});
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
