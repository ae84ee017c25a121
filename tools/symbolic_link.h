#pragma once
// Symbolic links for the tests and the bench. Wine's CreateSymbolicLinkW
// answers TRUE and makes nothing; a Unix link inside the prefix's drive is
// what Wine has instead, and it presents one as a plain file or folder.
#include <windows.h>

#include <cstring>
#include <string>

enum class LinkKind { None, Windows, Unix };

// Makes `link` a symbolic link to the file or folder `target`: as Windows
// makes one where it can, else as a Unix link made by the system's ln. Says
// which kind was made.
inline LinkKind MakeSymbolicLink(const std::wstring& link, const std::wstring& target, bool folder)
{
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | unprivileged;
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) &&
        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES)
        return LinkKind::Windows;
    typedef char*(CDECL * UnixName)(const wchar_t*);
    const UnixName unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return LinkKind::None;
    char* unixLink = unixName(link.c_str());
    char* unixTarget = unixName(target.c_str());
    // Wine splits a Unix program's command line at blanks.
    std::wstring command;
    if (unixLink && unixTarget && !std::strchr(unixLink, ' ') && !std::strchr(unixTarget, ' '))
        command = L"Z:\\bin\\ln -s -- " + std::wstring(unixTarget, unixTarget + std::strlen(unixTarget)) + L" " +
                  std::wstring(unixLink, unixLink + std::strlen(unixLink));
    HeapFree(GetProcessHeap(), 0, unixLink);
    HeapFree(GetProcessHeap(), 0, unixTarget);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (command.empty() ||
        !CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return LinkKind::None;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Wine does not wait for a Unix program: the link shows when ln is done.
    for (int waited = 0; waited < 30000; waited += 20) {
        if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return LinkKind::Unix;
        Sleep(20);
    }
    return LinkKind::None;
}
