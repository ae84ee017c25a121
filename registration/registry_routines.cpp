#include "registration/registry_routines.h"

#include "base/registry_key.h"
#include "base/system_routine.h"

namespace {

const REGSAM kReadWrite = KEY_READ | KEY_WRITE;

// The registry allows keys this many levels deep; a walk that goes deeper is
// going round in circles.
const int kDeepestLevel = 512;

// Opens the key itself, never what it may link to.
LONG OpenKeyOrLink(HKEY parent, const wchar_t* name, REGSAM access, HKEY* key)
{
    return RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, key);
}

bool IsSymbolicLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// Deletes the very key behind the handle: a link goes alone, its target stays.
// The registry routines would delete the target of a link instead.
bool DeleteOpenedKey(HKEY key)
{
    const auto deleteKey = FindSystemRoutine<LONG(WINAPI*)(HANDLE)>(L"ntdll.dll", "NtDeleteKey");
    return deleteKey && deleteKey(key) == 0;
}

bool DeleteKeyTreeAt(HKEY parent, const wchar_t* name, int level)
{
    HKEY opened = nullptr;
    LONG status = OpenKeyOrLink(parent, name, KEY_ALL_ACCESS, &opened);
    // A key that may be deleted but not read is still tried: it may be empty.
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        status = OpenKeyOrLink(parent, name, DELETE, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    RegistryKey key(opened);

    if (level < kDeepestLevel && !IsSymbolicLink(key.get())) {
        wchar_t subkey[256];
        wchar_t previous[256] = L"";
        DWORD index = 0;
        // While deletions succeed the first subkey is a new one each time; a
        // subkey that comes round again resisted, and is stepped over.
        while (RegEnumKeyW(key.get(), index, subkey, 256) == ERROR_SUCCESS) {
            if (lstrcmpiW(subkey, previous) != 0) {
                DeleteKeyTreeAt(key.get(), subkey, level + 1);
                lstrcpyW(previous, subkey);
            } else {
                ++index;
            }
        }
    }
    return DeleteOpenedKey(key.get());
}

// A handle to a link itself is closed and refused: nothing may be written
// through it.
HKEY RefuseLink(HKEY key)
{
    if (key && IsSymbolicLink(key)) {
        RegCloseKey(key);
        return nullptr;
    }
    return key;
}

HKEY CreateKeyWith(HKEY parent, const wchar_t* name, DWORD options)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE | options, kReadWrite, nullptr,
                                  &key, &disposition);
    return status == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

HKEY OpenKey(HKEY parent, const wchar_t* path)
{
    HKEY key = nullptr;
    return RegOpenKeyExW(parent, path, 0, kReadWrite, &key) == ERROR_SUCCESS ? key : nullptr;
}

HKEY CreateKey(HKEY parent, const wchar_t* name) { return CreateKeyWith(parent, name, 0); }

HKEY OpenKeyNotLink(HKEY parent, const wchar_t* path)
{
    HKEY key = nullptr;
    return OpenKeyOrLink(parent, path, kReadWrite, &key) == ERROR_SUCCESS ? RefuseLink(key) : nullptr;
}

HKEY CreateKeyNotLink(HKEY parent, const wchar_t* name)
{
    // An existing link is opened as itself, and then refused.
    return RefuseLink(CreateKeyWith(parent, name, REG_OPTION_OPEN_LINK));
}

bool KeyIsMissing(HKEY parent, const wchar_t* path)
{
    HKEY key = nullptr;
    // Any access at all: a key that denies reading is still there.
    const LONG status = OpenKeyOrLink(parent, path, 0, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status == ERROR_FILE_NOT_FOUND;
}

bool DeleteKeyTree(HKEY parent, const wchar_t* name) { return DeleteKeyTreeAt(parent, name, 1); }
