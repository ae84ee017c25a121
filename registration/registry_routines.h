#pragma once
// The registry routines of self-registration: keys opened with read and write
// access and no registry-view flag, the keys that hold our entries never
// through a link, and key trees deleted without following links. Keys are
// closed by RegistryKey.
#include <windows.h>

// Opens an existing key for reading and writing; null on any failure.
HKEY OpenKey(HKEY parent, const wchar_t* path);

// Opens or creates a key for reading and writing; null on any failure.
HKEY CreateKey(HKEY parent, const wchar_t* name);

// The same for a key that registration writes its entries into: null also
// when the key named last is a symbolic link, which is never followed there.
// Links above it are the system's to follow (it may make a registry view of
// them).
HKEY OpenKeyNotLink(HKEY parent, const wchar_t* path);
HKEY CreateKeyNotLink(HKEY parent, const wchar_t* name);

// True only when the registry says there is no key at `path`: a key that is
// there but cannot be opened, and a link, are not missing.
bool KeyIsMissing(HKEY parent, const wchar_t* path);

// Deletes `name` below `parent` with all its subkeys, as far as it can. A
// subkey that resists is stepped over. A symbolic link is deleted as the link
// itself and never followed; the walk stops at the registry's deepest level.
// True when the key is gone afterwards, also when it was never there.
bool DeleteKeyTree(HKEY parent, const wchar_t* name);
