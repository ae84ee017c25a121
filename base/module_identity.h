#pragma once
// Who this module is, for the COM frame and for registration: the handler
// class it serves and its module handle.
#include <windows.h>

// The handler class, in the two forms it is needed in: the GUID that
// DllGetClassObject compares against and its registry text. Both name
// {6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}.
extern const CLSID HANDLER_CLSID;
extern const wchar_t HANDLER_CLSID_TEXT[];

// The module handle, saved at process attach; registration reads it to find
// the DLL's own path.
extern HINSTANCE ModuleInstance;
