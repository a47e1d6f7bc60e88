#include "common/base/preview_record.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "common/base/array.h"
#include "common/base/errors.h"

namespace {

struct MovedFile {
    FileIdentity Identity;
    wchar_t* NewPath;
};

bool gWithheld = false;
Array<FileIdentity> gGone;
Array<FileIdentity> gCleared;
Array<MovedFile> gMoved;
Array<wchar_t*> gKeysGone;

// The preview's record is searched linearly: a preview is run once, by hand or
// by a deployment tool, over an install of some thousand entries.
int64_t FindIdentity(const Array<FileIdentity>& set, const FileIdentity& identity)
{
    for (uint64_t i = 0; i < set.Count; i++) {
        if (SameFile(set[i], identity))
            return static_cast<int64_t>(i);
    }
    return -1;
}

void AddIdentity(Array<FileIdentity>& set, const FileIdentity& identity)
{
    if (identity.Index == 0 || FindIdentity(set, identity) >= 0)
        return;
    set.Grow(1);
    set[set.Count - 1] = identity;
}

void RemoveIdentity(Array<FileIdentity>& set, const FileIdentity& identity)
{
    int64_t i = FindIdentity(set, identity);
    if (i < 0)
        return;
    set[static_cast<uint64_t>(i)] = set[set.Count - 1];
    set.SetCount(set.Count - 1);
}

wchar_t* CopyText(const wchar_t* text)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(std::malloc(bytes));
    if (copy == nullptr)
        ErrHandler().RaiseMemoryError();
    memcpy(copy, text, bytes);
    return copy;
}

bool SameName(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool ChangesWithheld()
{
    return gWithheld;
}

void EndPreviewRecord()
{
    for (uint64_t i = 0; i < gMoved.Count; i++)
        std::free(gMoved[i].NewPath);
    for (uint64_t i = 0; i < gKeysGone.Count; i++)
        std::free(gKeysGone[i]);
    gGone.Free();
    gCleared.Free();
    gMoved.Free();
    gKeysGone.Free();
    gWithheld = false;
}

void BeginPreviewRecord()
{
    EndPreviewRecord();
    gWithheld = true;
}

void RecordFileGone(const FileIdentity& identity)
{
    AddIdentity(gGone, identity);
}

bool IsFileGone(const FileIdentity& identity)
{
    return FindIdentity(gGone, identity) >= 0;
}

void RecordFileMoved(const FileIdentity& identity, const wchar_t* newPath)
{
    if (identity.Index == 0)
        return;
    for (uint64_t i = 0; i < gMoved.Count; i++) {
        if (SameFile(gMoved[i].Identity, identity)) {
            wchar_t* copy = CopyText(newPath);
            std::free(gMoved[i].NewPath);
            gMoved[i].NewPath = copy;
            return;
        }
    }
    gMoved.Grow(1);
    gMoved[gMoved.Count - 1] = {identity, nullptr};
    gMoved[gMoved.Count - 1].NewPath = CopyText(newPath);
}

bool FileMovedTo(const wchar_t* path, FileIdentity& identity)
{
    for (uint64_t i = 0; i < gMoved.Count; i++) {
        if (SameName(gMoved[i].NewPath, path) && !IsFileGone(gMoved[i].Identity)) {
            identity = gMoved[i].Identity;
            return true;
        }
    }
    return false;
}

bool IsFileMovedAway(const FileIdentity& identity)
{
    for (uint64_t i = 0; i < gMoved.Count; i++) {
        if (SameFile(gMoved[i].Identity, identity))
            return true;
    }
    return false;
}

bool AnyFileMovedInto(const wchar_t* folder)
{
    size_t folderLength = wcslen(folder);
    while (folderLength > 0 && folder[folderLength - 1] == L'\\')
        folderLength--;
    for (uint64_t i = 0; i < gMoved.Count; i++) {
        const wchar_t* path = gMoved[i].NewPath;
        const wchar_t* name = wcsrchr(path, L'\\');
        if (name == nullptr || IsFileGone(gMoved[i].Identity) || folderLength > INT32_MAX)
            continue;
        size_t length = static_cast<size_t>(name - path);
        if (length == folderLength &&
            CompareStringOrdinal(path, static_cast<int>(length), folder, static_cast<int>(length), TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

void RecordAttributesCleared(const FileIdentity& identity, bool cleared)
{
    if (cleared)
        AddIdentity(gCleared, identity);
    else
        RemoveIdentity(gCleared, identity);
}

bool AreAttributesCleared(const FileIdentity& identity)
{
    return FindIdentity(gCleared, identity) >= 0;
}

void RecordKeyGone(const wchar_t* name)
{
    if (IsKeyGone(name))
        return;
    gKeysGone.Grow(1);
    gKeysGone[gKeysGone.Count - 1] = CopyText(name);
}

bool IsKeyGone(const wchar_t* name)
{
    for (uint64_t i = 0; i < gKeysGone.Count; i++) {
        if (SameName(gKeysGone[i], name))
            return true;
    }
    return false;
}
