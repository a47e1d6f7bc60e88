// Where the product keeps its settings: the folder a settings file or a
// copied zorvex.ini is looked for in, made when asked.
#pragma once

#include <cstddef>

// The product's settings folder: HKCU\Software\Zorvex\Paths\AppData when it names
// an existing path, else %APPDATA%\Zorvex (made when create), else the program's folder.
void LocateSettingsFolder(wchar_t* dest, size_t capacity, bool create);
// %APPDATA%\Zorvex; true when it exists (or, with create, was made).
bool LocateAppDataFolder(wchar_t* dest, size_t capacity, bool create);
