// Whole-file reads and writes of the benchmark helpers (not the product's code:
// these are the plain references its figures are set against).
#pragma once

#include <windows.h>

#include <string>

#include "common/base/scoped.h"

// Open, read every byte, close; false for a file above maxBytes.
inline bool ReadWholeFile(const std::wstring& path, std::string& bytes, size_t maxBytes)
{
    ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size) || static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() ||
           (ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

// Creates (or replaces, unless createNew) the file with exactly these bytes.
inline bool WriteWholeFile(const std::wstring& path, const void* data, size_t size, bool createNew = false)
{
    if (size > MAXDWORD)
        return false;
    ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, createNew ? CREATE_NEW : CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}
