#include "tests/support/dialog_support.h"

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

struct Script {
    std::vector<DialogStep> steps;
    size_t next = 0;
    DWORD deadline = 0;
    bool running = false;
    int stalled = -1;
};

Script* CurrentScript = nullptr;

BOOL CALLBACK CollectThreadDialog(HWND window, LPARAM param)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> ThreadDialogs()
{
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectThreadDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CALLBACK ScriptTick(HWND, UINT, UINT_PTR, DWORD)
{
    Script* script = CurrentScript;
    // A step may run a nested loop (a message box it answers): never re-enter.
    if (script == nullptr || script->running)
        return;
    script->running = true;
    if (script->next < script->steps.size() && script->steps[script->next]())
        ++script->next;
    if (script->next < script->steps.size() && static_cast<LONG>(GetTickCount() - script->deadline) > 0) {
        script->stalled = static_cast<int>(script->next);
        script->next = script->steps.size();
        for (HWND dialog : ThreadDialogs())
            EndDialog(dialog, IDCANCEL);
    }
    script->running = false;
}

}  // namespace

void LoadRichEdit()
{
    static HMODULE richEdit = LoadLibraryW(L"riched20.dll");
    (void)richEdit;
}

HWND ActiveThreadDialog()
{
    for (HWND dialog : ThreadDialogs()) {
        if (IsWindowEnabled(dialog))
            return dialog;
    }
    return nullptr;
}

INT_PTR RunScriptedDialog(const wchar_t* name, DLGPROC proc, LPARAM param, std::vector<DialogStep> steps,
                          int* stalledStep, DWORD timeoutMs)
{
    LoadRichEdit();
    Script script;
    script.steps = std::move(steps);
    script.deadline = GetTickCount() + timeoutMs;
    Script* outer = CurrentScript;
    CurrentScript = &script;
    UINT_PTR timer = SetTimer(nullptr, 0, 40, ScriptTick);
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), name, nullptr, proc, param);
    KillTimer(nullptr, timer);
    CurrentScript = outer;
    if (stalledStep != nullptr)
        *stalledStep = script.stalled;
    return result;
}

std::vector<std::wstring> ReadLogLines(const std::wstring& path)
{
    std::string bytes;
    std::vector<std::wstring> lines;
    if (!ReadBytes(path, bytes) || bytes.empty())
        return lines;
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::wstring> WaitForLogLines(const std::wstring& path, size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    std::vector<std::wstring> lines = ReadLogLines(path);
    while (lines.size() < count && GetTickCount() - start < timeoutMs) {
        Sleep(100);
        lines = ReadLogLines(path);
    }
    return lines;
}

bool WriteLanguageFile(const std::wstring& path, const std::wstring& body)
{
    std::wstring text = L"\xFEFF***messages***\r\n" + body;
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return WriteBytes(path, bytes);
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name), hadOld_(false)
{
    wchar_t old[4096];
    DWORD length = GetEnvironmentVariableW(name, old, 4096);
    if (length > 0 && length < 4096) {
        old_ = old;
        hadOld_ = true;
    }
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

ScopedSystemFile::ScopedSystemFile(const std::wstring& name, const std::wstring& replacement)
{
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    path_ = std::wstring(system) + L"\\" + name;
    saved_ = path_ + L".zvx-saved";
    if (Exists(saved_)) {
        // Left by an interrupted run: that copy is the original.
        DeleteFileW(path_.c_str());
        MoveFileW(saved_.c_str(), path_.c_str());
    }
    hadOriginal_ = Exists(path_);
    if (hadOriginal_ && !MoveFileW(path_.c_str(), saved_.c_str())) {
        path_.clear();  // nothing was changed, nothing to put back
        return;
    }
    installed_ = CopyFileW(replacement.c_str(), path_.c_str(), FALSE) != FALSE;
}

ScopedSystemFile::~ScopedSystemFile()
{
    if (path_.empty())
        return;
    DeleteFileW(path_.c_str());
    if (hadOriginal_)
        MoveFileW(saved_.c_str(), path_.c_str());
}

}  // namespace testsupport
