#pragma once
// The one item the user selected, read from the data object that the shell
// hands to the handler.
#include <windows.h>
#include <shlobj.h>

// The absolute item ID list of the selected item when the data object's
// "Shell IDList Array" holds exactly one item; null otherwise, and also when
// any part of the array lies outside its memory block. The caller frees the
// list with ShellFree. The data object's references are left as they are.
ITEMIDLIST* ReadSingleSelection(IDataObject* dataObject);

// The same for a "Shell IDList Array" already in memory: `block` and its
// `size` in bytes. Nothing outside those bytes is read.
ITEMIDLIST* ReadSelectionBlock(const BYTE* block, SIZE_T size);
