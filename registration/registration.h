#pragma once
// Self-registration: the handler takes over the open-file-location handler of
// shortcut files, and removal gives it back.
#include <windows.h>

// Before 6.0 the handler key under lnkfile is ours to create and delete; from
// 6.0 on it belongs to the system and only its default value is switched.
enum class RegistrationRegime { BeforeVista, VistaOrLater };

// The regime of the running system, from GetVersion.
RegistrationRegime CurrentRegistrationRegime();

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
HRESULT RegisterServer(RegistrationRegime regime, const wchar_t* serverPath);

// The work behind DllUnregisterServer: S_OK only when every entry it set out
// to remove is gone (one already absent is no failure).
HRESULT UnregisterServer(RegistrationRegime regime);

extern const wchar_t STOCK_OPEN_LOCATION_CLSID_TEXT[];
extern const wchar_t HANDLER_KEY_PATH[];
extern const wchar_t APPROVAL_KEY_PATH[];
