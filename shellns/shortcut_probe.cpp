#include "shellns/shortcut_probe.h"

#include <shlobj.h>

#include "base/ascii_text.h"
#include "base/com_ref.h"
#include "shellns/folder_binding.h"
#include "shellns/holders.h"
#include "shellns/id_list.h"

namespace {

// Leaves ".", or nothing when even that does not fit.
void WriteNoExtension(wchar_t* destination, int capacity)
{
    if (capacity < 2) return;
    destination[0] = L'.';
    destination[1] = L'\0';
}

// Where the extension of `path` starts, scanning back from `last`, or -1. A
// dot before a backslash (as in "..\") is passed over with the character
// before it; other backslashes do not stop the scan, so a dot in a folder name
// starts an extension that runs on to the end.
int FindExtension(const wchar_t* path, int last)
{
    for (int i = last; i >= 0;) {
        if (path[i] != L'.')
            --i;
        else if (path[i + 1] != L'\\')
            return i;
        else
            i -= 2;
    }
    return -1;
}

// The shortcut's target and whether that target is a folder (when asked
// for), each written only when it could be had.
void ReadShortcut(const ITEMIDLIST* list, ITEMIDLIST** target, BOOL* isFolder)
{
    SplitIdList item(list);
    if (!item.complete()) return;
    ComRef<IShellFolder> folder;
    if (BindToFolder(folder.out(), item.parent()) != S_OK) return;
    const ITEMIDLIST* child = item.last();
    ComRef<IShellLinkW> link;
    if (folder->GetUIObjectOf(nullptr, 1, &child, IID_IShellLinkW, nullptr, link.outVoid()) != S_OK) return;

    link->GetIDList(target);
    if (!isFolder || !*target) return;

    SplitIdList targetItem(*target);
    if (!targetItem.complete()) return;
    ComRef<IShellFolder> targetFolder;
    if (BindToFolder(targetFolder.out(), targetItem.parent()) != S_OK) return;
    const ITEMIDLIST* targetChild = targetItem.last();
    // A failing call still answers through the word as it left it.
    SFGAOF attributes = SFGAO_FOLDER;
    targetFolder->GetAttributesOf(1, &targetChild, &attributes);
    *isFolder = (attributes & SFGAO_FOLDER) ? TRUE : FALSE;
}

}  // namespace

void GetExtension(wchar_t* path, wchar_t* destination, int capacity)
{
    if (!path[0]) {
        WriteNoExtension(destination, capacity);
        return;
    }
    int last = lstrlenW(path) - 1;
    while (last > 0 && path[last] == L' ') path[last--] = L'\0';

    int dot = FindExtension(path, last);
    // The copy keeps sixteen characters of the destination back: with less
    // room no character of the extension fits, and lstrcpynW would be handed a
    // count below one.
    if (dot < 0 || capacity < 17) {
        WriteNoExtension(destination, capacity);
        return;
    }
    lstrcpynW(destination, path + dot, capacity - 16);
    destination[capacity - 1] = L'\0';
}

BOOL ProbeShortcut(const ITEMIDLIST* list, ITEMIDLIST** target, BOOL* isFolder)
{
    wchar_t path[MAX_PATH];
    path[0] = L'\0';
    SHGetPathFromIDListW(list, path);
    if (!path[0]) return FALSE;

    wchar_t extension[MAX_PATH];
    GetExtension(path, extension, MAX_PATH - 1);
    if (!EqualsIgnoringAsciiCase(extension, L".lnk")) return FALSE;

    // Whether it is a shortcut is the extension's alone: without a target to
    // read, nothing is bound.
    if (target) ReadShortcut(list, target, isFolder);
    return TRUE;
}
