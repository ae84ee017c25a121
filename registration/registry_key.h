#pragma once
// Registry keys for self-registration: opened with read and write access, no
// registry-view flag, and closed by scope.
#include <windows.h>

// Opens an existing key for reading and writing; null on any failure.
HKEY OpenKey(HKEY parent, const wchar_t* path);

// Opens or creates a key for reading and writing; null on any failure.
HKEY CreateKey(HKEY parent, const wchar_t* name);

// Deletes `name` below `parent` with all its subkeys, as far as it can. A
// subkey that resists is stepped over. A symbolic link is deleted as the link
// itself and never followed; the walk stops at the registry's deepest level.
// True when the key is gone afterwards, also when it was never there.
bool DeleteKeyTree(HKEY parent, const wchar_t* name);

// Owns one key handle and closes it at the end of its scope.
class RegistryKey {
public:
    explicit RegistryKey(HKEY key = nullptr) : key_(key) {}
    ~RegistryKey()
    {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_;
};
