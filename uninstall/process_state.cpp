#include "uninstall/process_state.h"

static int ExitCode = 0;
static HICON ProductIcon = nullptr;
static HFONT DialogBoldFont = nullptr;
static wchar_t ProgramGroupPath[kProgramGroupFolderChars];

int GetExitCode()
{
    return ExitCode;
}

void SetExitCode(int code)
{
    ExitCode = code;
}

HICON GetProductIcon()
{
    return ProductIcon;
}

void SetProductIcon(HICON icon)
{
    ProductIcon = icon;
}

HFONT GetDialogBoldFont()
{
    return DialogBoldFont;
}

void SetDialogBoldFont(HFONT font)
{
    DialogBoldFont = font;
}

wchar_t* ProgramGroupFolder()
{
    return ProgramGroupPath;
}
