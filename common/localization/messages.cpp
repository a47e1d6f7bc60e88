#include "common/localization/messages.h"

#include <climits>
#include <cstring>

#include "common/base/file.h"
#include "common/base/heapsort.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"
#include "common/localization/language_file.h"
#include "resources/resource.h"

const KeyTableRow KeyTable[] = {
    {"s:IDS_UNINSTTITLE", IDS_UNINSTTITLE},
    {"s:IDS_ZORVEXHELP", IDS_ZORVEXHELP},
    {"s:IDS_ZVXHELP", IDS_ZVXHELP},
    {"s:IDS_WHATSNEW", IDS_WHATSNEW},
    {"s:IDS_WHATSNEWNAME", IDS_WHATSNEWNAME},
    {"s:IDS_UNINSTALLZVX", IDS_UNINSTALLZVX},
    {"s:IDS_UNINSTALLCOMPLETED", IDS_UNINSTALLCOMPLETED},
    {"s:IDS_UNINSTALLSHOULDDELETE", IDS_UNINSTALLSHOULDDELETE},
    {"s:IDS_CONTINUEUNINSTALL", IDS_CONTINUEUNINSTALL},
    {"s:IDS_CANNOTOPENLIST", IDS_CANNOTOPENLIST},
    {"s:IDS_ZORVEXARC", IDS_ZORVEXARC},
    {"s:IDS_ZORVEXZIPARC", IDS_ZORVEXZIPARC},
    {"s:IDS_ZVXRECVOL", IDS_ZVXRECVOL},
    {"s:IDS_HOMEURL", IDS_HOMEURL},
    {"s:IDS_ZORVEXDESC", IDS_ZORVEXDESC},
    {"s:IDS_REBOOTREQUIRED", IDS_REBOOTREQUIRED},
    {"s:IDS_INSTHELP1", IDS_INSTHELP1},
    {"s:IDS_INSTHELP2", IDS_INSTHELP2},
    {"s:IDS_INSTHELP3", IDS_INSTHELP3},
    {"s:IDS_INSTHELP4", IDS_INSTHELP4},
    {"s:IDS_INSTHELP5", IDS_INSTHELP5},
    {"s:IDS_INSTHELP6", IDS_INSTHELP6},
    {"s:IDS_WARN32BIT", IDS_WARN32BIT},
    {"s:IDS_INSTREBOOTREQUIRED", IDS_INSTREBOOTREQUIRED},
    {"s:IDS_BETA", IDS_BETA},
    {"s:IDS_32BIT", IDS_32BIT},
    {"s:IDS_64BIT", IDS_64BIT},
    {"s:IDS_SINGLETOPITEM", IDS_SINGLETOPITEM},
    {"s:IDS_OTHERINSTALL", IDS_OTHERINSTALL},
    {"s:IDS_ALREADYRUNNING", IDS_ALREADYRUNNING},

    {"$SETUPDLG:SIZE", 0},
    {"$SETUPDLG:CAPTION", 0},
    {"$SETUPDLG:IDC_ASSOCWITH", IDC_ASSOCWITH},
    {"$SETUPDLG:IDC_ASSOCZVX", IDC_ASSOCZVX},
    {"$SETUPDLG:IDC_ASSOCZIP", IDC_ASSOCZIP},
    {"$SETUPDLG:IDC_ASSOC7Z", IDC_ASSOC7Z},
    {"$SETUPDLG:IDC_ASSOCARJ", IDC_ASSOCARJ},
    {"$SETUPDLG:IDC_ASSOCBZ2", IDC_ASSOCBZ2},
    {"$SETUPDLG:IDC_ASSOCCAB", IDC_ASSOCCAB},
    {"$SETUPDLG:IDC_ASSOCGZ", IDC_ASSOCGZ},
    {"$SETUPDLG:IDC_ASSOCISO", IDC_ASSOCISO},
    {"$SETUPDLG:IDC_ASSOCJAR", IDC_ASSOCJAR},
    {"$SETUPDLG:IDC_ASSOCLZ", IDC_ASSOCLZ},
    {"$SETUPDLG:IDC_ASSOCLZH", IDC_ASSOCLZH},
    {"$SETUPDLG:IDC_ASSOCTAR", IDC_ASSOCTAR},
    {"$SETUPDLG:IDC_ASSOCUUE", IDC_ASSOCUUE},
    {"$SETUPDLG:IDC_ASSOCXZ", IDC_ASSOCXZ},
    {"$SETUPDLG:IDC_ASSOCZ", IDC_ASSOCZ},
    {"$SETUPDLG:IDC_ASSOCZIPX", IDC_ASSOCZIPX},
    {"$SETUPDLG:IDC_ASSOCZST", IDC_ASSOCZST},
    {"$SETUPDLG:IDC_ASSOC001", IDC_ASSOC001},
    {"$SETUPDLG:IDC_ASSOCALL", IDC_ASSOCALL},
    {"$SETUPDLG:IDC_INTEGRATIONINTERFACE", IDC_INTEGRATIONINTERFACE},
    {"$SETUPDLG:IDC_LINKDESKTOP", IDC_LINKDESKTOP},
    {"$SETUPDLG:IDC_LINKSTARTMENU", IDC_LINKSTARTMENU},
    {"$SETUPDLG:IDC_LINKPROGRAMS", IDC_LINKPROGRAMS},
    {"$SETUPDLG:IDC_SHELLINTEGRATION", IDC_SHELLINTEGRATION},
    {"$SETUPDLG:IDC_SHELLEXT", IDC_SHELLEXT},
    {"$SETUPDLG:IDC_SHELLCASCADED", IDC_SHELLCASCADED},
    {"$SETUPDLG:IDC_SHELLICONS", IDC_SHELLICONS},
    {"$SETUPDLG:IDC_SHELLLEGACYMENU", IDC_SHELLLEGACYMENU},
    {"$SETUPDLG:IDC_SETCONTEXTMENU", IDC_SETCONTEXTMENU},
    {"$SETUPDLG:IDOK", IDOK},
    {"$SETUPDLG:IDHELP", IDHELP},

    {"$DONEDLG:SIZE", 0},
    {"$DONEDLG:CAPTION", 0},
    {"$DONEDLG:IDOK", IDOK},
    {"$DONEDLG:IDC_INSTINFOFOLDER", IDC_INSTINFOFOLDER},
    {"$DONEDLG:IDC_INSTINFOOPTIONS", IDC_INSTINFOOPTIONS},
    {"$DONEDLG:IDC_INSTINFOHELP", IDC_INSTINFOHELP},
    {"$DONEDLG:IDC_VIEWHELP", IDC_VIEWHELP},
    {"$DONEDLG:IDC_VIEWLICENSE", IDC_VIEWLICENSE},
    {"$DONEDLG:IDC_HOMEPAGE", IDC_HOMEPAGE},
    {"$DONEDLG:IDC_THANKS", IDC_THANKS},

    {"$SETUPCONTEXTITEMS:SIZE", 0},
    {"$SETUPCONTEXTITEMS:CAPTION", 0},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTMENUITEMS", IDC_CONTEXTMENUITEMS},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACTTO", IDC_CONTEXTEXTRACTTO},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACTHERE", IDC_CONTEXTEXTRACTHERE},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACT", IDC_CONTEXTEXTRACT},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACTSEPARATE", IDC_CONTEXTEXTRACTSEPARATE},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTOPENSFX", IDC_CONTEXTOPENSFX},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTOPENARC", IDC_CONTEXTOPENARC},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTADD", IDC_CONTEXTADD},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTADDARC", IDC_CONTEXTADDARC},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEMAILARC", IDC_CONTEXTEMAILARC},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEMAILARCOPT", IDC_CONTEXTEMAILARCOPT},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTEST", IDC_CONTEXTTEST},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTCONVERT", IDC_CONTEXTCONVERT},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACT", IDC_CONTEXTTOPEXTRACT},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACTTO", IDC_CONTEXTTOPEXTRACTTO},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACTHERE", IDC_CONTEXTTOPEXTRACTHERE},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACTSEPARATE", IDC_CONTEXTTOPEXTRACTSEPARATE},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPADDARC", IDC_CONTEXTTOPADDARC},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPADD", IDC_CONTEXTTOPADD},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTNEWMENU", IDC_CONTEXTNEWMENU},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTNEWZVX", IDC_CONTEXTNEWZVX},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTNEWZIP", IDC_CONTEXTNEWZIP},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTDROPMENU", IDC_CONTEXTDROPMENU},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTDRAGADD", IDC_CONTEXTDRAGADD},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTDRAGEXTRACT", IDC_CONTEXTDRAGEXTRACT},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXARCHIVES", IDC_CONTEXTSFXARCHIVES},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXLOCAL", IDC_CONTEXTSFXLOCAL},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXNETWORK", IDC_CONTEXTSFXNETWORK},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXOTHER", IDC_CONTEXTSFXOTHER},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTALWAYSARCTITLE", IDC_CONTEXTALWAYSARCTITLE},
    {"$SETUPCONTEXTITEMS:IDOK", IDOK},
    {"$SETUPCONTEXTITEMS:IDCANCEL", IDCANCEL},
    {"$SETUPCONTEXTITEMS:IDHELP", IDHELP},
};
const size_t KeyTableSize = sizeof KeyTable / sizeof KeyTable[0];

namespace {

constexpr size_t kKeyBytes = 80;
const wchar_t kLanguageLibraryName[] = L"zvxlng.dll";

// Row numbers of KeyTable sorted by group (the key up to its first colon),
// then by id.
uint32_t KeyIndex[sizeof KeyTable / sizeof KeyTable[0]];
bool KeyIndexBuilt = false;

// Empty when no library is loaded; the program's own module then supplies the resources.
ScopedLibrary LanguageLibrary;
HINSTANCE OwnModuleHandle = nullptr;

wchar_t MessageBuffers[8][kMessageTextChars];
unsigned MessageTurn = 0;

size_t GroupLength(const char* key)
{
    const char* colon = std::strchr(key, ':');
    return colon != nullptr ? static_cast<size_t>(colon - key) : std::strlen(key);
}

int CompareGroupAndId(const char* group, size_t groupLength, uint32_t id, const KeyTableRow& row)
{
    size_t rowLength = GroupLength(row.Key);
    size_t common = groupLength < rowLength ? groupLength : rowLength;
    int order = std::memcmp(group, row.Key, common);
    if (order != 0)
        return order;
    if (groupLength != rowLength)
        return groupLength < rowLength ? -1 : 1;
    if (id != row.Id)
        return id < row.Id ? -1 : 1;
    return 0;
}

int CompareKeyRows(const void* a, const void* b)
{
    const KeyTableRow& ra = KeyTable[*static_cast<const uint32_t*>(a)];
    const KeyTableRow& rb = KeyTable[*static_cast<const uint32_t*>(b)];
    return CompareGroupAndId(ra.Key, GroupLength(ra.Key), ra.Id, rb);
}

void BuildKeyTableIndex()
{
    if (KeyIndexBuilt)
        return;
    for (size_t n = 0; n < KeyTableSize; n++)
        KeyIndex[n] = static_cast<uint32_t>(n);
    HeapSort(KeyIndex, KeyTableSize, sizeof KeyIndex[0], CompareKeyRows);
    KeyIndexBuilt = true;
}

// Loads the library as data only where the system can (NT 5.0 SP2 and later),
// so that none of its code runs in the uninstaller.
HMODULE LoadLibraryResources(const wchar_t* path)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    bool dataFile = true;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
        dataFile = version.dwPlatformId == VER_PLATFORM_WIN32_NT
                   && (version.dwMajorVersion > 5
                       || (version.dwMajorVersion == 5 && version.wServicePackMajor >= 2));
    }
    if (dataFile)
        return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return LoadLibraryW(path);
}

}  // namespace

void LoadLanguageLibrary(HINSTANCE ownModule, const wchar_t* path)
{
    UnloadLanguageLibrary();
    OwnModuleHandle = ownModule;

    wchar_t libraryPath[kMaxPathChars];
    bool named = path != nullptr ? CopyString(libraryPath, path, kMaxPathChars) &&
                                       ReplaceNamePart(libraryPath, kLanguageLibraryName, kMaxPathChars)
                                 : ProgramFilePath(kLanguageLibraryName, libraryPath, kMaxPathChars);
    if (!named)
        return;
    FindInLanguageFolder(libraryPath, libraryPath, kMaxPathChars);

    LanguageLibrary.Reset(LoadLibraryResources(libraryPath));
}

void UnloadLanguageLibrary()
{
    LanguageLibrary.Reset();
}

void InitLanguage(const wchar_t* fileName)
{
    wchar_t path[kMaxPathChars];
    FindInLanguageFolder(fileName, path, kMaxPathChars);
    BuildKeyTableIndex();
    LoadLanguageFile(path);
    if (FindResourceW(ResourceModule(), L"RTL", RT_DIALOG) != nullptr)
        SetRightToLeft(true);
    if (RightToLeft())
        SetProcessDefaultLayout(LAYOUT_RTL);
}

void LanguageExitCleanup()
{
    DestroyLanguageTable();
    UnloadLanguageLibrary();
}

HINSTANCE OwnModule()
{
    // Before LoadLanguageLibrary has run, the executable supplies everything.
    return OwnModuleHandle != nullptr ? OwnModuleHandle : GetModuleHandleW(nullptr);
}

HINSTANCE ResourceModule()
{
    return LanguageLibrary ? LanguageLibrary.Get() : OwnModule();
}

HINSTANCE DialogModule(const wchar_t* dialogName)
{
    HINSTANCE resources = ResourceModule();
    // Without the template DialogBoxParamW answers -1, which setup counts as OK:
    // a run would end reporting success having done nothing.
    if (resources != OwnModule() && FindResourceW(resources, dialogName, RT_DIALOG) == nullptr)
        return OwnModule();
    return resources;
}

void FindInLanguageFolder(const wchar_t* path, wchar_t* result, size_t capacity)
{
    if (result != path && !CopyString(result, path, capacity)) {
        // A cut path names another file; the caller gets none rather than that one.
        if (capacity > 0)
            result[0] = L'\0';
        return;
    }

    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zorvex\\General", 0, KEY_QUERY_VALUE, key.Receive())
        != ERROR_SUCCESS)
        return;

    // The folder gets what one path buffer leaves beside path.
    size_t pathLength = wcslen(path);
    if (pathLength + 1 >= kMaxPathChars)
        return;
    size_t folderChars = kMaxPathChars - 1 - pathLength;
    wchar_t folder[kMaxPathChars];
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(folderChars * sizeof(wchar_t));
    LONG status = RegQueryValueExW(key.Get(), L"LanguageFolder", nullptr, &type,
                                   reinterpret_cast<BYTE*>(folder), &bytes);
    // Only a whole string value names a folder.
    if (status != ERROR_SUCCESS || !TerminateRegistryText(folder, folderChars, type, bytes))
        return;

    wchar_t candidate[kMaxPathChars];
    DWORD expanded = ExpandEnvironmentStringsW(folder, candidate, kMaxPathChars);
    if (expanded == 0 || expanded > kMaxPathChars)
        return;
    // An empty folder would leave a bare name, which the callers resolve
    // elsewhere than where it was found.
    if (candidate[0] == L'\0')
        return;
    AppendSeparator(candidate, kMaxPathChars);
    if (!AppendString(candidate, NamePart(path), kMaxPathChars))
        return;
    if (wcslen(candidate) >= capacity)
        return;
    if (FileExists(candidate))
        CopyString(result, candidate, capacity);
}

bool FindKeyById(uint32_t id, char* key)
{
    if (LanguageEntryCount() == 0)
        return false;
    BuildKeyTableIndex();
    size_t low = 0;
    size_t high = KeyTableSize;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        const KeyTableRow& row = KeyTable[KeyIndex[mid]];
        int order = CompareGroupAndId("s", 1, id, row);
        if (order == 0)
            return CopyStringA(key, row.Key, kKeyBytes);
        if (order > 0)
            low = mid + 1;
        else
            high = mid;
    }
    return false;
}

bool FindTextById(uint32_t id, wchar_t* buffer, size_t capacity)
{
    char key[kKeyBytes];
    return FindKeyById(id, key) && FindText(key, buffer, capacity);
}

wchar_t* LoadMessageText(uint32_t id, wchar_t* buffer, size_t capacity)
{
    // LoadStringW with a zero capacity would hand out a pointer instead of copying.
    if (capacity == 0)
        return buffer;
    buffer[0] = L'\0';
    if (FindTextById(id, buffer, capacity))
        return buffer;
    int chars = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    if (LoadStringW(ResourceModule(), id, buffer, chars) > 0)
        return buffer;
    buffer[0] = L'\0';
    if (LoadStringW(OwnModule(), id, buffer, chars) > 0)
        return buffer;
    buffer[0] = L'\0';
    return buffer;
}

const wchar_t* MessageText(uint32_t id)
{
    MessageTurn = (MessageTurn + 1) % 8;
    return LoadMessageText(id, MessageBuffers[MessageTurn], kMessageTextChars);
}
