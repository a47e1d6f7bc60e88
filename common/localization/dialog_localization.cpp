#include "common/localization/dialog_localization.h"

#include <cstring>
#include <cwchar>

#include "common/base/strings.h"
#include "common/localization/help.h"
#include "common/localization/language_file.h"
#include "common/localization/messages.h"

// Beyond this a SIZE entry is a typing error, and the products of the scaling
// arithmetic below could leave 32 bits.
static constexpr int64_t kMaxScalePercent = 1000;
static constexpr int kMaxScaledChildren = 512;
static constexpr size_t kKeyChars = 80;
static constexpr size_t kDialogTextChars = 1024;

// "$" + dialog name + ":" + item in the ANSI code page; false when it does not fit.
static bool FormatDialogKey(const wchar_t* dialogName, const wchar_t* itemName, char* key)
{
    wchar_t wideKey[kKeyChars];
    if (FormatString(wideKey, kKeyChars, L"$%s:%s", dialogName, itemName) < 0)
        return false;
    return AnsiFromWide(wideKey, key, kKeyChars);
}

bool FindDialogText(const wchar_t* dialogName, const wchar_t* itemName, wchar_t* buffer, size_t capacity)
{
    char key[kKeyChars];
    if (!FormatDialogKey(dialogName, itemName, key))
        return false;
    return FindText(key, buffer, capacity);
}

bool GetDialogScale(const wchar_t* dialogName, int& widthPercent, int& heightPercent)
{
    widthPercent = 0;
    heightPercent = 0;
    wchar_t text[512];
    if (!FindDialogText(dialogName, L"SIZE", text, 512))
        return false;
    const wchar_t* star = wcschr(text, L'*');
    if (star == nullptr)
        return false;
    int64_t w = ParseInt(text);
    int64_t h = ParseInt(star + 1);
    if (w <= 0 || h <= 0 || w > kMaxScalePercent || h > kMaxScalePercent)
        return false;
    widthPercent = static_cast<int>(w);
    heightPercent = static_cast<int>(h);
    return !(w == 100 && h == 100);
}

void MirrorWindow(HWND window)
{
    if (!RightToLeft())
        return;
    LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    SetWindowLongW(window, GWL_EXSTYLE, exStyle | WS_EX_LAYOUTRTL);
}

static void ApplyControlTexts(HWND window, const wchar_t* dialogName)
{
    char prefix[kKeyChars];
    if (!FormatDialogKey(dialogName, L"", prefix))
        return;
    size_t prefixLength = strlen(prefix);
    wchar_t text[kDialogTextChars];
    for (size_t i = 0; i < KeyTableSize; ++i) {
        const KeyTableRow& row = KeyTable[i];
        if (row.Id == 0 || strncmp(row.Key, prefix, prefixLength) != 0)
            continue;
        if (FindText(row.Key, text, kDialogTextChars))
            SetDlgItemTextW(window, static_cast<int>(row.Id), text);
    }
}

static bool HasDropDownList(HWND child)
{
    wchar_t className[64];
    if (GetClassNameW(child, className, 64) == 0 || CompareNoCase(className, L"COMBOBOX") != 0)
        return false;
    return (GetWindowLongW(child, GWL_STYLE) & 3) != CBS_SIMPLE;
}

// Language files are tuned to this exact arithmetic (the +1 in sizes, half of
// the frame width, the caption height taken from the frame): keep it as is.
static void ScaleChildren(HWND window, const RECT& dialog, int extraW, int extraH, int w, int h)
{
    HWND first = GetWindow(window, GW_CHILD);
    if (first == nullptr)
        return;
    // A mirrored dialog places its children from its right edge, so measure
    // from there; measured from the left, scaling would flip the layout.
    bool mirrored = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    int topOffset = extraH - GetSystemMetrics(SM_CYDLGFRAME);
    HWND child = first;
    for (int n = 0; child != nullptr && n < kMaxScaledChildren; ++n) {
        RECT r;
        if (GetWindowRect(child, &r)) {
            int x = mirrored ? (dialog.right - r.right - extraW / 2) * w / 100
                             : (r.left - extraW / 2 - dialog.left) * w / 100;
            int y = (r.top - topOffset - dialog.top) * h / 100;
            int cx = (r.right - r.left + 1) * w / 100;
            int cy = (r.bottom - r.top + 1) * h / 100;
            if (HasDropDownList(child)) {
                RECT list = {};
                SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
                cy += (list.bottom - list.top + 1) * h / 100;
            }
            SetWindowPos(child, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOOWNERZORDER);
        }
        child = GetWindow(child, GW_HWNDNEXT);
        if (child == first)
            break;
    }
}

void LocalizeDialog(HWND window, const wchar_t* dialogName)
{
    ApplyControlTexts(window, dialogName);

    int w = 100;
    int h = 100;
    bool scaled = GetDialogScale(dialogName, w, h);

    RECT outer = {};
    RECT client = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    int outerW = outer.right - outer.left + 1;
    int outerH = outer.bottom - outer.top + 1;
    int extraW = outerW - client.right;
    int extraH = outerH - client.bottom;

    if (scaled) {
        int newW = client.right * w / 100 + extraW;
        int newH = client.bottom * h / 100 + extraH;
        int newX = outer.left + (outerW - newW) / 2;
        int newY = outer.top + (outerH - newH) / 2;
        UINT flags = SWP_NOZORDER | SWP_NOOWNERZORDER;
        if ((GetWindowLongW(window, GWL_STYLE) & DS_CENTER) == 0)
            flags |= SWP_NOMOVE;
        SetWindowPos(window, nullptr, newX > 0 ? newX : 0, newY > 0 ? newY : 0, newW, newH, flags);
        GetWindowRect(window, &outer);
    }

    wchar_t caption[kDialogTextChars];
    if (FindDialogText(dialogName, L"CAPTION", caption, kDialogTextChars))
        SetWindowTextW(window, caption);

    if (scaled)
        ScaleChildren(window, outer, extraW, extraH, w, h);
}

bool DialogMessageFilter(HWND window, UINT message, WPARAM wParam, LPARAM, const wchar_t* dialogName,
                         const wchar_t* helpTopic)
{
    switch (message) {
    case WM_SETFONT:
        // Sent while the dialog is being built, before its controls exist.
        MirrorWindow(window);
        return false;
    case WM_INITDIALOG:
        LocalizeDialog(window, dialogName);
        return false;
    case WM_HELP:
        if (helpTopic != nullptr)
            ShowHelp(window, helpTopic);
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDHELP && helpTopic != nullptr)
            ShowHelp(window, helpTopic);
        return false;
    default:
        return false;
    }
}
