// The main flow of the process and the start-up steps it is made of.
#pragma once

#include <windows.h>
#include <cstdint>

struct OptionSteps;

// The main flow, called by the entry point; returns the exit code.
int RunProgram(HINSTANCE instance);

// Takes the steps the command line asked for, in their order: a wait sleeps two
// seconds, a warning shows its box.
void TakeOptionSteps(const OptionSteps& steps);
// length * LOGPIXELSY / 96 of the screen.
int32_t ScaleForDpi(int32_t length);
// Copies name from the self-extracting archive's folder into the current directory.
bool CopyFromSfxFolder(const wchar_t* name);
