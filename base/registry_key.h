#pragma once
// A registry key handle that closes itself at the end of its scope.
#include <windows.h>

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
