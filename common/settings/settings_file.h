// Zorvex.ini: the settings file that replaces the product keys in portable use.
#pragma once

// The one search for the file (beside the program, then %APPDATA%\Zorvex) and its parsing.
void LoadSettingsFile();
void FreeSettingsFile();
void LoadGlobalFlags();
// The clean-up at normal process exit: saves the loaded file (when its flags allow
// and it still exists at its path) and frees it.
void SettingsExitCleanup();
