// Environment variables into bounded buffers.
#pragma once

#include <cstddef>

// The variable into buffer; a variable that is absent or does not fit leaves the
// buffer empty and answers false, so that a cut value is never taken for the real one.
bool ReadEnvironmentVariable(const wchar_t* name, wchar_t* buffer, size_t capacity);
