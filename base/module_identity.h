#pragma once
// Who this module is, for the COM frame and for registration: the classes it
// serves and its module handle.
#include <windows.h>

// The handler class, in the two forms it is needed in: the GUID that
// DllGetClassObject compares against and its registry text. Both name
// {6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}.
extern const CLSID HANDLER_CLSID;
extern const wchar_t HANDLER_CLSID_TEXT[];

// The command class of the newer context menu, {9e4c2a71-3b5d-4f68-a0c9-1d7e8b3f5a62},
// likewise. Its package declares it; self-registration leaves it alone.
extern const CLSID COMMAND_CLSID;
extern const wchar_t COMMAND_CLSID_TEXT[];

// The name the command gives itself (GetCanonicalName),
// {c3a8e5f2-6d1b-4e97-b4a3-5f0c2d9e7b18}.
extern const GUID COMMAND_CANONICAL_NAME;

// The module handle, saved at process attach; registration reads it to find
// the DLL's own path.
extern HINSTANCE ModuleInstance;
