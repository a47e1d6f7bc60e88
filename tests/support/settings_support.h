// Helpers for tests of the settings store and the settings file: where the store
// looks for Zorvex.ini and the byte forms of its text.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// Zorvex.ini beside the running test executable, the first place the store looks.
std::wstring SettingsFileBesideProgram();
// %APPDATA%\Zorvex, the second place.
std::wstring AppDataSettingsFolder();

// %APPDATA%\Zorvex\Zorvex.ini (inside the test run's prefix) for the life of the
// object. Removes every settings file the store could find, and what a save may
// leave (the temporary file, the read-only attribute), when it starts and ends; the
// folder is made when missing and then removed again.
class AppDataSettingsFile {
public:
    AppDataSettingsFile();
    ~AppDataSettingsFile();
    AppDataSettingsFile(const AppDataSettingsFile&) = delete;
    AppDataSettingsFile& operator=(const AppDataSettingsFile&) = delete;

    const std::wstring& Path() const { return path_; }
    // Removes the files beside the program and in %APPDATA%\Zorvex.
    void Clean();

private:
    std::wstring folder_;
    std::wstring path_;
    bool madeFolder_;
};

// Bytes of text as UTF-16LE with its byte-order mark, as the store writes files.
std::string Utf16LeFile(const std::wstring& text);
// Big-endian, with the mark FE FF.
std::string Utf16BeFile(const std::wstring& text);
// UTF-8 without a mark.
std::string Utf8Bytes(const std::wstring& text);

}  // namespace testsupport
