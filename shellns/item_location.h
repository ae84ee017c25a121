#pragma once
// What the open-location command shows for the one item the user selected:
// a shortcut's target, a symbolic link's target, or the item itself, found
// where it really lives.
#include <windows.h>
#include <shtypes.h>

// The extension of `path`, from its dot to its end, into `destination` (of
// `capacity` characters); "." when there is none. Trailing blanks of `path`
// are cut off in place. Sixteen characters of the destination are kept back:
// below a capacity of 17 only "." is written, and nothing below 2.
void GetExtension(wchar_t* path, wchar_t* destination, int capacity);

// TRUE when the item's file system path ends in ".lnk" (any case). Only the
// path is read: the test the newer menu makes on every right-click.
BOOL IsShortcutFile(const ITEMIDLIST* list);

// The item to show, with its folder selected, for the item `list` names:
//  - a shortcut file: its target;
//  - else a symbolic link: the final target it leads to;
//  - else the item itself, by the list its own folder gives it (a search's,
//    Quick Access's or a library's list runs through the view's folder).
// TRUE when the item is a shortcut or a symbolic link, or has a location of
// its own. `located` (holding null) receives the item's absolute list, which
// the caller frees with ShellFree; it stays null for a shortcut whose target
// cannot be read and a link that leads nowhere (gone, or a loop). `isFolder`
// (when given, holding FALSE) receives whether that item is a folder, when
// its attributes could be read.
BOOL LocateItem(const ITEMIDLIST* list, ITEMIDLIST** located, BOOL* isFolder);

// Whether a file's attributes and reparse tag, as the file system reports
// them for the file itself, make it a symbolic link. A junction, a mount
// point or a file of a cloud or deduplicating store is none.
bool IsSymbolicLinkTag(DWORD attributes, DWORD reparseTag);

// A final path as the system reports it ("\\?\C:\dir", "\\?\UNC\server\share")
// turned, in place, into the path programs name it by ("C:\dir",
// "\\server\share"). False for a form that names no drive or share (a volume
// GUID path), which is left as it was.
bool MakePlainPath(wchar_t* finalPath);
