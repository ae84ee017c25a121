#pragma once
// The handler and the command as the shell gets them: through the class
// factory.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

// A new handler holding one reference, made through DllGetClassObject and
// CreateInstance; null (with a test failure) when either refuses.
IContextMenu* NewHandler();

// The same for the command of the newer context menu.
IExplorerCommand* NewCommand();

// The object's reference count as its AddRef and Release report it.
ULONG ReferencesOf(IUnknown* object);
