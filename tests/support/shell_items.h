#pragma once
// Real shell items for tests: a COM apartment, a scratch folder under %TEMP%,
// files and shortcut files in it, and the shell's own lists and data objects
// for them.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tools/symbolic_link.h"

// Enters a single-threaded apartment for the life of the object.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT status_;
};

// A fresh folder under %TEMP%, deleted with everything in it at scope end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Full long path, without a trailing backslash.
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Creates or overwrites a file holding exactly `bytes`.
void WriteFile(const std::wstring& path, const std::string& bytes);

// Saves a real shortcut file (.lnk) pointing at a path or at an absolute list.
void MakeShortcut(const std::wstring& lnkPath, const std::wstring& targetPath);
void MakeShortcutToIdList(const std::wstring& lnkPath, const ITEMIDLIST* target);

// The shell's absolute list of a path, or null. Allocated by the shell: free
// it with CoTaskMemFree (or ShellFree, which counts it as foreign).
ITEMIDLIST* AbsoluteIdListOf(const std::wstring& path);

// The data object the shell makes for the one item at `path` (it serves the
// "Shell IDList Array" of its parent folder and the item), or null. The caller
// releases it.
IDataObject* ShellDataObjectFor(const std::wstring& path);
// The same for the items at `paths`, all in one folder.
IDataObject* ShellDataObjectFor(const std::vector<std::wstring>& paths);

// The item array of the items at `paths` (all in one folder) as the newer
// context menu hands it over: made from the shell's data object for them, or
// from their absolute lists. Null when the shell refuses. The caller
// releases it.
enum class ArraySource { DataObject, IdLists };
IShellItemArray* ShellItemArrayFor(const std::vector<std::wstring>& paths, ArraySource source);
