#pragma once
// Which program shows folders: the file manager Norrvane when it is the
// default verb of folders and its command starts with the full path of one
// of its executables, explorer.exe otherwise.
#include <windows.h>

// Room FindFileManager needs for the launcher text: a quotation mark, a path
// of up to 259 characters, a quotation mark and a zero.
const int LAUNCHER_CAPACITY = 262;

// Writes the launcher text: the file manager's executable path in quotation
// marks (and answers TRUE) or "explorer.exe" (and answers FALSE). `stockVerb`
// receives whether the default verb of folders is the stock one: empty,
// absent or "open"; `relativeCommand` whether a command of the file manager's
// verb was refused for naming its program by no full path. Reads the
// registry afresh at every call.
BOOL FindFileManager(wchar_t* launcher, BOOL* stockVerb, BOOL* relativeCommand);

// Reads the default value of HKEY_CLASSES_ROOT\`path` into `value`, of
// `capacity` characters (at least 2), offering the read all but the last, and
// its type into `type` when given. False, with `value` untouched, when the key
// does not open. A value that cannot be read, or that is not terminated
// within the characters read, reads as empty.
bool ReadDefaultValue(const wchar_t* path, wchar_t* value, DWORD capacity, DWORD* type = nullptr);

// Expands an expandable command value `raw` into `expanded`, of `capacity`
// characters, as the system's own programs read it. With
// `nativeProgramFolders` (a 32-bit process on 64-bit Windows, whose
// %ProgramFiles% and %CommonProgramFiles% name the 32-bit folders) those two
// name the native folders, as they do for Explorer; `raw` is changed in
// place to name them. False, with `expanded` empty, when the expansion does
// not fit.
bool ExpandCommand(wchar_t* raw, wchar_t* expanded, DWORD capacity, bool nativeProgramFolders);

// Cuts the first token out of a command value in place and returns it: the
// text between a leading quotation mark and the next one (or the end), or
// else the text up to the first blank (or the end).
wchar_t* CutFirstToken(wchar_t* command);

// The last backslash of `text`, or null when it holds none.
const wchar_t* FindLastBackslash(const wchar_t* text);

// True when `path` is fully qualified: a drive letter, a colon and a
// backslash, or \\server\share\ with both names present.
bool IsFullyQualifiedPath(const wchar_t* path);

// True when the file name after the last backslash of `path` is one of the
// file manager's executables, in any ASCII case. A path without a backslash
// is refused.
bool NamesFileManagerExecutable(const wchar_t* path);
