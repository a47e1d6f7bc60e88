// Small non-copyable owners, one per handle family, so that the function that
// acquires a handle visibly releases it on every path.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <ole2.h>

// Closing keeps the thread's last error: an opener that fails after it got a
// handle returns with the error of the call that failed, not of the close, and
// an owner can be moved out of the function that opened it.
template <class H, class Traits>
class ScopedHandleOf {
public:
    ScopedHandleOf() : handle_(Traits::Invalid()) {}
    explicit ScopedHandleOf(H h) : handle_(h) {}
    ~ScopedHandleOf() { Reset(); }
    ScopedHandleOf(const ScopedHandleOf&) = delete;
    ScopedHandleOf& operator=(const ScopedHandleOf&) = delete;
    ScopedHandleOf(ScopedHandleOf&& other) noexcept : handle_(other.Release()) {}
    ScopedHandleOf& operator=(ScopedHandleOf&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    H Get() const { return handle_; }
    bool Valid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }

    // For out-parameters: releases what is held and hands out the slot.
    H* Receive()
    {
        Reset();
        return &handle_;
    }
    void Reset(H h = Traits::Invalid())
    {
        if (Valid()) {
            DWORD error = GetLastError();
            Traits::Close(handle_);
            SetLastError(error);
        }
        handle_ = h;
    }
    // Hands the handle over without closing it.
    H Release()
    {
        H h = handle_;
        handle_ = Traits::Invalid();
        return h;
    }

private:
    H handle_;
};

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
struct RegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};
struct LibraryTraits {
    static HMODULE Invalid() { return nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};
struct LocalMemTraits {
    static HLOCAL Invalid() { return nullptr; }
    static void Close(HLOCAL h) { LocalFree(h); }
};
struct GdiObjectTraits {
    static HGDIOBJ Invalid() { return nullptr; }
    static void Close(HGDIOBJ h) { DeleteObject(h); }
};

// Process and thread handles, events: null when empty.
using ScopedHandle = ScopedHandleOf<HANDLE, KernelHandleTraits>;
// CreateFileW results: INVALID_HANDLE_VALUE when empty.
using ScopedFileHandle = ScopedHandleOf<HANDLE, FileHandleTraits>;
using ScopedFindHandle = ScopedHandleOf<HANDLE, FindHandleTraits>;
using ScopedRegKey = ScopedHandleOf<HKEY, RegKeyTraits>;
using ScopedLibrary = ScopedHandleOf<HMODULE, LibraryTraits>;
using ScopedGdiObject = ScopedHandleOf<HGDIOBJ, GdiObjectTraits>;
// Memory the system hands out for LocalFree (security descriptors, SID texts).
using ScopedLocalMem = ScopedHandleOf<HLOCAL, LocalMemTraits>;

// A screen or window device context from GetDC, released with ReleaseDC.
class ScopedGetDC {
public:
    explicit ScopedGetDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedGetDC()
    {
        if (dc_ != nullptr)
            ReleaseDC(window_, dc_);
    }
    ScopedGetDC(const ScopedGetDC&) = delete;
    ScopedGetDC& operator=(const ScopedGetDC&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// OLE for this thread while the owner lives. A failed initialisation is not
// balanced: only a call that succeeded (also "already initialised") is.
class ScopedOleInitialize {
public:
    ScopedOleInitialize() : initialized_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~ScopedOleInitialize()
    {
        if (initialized_)
            OleUninitialize();
    }
    ScopedOleInitialize(const ScopedOleInitialize&) = delete;
    ScopedOleInitialize& operator=(const ScopedOleInitialize&) = delete;

private:
    bool initialized_;
};

// One COM interface pointer, released when the owner goes.
template <class T>
class ScopedComPtr {
public:
    ScopedComPtr() = default;
    ~ScopedComPtr() { Reset(); }
    ScopedComPtr(const ScopedComPtr&) = delete;
    ScopedComPtr& operator=(const ScopedComPtr&) = delete;

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    T** Receive()
    {
        Reset();
        return &ptr_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset()
    {
        if (ptr_ != nullptr) {
            ptr_->Release();
            ptr_ = nullptr;
        }
    }

private:
    T* ptr_ = nullptr;
};

// Memory from CoTaskMemAlloc or a shell allocator's Alloc (SHGetSpecialFolderLocation).
class ScopedCoTaskMem {
public:
    ScopedCoTaskMem() = default;
    ~ScopedCoTaskMem() { CoTaskMemFree(ptr_); }
    ScopedCoTaskMem(const ScopedCoTaskMem&) = delete;
    ScopedCoTaskMem& operator=(const ScopedCoTaskMem&) = delete;
    void* Get() const { return ptr_; }
    template <class P>
    P** ReceiveAs()
    {
        CoTaskMemFree(ptr_);
        ptr_ = nullptr;
        return reinterpret_cast<P**>(&ptr_);
    }

private:
    void* ptr_ = nullptr;
};
