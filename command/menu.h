#pragma once
// The command's one menu item, its texts and the strings that describe it.
#include <windows.h>
#include <shlobj.h>

// Inserts the open-location item at `indexMenu` with the identifier
// `idCmdFirst` when the data object holds exactly one item that can be
// located (LocateItem); its text, in the user's display language, says
// whether the located item is a folder. 1 (one identifier used) when it
// inserted the item, S_OK when it inserted nothing, also for a null data
// object.
HRESULT QueryContextMenu(IDataObject* dataObject, HMENU menu, UINT indexMenu, UINT idCmdFirst);

// Verb and help text of the one command (identifier 0), and its validation.
// The verb is the fixed text "ファイルの場所を開く" in every language, for the
// ANSI requests as its code page 932 bytes; the help text is in the user's
// display language, for the ANSI requests in the process's ANSI code page
// (the English text when that code page cannot hold it). E_INVALIDARG, with
// nothing written, for other identifiers and request types and when the text
// does not fit in `cchMax` characters (bytes for the ANSI requests); E_FAIL
// when the module holds no help text.
HRESULT GetCommandString(UINT_PTR idCmd, UINT type, CHAR* name, UINT cchMax);

// True when the selection's one item (null: none) is a shortcut file: the
// test under which the newer menu's command shows. Only the item's path is
// read.
bool SelectionIsShortcut(const ITEMIDLIST* selection);

// How a text is shown: in a menu, with its access key, or as a title without.
enum class TextForm { Menu, Title };

// Room for a text of the command, terminator included.
const int COMMAND_TEXT_CAPACITY = 128;

// Loads the command's text for an item that is, or is not, a folder, in the
// form asked and in the user's display language, as Windows chooses among
// the module's string tables on every call. False, with `text` empty, when
// the module holds no such text.
bool LoadCommandText(bool folder, TextForm form, wchar_t (&text)[COMMAND_TEXT_CAPACITY]);

// The command's text for the selection's one item (null: none), which says
// whether the item it locates is a folder; false, with `text` empty, when it
// locates nothing.
bool CommandText(const ITEMIDLIST* selection, TextForm form, wchar_t (&text)[COMMAND_TEXT_CAPACITY]);
