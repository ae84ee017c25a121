#include "shellns/folder_binding.h"

#include "base/com_ref.h"
#include "base/system_routine.h"
#include "base/test_seams.h"
#include "shellns/holders.h"
#include "shellns/id_list.h"

namespace {

// Stands in for the desktop while a test has set it; otherwise null.
IShellFolder* desktopForTests = nullptr;

HRESULT GetDesktopFolder(IShellFolder** desktop)
{
    if (!desktopForTests) return SHGetDesktopFolder(desktop);
    desktopForTests->AddRef();
    *desktop = desktopForTests;
    return S_OK;
}

// The list of `path` as the desktop `desktop` parses it, or null.
ITEMIDLIST* ParseOn(IShellFolder* desktop, const wchar_t* path)
{
    ITEMIDLIST* list = nullptr;
    ULONG eaten = 0;
    // The shell only reads the path, though the interface takes it writable.
    desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(path), &eaten, &list, nullptr);
    return list;
}

HRESULT BindOn(IShellFolder* folder, const ITEMIDLIST* list, ComRef<IShellFolder>& bound)
{
    return folder->BindToObject(list, nullptr, IID_IShellFolder, bound.outVoid());
}

// The target folder of `prefix`, the first prefix of a list that did not bind,
// when its last item is a shortcut the shell presents as a folder.
HRESULT FollowFolderShortcut(IShellFolder* desktop, const ITEMIDLIST* prefix, IShellFolder** folder)
{
    SplitIdList item(prefix);
    if (!item.complete()) return E_FAIL;

    ComRef<IShellFolder> parent;
    HRESULT status = item.parent() ? BindOn(desktop, item.parent(), parent) : GetDesktopFolder(parent.out());
    if (status != S_OK) return E_FAIL;

    const ITEMIDLIST* child = item.last();
    const SFGAOF folderShortcut = SFGAO_FOLDER | SFGAO_LINK;
    SFGAOF attributes = folderShortcut;
    if (parent->GetAttributesOf(1, &child, &attributes) != S_OK || (attributes & folderShortcut) != folderShortcut)
        return E_FAIL;

    ComRef<IShellLinkW> link;
    if (parent->GetUIObjectOf(nullptr, 1, &child, IID_IShellLinkW, nullptr, link.outVoid()) != S_OK) return E_FAIL;

    wchar_t path[1000];
    path[0] = L'\0';
    WIN32_FIND_DATAW found;
    if (link->GetPath(path, ARRAYSIZE(path), &found, 0) != S_OK || !path[0]) return E_FAIL;

    IdListHolder target(ParseOn(desktop, path));
    if (!target) return E_FAIL;
    ComRef<IShellFolder> targetFolder;
    if (BindOn(desktop, target.get(), targetFolder) != S_OK) return E_FAIL;
    *folder = targetFolder.release();
    return S_OK;
}

}  // namespace

void SetDesktopFolderForTests(IShellFolder* desktop) { desktopForTests = desktop; }

ITEMIDLIST* ParsePathToIdList(const wchar_t* path)
{
    ComRef<IShellFolder> desktop;
    return GetDesktopFolder(desktop.out()) == S_OK ? ParseOn(desktop.get(), path) : nullptr;
}

BOOL GetWholePath(const ITEMIDLIST* list, wchar_t* path)
{
    path[0] = L'\0';
    // Systems before 6.0 lack it.
    const auto getPathEx = FindSystemRoutine<BOOL(WINAPI*)(const ITEMIDLIST*, wchar_t*, DWORD, GPFIDL_FLAGS)>(
        L"shell32.dll", "SHGetPathFromIDListEx");
    const BOOL had = getPathEx ? getPathEx(list, path, LONGEST_PATH, GPFIDL_DEFAULT) : SHGetPathFromIDListW(list, path);
    if (!had || !path[0]) {
        path[0] = L'\0';
        return FALSE;
    }
    if (lstrlenW(path) < MAX_PATH - 1) return TRUE;

    // One desktop parses the path back and compares the lists.
    ComRef<IShellFolder> desktop;
    IdListHolder parsed;
    if (GetDesktopFolder(desktop.out()) == S_OK) parsed.reset(ParseOn(desktop.get(), path));
    const bool whole = parsed && desktop->CompareIDs(0, list, parsed.get()) == S_OK;
    if (!whole) path[0] = L'\0';
    return whole ? TRUE : FALSE;
}

HRESULT BindToFolder(IShellFolder** folder, const ITEMIDLIST* list)
{
    ComRef<IShellFolder> desktop;
    HRESULT status = GetDesktopFolder(desktop.out());
    if (status != S_OK) return status;
    if (!list) {
        *folder = desktop.release();
        return S_OK;
    }
    ComRef<IShellFolder> bound;
    status = BindOn(desktop.get(), list, bound);
    desktop.reset();
    if (status != S_OK) return BindThroughFolderLinks(folder, list);
    *folder = bound.release();
    return S_OK;
}

HRESULT BindThroughFolderLinks(IShellFolder** folder, const ITEMIDLIST* list)
{
    ComRef<IShellFolder> desktop;
    if (GetDesktopFolder(desktop.out()) != S_OK) return E_FAIL;

    // Grow a prefix of the list item by item until one does not bind; the
    // items after it take no part.
    IdListHolder prefix;
    for (const ITEMIDLIST* item = list; item && IdListNext(item); item = IdListNext(item)) {
        IdListHolder first(IdListCloneFirst(item));
        if (!first) return E_FAIL;
        IdListHolder grown(IdListCombine(prefix.get(), first.get()));
        if (!grown) return E_FAIL;
        prefix.reset(grown.release());

        ComRef<IShellFolder> bound;
        if (BindOn(desktop.get(), prefix.get(), bound) != S_OK)
            return FollowFolderShortcut(desktop.get(), prefix.get(), folder);
    }
    return E_FAIL;
}
