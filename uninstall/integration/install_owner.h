// Whose installation the machine's registration describes. A copy of the
// program left in another folder (an earlier install moved or half removed)
// must not take away the registration of the install that Windows knows.
#pragma once

#include <cstddef>

// The values that name an install folder, all read from HKEY_LOCAL_MACHINE,
// which only administrators write.
enum RegistrationSource {
    kNamedByInstallLocation,   // the uninstall entry's InstallLocation: a folder
    kNamedByUninstallString,   // the uninstall entry's UninstallString: the program
    kNamedByAppPaths,          // App Paths' default value: Zorvex.exe
    kNamedByShellExtension,    // the 64-bit shell extension's InprocServer32: its DLL
    kNamedByRecord,            // the machine record's install folder
    kRegistrationSources
};

// The folder a value names, with its trailing separator: the value itself for a
// folder, else the folder of the file it names (in quotes, arguments after them
// ignored, or without quotes as a whole). False, dest empty, when it names no
// absolute folder whole.
bool FolderNamedBy(RegistrationSource source, const wchar_t* value, wchar_t* dest, size_t capacity);

// One source, as the decision takes it.
struct NamedFolder {
    const wchar_t* Folder;  // its final path when it exists; empty: the source names none
    bool HoldsProgram;      // that folder still holds Zorvex.exe or this program's file
};

struct InstallOwnership {
    // A folder other than this one, still holding the program, is registered:
    // leave the registration and the settings to it.
    bool OtherInstall;
    RegistrationSource OtherSource;  // the first source naming it, when OtherInstall
    // The uninstall entry names this folder (and no other live one): it is this
    // copy's own and goes with it, even while another install is registered.
    bool EntryIsOwn;
};

// ownFolder: this program's folder (final path). Folders compare without regard
// to case, to trailing separators and to a leading "\\?\". A source naming a
// folder that no longer holds the program is stale and counts for nobody.
InstallOwnership DecideInstallOwnership(const wchar_t* ownFolder, const NamedFolder (&named)[kRegistrationSources]);

// Reads the sources, resolves their folders and decides. otherFolder receives the
// other install's folder as the registration spells it, for the user to read.
InstallOwnership WhoseRegistration(wchar_t* otherFolder, size_t capacity);
