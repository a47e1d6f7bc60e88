// Zorvex.ini: the settings file that replaces the product keys in portable use.
#pragma once

// The one search for the file (beside the program, then %APPDATA%\Zorvex) and its parsing.
void LoadSettingsFile();
// Frees the entries and forgets the search, so that the next store operation searches again.
void FreeSettingsFile();
void LoadGlobalFlags();
// The clean-up at normal process exit: saves the loaded file (when its flags allow
// and it still exists at its path) and frees it.
void SettingsExitCleanup();

// Tests only: the next save's write number n (from 0) fails, once, as on a full
// disk; -1 (the default) turns this off. Wine cannot make a write to a local file fail on demand.
void FailSettingsSaveWrite(int writesBeforeFailure);
