#pragma once
// Module-wide values shared by the COM frame and registration.
#include <windows.h>

// The handler class, in the two forms it is needed in: the GUID that
// DllGetClassObject compares against and its registry text. Both name
// {6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}.
extern const CLSID HANDLER_CLSID;
extern const wchar_t HANDLER_CLSID_TEXT[];

// The module handle, saved at process attach; registration reads it to find
// the DLL's own path.
extern HINSTANCE ModuleInstance;

// The count of live factories and handlers. Objects of every apartment of
// the process change it, so it moves only through these interlocked calls.
void ModuleObjectCreated();
void ModuleObjectDestroyed();
LONG ModuleObjectCount();
