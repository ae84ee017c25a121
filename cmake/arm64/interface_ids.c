/* The interface and class GUIDs that the mingw-w64 headers declare, defined
   here once: the library that other targets get them from has no aarch64
   build in Debian. Only the ones that a program uses are linked in. */
#define INITGUID
#include <windows.h>
#include <shlobj.h>
#include <shlguid.h>
#include <shobjidl.h>
