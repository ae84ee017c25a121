#include "command/file_manager.h"

#include <cwchar>

#include "base/ascii_text.h"
#include "base/registry_key.h"
#include "base/wow64.h"

namespace {

const wchar_t kFolderVerbKey[] = L"Folder\\shell";
const wchar_t kFileManagerVerb[] = L"Norrvane";
const wchar_t kStockVerb[] = L"open";

// Registry values are read into buffers of this many characters, the last
// one kept back from the read.
const DWORD kValueCapacity = 260;

// Reads a command value into `command` (kValueCapacity characters). An
// expandable value is expanded within the same room, and reads as empty when
// it does not fit there.
bool ReadCommand(const wchar_t* path, wchar_t* command)
{
    DWORD type = REG_NONE;
    if (!ReadDefaultValue(path, command, kValueCapacity, &type)) return false;
    if (type != REG_EXPAND_SZ) return true;
    wchar_t raw[kValueCapacity];
    lstrcpyW(raw, command);
    ExpandCommand(raw, command, kValueCapacity - 1, RunsUnderWow64());
    return true;
}

// The variables that WOW64 gives 32-bit programs values of their own, each
// beside the variable that holds the native value. Each pair is of one
// length, so a name is swapped in place.
const wchar_t* const kRedirectedVariables[][2] = {
    {L"ProgramFiles", L"ProgramW6432"},
    {L"CommonProgramFiles", L"CommonProgramW6432"},
};

// Names the native variable wherever the expansion will meet a redirected
// one. The expansion pairs percent signs: each reference runs from one sign
// to the next, and whatever it names, the text goes on after its closing one.
void NameNativeVariables(wchar_t* text)
{
    wchar_t* open = text;
    while ((open = std::wcschr(open, L'%')) != nullptr) {
        wchar_t* close = std::wcschr(open + 1, L'%');
        if (!close) return;
        *close = L'\0';
        for (const auto& pair : kRedirectedVariables)
            if (EqualsIgnoringAsciiCase(open + 1, pair[0])) lstrcpyW(open + 1, pair[1]);
        *close = L'%';
        open = close + 1;
    }
}

}  // namespace

bool ExpandCommand(wchar_t* raw, wchar_t* expanded, DWORD capacity, bool nativeProgramFolders)
{
    if (nativeProgramFolders) NameNativeVariables(raw);
    const DWORD needed = ExpandEnvironmentStringsW(raw, expanded, capacity);
    if (needed != 0 && needed <= capacity) return true;
    expanded[0] = L'\0';
    return false;
}

bool ReadDefaultValue(const wchar_t* path, wchar_t* value, DWORD capacity, DWORD* type)
{
    if (type) *type = REG_NONE;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegistryKey key(opened);
    DWORD bytes = (capacity - 1) * sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), nullptr, nullptr, type, reinterpret_cast<BYTE*>(value), &bytes) !=
        ERROR_SUCCESS) {
        value[0] = L'\0';
        return true;
    }
    const DWORD characters = bytes / sizeof(wchar_t);
    DWORD length = 0;
    while (length < characters && value[length] != L'\0') ++length;
    if (length == characters) value[0] = L'\0';
    return true;
}

wchar_t* CutFirstToken(wchar_t* command)
{
    wchar_t end = L' ';
    if (*command == L'"') {
        end = L'"';
        ++command;
    }
    wchar_t* cursor = command;
    while (*cursor != L'\0' && *cursor != end) ++cursor;
    *cursor = L'\0';
    return command;
}

const wchar_t* FindLastBackslash(const wchar_t* text)
{
    const wchar_t* last = nullptr;
    for (; *text != L'\0'; ++text)
        if (*text == L'\\') last = text;
    return last;
}

bool IsFullyQualifiedPath(const wchar_t* path)
{
    const bool driveLetter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    if (driveLetter) return path[1] == L':' && path[2] == L'\\';
    if (path[0] != L'\\' || path[1] != L'\\') return false;
    // \\server\share\: two names, each closed by a backslash.
    const wchar_t* name = path + 2;
    for (int names = 0; names < 2; ++names) {
        const wchar_t* end = name;
        while (*end != L'\0' && *end != L'\\') ++end;
        if (end == name || *end == L'\0') return false;
        name = end + 1;
    }
    return true;
}

bool NamesFileManagerExecutable(const wchar_t* path)
{
    static const wchar_t* const kExecutables[] = {L"Norrvane.exe", L"Norrvane32.exe", L"Norrvane64.exe"};
    const wchar_t* backslash = FindLastBackslash(path);
    if (!backslash) return false;
    for (const wchar_t* executable : kExecutables)
        if (EqualsIgnoringAsciiCase(backslash + 1, executable)) return true;
    return false;
}

// Two passes, folders then directories, each starting from the default verb
// of folders, which is read afresh so that the second pass sees a change. The
// directory command, when accepted, wins over the folder command.
BOOL FindFileManager(wchar_t* launcher, BOOL* stockVerb, BOOL* relativeCommand)
{
    static const wchar_t* const kCommandKeys[] = {L"Folder\\shell\\Norrvane\\command",
                                                  L"Directory\\shell\\Norrvane\\command"};
    lstrcpyW(launcher, L"explorer.exe");
    BOOL found = FALSE;
    BOOL stock = FALSE;
    BOOL relative = FALSE;
    for (const wchar_t* commandKey : kCommandKeys) {
        wchar_t verb[kValueCapacity];
        bool fileManagerIsDefault = false;
        if (ReadDefaultValue(kFolderVerbKey, verb, kValueCapacity)) {
            if (verb[0] == L'\0' || EqualsIgnoringAsciiCase(verb, kStockVerb)) stock = TRUE;
            fileManagerIsDefault = EqualsIgnoringAsciiCase(verb, kFileManagerVerb);
        }
        if (!fileManagerIsDefault) break;

        wchar_t command[kValueCapacity];
        if (!ReadCommand(commandKey, command) || command[0] == L'\0') continue;
        const wchar_t* executable = CutFirstToken(command);
        // A relative path would be looked up from the host's current folder,
        // which may be anyone's.
        if (!IsFullyQualifiedPath(executable)) {
            relative = TRUE;
        } else if (NamesFileManagerExecutable(executable)) {
            wsprintfW(launcher, L"\"%s\"", executable);
            found = TRUE;
        }
    }
    *stockVerb = stock;
    *relativeCommand = relative;
    return found;
}
