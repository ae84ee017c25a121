#include "base/module_identity.h"

// Only the module handle is kept: the loader lock is held here, so nothing
// else may happen.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID)
{
    if (fdwReason == DLL_PROCESS_ATTACH) ModuleInstance = hinstDLL;
    return TRUE;
}
