#include "support/shell_items.h"

#include <gtest/gtest.h>

namespace {

LONG folderCounter = 0;

void DeleteTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

}  // namespace

ComApartment::ComApartment() : status_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))
{
    EXPECT_TRUE(SUCCEEDED(status_)) << std::hex << status_;
}

ComApartment::~ComApartment()
{
    if (SUCCEEDED(status_)) CoUninitialize();
}

TempFolder::TempFolder()
{
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    wchar_t longTemp[MAX_PATH];
    if (length && GetLongPathNameW(temp, longTemp, MAX_PATH)) lstrcpyW(temp, longTemp);
    std::wstring base = temp;
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    path_ = base + L"\\norrvane-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&folderCounter)) + L"-" + std::to_wstring(GetTickCount());
    EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << GetLastError();
}

TempFolder::~TempFolder() { DeleteTree(path_); }

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok);
    ASSERT_EQ(bytes.size(), written);
}

namespace {

// Sets the target through `aim` on a fresh link object and saves it.
template <typename Aim>
void SaveShortcut(const std::wstring& lnkPath, Aim aim)
{
    IShellLinkW* link = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link)));
    HRESULT aimed = aim(link);
    IPersistFile* file = nullptr;
    HRESULT queried = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    HRESULT saved = SUCCEEDED(queried) ? file->Save(lnkPath.c_str(), TRUE) : queried;
    if (file) file->Release();
    link->Release();
    ASSERT_EQ(S_OK, aimed);
    ASSERT_EQ(S_OK, saved);
}

}  // namespace

void MakeShortcut(const std::wstring& lnkPath, const std::wstring& targetPath)
{
    SaveShortcut(lnkPath, [&](IShellLinkW* link) { return link->SetPath(targetPath.c_str()); });
}

void MakeShortcutToIdList(const std::wstring& lnkPath, const ITEMIDLIST* target)
{
    SaveShortcut(lnkPath, [&](IShellLinkW* link) { return link->SetIDList(target); });
}

ITEMIDLIST* AbsoluteIdListOf(const std::wstring& path)
{
    IShellFolder* desktop = nullptr;
    if (SHGetDesktopFolder(&desktop) != S_OK) return nullptr;
    ITEMIDLIST* list = nullptr;
    std::wstring text = path;
    if (desktop->ParseDisplayName(nullptr, nullptr, &text[0], nullptr, &list, nullptr) != S_OK) list = nullptr;
    desktop->Release();
    return list;
}

IDataObject* ShellDataObjectFor(const std::wstring& path)
{
    return ShellDataObjectFor(std::vector<std::wstring>{path});
}

namespace {

// The absolute lists of `paths`, freed at scope end.
struct AbsoluteLists {
    explicit AbsoluteLists(const std::vector<std::wstring>& paths)
    {
        for (const std::wstring& path : paths) {
            ITEMIDLIST* list = AbsoluteIdListOf(path);
            if (!list) complete = false;
            lists.push_back(list);
        }
    }
    ~AbsoluteLists()
    {
        for (ITEMIDLIST* list : lists) CoTaskMemFree(list);
    }
    std::vector<ITEMIDLIST*> lists;
    bool complete = true;
};

}  // namespace

IDataObject* ShellDataObjectFor(const std::vector<std::wstring>& paths)
{
    AbsoluteLists absolute(paths);
    if (!absolute.complete || paths.empty()) return nullptr;
    IShellFolder* parent = nullptr;
    const ITEMIDLIST* child = nullptr;
    IDataObject* data = nullptr;
    if (SHBindToParent(absolute.lists[0], IID_IShellFolder, reinterpret_cast<void**>(&parent), &child) == S_OK) {
        std::vector<const ITEMIDLIST*> children;
        for (const ITEMIDLIST* list : absolute.lists) children.push_back(ILFindLastID(list));
        if (parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                  nullptr, reinterpret_cast<void**>(&data)) != S_OK)
            data = nullptr;
        parent->Release();
    }
    return data;
}

IShellItemArray* ShellItemArrayFor(const std::vector<std::wstring>& paths, ArraySource source)
{
    IShellItemArray* items = nullptr;
    if (source == ArraySource::DataObject) {
        IDataObject* data = ShellDataObjectFor(paths);
        if (!data) return nullptr;
        if (SHCreateShellItemArrayFromDataObject(data, IID_IShellItemArray, reinterpret_cast<void**>(&items)) != S_OK)
            items = nullptr;
        data->Release();
        return items;
    }
    AbsoluteLists absolute(paths);
    if (!absolute.complete) return nullptr;
    std::vector<const ITEMIDLIST*> lists(absolute.lists.begin(), absolute.lists.end());
    if (SHCreateShellItemArrayFromIDLists(static_cast<UINT>(lists.size()), lists.data(), &items) != S_OK)
        items = nullptr;
    return items;
}
