#include "support/scratch_registry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
LONG scratchCounter = 0;
}

ScratchRegistry::ScratchRegistry()
{
    path_ = L"Software\\NorrvaneShLnkTests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&scratchCounter));
    std::wstring cr = path_ + L"\\HKCR", lm = path_ + L"\\HKLM";
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, cr.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &classesRoot_, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, lm.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &localMachine_, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, classesRoot_));
    EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, localMachine_));
}

ScratchRegistry::~ScratchRegistry()
{
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(classesRoot_);
    RegCloseKey(localMachine_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

void CreatePath(HKEY root, const wchar_t* path, bool isVolatile)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr,
                                             isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
}

void SetValue(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text, DWORD type)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

ValueRead ReadValue(HKEY root, const wchar_t* path, const wchar_t* name)
{
    ValueRead read;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return read;
    std::vector<BYTE> data(4096);
    DWORD bytes = static_cast<DWORD>(data.size());
    if (RegQueryValueExW(key, name, nullptr, &read.type, data.data(), &bytes) == ERROR_SUCCESS) {
        read.present = true;
        read.bytes = bytes;
        const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
        read.text.assign(text, text + bytes / sizeof(wchar_t));
        while (!read.text.empty() && read.text.back() == L'\0') read.text.pop_back();
    }
    RegCloseKey(key);
    return read;
}
