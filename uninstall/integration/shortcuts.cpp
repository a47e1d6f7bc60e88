#include "uninstall/integration/shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "common/base/gate.h"
#include "common/base/identity.h"
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
#include "uninstall/integration/windows_version.h"

namespace {

const wchar_t kLinkName[] = L"Zorvex.lnk";
const wchar_t kGroupName[] = L"Zorvex";
const wchar_t kUnknownFolder[] = L"unknown_folder";
constexpr size_t kShortcutNameChars = kMessageTextChars + 8;

// A shell folder, or "unknown_folder" (which names nothing, so that later deletes
// and creates there fail quietly) when it cannot be looked up.
bool LookUpFolder(int csidl, wchar_t* dest, size_t capacity)
{
    if (capacity >= MAX_PATH &&
        SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, dest)))
        return true;
    CopyString(dest, kUnknownFolder, capacity);
    return false;
}

// A message text made into a file name: a translation such as "Help/Manual" must
// still give a shortcut, not a path into a folder that does not exist.
void ShortcutFileName(uint32_t messageId, wchar_t* dest, size_t capacity)
{
    CopyString(dest, MessageText(messageId), capacity);
    for (wchar_t* c = dest; *c != 0; ++c) {
        if (*c < 0x20 || wcschr(L"\\/:*?\"<>|", *c) != nullptr)
            *c = L'_';
    }
    AppendString(dest, L".lnk", capacity);
}

struct GroupShortcut {
    const wchar_t* Target;   // file in the program's folder; null: the name is a message
    uint32_t TargetMessage;
    const wchar_t* LinkName;  // null: the name is a message
    uint32_t LinkMessage;
    bool WithIcon;
};

const GroupShortcut kGroupShortcuts[] = {
    {L"Zorvex.exe", 0, L"Zorvex.lnk", 0, true},
    {L"Zorvex.chm", 0, nullptr, IDS_ZORVEXHELP, false},
    {L"Zvx.txt", 0, nullptr, IDS_ZVXHELP, false},
    {nullptr, IDS_WHATSNEWNAME, nullptr, IDS_WHATSNEW, false},
};

// Whether group, a name in programsFolder, is a folder there of its own, not a
// junction or symbolic link (whose target would be emptied or removed instead):
// its own directory entry shows no reparse point, and a handle opened on it
// without following a link is a plain folder whose final path is the final path
// of programsFolder with the group's name. groupFinal receives that path.
bool GroupIsPlainFolder(const wchar_t* group, const wchar_t* programsFolder, wchar_t* groupFinal, size_t capacity)
{
    FindData data;
    return FindSingle(group, data) && data.IsDirectory && !data.IsReparsePoint &&
           FinalPathIn(programsFolder, NamePart(group), groupFinal, capacity) && IsPlainFolderAt(group, groupFinal);
}

void EmptyFolder(const wchar_t* folder, const wchar_t* folderFinal)
{
    wchar_t pattern[kMaxPathChars];
    if (!JoinPath(folder, L"*", pattern, kMaxPathChars))
        return;
    FindFile scan;
    scan.SetPattern(pattern);
    FindData entry;
    // Subfolders stay: the group only ever holds shortcut files. Each file goes
    // only when it lies in the group checked: not a link, and not somewhere else
    // should the group have been swapped for a link meanwhile.
    while (scan.NextEntry(entry)) {
        wchar_t expected[kMaxPathChars];
        if (!entry.IsDirectory && JoinPath(folderFinal, NamePart(entry.Name), expected, kMaxPathChars))
            GateRemove(entry.Name, {expected, nullptr});
    }
}

// What the Start menu and group shortcuts of one update share.
struct ShortcutProperties {
    const wchar_t* WorkingDirectory;
    const wchar_t* Description;
    const wchar_t* IconPath;  // may be null; in a group, the program's own shortcut only
};

// Where a made group's path goes: always for the user's group, only when it
// exists afterwards for the all-users one, which then names the group reported.
struct GroupPathReport {
    wchar_t* Path;  // may be null: not wanted
    size_t Capacity;
    bool OnlyWhenMade;
};

// Makes (or removes) one program group below programsFolder.
void UpdateGroup(bool make, const wchar_t* programsFolder, const GroupPathReport& report,
                 const ShortcutProperties& properties)
{
    wchar_t group[kMaxPathChars];
    if (!JoinPath(programsFolder, kGroupName, group, kMaxPathChars))
        return;
    if (!make) {
        RemoveFolderTree(group);
        return;
    }
    // An old group is emptied first, so that shortcuts of an older version do not
    // linger. One that is a link, or anything but a folder, is never emptied:
    // no group is made there at all.
    if (FileExists(group)) {
        wchar_t groupFinal[kMaxPathChars];
        if (!GroupIsPlainFolder(group, programsFolder, groupFinal, kMaxPathChars))
            return;
        EmptyFolder(group, groupFinal);
    }
    if (report.Path != nullptr && !report.OnlyWhenMade)
        CopyString(report.Path, group, report.Capacity);
    GateCreateFolder(group);
    for (const GroupShortcut& shortcut : kGroupShortcuts) {
        wchar_t target[kMaxPathChars];
        const wchar_t* targetName = shortcut.Target != nullptr ? shortcut.Target : MessageText(shortcut.TargetMessage);
        if (!ProgramFilePath(targetName, target, kMaxPathChars) || !FileExists(target))
            continue;
        wchar_t linkName[kShortcutNameChars];
        if (shortcut.LinkName != nullptr)
            CopyString(linkName, shortcut.LinkName, kShortcutNameChars);
        else
            ShortcutFileName(shortcut.LinkMessage, linkName, kShortcutNameChars);
        wchar_t link[kMaxPathChars];
        if (JoinPath(group, linkName, link, kMaxPathChars))
            CreateShortcut(target, link, properties.WorkingDirectory, properties.Description,
                           shortcut.WithIcon ? properties.IconPath : nullptr);
    }
    bool made = FileExists(group);
    if (made)
        RecordPath(RecordedList::ProgramGroups, group);
    if (report.Path != nullptr && report.OnlyWhenMade && made)
        CopyString(report.Path, group, report.Capacity);
}

// The whole content of a file open for reading, into a stream in memory; false
// when it cannot be read whole (the shortcut is then made as new).
bool ReadIntoStream(HANDLE file, IStream* stream)
{
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr))
            return false;
        if (got == 0)
            break;
        ULONG written = 0;
        if (FAILED(stream->Write(buffer, got, &written)) || written != got)
            return false;
    }
    LARGE_INTEGER start = {};
    return SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr));
}

// Makes or updates a shortcut to the product and records it for the uninstall,
// which may run in another account.
void MakeRecordedShortcut(const wchar_t* exe, const wchar_t* linkPath, const wchar_t* workingDirectory,
                          const wchar_t* description, const wchar_t* iconPath)
{
    if (CreateShortcut(exe, linkPath, workingDirectory, description, iconPath))
        RecordPath(RecordedList::Shortcuts, linkPath);
}

// Whether the shortcut file leads to target, as saved (not resolved).
bool ShortcutLeadsTo(const wchar_t* linkPath, const wchar_t* target)
{
    ScopedComPtr<IShellLinkW> link;
    ScopedComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.ReceiveVoid())) ||
        !link || FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) || !file ||
        FAILED(file->Load(linkPath, STGM_READ)))
        return false;
    wchar_t current[kMaxPathChars];
    return link->GetPath(current, static_cast<int>(kMaxPathChars), nullptr, SLGP_RAWPATH) == S_OK &&
           CompareNoCase(current, target) == 0;
}

}  // namespace

// The shortcut is loaded from, and saved into, the file through the handle the
// gate checked, never by its name, which a user could make lead to a file of
// the system's before an elevated setup writes it.
bool CreateShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* workingDirectory,
                    const wchar_t* description, const wchar_t* iconPath)
{
    ScopedComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.ReceiveVoid())) ||
        !link)
        return false;
    ScopedComPtr<IPersistStream> persist;
    if (FAILED(link->QueryInterface(IID_IPersistStream, persist.ReceiveVoid())) || !persist)
        return false;
    ScopedFileHandle file;
    bool existed = false;
    if (!GateOpenForRewrite(linkPath, "shortcut-save", file, existed))
        return false;
    // An existing shortcut is updated: what the user changed in it, and this code does not set, stays.
    ScopedComPtr<IStream> old;
    if (existed && SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, old.Receive())) &&
        ReadIntoStream(file.Get(), old.Get()))
        persist->Load(old.Get());
    link->SetPath(target);
    if (description != nullptr)
        link->SetDescription(description);
    link->SetIconLocation(iconPath != nullptr ? iconPath : L"", 0);
    if (workingDirectory != nullptr)
        link->SetWorkingDirectory(workingDirectory);
    ScopedComPtr<IStream> made;
    HGLOBAL memory = nullptr;
    STATSTG stat = {};
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, made.Receive())) || FAILED(persist->Save(made.Get(), TRUE)) ||
        FAILED(made->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > MAXDWORD ||
        FAILED(GetHGlobalFromStream(made.Get(), &memory)))
        return false;
    const void* bytes = GlobalLock(memory);
    if (bytes == nullptr)
        return false;
    bool saved = GateReplaceContent(file.Get(), linkPath, "shortcut-save", bytes,
                                    static_cast<DWORD>(stat.cbSize.QuadPart));
    GlobalUnlock(memory);
    return saved;
}

void RemoveFolderTree(const wchar_t* path)
{
    DWORD attributes = GetAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !IsDirectoryAttr(attributes) || IsReparsePointAttr(attributes))
        return;
    // Removing through a link would remove what it leads to. Each entry goes
    // through a handle checked to lie in the group, and nothing asks the user
    // anything: a locked file in a group never stops a silent run.
    wchar_t parent[kMaxPathChars];
    wchar_t pathFinal[kMaxPathChars];
    if (!FolderPart(path, parent, kMaxPathChars) || !GroupIsPlainFolder(path, parent, pathFinal, kMaxPathChars))
        return;
    GateRemoveTree(path, pathFinal);
}

void UpdateShortcuts(const IntegrationOptions& options, wchar_t* groupPathOut, size_t groupPathCapacity,
                     const wchar_t* iconPath)
{
    if (!IntegrationAllowed())
        return;

    // The user's desktop folder is looked up once: it is also the working directory of
    // the Start menu and group shortcuts ("unknown_folder" when it cannot be had).
    wchar_t workingDirectory[kMaxPathChars];
    wchar_t userDesktopLink[kMaxPathChars];
    bool haveUserDesktop = LookUpFolder(CSIDL_DESKTOPDIRECTORY, workingDirectory, kMaxPathChars) &&
                           JoinPath(workingDirectory, kLinkName, userDesktopLink, kMaxPathChars);
    if (!haveUserDesktop && WindowsVersion() < 0x0600)
        return;
    wchar_t folder[kMaxPathChars];
    wchar_t commonDesktopLink[kMaxPathChars];
    LookUpFolder(CSIDL_COMMON_DESKTOPDIRECTORY, folder, kMaxPathChars);
    if (!JoinPath(folder, kLinkName, commonDesktopLink, kMaxPathChars))
        return;
    // A shortcut the user keeps on their own desktop is updated there; a new one goes to all users.
    const wchar_t* desktopLink =
        haveUserDesktop && FileExists(userDesktopLink) ? userDesktopLink : commonDesktopLink;

    // Without the program's own path no shortcut can be made; the removals still run.
    wchar_t exe[kMaxPathChars];
    bool haveExe = ProgramFilePath(L"Zorvex.exe", exe, kMaxPathChars);
    wchar_t description[kMessageTextChars];
    CopyString(description, MessageText(IDS_ZORVEXDESC), kMessageTextChars);

    if (options.DesktopLink) {
        if (haveExe)
            MakeRecordedShortcut(exe, desktopLink, nullptr, description, iconPath);
    } else {
        RemoveFile(desktopLink);
    }

    wchar_t startMenuLink[kMaxPathChars];
    LookUpFolder(WindowsVersion() >= 0x0600 ? CSIDL_COMMON_STARTMENU : CSIDL_STARTMENU, folder, kMaxPathChars);
    if (JoinPath(folder, kLinkName, startMenuLink, kMaxPathChars)) {
        if (options.StartMenuLink) {
            if (haveExe)
                MakeRecordedShortcut(exe, startMenuLink, workingDirectory, description, iconPath);
        } else {
            RemoveFile(startMenuLink);
        }
    }

    const ShortcutProperties properties = {workingDirectory, description, iconPath};
    LookUpFolder(CSIDL_PROGRAMS, folder, kMaxPathChars);
    UpdateGroup(options.ProgramsLink, folder, {groupPathOut, groupPathCapacity, false}, properties);
    if (LookUpFolder(CSIDL_COMMON_PROGRAMS, folder, kMaxPathChars))
        UpdateGroup(options.ProgramsLink, folder, {groupPathOut, groupPathCapacity, true}, properties);
}

void RemoveRecordedShortcuts()
{
    // Only a shortcut that still leads to this folder's program is the product's:
    // one the user has pointed elsewhere stays.
    wchar_t exe[kMaxPathChars];
    bool haveExe = ProgramFilePath(L"Zorvex.exe", exe, kMaxPathChars);
    for (unsigned n = 0; n < kMaxRecordedPaths && haveExe; ++n) {
        wchar_t link[kMaxPathChars];
        wchar_t folder[kMaxPathChars];
        wchar_t expected[kMaxPathChars];
        if (!RecordedPath(RecordedList::Shortcuts, n, link, kMaxPathChars) || !ShortcutLeadsTo(link, exe) ||
            !CopyString(folder, link, kMaxPathChars))
            continue;
        StripNamePart(folder);
        if (FinalPathIn(folder, NamePart(link), expected, kMaxPathChars))
            GateRemove(link, {expected, nullptr});
    }
    // A recorded group may lie in a profile whose user can place anything in it (a
    // junction to a folder of the system's): it goes only under the group's own
    // name and as a group is removed, entry by entry through handles checked to
    // lie in it, a link in it as a link and never entered.
    for (unsigned n = 0; n < kMaxRecordedPaths; ++n) {
        wchar_t group[kMaxPathChars];
        if (RecordedPath(RecordedList::ProgramGroups, n, group, kMaxPathChars) &&
            CompareNoCase(NamePart(group), kGroupName) == 0)
            RemoveFolderTree(group);
    }
}
