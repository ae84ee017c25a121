// Which program shows folders, read from a scratch registry, and the text
// rules the choice rests on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "command/file_manager.h"
#include "support/scratch_registry.h"

namespace {

TEST(FileManagerText, FirstTokenAndExecutableName)
{
    struct Case {
        const wchar_t* command;
        const wchar_t* token;
        bool named;           // the file name is one of the executables
        bool fullyQualified;  // the token is a path that no current folder or drive changes
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Norrvane\\Norrvane64.exe\" \"%1\"", L"C:\\Program Files\\Norrvane\\Norrvane64.exe",
         true, true},
        {L"C:\\Tools\\Norrvane.exe %1", L"C:\\Tools\\Norrvane.exe", true, true},
        {L"C:\\Program Files\\Norrvane\\Norrvane.exe %1", L"C:\\Program", false, true},
        {L"\"C:\\Program Files\\Norrvane32.exe", L"C:\\Program Files\\Norrvane32.exe", true, true},
        {L"c:\\tools\\NORRVANE.EXE", L"c:\\tools\\NORRVANE.EXE", true, true},
        {L"C:\\Tools\\Norrvane.exe\t%1", L"C:\\Tools\\Norrvane.exe\t%1", false, true},
        {L"Norrvane.exe %1", L"Norrvane.exe", false, false},
        {L"\"\"C:\\Tools\\Norrvane.exe\"", L"", false, false},
        {L" C:\\Tools\\Norrvane.exe", L"", false, false},
        {L"", L"", false, false},
        {L"C:\\Tools\\Norrvane.exe.bak", L"C:\\Tools\\Norrvane.exe.bak", false, true},
        {L"C:\\Tools\\MyNorrvane.exe", L"C:\\Tools\\MyNorrvane.exe", false, true},
        {L"C:\\Tools\\Norrvane.exe\\", L"C:\\Tools\\Norrvane.exe\\", false, true},
        {L"C:\\Tools\\N\u00D6RRVANE.exe", L"C:\\Tools\\N\u00D6RRVANE.exe", false, true},
        {L"bin\\Norrvane.exe \"%1\"", L"bin\\Norrvane.exe", true, false},
        {L"..\\x\\Norrvane.exe", L"..\\x\\Norrvane.exe", true, false},
        {L"\\x\\Norrvane.exe", L"\\x\\Norrvane.exe", true, false},
        {L"C:x\\Norrvane.exe", L"C:x\\Norrvane.exe", true, false},
        // Drive letters at the ends of both ranges, and the characters beside them.
        {L"A:\\Norrvane.exe", L"A:\\Norrvane.exe", true, true},
        {L"Z:\\Norrvane.exe", L"Z:\\Norrvane.exe", true, true},
        {L"a:\\Norrvane.exe", L"a:\\Norrvane.exe", true, true},
        {L"z:\\Norrvane.exe", L"z:\\Norrvane.exe", true, true},
        {L"@:\\Norrvane.exe", L"@:\\Norrvane.exe", true, false},
        {L"[:\\Norrvane.exe", L"[:\\Norrvane.exe", true, false},
        {L"`:\\Norrvane.exe", L"`:\\Norrvane.exe", true, false},
        {L"{:\\Norrvane.exe", L"{:\\Norrvane.exe", true, false},
        {L"1:\\x\\Norrvane.exe", L"1:\\x\\Norrvane.exe", true, false},
        {L"C:/x/Norrvane.exe", L"C:/x/Norrvane.exe", false, false},
        {L"\"\\\\server\\share\\Norrvane.exe\" %1", L"\\\\server\\share\\Norrvane.exe", true, true},
        {L"\\\\server\\Norrvane.exe", L"\\\\server\\Norrvane.exe", true, false},
        {L"\\\\server\\\\Norrvane.exe", L"\\\\server\\\\Norrvane.exe", true, false},
        {L"\\\\\\share\\Norrvane.exe", L"\\\\\\share\\Norrvane.exe", true, false},
        {L"\\\\server\\share", L"\\\\server\\share", false, false},
    };
    for (const Case& c : cases) {
        std::wstring command = c.command;
        SCOPED_TRACE(testing::PrintToString(command));
        const wchar_t* token = CutFirstToken(&command[0]);
        EXPECT_EQ(std::wstring(c.token), token);
        EXPECT_EQ(c.named, NamesFileManagerExecutable(token));
        EXPECT_EQ(c.fullyQualified, IsFullyQualifiedPath(token));
    }
}

// A 32-bit program on 64-bit Windows sees %ProgramFiles% and
// %CommonProgramFiles% name the 32-bit folders; Explorer, which reads the same
// command, sees the native ones. Each row also walks the percent signs as the
// expansion does.
TEST(FileManagerText, ExpandCommandReadsProgramFoldersAsExplorerDoes)
{
    const wchar_t* const variables[][2] = {
        {L"ProgramFiles", L"C:\\Program Files (x86)"},
        {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
        {L"ProgramW6432", L"C:\\Program Files"},
        {L"CommonProgramFiles", L"C:\\Program Files (x86)\\Common Files"},
        {L"CommonProgramW6432", L"C:\\Program Files\\Common Files"},
        {L"NORRVANE_TEST_TOOLS", L"C:\\Tools"},
    };
    std::wstring saved[ARRAYSIZE(variables)];
    for (size_t i = 0; i < ARRAYSIZE(variables); ++i) {
        wchar_t value[MAX_PATH] = L"";
        GetEnvironmentVariableW(variables[i][0], value, MAX_PATH);
        saved[i] = value;
        SetEnvironmentVariableW(variables[i][0], variables[i][1]);
    }
    struct Case {
        const wchar_t* raw;
        bool native;
        const wchar_t* expanded;
    };
    const Case cases[] = {
        {L"\"%ProgramFiles%\\N\\Norrvane64.exe\" \"%1\"", true, L"\"C:\\Program Files\\N\\Norrvane64.exe\" \"%1\""},
        {L"\"%ProgramFiles%\\N\\Norrvane64.exe\" \"%1\"", false,
         L"\"C:\\Program Files (x86)\\N\\Norrvane64.exe\" \"%1\""},
        {L"%COMMONPROGRAMFILES%\\N.exe", true, L"C:\\Program Files\\Common Files\\N.exe"},
        {L"%programfiles%%CommonProgramFiles%", true, L"C:\\Program FilesC:\\Program Files\\Common Files"},
        {L"%ProgramFiles(x86)%\\N.exe", true, L"C:\\Program Files (x86)\\N.exe"},
        {L"%ProgramW6432%\\N.exe", false, L"C:\\Program Files\\N.exe"},
        {L"%ProgramFiles", true, L"%ProgramFiles"},
        {L"%ProgramFilesX%", true, L"%ProgramFilesX%"},
        // Every reference takes its closing sign with it, whether it names a
        // variable or not.
        {L"%NORRVANE_UNDEFINED%ProgramFiles%", true, L"%NORRVANE_UNDEFINED%ProgramFiles%"},
        {L"\"%1\" %ProgramFiles%", true, L"\"%1\" %ProgramFiles%"},
        {L"%NORRVANE_TEST_TOOLS%ProgramFiles%", true, L"C:\\ToolsProgramFiles%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.raw)) + (c.native ? " native" : ""));
        std::wstring raw = c.raw;
        wchar_t expanded[259];
        EXPECT_TRUE(ExpandCommand(&raw[0], expanded, ARRAYSIZE(expanded), c.native));
        EXPECT_EQ(std::wstring(c.expanded), expanded);
    }
    for (size_t i = 0; i < ARRAYSIZE(variables); ++i)
        SetEnvironmentVariableW(variables[i][0], saved[i].empty() ? nullptr : saved[i].c_str());
}

TEST(FileManagerText, LastBackslash)
{
    const wchar_t text[] = L"C:\\a\\b.exe";
    EXPECT_EQ(text + 4, FindLastBackslash(text));
    EXPECT_EQ(nullptr, FindLastBackslash(L"b.exe"));
    EXPECT_EQ(nullptr, FindLastBackslash(L""));
    const wchar_t trailing[] = L"\\\\";
    EXPECT_EQ(trailing + 1, FindLastBackslash(trailing));
}

// Markers for the default value of "Folder\shell".
const wchar_t kNoKey[] = L"<no key>";
const wchar_t kNoValue[] = L"<no value>";

struct Registry {
    const wchar_t* folderVerb;  // kNoKey, kNoValue or the value
    std::wstring folderCommand;  // empty: no key
    std::wstring directoryCommand;
    DWORD commandType;
};

struct Expected {
    std::wstring launcher;
    BOOL found;
    BOOL stockVerb;
    BOOL relativeCommand = FALSE;
};

void Arrange(const ScratchRegistry& scratch, const Registry& r)
{
    const HKEY root = scratch.classesRoot();
    if (r.folderVerb == kNoValue)
        CreatePath(root, L"Folder\\shell");
    else if (r.folderVerb != kNoKey)
        SetValue(root, L"Folder\\shell", nullptr, r.folderVerb);
    if (!r.folderCommand.empty())
        SetValue(root, L"Folder\\shell\\Norrvane\\command", nullptr, r.folderCommand, r.commandType);
    if (!r.directoryCommand.empty())
        SetValue(root, L"Directory\\shell\\Norrvane\\command", nullptr, r.directoryCommand, r.commandType);
}

// A command naming "C:\<padding>\Norrvane.exe" in exactly `length` characters.
std::wstring CommandOfLength(size_t length)
{
    const std::wstring name = L"\\Norrvane.exe";
    return L"C:\\" + std::wstring(length - 3 - name.size(), L'n') + name;
}

TEST(FindFileManager, ReadsTheFolderVerbAndItsCommands)
{
    const std::wstring quoted64 = L"\"C:\\Program Files\\Norrvane\\Norrvane64.exe\" \"%1\"";
    const std::wstring launcher64 = L"\"C:\\Program Files\\Norrvane\\Norrvane64.exe\"";
    const std::wstring directory = L"\"D:\\Norrvane\\Norrvane32.exe\" /dir \"%1\"";
    const std::wstring directoryLauncher = L"\"D:\\Norrvane\\Norrvane32.exe\"";
    const Expected explorer = {L"explorer.exe", FALSE, FALSE};
    const Expected stock = {L"explorer.exe", FALSE, TRUE};
    const Expected relative = {L"explorer.exe", FALSE, FALSE, TRUE};
    const std::wstring longest = CommandOfLength(258);
    const std::wstring longVerb(600, L'x');
    // Expands a quoted command to 258 characters, the most a value may hold.
    const std::wstring longestFolder = L"C:\\" + std::wstring(240, L'n');

    struct Case {
        const char* name;
        Registry registry;
        Expected expected;
    };
    const Case cases[] = {
        {"file manager with arguments", {L"Norrvane", quoted64, L"", REG_SZ}, {launcher64, TRUE, FALSE}},
        {"verb in capitals", {L"NORRVANE", quoted64, L"", REG_SZ}, {launcher64, TRUE, FALSE}},
        {"stock verb", {L"open", quoted64, L"", REG_SZ}, stock},
        {"stock verb in mixed case", {L"oPeN", quoted64, L"", REG_SZ}, stock},
        {"empty verb", {L"", quoted64, L"", REG_SZ}, stock},
        {"no verb value", {kNoValue, quoted64, L"", REG_SZ}, stock},
        {"no folder verb key", {kNoKey, L"", L"", REG_SZ}, explorer},
        {"another program's verb", {L"Viewer", quoted64, L"", REG_SZ}, explorer},
        {"verb that only starts like the file manager", {L"Norrvane2", quoted64, L"", REG_SZ}, explorer},
        {"no command keys", {L"Norrvane", L"", L"", REG_SZ}, explorer},
        {"bare executable name", {L"Norrvane", L"Norrvane.exe \"%1\"", L"", REG_SZ}, relative},
        {"unquoted path with a blank", {L"Norrvane", L"C:\\Program Files\\Norrvane\\Norrvane.exe %1", L"", REG_SZ},
         explorer},
        {"unquoted path without blanks", {L"Norrvane", L"C:\\Tools\\Norrvane.exe %1", L"", REG_SZ},
         {L"\"C:\\Tools\\Norrvane.exe\"", TRUE, FALSE}},
        {"missing closing quotation mark", {L"Norrvane", L"\"C:\\My Tools\\Norrvane64.exe", L"", REG_SZ},
         {L"\"C:\\My Tools\\Norrvane64.exe\"", TRUE, FALSE}},
        {"executable name in another case", {L"Norrvane", L"\"C:\\Tools\\nORRVANE.eXE\"", L"", REG_SZ},
         {L"\"C:\\Tools\\nORRVANE.eXE\"", TRUE, FALSE}},
        {"another executable", {L"Norrvane", L"\"C:\\Tools\\Viewer.exe\" \"%1\"", L"", REG_SZ}, explorer},
        {"folder and directory commands", {L"Norrvane", quoted64, directory, REG_SZ},
         {directoryLauncher, TRUE, FALSE}},
        {"directory command alone", {L"Norrvane", L"", directory, REG_SZ}, {directoryLauncher, TRUE, FALSE}},
        {"directory command rejected", {L"Norrvane", quoted64, L"Norrvane.exe", REG_SZ},
         {launcher64, TRUE, FALSE, TRUE}},
        {"directory command without the verb", {L"open", L"", directory, REG_SZ}, stock},
        {"expandable command", {L"Norrvane", L"\"%NORRVANE_TEST_TOOLS%\\Norrvane.exe\" \"%1\"", L"", REG_EXPAND_SZ},
         {L"\"C:\\Program Files\\Norrvane\\Norrvane.exe\"", TRUE, FALSE}},
        {"expandable command naming no variable", {L"Norrvane", L"C:\\Tools\\Norrvane.exe %1", L"", REG_EXPAND_SZ},
         {L"\"C:\\Tools\\Norrvane.exe\"", TRUE, FALSE}},
        {"expandable command of 258 characters once expanded",
         {L"Norrvane", L"\"%NORRVANE_TEST_LONGEST%\\Norrvane.exe\"", L"", REG_EXPAND_SZ},
         {L"\"" + longestFolder + L"\\Norrvane.exe\"", TRUE, FALSE}},
        {"expandable command of 259 characters once expanded",
         {L"Norrvane", L"\"%NORRVANE_TEST_LONG%\\Norrvane.exe\"", L"", REG_EXPAND_SZ}, explorer},
        {"variable in a plain text command", {L"Norrvane", L"\"%NORRVANE_TEST_TOOLS%\\Norrvane.exe\"", L"", REG_SZ},
         relative},
        {"relative command", {L"Norrvane", L"bin\\Norrvane.exe \"%1\"", L"", REG_SZ}, relative},
        {"command relative to the current drive", {L"Norrvane", L"\"\\Norrvane\\Norrvane.exe\"", L"", REG_SZ},
         relative},
        {"relative command of another verb", {L"Viewer", L"bin\\Norrvane.exe", L"", REG_SZ}, explorer},
        {"command on a share", {L"Norrvane", L"\"\\\\server\\tools\\Norrvane.exe\" %1", L"", REG_SZ},
         {L"\"\\\\server\\tools\\Norrvane.exe\"", TRUE, FALSE}},
        {"relative directory command behind an accepted one", {L"Norrvane", quoted64, L"..\\x\\Norrvane32.exe", REG_SZ},
         {launcher64, TRUE, FALSE, TRUE}},
        {"command of 258 characters", {L"Norrvane", longest, L"", REG_SZ}, {L"\"" + longest + L"\"", TRUE, FALSE}},
        {"command of 259 characters", {L"Norrvane", CommandOfLength(259), L"", REG_SZ}, explorer},
        {"command of 600 characters", {L"Norrvane", CommandOfLength(600), L"", REG_SZ}, explorer},
        {"verb of 600 characters reads as empty", {longVerb.c_str(), L"", L"", REG_SZ}, stock},
    };
    SetEnvironmentVariableW(L"NORRVANE_TEST_TOOLS", L"C:\\Program Files\\Norrvane");
    SetEnvironmentVariableW(L"NORRVANE_TEST_LONGEST", longestFolder.c_str());
    SetEnvironmentVariableW(L"NORRVANE_TEST_LONG", (longestFolder + L"n").c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchRegistry scratch;
        Arrange(scratch, c.registry);

        wchar_t launcher[LAUNCHER_CAPACITY];
        BOOL stockVerb = 2;
        BOOL relativeCommand = 2;
        EXPECT_EQ(c.expected.found, FindFileManager(launcher, &stockVerb, &relativeCommand));
        EXPECT_EQ(c.expected.launcher, launcher);
        EXPECT_EQ(c.expected.stockVerb, stockVerb);
        EXPECT_EQ(c.expected.relativeCommand, relativeCommand);
    }
    SetEnvironmentVariableW(L"NORRVANE_TEST_TOOLS", nullptr);
    SetEnvironmentVariableW(L"NORRVANE_TEST_LONGEST", nullptr);
    SetEnvironmentVariableW(L"NORRVANE_TEST_LONG", nullptr);
}

// A command written without its terminating zero that fills all the room
// offered: the read must stay inside the buffer and take it for empty.
TEST(FindFileManager, UnterminatedCommandFillingTheRoomReadsAsEmpty)
{
    ScratchRegistry scratch;
    SetValue(scratch.classesRoot(), L"Folder\\shell", nullptr, L"Norrvane");
    // A character stands behind the stored bytes, so that the registry cannot
    // find a terminator there and add it.
    const std::wstring command = CommandOfLength(259) + L"X";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(scratch.classesRoot(), L"Folder\\shell\\Norrvane\\command", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.data()),
                                            static_cast<DWORD>((command.size() - 1) * sizeof(wchar_t))));
    RegCloseKey(key);

    wchar_t launcher[LAUNCHER_CAPACITY];
    BOOL stockVerb = 2;
    BOOL relativeCommand = 2;
    EXPECT_FALSE(FindFileManager(launcher, &stockVerb, &relativeCommand));
    EXPECT_EQ(std::wstring(L"explorer.exe"), launcher);
    EXPECT_FALSE(stockVerb);
    EXPECT_FALSE(relativeCommand);
}

}  // namespace
