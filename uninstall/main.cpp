#include <windows.h>

#include <exception>

#include "common/base/change_log.h"
#include "common/base/errors.h"
#include "common/localization/messages.h"
#include "common/settings/settings_file.h"
#include "uninstall/deployment.h"
#include "uninstall/program.h"

// Memory ran out: the process ends here with the code, and nothing else runs.
// A half-built settings table must not be saved over the user's file.
[[noreturn]] static void EndProcessAtOnce(UINT code)
{
    TerminateProcess(GetCurrentProcess(), code);
    ExitProcess(code);
}

// An exception may not unwind cleanly through a window procedure; one that ends
// up here was a ZVX_EXIT, the only exception this program raises.
[[noreturn]] static void OnTerminate()
{
    EndProcessAtOnce(ZVX_EXIT_MEMORY);
}

// The runtime's own handler for an uncaught exception, in force until wWinMain
// installs OnTerminate, prints the exception's type, and brings the demangler
// and a printf into the program for it (some 45 KB); a GUI program has nowhere
// to print. This one ends the process as OnTerminate does.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    EndProcessAtOnce(ZVX_EXIT_MEMORY);
}
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    std::set_terminate(OnTerminate);
    try {
        int exitCode = RunProgram(instance);
        SettingsExitCleanup();
        LanguageExitCleanup();
        CloseChangeLog(exitCode);
        // Held until the last change, the settings file's save, is made.
        ReleaseRunLock();
        return exitCode;
    } catch (ZVX_EXIT code) {
        EndProcessAtOnce(code);
    }
}
