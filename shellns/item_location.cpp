#include "shellns/item_location.h"

#include <shlobj.h>

#include "base/ascii_text.h"
#include "base/com_ref.h"
#include "base/file_handle.h"
#include "base/system_routine.h"
#include "base/test_seams.h"
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

// ".lnk" in any case, as the extension rule takes it from `path` (whose
// trailing blanks it cuts off).
bool HasShortcutExtension(wchar_t* path)
{
    wchar_t extension[MAX_PATH];
    GetExtension(path, extension, MAX_PATH - 1);
    return EqualsIgnoringAsciiCase(extension, L".lnk");
}

// Writes whether the item of an absolute list is a folder, when its folder
// can be had. A failing call still answers through the word as it left it.
void ReadFolderFlag(const ITEMIDLIST* list, BOOL* isFolder)
{
    if (!isFolder) return;
    SplitIdList item(list);
    if (!item.complete()) return;
    ComRef<IShellFolder> folder;
    if (BindToFolder(folder.out(), item.parent()) != S_OK) return;
    const ITEMIDLIST* child = item.last();
    SFGAOF attributes = SFGAO_FOLDER;
    folder->GetAttributesOf(1, &child, &attributes);
    *isFolder = (attributes & SFGAO_FOLDER) ? TRUE : FALSE;
}

// The shortcut's target and whether that target is a folder, each written
// only when it could be had.
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
    if (*target) ReadFolderFlag(*target, isFolder);
}

// The desktop-absolute parsing name of an item, from the shell's allocator
// (CoTaskMemFree), or null. Systems before 6.0 lack the routine; only
// shortcuts reach the handler there.
wchar_t* ParsingNameOf(const ITEMIDLIST* list)
{
    const auto getName = FindSystemRoutine<HRESULT(WINAPI*)(const ITEMIDLIST*, SIGDN, wchar_t**)>(
        L"shell32.dll", "SHGetNameFromIDList");
    wchar_t* name = nullptr;
    if (getName && getName(list, SIGDN_DESKTOPABSOLUTEPARSING, &name) != S_OK) {
        CoTaskMemFree(name);
        name = nullptr;
    }
    return name;
}

// The list the item's own folder gives it: its parsing name, parsed back.
// Null for an item without a name that parses (a virtual item of a search),
// and for a name the parser reads only in part, which a malformed list can
// give: the list parsed must carry the very name it was parsed from.
ITEMIDLIST* ParseRealIdList(const ITEMIDLIST* list)
{
    wchar_t* name = ParsingNameOf(list);
    IdListHolder real(name && name[0] ? ParsePathToIdList(name) : nullptr);
    wchar_t* nameAgain = real ? ParsingNameOf(real.get()) : nullptr;
    const bool same = nameAgain && EqualsIgnoringAsciiCase(name, nameAgain);
    CoTaskMemFree(nameAgain);
    CoTaskMemFree(name);
    return same ? real.release() : nullptr;
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file or folder whose reparse point carries the symbolic-link tag: the
// final path of anything else would name its folder by another name. Some
// systems mark a folder reached through a link of their own as a reparse
// point without a tag: the tag of the file itself decides.
bool IsSymbolicLink(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    const auto getInformation = FindSystemRoutine<BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD)>(
        L"kernel32.dll", "GetFileInformationByHandleEx");
    if (!getInformation) return false;
    // The link itself, not what it leads to.
    FileHandle link(CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    return link.valid() && getInformation(link.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
           IsSymbolicLinkTag(tag.FileAttributes, tag.ReparseTag);
}

// Stands in for IsSymbolicLink while a test has set it.
bool (*symbolicLinkCheckForTests)(const wchar_t* path) = nullptr;

// The list of the final target of the link at `path`; null when the link
// leads nowhere (its target gone, or a loop) or to nothing the shell parses.
ITEMIDLIST* ReadLinkTarget(const wchar_t* path)
{
    const auto getFinalPath =
        FindSystemRoutine<DWORD(WINAPI*)(HANDLE, wchar_t*, DWORD, DWORD)>(L"kernel32.dll", "GetFinalPathNameByHandleW");
    if (!getFinalPath) return nullptr;
    // Opened through every link on its way.
    FileHandle target(CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target.valid()) return nullptr;
    LongPathBuffer finalPath;
    if (!finalPath.get()) return nullptr;
    // A path that did not fit comes back as the room it needs.
    const DWORD length =
        getFinalPath(target.get(), finalPath.get(), LONGEST_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= LONGEST_PATH || !MakePlainPath(finalPath.get())) return nullptr;
    return ParsePathToIdList(finalPath.get());
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

void SetSymbolicLinkCheckForTests(bool (*check)(const wchar_t* path)) { symbolicLinkCheckForTests = check; }

BOOL IsShortcutFile(const ITEMIDLIST* list)
{
    wchar_t path[MAX_PATH];
    path[0] = L'\0';
    SHGetPathFromIDListW(list, path);
    return path[0] && HasShortcutExtension(path);
}

BOOL LocateItem(const ITEMIDLIST* list, ITEMIDLIST** located, BOOL* isFolder)
{
    if (!list) return FALSE;
    // A search's, Quick Access's or a library's list runs through the view's
    // folder: the item is looked at where it lives.
    IdListHolder real(ParseRealIdList(list));
    const ITEMIDLIST* item = real ? real.get() : list;
    LongPathBuffer path;
    if (!path.get()) return FALSE;
    GetWholePath(item, path.get());
    // A shortcut's target wins wherever the shortcut is shown.
    if (path.get()[0] && HasShortcutExtension(path.get())) {
        ReadShortcut(item, located, isFolder);
        return TRUE;
    }
    if (!real) return FALSE;
    const bool link = path.get()[0] && (symbolicLinkCheckForTests ? symbolicLinkCheckForTests(path.get())
                                                                   : IsSymbolicLink(path.get()));
    if (link) {
        *located = ReadLinkTarget(path.get());
        if (*located) ReadFolderFlag(*located, isFolder);
        return TRUE;
    }
    ReadFolderFlag(real.get(), isFolder);
    *located = real.release();
    return TRUE;
}

bool IsSymbolicLinkTag(DWORD attributes, DWORD reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && reparseTag == IO_REPARSE_TAG_SYMLINK;
}

bool MakePlainPath(wchar_t* finalPath)
{
    wchar_t* plain = nullptr;
    const wchar_t* rest = nullptr;
    if (StartsWithIgnoringAsciiCase(finalPath, L"\\\\?\\UNC\\")) {
        // The two backslashes that start a share's path stay.
        plain = finalPath + 2;
        rest = finalPath + 8;
    } else if (StartsWithIgnoringAsciiCase(finalPath, L"\\\\?\\") && IsAsciiLetter(finalPath[4]) &&
               finalPath[5] == L':' && finalPath[6] == L'\\') {
        plain = finalPath;
        rest = finalPath + 4;
    } else {
        return false;
    }
    // Forward, terminator included: the text only moves towards the start.
    while ((*plain++ = *rest++) != L'\0') {
    }
    return true;
}
