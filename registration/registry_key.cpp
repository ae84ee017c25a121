#include "registration/registry_key.h"

namespace {
const REGSAM kReadWrite = KEY_READ | KEY_WRITE;
}

HKEY OpenKey(HKEY parent, const wchar_t* path)
{
    HKEY key = nullptr;
    return RegOpenKeyExW(parent, path, 0, kReadWrite, &key) == ERROR_SUCCESS ? key : nullptr;
}

HKEY CreateKey(HKEY parent, const wchar_t* name)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWrite, nullptr,
                                  &key, &disposition);
    return status == ERROR_SUCCESS ? key : nullptr;
}

bool DeleteKeyTree(HKEY parent, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        wchar_t subkey[256];
        wchar_t previous[256] = L"";
        DWORD index = 0;
        // While deletions succeed the first subkey is a new one each time; a
        // subkey that comes round again resisted, and is stepped over.
        while (RegEnumKeyW(key, index, subkey, 256) == ERROR_SUCCESS) {
            if (lstrcmpiW(subkey, previous) != 0) {
                DeleteKeyTree(key, subkey);
                lstrcpyW(previous, subkey);
            } else {
                ++index;
            }
        }
        RegCloseKey(key);
    }
    LONG status = RegDeleteKeyW(parent, name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
