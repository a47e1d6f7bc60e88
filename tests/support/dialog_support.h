// Driving the program's dialogs inside the test process, and the prefix
// changes that the dialog tests make and undo.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// One step of a dialog script: called on every tick of the modal loop until it
// answers true, then the next step runs. Steps post their button presses, so
// that a nested dialog runs its own loop while the script goes on.
using DialogStep = std::function<bool()>;

// Runs the dialog template name from this executable modally with proc and
// param while the steps run; returns DialogBoxParamW's result. When the steps
// have not finished within timeoutMs every dialog of the thread is ended with
// IDCANCEL. *stalledStep: the index of the first step that never finished, -1
// when all did.
INT_PTR RunScriptedDialog(const wchar_t* name, DLGPROC proc, LPARAM param, std::vector<DialogStep> steps,
                          int* stalledStep, DWORD timeoutMs = 20000);
// The rich-edit control class that SETUPDLG needs, loaded once for the process
// (the program loads it at start-up).
void LoadRichEdit();
// The enabled, visible dialog of this thread (the innermost modal one), or null.
HWND ActiveThreadDialog();

// Lines appended to a UTF-8 log file by a recording stand-in (empty when none).
std::vector<std::wstring> ReadLogLines(const std::wstring& path);
// Waits until the log has at least count lines; the lines then read.
std::vector<std::wstring> WaitForLogLines(const std::wstring& path, size_t count, DWORD timeoutMs = 15000);

// Writes a language file as UTF-16LE with its byte-order mark (the marker line is added).
bool WriteLanguageFile(const std::wstring& path, const std::wstring& body);

// Sets an environment variable for this process and the children it starts,
// and puts the old value back when it goes.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool hadOld_;
};

// A file of the prefix's system folder replaced for a test and put back after.
class ScopedSystemFile {
public:
    ScopedSystemFile(const std::wstring& name, const std::wstring& replacement);
    ~ScopedSystemFile();
    ScopedSystemFile(const ScopedSystemFile&) = delete;
    ScopedSystemFile& operator=(const ScopedSystemFile&) = delete;
    bool Installed() const { return installed_; }

private:
    std::wstring path_;
    std::wstring saved_;
    bool hadOriginal_ = false;
    bool installed_ = false;
};

}  // namespace testsupport
