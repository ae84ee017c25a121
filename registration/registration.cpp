#include "registration/registration.h"

#include <shlobj.h>

#include "base/ascii_text.h"
#include "base/module_identity.h"
#include "base/registry_key.h"
#include "base/wow64.h"
#include "registration/registry_routines.h"

const wchar_t STOCK_OPEN_LOCATION_CLSID_TEXT[] = L"{37ea3a21-7493-4208-a011-7f9ea79ce9f5}";
const wchar_t HANDLER_KEY_PATH[] = L"lnkfile\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu";
const wchar_t* const OTHER_HANDLER_KEY_PATHS[OTHER_HANDLER_KEY_COUNT] = {
    L".symlink\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu",
    L"LibraryLocation\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu",
    L"RecentDocument\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu",
    L"Results\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu",
    L"PinnedRecentDocument\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu",
    L"RecommendationsFile\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu",
};
const wchar_t APPROVAL_KEY_PATH[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

namespace {

const wchar_t kHandlerParentPath[] = L"lnkfile\\shellex\\ContextMenuHandlers";
const wchar_t kHandlerKeyName[] = L"OpenContainingFolderMenu";
const wchar_t kFriendlyName[] = L"NorrvaneOpenContainingFolderMenu";
const wchar_t kThreadingModel[] = L"Apartment";

// Writes a REG_SZ value; the data length counts the terminator.
bool SetText(HKEY key, const wchar_t* name, const wchar_t* text)
{
    DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

// True when the key's default value is REG_SZ text equal to `expected`. The
// read is offered 128 bytes: a longer value never counts as equal.
bool DefaultValueIs(HKEY key, const wchar_t* expected)
{
    wchar_t value[65];
    return ReadDefaultText(key, value, ARRAYSIZE(value)) && EqualsIgnoringAsciiCase(value, expected);
}

bool RegisterHandlerKeyBeforeVista(HKEY lnkfile)
{
    RegistryKey shellex(CreateKey(lnkfile, L"shellex"));
    if (!shellex) return false;
    RegistryKey handlers(CreateKey(shellex.get(), L"ContextMenuHandlers"));
    if (!handlers) return false;
    RegistryKey handler(CreateKeyNotLink(handlers.get(), kHandlerKeyName));
    return handler && SetText(handler.get(), L"", HANDLER_CLSID_TEXT);
}

bool RegisterClassKey(HKEY clsid, const wchar_t* serverPath)
{
    RegistryKey classKey(CreateKeyNotLink(clsid, HANDLER_CLSID_TEXT));
    if (!classKey) return false;
    bool ok = SetText(classKey.get(), L"", kFriendlyName);
    RegistryKey server(CreateKeyNotLink(classKey.get(), L"InProcServer32"));
    if (!server) return false;
    ok = SetText(server.get(), L"ThreadingModel", kThreadingModel) && ok;
    ok = SetText(server.get(), L"", serverPath) && ok;
    return ok;
}

// True when the native registry view holds our class with a server: the
// class that Explorer loads when the shared handler key names it. Asked from
// the Wow64 view only, whose own classes live apart from the native ones.
bool NativeClassRegistered()
{
    wchar_t serverKey[64];
    wsprintfW(serverKey, L"CLSID\\%s\\InProcServer32", HANDLER_CLSID_TEXT);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, serverKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return false;
    RegistryKey key(opened);
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    return RegQueryValueExW(key.get(), L"", nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
           (type == REG_SZ || type == REG_EXPAND_SZ) && bytes > sizeof(wchar_t);
}

// From 6.0 on: switches the handler key at `path` from the stock class to
// ours, leaving any other value alone. A key the system lacks is not created;
// a link there, or a key that cannot be written, is a failure, and nothing is
// written through it.
bool SwitchHandlerKey(const wchar_t* path)
{
    RegistryKey handler(OpenKeyNotLink(HKEY_CLASSES_ROOT, path));
    if (!handler) return KeyIsMissing(HKEY_CLASSES_ROOT, path);
    return !DefaultValueIs(handler.get(), STOCK_OPEN_LOCATION_CLSID_TEXT) ||
           SetText(handler.get(), L"", HANDLER_CLSID_TEXT);
}

// From 6.0 on: gives the handler key at `path` back to the stock class when
// it holds ours. A key that cannot be opened, or is a link, is not ours,
// whatever its target holds. False when an owned key could not be given back.
bool GiveBackHandlerKey(const wchar_t* path)
{
    RegistryKey handler(OpenKeyNotLink(HKEY_CLASSES_ROOT, path));
    return !handler || !DefaultValueIs(handler.get(), HANDLER_CLSID_TEXT) ||
           SetText(handler.get(), L"", STOCK_OPEN_LOCATION_CLSID_TEXT);
}

// Gives every handler key back that holds our class: from 6.0 on lnkfile's
// and the other classes', before 6.0 lnkfile's, which is deleted. False when
// an owned entry could not be given back.
bool UnregisterHandlerKeys(RegistrationRegime regime)
{
    if (regime == RegistrationRegime::VistaOrLater) {
        bool ok = GiveBackHandlerKey(HANDLER_KEY_PATH);
        for (const wchar_t* path : OTHER_HANDLER_KEY_PATHS) ok = GiveBackHandlerKey(path) && ok;
        return ok;
    }
    bool owned = false;
    {
        RegistryKey handler(OpenKeyNotLink(HKEY_CLASSES_ROOT, HANDLER_KEY_PATH));
        owned = handler && DefaultValueIs(handler.get(), HANDLER_CLSID_TEXT);
    }
    if (!owned) return true;
    RegistryKey parent(OpenKey(HKEY_CLASSES_ROOT, kHandlerParentPath));
    return parent && DeleteKeyTree(parent.get(), kHandlerKeyName);
}

}  // namespace

RegistrationView CurrentRegistrationView()
{
    return RunsUnderWow64() ? RegistrationView::Wow64 : RegistrationView::Native;
}

RegistrationRegime CurrentRegistrationRegime()
{
    DWORD version = GetVersion();
    unsigned majorMinor = (LOBYTE(LOWORD(version)) << 8) | HIBYTE(LOWORD(version));
    return majorMinor < 0x0600 ? RegistrationRegime::BeforeVista : RegistrationRegime::VistaOrLater;
}

bool ReadModulePath(HINSTANCE module, wchar_t* path, DWORD capacity)
{
    path[0] = L'\0';
    DWORD length = GetModuleFileNameW(module, path, capacity);
    return length != 0 && length < capacity;
}

bool ReadDefaultText(HKEY key, wchar_t* value, DWORD capacity)
{
    DWORD type = REG_NONE;
    DWORD bytes = (capacity - 1) * sizeof(wchar_t);
    const bool read = RegQueryValueExW(key, L"", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) ==
                          ERROR_SUCCESS &&
                      type == REG_SZ;
    value[read ? bytes / sizeof(wchar_t) : 0] = L'\0';
    return read;
}

HRESULT RegisterServer(RegistrationRegime regime, RegistrationView view, const wchar_t* serverPath)
{
    if (!serverPath || !serverPath[0]) return E_FAIL;
    bool ok = true;
    // The shared handler key may name our class only while Explorer can find
    // it. Asked before this view's own class key is written.
    const bool switchHandler = view == RegistrationView::Native || NativeClassRegistered();

    if (regime == RegistrationRegime::BeforeVista) {
        RegistryKey lnkfile(OpenKey(HKEY_CLASSES_ROOT, L"lnkfile"));
        if (!lnkfile) return E_FAIL;
        if (switchHandler) ok = RegisterHandlerKeyBeforeVista(lnkfile.get());
    } else {
        // Shortcut files' key must be there; the other classes' keys are
        // switched where this Windows has them.
        RegistryKey handler(OpenKeyNotLink(HKEY_CLASSES_ROOT, HANDLER_KEY_PATH));
        if (!handler) return E_FAIL;
        if (switchHandler) {
            // Another handler's class, or ours already, is left as it is.
            if (DefaultValueIs(handler.get(), STOCK_OPEN_LOCATION_CLSID_TEXT))
                ok = SetText(handler.get(), L"", HANDLER_CLSID_TEXT);
            for (const wchar_t* path : OTHER_HANDLER_KEY_PATHS) ok = SwitchHandlerKey(path) && ok;
        }
    }

    {
        RegistryKey clsid(OpenKey(HKEY_CLASSES_ROOT, L"CLSID"));
        if (!clsid) return E_FAIL;
        ok = RegisterClassKey(clsid.get(), serverPath) && ok;
    }

    RegistryKey approved(OpenKeyNotLink(HKEY_LOCAL_MACHINE, APPROVAL_KEY_PATH));
    if (!approved) return E_FAIL;
    ok = SetText(approved.get(), HANDLER_CLSID_TEXT, kFriendlyName) && ok;
    return ok ? S_OK : E_FAIL;
}

HRESULT UnregisterServer(RegistrationRegime regime, RegistrationView view)
{
    // While the native class serves Explorer the handler key stays ours.
    // Asked before this view's own class key is deleted.
    const bool giveBackHandler = view == RegistrationView::Native || !NativeClassRegistered();
    bool ok = !giveBackHandler || UnregisterHandlerKeys(regime);
    {
        RegistryKey clsid(OpenKey(HKEY_CLASSES_ROOT, L"CLSID"));
        ok = clsid && DeleteKeyTree(clsid.get(), HANDLER_CLSID_TEXT) && ok;
    }
    RegistryKey approved(OpenKeyNotLink(HKEY_LOCAL_MACHINE, APPROVAL_KEY_PATH));
    if (approved) {
        LONG status = RegDeleteValueW(approved.get(), HANDLER_CLSID_TEXT);
        ok = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && ok;
    } else {
        ok = false;
    }
    return ok ? S_OK : E_FAIL;
}

namespace {
// Explorer caches handler lookups; this makes it pick up the change without
// a restart.
HRESULT NotifyAssociationsChanged(HRESULT result)
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return result;
}
}  // namespace

STDAPI DllRegisterServer()
{
    RegistrationRegime regime = CurrentRegistrationRegime();
    wchar_t path[1040];
    if (!ReadModulePath(ModuleInstance, path, 1040)) return E_FAIL;
    return NotifyAssociationsChanged(RegisterServer(regime, CurrentRegistrationView(), path));
}

STDAPI DllUnregisterServer()
{
    return NotifyAssociationsChanged(UnregisterServer(CurrentRegistrationRegime(), CurrentRegistrationView()));
}
