#pragma once
// Self-registration: the handler takes over the open-file-location handler of
// shortcut files (and, from 6.0 on, of the other classes that offer it), and
// removal gives it back.
#include <windows.h>

// Before 6.0 the handler key under lnkfile is ours to create and delete; from
// 6.0 on it belongs to the system and only its default value is switched.
enum class RegistrationRegime { BeforeVista, VistaOrLater };

// The regime of the running system, from GetVersion.
RegistrationRegime CurrentRegistrationRegime();

// Which programs the class registered by this DLL serves. On 64-bit Windows
// the 32-bit DLL registers its class for 32-bit programs only (Wow64), while
// the handler key of shortcut files is one key that both registry views
// share and that Explorer, a native program, reads.
enum class RegistrationView { Native, Wow64 };

// Wow64 for a 32-bit process on 64-bit Windows, Native otherwise.
RegistrationView CurrentRegistrationView();

// Fills `path` with the module's full path. False, with nothing usable in
// `path`, when the path is empty or did not fit in `capacity` characters.
bool ReadModulePath(HINSTANCE module, wchar_t* path, DWORD capacity);

// Reads the key's default value into `value`, of `capacity` characters (at
// least 1), offering the read all but the last, which keeps the text
// terminated. False, with `value` empty, when the value is absent, is not
// REG_SZ or does not fit.
bool ReadDefaultText(HKEY key, wchar_t* value, DWORD capacity);

// The work behind DllRegisterServer: S_OK only when every entry is in
// place. `serverPath` is the DLL's full path; an empty one writes nothing.
// A missing handler key of shortcut files stops it before anything is
// written; another class's key that is missing is not created.
// The handler keys, the class key, its server key and the approval key are
// never written through a registry link: a link there is an entry not in
// place. Registration runs elevated, and a program of the same user can
// place a link in the per-user half of the merged classes root.
// From the Wow64 view the handler keys are switched only when the native view
// already holds our class: otherwise Explorer would be pointed at a class it
// cannot find, and the stock handler stays until the native DLL is there.
HRESULT RegisterServer(RegistrationRegime regime, RegistrationView view, const wchar_t* serverPath);

// The work behind DllUnregisterServer: S_OK only when every entry it set out
// to remove is gone (one already absent is no failure). Every handler key that
// names our class is given back, also after a registration that failed half
// way. A handler key that is a link is not ours, and an approval key that is
// a link is not opened. From the Wow64 view the handler keys are left alone
// while the native view still holds our class.
HRESULT UnregisterServer(RegistrationRegime regime, RegistrationView view);

extern const wchar_t STOCK_OPEN_LOCATION_CLSID_TEXT[];
extern const wchar_t HANDLER_KEY_PATH[];
extern const wchar_t APPROVAL_KEY_PATH[];

// From 6.0 on Windows offers the same open-file-location handler in more
// places than shortcut files: for symbolic links, a library's locations, the
// recent and pinned files, the recommended files and search results. Their
// keys are switched and given back as shortcut files' is, where they exist.
const int OTHER_HANDLER_KEY_COUNT = 6;
extern const wchar_t* const OTHER_HANDLER_KEY_PATHS[OTHER_HANDLER_KEY_COUNT];
