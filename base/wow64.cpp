#include "base/wow64.h"

#include <windows.h>

#include "base/system_routine.h"

bool RunsUnderWow64()
{
    // Looked up by name: systems before it have no WOW64 either.
    const auto isWow64 = FindSystemRoutine<BOOL(WINAPI*)(HANDLE, BOOL*)>(L"kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}
