#include "uninstall/message_box.h"

#include "common/base/change_log.h"
#include "common/base/strings.h"
#include "common/localization/language_file.h"
#include "common/localization/messages.h"
#include "uninstall/deployment.h"

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags)
{
    // Where nobody can see it, nobody answers it: the box would wait for ever.
    if (!BoxesCanBeSeen()) {
        LogMessageBox(0, caption, text);
        return 0;
    }
    if (RightToLeft())
        flags |= MB_RIGHT | MB_RTLREADING;
    int answer = MessageBoxW(owner, text, caption, flags);
    LogMessageBox(answer, caption, text);
    return answer;
}

bool IsOneStringFormat(const wchar_t* format)
{
    int strings = 0;
    for (const wchar_t* p = format; *p != 0; p++) {
        if (*p != L'%')
            continue;
        if (p[1] == L'%') {
            p++;
        } else if (p[1] == L's') {
            strings++;
            p++;
        } else {
            return false;
        }
    }
    return strings == 1;
}

int FormatMessageWithString(uint32_t id, const wchar_t* argument, wchar_t* buffer, size_t capacity)
{
    const wchar_t* format = MessageText(id);
    wchar_t ownText[kMessageTextChars];
    if (!IsOneStringFormat(format)) {
        if (LoadStringW(OwnModule(), id, ownText, kMessageTextChars) > 0 && IsOneStringFormat(ownText))
            format = ownText;
        else
            format = L"%s";
    }
    return FormatString(buffer, capacity, format, argument);
}
