#include "support/scratch_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/system_routine.h"

namespace {
LONG scratchCounter = 0;
}

ScratchRegistry::ScratchRegistry()
{
    // Wine hands out the same process ids run after run: the time keeps a key
    // that a crashed run left behind out of the way.
    path_ = L"Software\\NorrvaneShLnkTests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&scratchCounter)) + L"-" + std::to_wstring(GetTickCount());
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

namespace {

// The registry's own name of an open key (\Registry\...), which a link holds.
std::wstring NativeKeyName(HKEY key)
{
    const int kKeyNameInformation = 3;
    const auto query =
        FindSystemRoutine<LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*)>(L"ntdll.dll", "NtQueryKey");
    std::vector<BYTE> information(4096);
    ULONG length = 0;
    if (!query || query(key, kKeyNameInformation, information.data(), static_cast<ULONG>(information.size()),
                        &length) != 0)
        return std::wstring();
    ULONG bytes = 0;
    std::memcpy(&bytes, information.data(), sizeof bytes);
    const wchar_t* name = reinterpret_cast<const wchar_t*>(information.data() + sizeof bytes);
    return std::wstring(name, bytes / sizeof(wchar_t));
}

}  // namespace

void CreateLink(HKEY root, const wchar_t* path, HKEY targetRoot, const wchar_t* target)
{
    HKEY targetKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(targetRoot, target, 0, KEY_READ, &targetKey));
    const std::wstring name = NativeKeyName(targetKey);
    RegCloseKey(targetKey);
    ASSERT_FALSE(name.empty());
    HKEY link = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS,
                                             nullptr, &link, nullptr));
    // A link's value holds the name without a terminator.
    const LONG set = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                                    reinterpret_cast<const BYTE*>(name.data()),
                                    static_cast<DWORD>(name.size() * sizeof(wchar_t)));
    RegCloseKey(link);
    ASSERT_EQ(ERROR_SUCCESS, set);
}

bool DeleteLink(HKEY root, const wchar_t* path)
{
    const auto deleteKey = FindSystemRoutine<LONG(WINAPI*)(HANDLE)>(L"ntdll.dll", "NtDeleteKey");
    HKEY link = nullptr;
    if (RegOpenKeyExW(root, path, REG_OPTION_OPEN_LINK, DELETE, &link) != ERROR_SUCCESS) return false;
    deleteKey(link);
    RegCloseKey(link);
    return true;
}
