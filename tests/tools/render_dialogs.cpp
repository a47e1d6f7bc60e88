// Shows each dialog of setup mode with its real dialog procedure and writes a
// picture of it: render_dialogs OUTPUT_FOLDER PREFIX [LANGUAGE_FILE]. The files
// are OUTPUT_FOLDER\PREFIX-<dialog>.bmp; tools/render-dialogs.sh turns them into PNG.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "common/base/module.h"
#include "common/localization/messages.h"
#include "uninstall/integration/context_items_dialog.h"
#include "uninstall/integration/done_dialog.h"
#include "uninstall/integration/setup_dialog.h"
#include "resources/resource.h"

static bool SaveWindowPicture(HWND window, const wchar_t* path)
{
    RECT r;
    GetWindowRect(window, &r);
    int cx = r.right - r.left;
    int cy = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, cx, cy, screen, r.left, r.top, SRCCOPY);
        SelectObject(memory, old);
        DWORD stride = (static_cast<DWORD>(cx) * 3 + 3) & ~3u;
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = header.bfOffBits + stride * static_cast<DWORD>(cy);
        FILE* file = _wfopen(path, L"wb");
        if (file != nullptr) {
            ok = fwrite(&header, sizeof header, 1, file) == 1 &&
                 fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1 &&
                 fwrite(bits, stride * static_cast<DWORD>(cy), 1, file) == 1;
            ok = fclose(file) == 0 && ok;
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

static void Pump(DWORD milliseconds)
{
    DWORD end = GetTickCount() + milliseconds;
    while (static_cast<LONG>(GetTickCount() - end) < 0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(20);
    }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: render_dialogs OUTPUT_FOLDER PREFIX [LANGUAGE_FILE]\n");
        return 2;
    }
    LoadLanguageLibrary(GetModuleHandleW(nullptr), nullptr);
    InitLanguage(argc > 3 ? argv[3] : L"render-none.lng");
    LoadSystemLibrary(L"riched20.dll");
    // The program makes this font at start-up; the same face and weight here.
    HDC screen = GetDC(nullptr);
    int height = -MulDiv(12, GetDeviceCaps(screen, LOGPIXELSY), 96);
    ReleaseDC(nullptr, screen);
    HFONT bold = CreateFontW(height, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, L"MS Shell Dlg");

    struct Dialog {
        const wchar_t* Name;
        DLGPROC Proc;
        LPARAM Param;
    };
    const Dialog dialogs[] = {
        {L"SETUPDLG", SetupDialogProc, 0},
        {L"SETUPCONTEXTITEMS", ContextItemsDialogProc, 1},
        {L"DONEDLG", DoneDialogProc, 0},
    };
    int failures = 0;
    for (const Dialog& d : dialogs) {
        HWND window = CreateDialogParamW(ResourceModule(), d.Name, nullptr, d.Proc, d.Param);
        if (window == nullptr) {
            fwprintf(stderr, L"%ls: not created (error %lu)\n", d.Name, GetLastError());
            ++failures;
            continue;
        }
        if (wcscmp(d.Name, L"DONEDLG") == 0 && bold != nullptr)
            SendDlgItemMessageW(window, IDC_THANKS, WM_SETFONT, reinterpret_cast<WPARAM>(bold), TRUE);
        SetWindowPos(window, HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        Pump(1500);
        wchar_t path[1024];
        _snwprintf(path, 1024, L"%ls\\%ls-%ls.bmp", argv[1], argv[2], d.Name);
        path[1023] = 0;
        if (!SaveWindowPicture(window, path)) {
            fwprintf(stderr, L"%ls: not written\n", path);
            ++failures;
        }
        DestroyWindow(window);
        Pump(200);
    }
    if (bold != nullptr)
        DeleteObject(bold);
    return failures == 0 ? 0 : 1;
}
