#pragma once
// Whether an item is a shortcut file, its target and whether that target is
// a folder.
#include <windows.h>
#include <shtypes.h>

// The extension of `path`, from its dot to its end, into `destination` (of
// `capacity` characters); "." when there is none. Trailing blanks of `path`
// are cut off in place. Sixteen characters of the destination are kept back:
// below a capacity of 17 only "." is written, and nothing below 2.
void GetExtension(wchar_t* path, wchar_t* destination, int capacity);

// TRUE when the item's file system path ends in ".lnk" (any case). `target`
// (when given, holding null) receives the shortcut's target list, which the
// caller frees with ShellFree; `isFolder` (when given too, holding FALSE)
// receives whether the target is a folder. Both are written only when reached;
// without `target` only the path is read.
BOOL ProbeShortcut(const ITEMIDLIST* list, ITEMIDLIST** target, BOOL* isFolder);
