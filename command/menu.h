#pragma once
// The handler's one menu item and the strings that describe its command.
#include <windows.h>
#include <shlobj.h>

// Inserts the open-location item at `indexMenu` with the identifier
// `idCmdFirst` when the data object holds exactly one shortcut file; its text
// says whether the shortcut leads to a folder. 1 (one identifier used) when
// it inserted the item, S_OK when it inserted nothing, also for a null data
// object.
HRESULT QueryContextMenu(IDataObject* dataObject, HMENU menu, UINT indexMenu, UINT idCmdFirst);

// Verb and help text of the one command (identifier 0), in the fixed wide
// text or its code page 932 bytes, and its validation. E_INVALIDARG, with
// nothing written, for other identifiers and request types and when the text
// does not fit in `cchMax` characters (bytes for the ANSI requests).
HRESULT GetCommandString(UINT_PTR idCmd, UINT type, CHAR* name, UINT cchMax);

// The menu texts, the "(&I)" making I the access key.
extern const wchar_t OPEN_FILE_LOCATION_TEXT[];
extern const wchar_t OPEN_FOLDER_LOCATION_TEXT[];
