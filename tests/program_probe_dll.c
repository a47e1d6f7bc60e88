/* A small DLL of our own: the tests load it to hold a file in use, and plant it
   where a hardened program must not find it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

__declspec(dllexport) int ZvxProbe(void)
{
    return 42;
}
