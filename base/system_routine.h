#pragma once
// Routines of system DLLs that are looked up by name: those that some
// Windows versions lack (the DLL must still load there) and those of ntdll,
// which the DLL does not import.
#include <windows.h>

// The routine `name` of the loaded system DLL `module`, or null.
template <typename Routine>
Routine FindSystemRoutine(const wchar_t* module, const char* name)
{
    HMODULE loaded = GetModuleHandleW(module);
    // Through a generic function pointer: the compilers accept that cast.
    return loaded ? reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(loaded, name))) : nullptr;
}
