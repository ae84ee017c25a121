#pragma once
// Test seams: they let a test put its own fake in place of the shell's
// allocator, of the desktop folder or of the symbolic-link check, or make the next allocations of COM
// objects fail, so that paths the real system rarely takes can be reached.
// They are not exported: only code linked with the DLL's objects, the tests,
// can call them.
#include <windows.h>
#include <objidl.h>
#include <shobjidl.h>

// ShellAlloc and ShellFree use `allocator` instead of the shell's; null
// returns them to the shell's (obtained afresh on next use).
void SetShellAllocatorForTests(IMalloc* allocator);

// Folder binding starts from `desktop` instead of SHGetDesktopFolder's; null
// returns it to the shell's.
void SetDesktopFolderForTests(IShellFolder* desktop);

// The answer of `check` stands in for the file system's on whether a path is
// a symbolic link (some systems show a link as a plain file); null returns
// it to the file system's.
void SetSymbolicLinkCheckForTests(bool (*check)(const wchar_t* path));

// The next `count` object allocations fail. 0 restores normal work.
void FailNextObjectAllocations(int count) noexcept;
