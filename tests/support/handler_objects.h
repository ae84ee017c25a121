#pragma once
// The handler as the shell gets it: through the class factory.
#include <windows.h>
#include <shlobj.h>

// A new handler holding one reference, made through DllGetClassObject and
// CreateInstance; null (with a test failure) when either refuses.
IContextMenu* NewHandler();

// The object's reference count as its AddRef and Release report it.
ULONG ReferencesOf(IUnknown* object);
