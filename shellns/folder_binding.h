#pragma once
// Binding absolute item ID lists to their folders. A call succeeds only when
// it returns S_OK; out-parameters are written only on success.
#include <windows.h>
#include <shlobj.h>

#include "shellns/holders.h"

// The absolute list of a file system path, or null. The caller frees it
// with ShellFree.
ITEMIDLIST* ParsePathToIdList(const wchar_t* path);

// Writes the file system path of an absolute list into `path` (LONGEST_PATH
// characters). TRUE only when the list has a path and the whole of it was
// had; otherwise FALSE with `path` empty. Some shells cut a long path short
// without failing, so a path of MAX_PATH - 1 characters or more counts only
// when it leads back to the same item.
BOOL GetWholePath(const ITEMIDLIST* list, wchar_t* path);

// The folder of an absolute list (the desktop for null). When the shell
// cannot bind the list, a folder shortcut on its way is followed.
HRESULT BindToFolder(IShellFolder** folder, const ITEMIDLIST* list);

// The fallback of BindToFolder: the target folder of the first folder
// shortcut on the list's way that does not bind. S_OK or E_FAIL.
HRESULT BindThroughFolderLinks(IShellFolder** folder, const ITEMIDLIST* list);
