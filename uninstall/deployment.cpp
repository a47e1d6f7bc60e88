#include "uninstall/deployment.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

#include "common/base/change_log.h"
#include "common/base/scoped.h"
#include "common/base/strings.h"

// --- The window station

static bool gBoxesCanBeSeen = true;

StationVerdict StationVerdictOf(bool queried, DWORD flags)
{
    if (!queried)
        return StationVerdict::Unknown;
    return (flags & WSF_VISIBLE) != 0 ? StationVerdict::Visible : StationVerdict::Invisible;
}

bool InspectWindowStation(wchar_t* note, size_t capacity)
{
    HWINSTA station = GetProcessWindowStation();   // not to be closed
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    bool queried =
        station != nullptr && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) != FALSE;
    if (StationVerdictOf(queried, flags.dwFlags) != StationVerdict::Invisible)
        return true;
    gBoxesCanBeSeen = false;
    wchar_t name[256];
    if (!GetUserObjectInformationW(station, UOI_NAME, name, sizeof name, &needed))
        name[0] = 0;
    FormatString(note, capacity,
                 L"the window station \"%s\" shows no window (UOI_FLAGS 0x%lX): the run is silent and shows no box",
                 name, static_cast<unsigned long>(flags.dwFlags));
    return false;
}

bool BoxesCanBeSeen()
{
    return gBoxesCanBeSeen;
}

// --- One run at a time

const wchar_t kRunLockName[] = L"Global\\Zorvex.SetupOrUninstall";
const wchar_t kRunLockSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

LockVerdict LockVerdictOf(bool opened, bool ownerTrusted, DWORD waitResult)
{
    if (!opened || !ownerTrusted)
        return LockVerdict::Unguarded;
    switch (waitResult) {
    case WAIT_OBJECT_0:
        return LockVerdict::Taken;
    case WAIT_ABANDONED:
        return LockVerdict::TakenAfterAbandoned;
    case WAIT_TIMEOUT:
        return LockVerdict::Busy;
    default:
        return LockVerdict::Unguarded;
    }
}

bool IsTrustedLockOwner(PSID owner)
{
    return owner != nullptr && IsValidSid(owner) &&
           (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
}

namespace {

ScopedHandle gLock;
bool gLockHeld = false;

bool LockOwnerTrusted(HANDLE lock)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(lock, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    ScopedLocalMem held(descriptor);
    return IsTrustedLockOwner(owner);
}

void NoteUnguarded(const wchar_t* name, bool opened, DWORD error)
{
    wchar_t note[256];
    if (opened)
        FormatString(note, sizeof note / sizeof note[0],
                     L"the lock %s belongs neither to SYSTEM nor to Administrators: the run goes on without "
                     L"guarding against a second setup or uninstall",
                     name);
    else
        FormatString(note, sizeof note / sizeof note[0],
                     L"the lock %s cannot be had (error %lu): the run goes on without guarding against a second "
                     L"setup or uninstall",
                     name, static_cast<unsigned long>(error));
    LogNote(note);
}

}  // namespace

bool TakeRunLock()
{
    ReleaseRunLock();
    const wchar_t* name = kRunLockName;
    ScopedLocalMem descriptor;
    PSECURITY_DESCRIPTOR made = nullptr;
    DWORD error = ERROR_SUCCESS;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunLockSecurity, SDDL_REVISION_1, &made, nullptr)) {
        descriptor.Reset(made);
        // Not inherited: the batch file's interpreter must not keep it open.
        SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
        gLock.Reset(CreateMutexW(&security, FALSE, name));
        error = GetLastError();
    } else {
        error = GetLastError();
    }
    bool trusted = gLock && LockOwnerTrusted(gLock.Get());
    DWORD wait = trusted ? WaitForSingleObject(gLock.Get(), 0) : WAIT_FAILED;
    switch (LockVerdictOf(gLock.Valid(), trusted, wait)) {
    case LockVerdict::Taken:
        gLockHeld = true;
        return true;
    case LockVerdict::TakenAfterAbandoned:
        gLockHeld = true;
        LogNote(L"an earlier setup or uninstall ended without releasing the lock");
        return true;
    case LockVerdict::Busy:
        ReleaseRunLock();
        return false;
    case LockVerdict::Unguarded:
        break;
    }
    NoteUnguarded(name, gLock.Valid(), error);
    ReleaseRunLock();
    return true;
}

void ReleaseRunLock()
{
    if (gLockHeld)
        ReleaseMutex(gLock.Get());
    gLockHeld = false;
    gLock.Reset();
}

// --- Exit codes

const ResultCode kResultCodes[] = {
    {L"ok", 0, 0},
    {L"cancelled", 1, 1602},
    {L"declined", 0, 1602},
    {L"list-missing", 0, 1603},
    {L"restart-required", 0, 3010},
    {L"files-left", 0, 1603},
    {L"stopped", 0, 1603},
    {L"batch-failed", 0, 1603},
    {L"dialog-failed", 0, 1603},
    {L"busy", 0, 1618},
};
const size_t kResultCodeCount = sizeof kResultCodes / sizeof kResultCodes[0];

int ExitCodeForResult(const wchar_t* word, bool msiCodes)
{
    for (size_t i = 0; i < kResultCodeCount; i++) {
        if (wcscmp(kResultCodes[i].Word, word) == 0)
            return msiCodes ? kResultCodes[i].Msi : kResultCodes[i].Standard;
    }
    return msiCodes ? 1603 : 0;
}
