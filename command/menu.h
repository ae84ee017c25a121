#pragma once
// The command's one menu item, its texts and the strings that describe it.
#include <windows.h>
#include <shlobj.h>

// Inserts the open-location item at `indexMenu` with the identifier
// `idCmdFirst` when the data object holds exactly one item that can be
// located (LocateItem); its text says whether the located item is a folder. 1 (one identifier used) when
// it inserted the item, S_OK when it inserted nothing, also for a null data
// object.
HRESULT QueryContextMenu(IDataObject* dataObject, HMENU menu, UINT indexMenu, UINT idCmdFirst);

// Verb and help text of the one command (identifier 0), in the fixed wide
// text or its code page 932 bytes, and its validation. E_INVALIDARG, with
// nothing written, for other identifiers and request types and when the text
// does not fit in `cchMax` characters (bytes for the ANSI requests).
HRESULT GetCommandString(UINT_PTR idCmd, UINT type, CHAR* name, UINT cchMax);

// True when the selection's one item (null: none) is a shortcut file: the
// test under which the newer menu's command shows. Only the item's path is
// read.
bool SelectionIsShortcut(const ITEMIDLIST* selection);

// How a text is shown: in a menu, with its access key, or as a title without.
enum class TextForm { Menu, Title };

// The command's text for the selection's one item (null: none), which says
// whether the item it locates is a folder; null when it locates nothing.
const wchar_t* CommandText(const ITEMIDLIST* selection, TextForm form);

// The menu texts, the "(&I)" making I the access key, and the same texts
// without it.
extern const wchar_t OPEN_FILE_LOCATION_TEXT[];
extern const wchar_t OPEN_FOLDER_LOCATION_TEXT[];
extern const wchar_t OPEN_FILE_LOCATION_TITLE[];
extern const wchar_t OPEN_FOLDER_LOCATION_TITLE[];
