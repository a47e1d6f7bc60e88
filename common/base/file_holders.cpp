#include "common/base/file_holders.h"

#include <restartmanager.h>

#include <memory>
#include <new>

#include "common/base/change_log.h"
#include "common/base/module.h"
#include "common/base/paths.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"

static FileHolderQuery gQueryForTesting = nullptr;

void SetFileHolderQueryForTesting(FileHolderQuery query)
{
    gQueryForTesting = query;
}

const char* HolderKindWord(int kind)
{
    switch (kind) {
    case RmMainWindow:
        return "window";
    case RmOtherWindow:
        return "other-window";
    case RmService:
        return "service";
    case RmExplorer:
        return "explorer";
    case RmConsole:
        return "console";
    case RmCritical:
        return "critical";
    default:
        return "unknown";
    }
}

bool PreviewCountsFileAsHeld(bool writeRefusedBySharing, bool holdersKnown, size_t holders)
{
    return writeRefusedBySharing && holdersKnown && holders > 0;
}

namespace {

using RmStartSessionFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmRegisterResourcesFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using RmGetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using RmEndSessionFn = DWORD(WINAPI*)(DWORD);

// rstrtmgr.dll from the system folder only, loaded at the first question and
// kept for the rest of the run.
struct RestartManager {
    bool Tried = false;
    HMODULE Library = nullptr;
    RmStartSessionFn StartSession = nullptr;
    RmRegisterResourcesFn RegisterResources = nullptr;
    RmGetListFn GetList = nullptr;
    RmEndSessionFn EndSession = nullptr;
};

template <class Fn>
Fn Lookup(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

const RestartManager* LoadRestartManager()
{
    static RestartManager manager;
    if (!manager.Tried) {
        manager.Tried = true;
        manager.Library = LoadSystemLibrary(L"rstrtmgr.dll");
        if (manager.Library != nullptr) {
            manager.StartSession = Lookup<RmStartSessionFn>(manager.Library, "RmStartSession");
            manager.RegisterResources = Lookup<RmRegisterResourcesFn>(manager.Library, "RmRegisterResources");
            manager.GetList = Lookup<RmGetListFn>(manager.Library, "RmGetList");
            manager.EndSession = Lookup<RmEndSessionFn>(manager.Library, "RmEndSession");
        }
    }
    bool whole = manager.StartSession != nullptr && manager.RegisterResources != nullptr &&
                 manager.GetList != nullptr && manager.EndSession != nullptr;
    return whole ? &manager : nullptr;
}

// A session of the Restart Manager, ended by its owner.
class RmSession {
public:
    explicit RmSession(const RestartManager& manager) : manager_(manager)
    {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        started_ = manager_.StartSession(&handle_, 0, key) == ERROR_SUCCESS;
    }
    ~RmSession()
    {
        if (started_)
            manager_.EndSession(handle_);
    }
    RmSession(const RmSession&) = delete;
    RmSession& operator=(const RmSession&) = delete;
    bool Started() const { return started_; }
    DWORD Handle() const { return handle_; }

private:
    const RestartManager& manager_;
    DWORD handle_ = 0;
    bool started_ = false;
};

void CopyHolder(const RM_PROCESS_INFO& info, FileHolder& holder)
{
    holder.ProcessId = info.Process.dwProcessId;
    holder.Kind = info.ApplicationType;
    // The Restart Manager's buffers are as large as ours; a name it did not
    // terminate is cut, which is harmless in a log line.
    CopyString(holder.Name, info.strAppName, sizeof holder.Name / sizeof holder.Name[0]);
    CopyString(holder.Service, info.strServiceShortName, sizeof holder.Service / sizeof holder.Service[0]);
}

bool AskRestartManager(const wchar_t* path, FileHolder* holders, size_t capacity, size_t& count)
{
    const RestartManager* manager = LoadRestartManager();
    if (manager == nullptr)
        return false;
    RmSession session(*manager);
    if (!session.Started())
        return false;
    LPCWSTR files[] = {path};
    if (manager->RegisterResources(session.Handle(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS)
        return false;
    // The list may grow between the call that sizes it and the one that fills it.
    UINT size = 0;
    std::unique_ptr<RM_PROCESS_INFO[]> infos;
    for (int attempt = 0; attempt < 4; attempt++) {
        UINT needed = 0;
        UINT filled = size;
        DWORD reasons = 0;
        DWORD error = manager->GetList(session.Handle(), &needed, &filled, infos.get(), &reasons);
        if (error == ERROR_SUCCESS) {
            count = filled;
            for (size_t i = 0; i < filled && i < capacity; i++)
                CopyHolder(infos[i], holders[i]);
            return true;
        }
        if (error != ERROR_MORE_DATA || needed > 4096)
            return false;
        size = needed + 4;
        infos.reset(new (std::nothrow) RM_PROCESS_INFO[size]);
        if (!infos)
            return false;
    }
    return false;
}

}  // namespace

bool FindFileHolders(const wchar_t* path, FileHolder* holders, size_t capacity, size_t& count)
{
    count = 0;
    bool known = gQueryForTesting != nullptr ? gQueryForTesting(path, holders, capacity, count)
                                             : AskRestartManager(path, holders, capacity, count);
    if (!known)
        count = 0;
    return known;
}

void LogFileHolders(const wchar_t* path)
{
    constexpr size_t kNamed = 8;
    FileHolder holders[kNamed];
    size_t count = 0;
    if (!FindFileHolders(path, holders, kNamed, count))
        return;
    for (size_t i = 0; i < count && i < kNamed; i++) {
        char fields[64];
        FormatStringA(fields, sizeof fields, "file-holder %lu %s", static_cast<unsigned long>(holders[i].ProcessId),
                      HolderKindWord(holders[i].Kind));
        LogEvent(fields, path, holders[i].Name, holders[i].Service[0] != 0 ? holders[i].Service : nullptr);
    }
    if (count > kNamed) {
        wchar_t note[kMaxPathChars + 48];
        if (FormatString(note, sizeof note / sizeof note[0], L"%u more processes hold %s",
                         static_cast<unsigned>(count - kNamed), path) >= 0)
            LogNote(note);
    }
}

bool FileInUseForPreview(const wchar_t* path)
{
    // Opening for writing changes nothing; an image mapped by any process
    // refuses it as it refuses deletion, which the probe for deletion cannot see.
    ScopedFileHandle writer(CreateFileW(path, FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    bool refused = !writer && GetLastError() == ERROR_SHARING_VIOLATION;
    if (!refused)
        return false;
    FileHolder holder[1];
    size_t count = 0;
    bool known = FindFileHolders(path, holder, 1, count);
    if (!PreviewCountsFileAsHeld(refused, known, count))
        return false;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}
