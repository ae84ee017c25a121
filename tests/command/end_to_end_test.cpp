// The whole road of one right-click on a shortcut and the pick of the item,
// with the real shell, real shortcut files and the registry of this Wine
// prefix: the handler starts the stand-in file manager beside this program or
// the stand-in put in place of the system's explorer.exe, and they record
// which copy was started and the command line it was given. Copies planted
// where a search for the program would look first must never run.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/module_identity.h"
#include "base/test_seams.h"
#include "module/module.h"
#include "shellns/folder_binding.h"
#include "shellns/id_list.h"
#include "support/counting_malloc.h"
#include "support/handler_objects.h"
#include "support/scratch_registry.h"
#include "support/shell_items.h"
#include "support/user_texts.h"

namespace {

const wchar_t kHandlerKey[] = L"lnkfile\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu";
const wchar_t kStockHandler[] = L"{37ea3a21-7493-4208-a011-7f9ea79ce9f5}";

// The folder of this program, where the build put the stand-ins, the host
// and the DLL.
std::wstring ProgramsFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

std::wstring ShortPathOf(const std::wstring& path)
{
    wchar_t shortPath[MAX_PATH];
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(shortPath, length) : path;
}

std::wstring Wide(const std::string& utf8)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], length);
    return text;
}

std::string ReadAll(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

std::vector<std::wstring> Lines(const std::string& utf8)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = utf8.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = utf8.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(Wide(line));
    }
    return lines;
}

// Whether two paths name the same file, however each is spelt.
bool SameFile(const std::wstring& a, const std::wstring& b)
{
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::wstring* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file = CreateFileW(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const BOOL read = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!read) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// One start of a stand-in: which copy ran, its command line, and whether it
// received the inheritable handle this process holds on the record.
struct Started {
    std::wstring program;
    std::wstring commandLine;
    std::wstring handle;  // "inherited" or "not inherited"
};

// The file the stand-ins append their starts to, named to them (and to every
// program started from here) through NORRVANE_RECORD. This process holds an
// inheritable handle on it, whose value NORRVANE_RECORD_HANDLE names: no
// program the handler starts may receive it, whoever started the handler.
class StartRecord {
public:
    StartRecord() : path_(folder_.file(L"record.txt"))
    {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        handle_ = CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, handle_) << GetLastError();
        SetEnvironmentVariableW(L"NORRVANE_RECORD", path_.c_str());
        SetEnvironmentVariableW(L"NORRVANE_RECORD_HANDLE",
                                std::to_wstring(reinterpret_cast<ULONG_PTR>(handle_)).c_str());
    }
    ~StartRecord()
    {
        for (const Started& start : WaitFor(0, 0))
            EXPECT_EQ(L"not inherited", start.handle) << testing::PrintToString(start.commandLine);
        SetEnvironmentVariableW(L"NORRVANE_RECORD", nullptr);
        SetEnvironmentVariableW(L"NORRVANE_RECORD_HANDLE", nullptr);
        CloseHandle(handle_);
    }

    // The starts recorded so far, once there are `count` of them or the wait
    // of `milliseconds` has run out.
    std::vector<Started> WaitFor(size_t count, int milliseconds = 30000) const
    {
        std::vector<Started> starts;
        for (int waited = 0;; waited += 100) {
            starts.clear();
            for (const std::wstring& line : Lines(ReadAll(path_))) {
                const size_t tab = line.find(L'\t');
                const std::wstring rest = tab == std::wstring::npos ? L"" : line.substr(tab + 1);
                const size_t last = rest.rfind(L'\t');
                starts.push_back({line.substr(0, tab), rest.substr(0, last),
                                  last == std::wstring::npos ? L"" : rest.substr(last + 1)});
            }
            if (starts.size() >= count || waited >= milliseconds) return starts;
            Sleep(100);
        }
    }
    // The command lines of the starts, once there are `count` of them.
    std::vector<std::wstring> CommandLines(size_t count) const
    {
        std::vector<std::wstring> lines;
        for (const Started& start : WaitFor(count)) lines.push_back(start.commandLine);
        return lines;
    }

private:
    TempFolder folder_;
    std::wstring path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The stand-in in place of explorer.exe in the Windows folder of this
// program's own prefix, for the life of the object; then the system's copy,
// kept aside meanwhile, goes back.
class ExplorerStandIn {
public:
    explicit ExplorerStandIn(const std::wstring& standIn)
    {
        wchar_t folder[MAX_PATH];
        GetSystemWindowsDirectoryW(folder, MAX_PATH);
        path_ = std::wstring(folder) + L"\\explorer.exe";
        EXPECT_TRUE(CopyFileW(path_.c_str(), saved_.file(L"explorer.exe").c_str(), FALSE)) << GetLastError();
        EXPECT_TRUE(CopyFileW(standIn.c_str(), path_.c_str(), FALSE)) << GetLastError();
    }
    ~ExplorerStandIn() { EXPECT_TRUE(CopyFileW(saved_.file(L"explorer.exe").c_str(), path_.c_str(), FALSE)); }
    const std::wstring& path() const { return path_; }

private:
    TempFolder saved_;
    std::wstring path_;
};

// A current folder of the test's choosing while in scope, as a file dialog
// leaves the folder the user last looked at.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder)
    {
        wchar_t saved[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, saved);
        saved_ = saved;
        EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    }
    ~CurrentFolder() { SetCurrentDirectoryW(saved_.c_str()); }

private:
    std::wstring saved_;
};

// Copies of a stand-in put where they could be found by mistake; they are
// removed with their folders at scope end.
class Planted {
public:
    void Add(const std::wstring& standIn, const std::wstring& path)
    {
        const std::wstring folder = path.substr(0, path.rfind(L'\\'));
        if (CreateDirectoryW(folder.c_str(), nullptr)) folders_.push_back(folder);
        EXPECT_TRUE(CopyFileW(standIn.c_str(), path.c_str(), FALSE)) << GetLastError();
        files_.push_back(path);
    }
    ~Planted()
    {
        for (const std::wstring& file : files_) DeleteFileW(file.c_str());
        for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) RemoveDirectoryW(folder->c_str());
    }

private:
    std::vector<std::wstring> files_;
    std::vector<std::wstring> folders_;
};

// Sets the default value of HKEY_CLASSES_ROOT\`path`, creating the key.
void SetDefault(const wchar_t* path, const std::wstring& text) { SetValue(HKEY_CLASSES_ROOT, path, nullptr, text); }

// The folder verbs of this prefix's registry, for one test: the default
// verb of folders is put back as it was and the verbs the test adds are
// removed.
class FolderVerbs {
public:
    FolderVerbs() : saved_(ReadValue(HKEY_CLASSES_ROOT, L"Folder\\shell", nullptr))
    {
        RemoveAdded();
    }
    ~FolderVerbs()
    {
        RemoveAdded();
        if (saved_.present)
            SetDefault(L"Folder\\shell", saved_.text);
        else
            RegDeleteKeyValueW(HKEY_CLASSES_ROOT, L"Folder\\shell", nullptr);
    }

    void UseFileManager(const std::wstring& executable) { UseFileManagerCommand(L"\"" + executable + L"\" \"%1\""); }
    void UseFileManagerCommand(const std::wstring& command, DWORD type = REG_SZ)
    {
        SetDefault(L"Folder\\shell", L"Norrvane");
        SetValue(HKEY_CLASSES_ROOT, L"Folder\\shell\\Norrvane\\command", nullptr, command, type);
    }
    void UseStockVerb() { SetDefault(L"Folder\\shell", L"open"); }
    void UseOtherProgram(const std::wstring& command)
    {
        SetDefault(L"Folder\\shell", L"Viewer");
        SetDefault(L"Folder\\shell\\Viewer\\command", command);
    }

private:
    static void RemoveAdded()
    {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Folder\\shell\\Norrvane");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Folder\\shell\\Viewer");
    }
    ValueRead saved_;
};

// The handler key of shortcut files as Windows has it, naming the system's
// own handler, for the registration to switch; removed afterwards when this
// prefix did not have it.
class StockHandlerKey {
public:
    StockHandlerKey()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kHandlerKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return;
        }
        created_ = true;
        SetDefault(kHandlerKey, kStockHandler);
    }
    ~StockHandlerKey()
    {
        if (created_) RegDeleteTreeW(HKEY_CLASSES_ROOT, kHandlerKey);
    }

private:
    bool created_ = false;
};

struct ProgramRun {
    DWORD exitCode = STILL_ACTIVE;
    std::vector<std::wstring> output;
};

// Starts `commandLine`, waits for it to end and gives its exit code and the
// lines it wrote to standard output.
ProgramRun RunProgram(std::wstring commandLine)
{
    ProgramRun run;
    TempFolder folder;
    const std::wstring outputPath = folder.file(L"output.txt");
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, output);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(output);
    EXPECT_TRUE(started) << GetLastError();
    if (!started) return run;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    run.output = Lines(ReadAll(outputPath));
    return run;
}

struct RightClick {
    std::wstring menuText;  // empty: nothing inserted
    HRESULT invoked = E_UNEXPECTED;
};

// Right-clicks `item` with the handler created in this process and picks the
// item when there is one; checks that every list and reference it took was
// given back.
RightClick RightClickAndPick(const std::wstring& item)
{
    RightClick result;
    ScopedCountingAllocator allocator;
    IDataObject* data = ShellDataObjectFor(item);
    EXPECT_NE(nullptr, data);
    if (!data) return result;
    const ULONG references = ReferencesOf(data);
    IContextMenu* handler = NewHandler();
    IShellExtInit* init = nullptr;
    handler->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init));
    init->Initialize(nullptr, data, nullptr);
    init->Release();

    HMENU menu = CreatePopupMenu();
    if (handler->QueryContextMenu(menu, 0, 1, 100, CMF_NORMAL) == 1) {
        wchar_t text[128] = L"";
        GetMenuStringW(menu, 0, text, 128, MF_BYPOSITION);
        result.menuText = text;
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof info;
        info.lpVerb = MAKEINTRESOURCEA(GetMenuItemID(menu, 0) - 1);
        info.nShow = SW_SHOWNORMAL;
        result.invoked = handler->InvokeCommand(&info);
        // The largest block is the path buffer: the longest path, in characters.
        EXPECT_EQ(LONGEST_PATH * sizeof(wchar_t), allocator.malloc.largest);
    }
    DestroyMenu(menu);
    handler->Release();
    EXPECT_EQ(references, ReferencesOf(data));
    data->Release();
    EXPECT_EQ(0, allocator.malloc.outstanding());
    EXPECT_EQ(0, ModuleObjectCount());
    return result;
}

struct CommandPick {
    EXPCMDSTATE state = ECS_DISABLED;
    std::wstring title;
    HRESULT invoked = E_UNEXPECTED;
};

// Asks the command created in this process, as the newer menu asks it, for
// its state and title for the item array the shell makes from its data
// object for `items`, and picks it; checks that every list and reference it
// took was given back.
CommandPick PickCommand(const std::vector<std::wstring>& items)
{
    CommandPick result;
    ScopedCountingAllocator allocator;
    IShellItemArray* array = ShellItemArrayFor(items, ArraySource::DataObject);
    EXPECT_NE(nullptr, array);
    if (!array) return result;
    const ULONG references = ReferencesOf(array);
    IExplorerCommand* command = NewCommand();
    EXPECT_EQ(S_OK, command->GetState(array, FALSE, &result.state));
    LPWSTR title = nullptr;
    EXPECT_EQ(S_OK, command->GetTitle(array, &title));
    if (title) result.title = title;
    CoTaskMemFree(title);
    result.invoked = command->Invoke(array, nullptr);
    command->Release();
    EXPECT_EQ(references, ReferencesOf(array));
    array->Release();
    EXPECT_EQ(0, allocator.malloc.outstanding());
    EXPECT_EQ(0, ModuleObjectCount());
    return result;
}

// Shortcuts of every kind the user meets, side by side.
class Shortcuts {
public:
    Shortcuts()
    {
        WriteFile(folder_.file(L"Report, final.txt"), "report");
        WriteFile(folder_.file(L"gone.txt"), "gone");
        CreateDirectoryW(folder_.file(L"Docs").c_str(), nullptr);
        MakeShortcut(folder_.file(L"to file.lnk"), folder_.file(L"Report, final.txt"));
        MakeShortcut(folder_.file(L"to folder.lnk"), folder_.file(L"Docs"));
        MakeShortcut(folder_.file(L"to gone.lnk"), folder_.file(L"gone.txt"));
        DeleteFileW(folder_.file(L"gone.txt").c_str());
        ITEMIDLIST* computer = nullptr;
        if (SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer) == S_OK) {
            MakeShortcutToIdList(folder_.file(L"to computer.lnk"), computer);
            computerHex_ = HexOf(computer);
            CoTaskMemFree(computer);
        }
        // A file of a long name in a deep folder, more than MAX_PATH in all.
        longTarget_ = folder_.path();
        for (wchar_t letter = L'a'; longTarget_.size() < 180; ++letter) {
            longTarget_ += L"\\" + std::wstring(30, letter);
            CreateDirectoryW(longTarget_.c_str(), nullptr);
        }
        const std::wstring deepFolder = longTarget_;
        longTarget_ += L"\\" + std::wstring(120, L'n') + L".txt";
        WriteFile(longTarget_, "long");
        // Wine's shell parses no path this long; it still makes a list of one.
        ITEMIDLIST* longList = SHSimpleIDListFromPath(longTarget_.c_str());
        EXPECT_NE(nullptr, longList);
        if (longList) MakeShortcutToIdList(folder_.file(L"to long.lnk"), longList);
        CoTaskMemFree(longList);
        // The longest path that fits MAX_PATH with its terminator.
        longestTarget_ = deepFolder + L"\\" + std::wstring(MAX_PATH - 1 - deepFolder.size() - 5, L'm') + L".txt";
        WriteFile(longestTarget_, "longest");
        MakeShortcut(folder_.file(L"to longest.lnk"), longestTarget_);
        linkKind_ = MakeSymbolicLink(folder_.file(L"DocsLink"), folder_.file(L"Docs"), true);
    }

    std::wstring file(const std::wstring& name) const { return folder_.file(name); }
    const std::wstring& path() const { return folder_.path(); }
    // The hexadecimal text of the list of "My Computer".
    const std::wstring& computerHex() const { return computerHex_; }
    // The paths of the targets of "to long.lnk", longer than MAX_PATH, and of
    // "to longest.lnk", MAX_PATH - 1 characters.
    const std::wstring& longTarget() const { return longTarget_; }
    const std::wstring& longestTarget() const { return longestTarget_; }
    // How "DocsLink", a symbolic link to "Docs", was made.
    LinkKind linkKind() const { return linkKind_; }

private:
    static std::wstring HexOf(const ITEMIDLIST* list)
    {
        std::wstring text(2 * IdListSize(list) + 1, L'\0');
        IdListToHex(list, &text[0], static_cast<int>(text.size()));
        text.pop_back();
        return text;
    }

    TempFolder folder_;
    std::wstring computerHex_;
    std::wstring longTarget_;
    std::wstring longestTarget_;
    LinkKind linkKind_ = LinkKind::None;
};

// The file system's answer on symbolic links, where it shows none of them.
bool SaysLink(const wchar_t*) { return true; }

class EndToEnd : public ::testing::Test {
protected:
    ComApartment apartment_;
    StartRecord record_;
    FolderVerbs verbs_;
    Shortcuts shortcuts_;
    const std::wstring programs_ = ProgramsFolder();
    // The build put a stand-in explorer.exe beside this program too, where a
    // search for the bare name would find it first.
    ExplorerStandIn explorer_{programs_ + L"\\explorer.exe"};
};

TEST_F(EndToEnd, FileManagerSelectsTheTarget)
{
    const std::wstring fileManager = programs_ + L"\\Norrvane.exe";
    const std::wstring selectDocs = L"\"" + fileManager + L"\" /select," + shortcuts_.file(L"Docs");
    verbs_.UseFileManager(fileManager);

    const UserTexts& texts = TextsIn(DisplayLanguage());
    struct Case {
        const wchar_t* item;
        const wchar_t* menuText;
        std::wstring commandLine;
        bool (*linkCheck)(const wchar_t*) = nullptr;
    };
    std::vector<Case> cases = {
        {L"to file.lnk", texts.fileMenu,
         L"\"" + fileManager + L"\" /select," + shortcuts_.file(L"Report, final.txt")},
        {L"to folder.lnk", texts.folderMenu, selectDocs},
        {L"to computer.lnk", texts.folderMenu, L"\"" + fileManager + L"\":*" + shortcuts_.computerHex()},
        // The shells differ on whether a deleted target was a folder.
        {L"to gone.lnk", nullptr, L"\"" + fileManager + L"\" /select," + shortcuts_.file(L"gone.txt")},
        // Anything else is shown itself, in its own folder.
        {L"Report, final.txt", texts.fileMenu,
         L"\"" + fileManager + L"\" /select," + shortcuts_.file(L"Report, final.txt")},
        {L"Docs", texts.folderMenu, selectDocs},
    };
    // A symbolic link shows its target. Wine presents a Unix link as a plain
    // folder: unaided, it is shown itself, never by its final path.
    if (shortcuts_.linkKind() != LinkKind::None) {
        cases.push_back({L"DocsLink", texts.folderMenu, selectDocs, SaysLink});
        cases.push_back({L"DocsLink", texts.folderMenu,
                         shortcuts_.linkKind() == LinkKind::Unix
                             ? L"\"" + fileManager + L"\" /select," + shortcuts_.file(L"DocsLink")
                             : selectDocs});
    } else {
        ADD_FAILURE() << "no symbolic link could be made here";
    }
    size_t started = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(c.item))
                                        << (c.linkCheck ? ", taken for a link" : ""));
        SetSymbolicLinkCheckForTests(c.linkCheck);
        const RightClick click = RightClickAndPick(shortcuts_.file(c.item));
        SetSymbolicLinkCheckForTests(nullptr);
        if (c.menuText) EXPECT_EQ(c.menuText, click.menuText);
        EXPECT_EQ(S_OK, click.invoked);
        const std::vector<Started> starts = record_.WaitFor(++started);
        ASSERT_EQ(started, starts.size());
        EXPECT_TRUE(SameFile(fileManager, starts.back().program)) << starts.back().program;
        EXPECT_EQ(c.commandLine, starts.back().commandLine);
    }
    EXPECT_EQ(L"0000", shortcuts_.computerHex().substr(shortcuts_.computerHex().size() - 4));
}

// A path of MAX_PATH - 1 characters or more goes to the file manager whole,
// or, where the shell cannot give it whole, the target goes as its list.
TEST_F(EndToEnd, LongTargetPathIsNeverCutShort)
{
    const std::wstring fileManager = programs_ + L"\\Norrvane.exe";
    verbs_.UseFileManager(fileManager);
    const std::wstring launcher = L"\"" + fileManager + L"\"";
    const std::wstring hexStart = launcher + L":*";
    ASSERT_EQ(static_cast<size_t>(MAX_PATH - 1), shortcuts_.longestTarget().size());
    ASSERT_GT(shortcuts_.longTarget().size(), static_cast<size_t>(MAX_PATH));

    struct Case {
        const wchar_t* shortcut;
        std::wstring target;
        bool mayGoAsList;  // the shell may not give this path whole
    };
    const Case cases[] = {
        {L"to longest.lnk", shortcuts_.longestTarget(), false},
        {L"to long.lnk", shortcuts_.longTarget(), true},
    };
    size_t started = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.shortcut)));
        EXPECT_EQ(S_OK, RightClickAndPick(shortcuts_.file(c.shortcut)).invoked);
        const std::vector<Started> starts = record_.WaitFor(++started);
        ASSERT_EQ(started, starts.size());
        const std::wstring& line = starts.back().commandLine;
        const bool whole = line == launcher + L" /select," + c.target;
        const bool asList = line.compare(0, hexStart.size(), hexStart) == 0 && line.size() > hexStart.size() + 4 &&
                            line.compare(line.size() - 4, 4, L"0000") == 0;
        EXPECT_TRUE(whole || (c.mayGoAsList && asList)) << testing::PrintToString(line);
    }
}

TEST_F(EndToEnd, StockVerbStartsExplorerFromTheWindowsFolder)
{
    verbs_.UseStockVerb();
    // Another copy where a search would look next: the current folder.
    TempFolder browsed;
    Planted planted;
    planted.Add(programs_ + L"\\explorer.exe", browsed.file(L"explorer.exe"));
    CurrentFolder current(browsed.path());

    EXPECT_EQ(S_OK, RightClickAndPick(shortcuts_.file(L"to file.lnk")).invoked);
    const std::vector<Started> starts = record_.WaitFor(1);
    ASSERT_EQ(1u, starts.size());
    EXPECT_TRUE(SameFile(explorer_.path(), starts[0].program)) << starts[0].program;
    EXPECT_EQ(L"explorer.exe /n,/e,/select,\"" + shortcuts_.file(L"Report, final.txt") + L"\"", starts[0].commandLine);
}

// Commands that would be resolved against the host's current folder or drive
// start nothing that was planted there; an expandable command starts the file
// manager at its expanded path, with %ProgramFiles% read as Explorer reads it:
// the native program folder, also in a 32-bit host on 64-bit Windows.
TEST_F(EndToEnd, FileManagerStartsOnlyFromTheFullPathItsCommandNames)
{
    const std::wstring standIn = programs_ + L"\\Norrvane.exe";
    TempFolder scratch;
    const std::wstring browsed = scratch.file(L"browsed");
    CreateDirectoryW(browsed.c_str(), nullptr);
    const std::wstring unique = L"norrvane-planted-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring rootFolder = browsed.substr(0, 3) + unique;
    wchar_t nativePrograms[MAX_PATH] = L"";
    if (!GetEnvironmentVariableW(L"ProgramW6432", nativePrograms, MAX_PATH))
        GetEnvironmentVariableW(L"ProgramFiles", nativePrograms, MAX_PATH);
    const std::wstring inNativePrograms = std::wstring(nativePrograms) + L"\\" + unique + L"\\Norrvane64.exe";
    Planted planted;
    planted.Add(standIn, browsed + L"\\bin\\Norrvane.exe");
    planted.Add(standIn, scratch.file(L"x\\Norrvane.exe"));
    planted.Add(standIn, rootFolder + L"\\Norrvane.exe");
    planted.Add(standIn, inNativePrograms);
    CurrentFolder current(browsed);
    SetEnvironmentVariableW(L"NORRVANE_TEST_PROGRAMS", programs_.c_str());

    struct Case {
        std::wstring command;
        DWORD type;
        std::wstring starts;  // empty: nothing may start
    };
    const Case cases[] = {
        {L"bin\\Norrvane.exe \"%1\"", REG_SZ, L""},
        {L"\"..\\x\\Norrvane.exe\" \"%1\"", REG_SZ, L""},
        {L"\"" + rootFolder.substr(2) + L"\\Norrvane.exe\" \"%1\"", REG_SZ, L""},
        {L"\"%NORRVANE_TEST_PROGRAMS%\\Norrvane.exe\" \"%1\"", REG_EXPAND_SZ, standIn},
        {L"\"%ProgramFiles%\\" + unique + L"\\Norrvane64.exe\" \"%1\"", REG_EXPAND_SZ, inNativePrograms},
    };
    std::vector<std::wstring> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.command));
        verbs_.UseFileManagerCommand(c.command, c.type);
        EXPECT_EQ(c.starts.empty() ? E_FAIL : S_OK, RightClickAndPick(shortcuts_.file(L"to file.lnk")).invoked);
        if (!c.starts.empty()) expected.push_back(c.starts);
    }
    // Give a planted copy time to show.
    record_.WaitFor(expected.size());
    std::vector<Started> starts = record_.WaitFor(expected.size() + 1, 2000);
    SetEnvironmentVariableW(L"NORRVANE_TEST_PROGRAMS", nullptr);
    ASSERT_EQ(expected.size(), starts.size());
    // Programs started one after the other may record in either order.
    const std::wstring selected = L"\" /select," + shortcuts_.file(L"Report, final.txt");
    std::sort(expected.begin(), expected.end());
    std::sort(starts.begin(), starts.end(),
              [](const Started& a, const Started& b) { return a.commandLine < b.commandLine; });
    for (size_t i = 0; i < starts.size(); ++i) {
        EXPECT_TRUE(SameFile(expected[i], starts[i].program)) << starts[i].program;
        EXPECT_EQ(L"\"" + expected[i] + selected, starts[i].commandLine);
    }
}

TEST_F(EndToEnd, AnotherProgramsVerbOpensTheParentFolder)
{
    // The shell of this prefix takes the whole expanded verb command for the
    // program's name, so the verb names its program alone, by a short path
    // without blanks; the program then receives no argument. A target directly
    // under the desktop has no parent part: the desktop is opened.
    const std::wstring viewer = ShortPathOf(programs_ + L"\\Norrvane32.exe");
    verbs_.UseOtherProgram(viewer);

    for (const wchar_t* shortcut : {L"to file.lnk", L"to computer.lnk"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(shortcut)));
        EXPECT_EQ(S_OK, RightClickAndPick(shortcuts_.file(shortcut)).invoked);
    }
    const std::vector<std::wstring> expected = {L"\"" + viewer + L"\"", L"\"" + viewer + L"\""};
    EXPECT_EQ(expected, record_.CommandLines(2));
}

// The host finds the handler as the shell would, through the registration
// that regsvr32 made, and loads the DLL itself.
TEST_F(EndToEnd, HostRightClicksThroughTheRegisteredDll)
{
    StockHandlerKey stockHandler;
    const std::wstring dll = L"\"" + programs_ + L"\\NorrvaneShLnk.dll\"";
    verbs_.UseStockVerb();
    const std::wstring host = L"\"" + programs_ + L"\\right_click_host.exe\" \"" + shortcuts_.file(L"to file.lnk") + L"\"";
    const std::wstring fileManager = programs_ + L"\\Norrvane.exe";
    const std::wstring target = shortcuts_.file(L"Report, final.txt");
    ASSERT_EQ(0u, RunProgram(L"regsvr32.exe /s " + dll).exitCode);

    verbs_.UseFileManager(fileManager);
    const ProgramRun withFileManager = RunProgram(host + L" --invoke");
    record_.WaitFor(1);  // the file manager's line first
    verbs_.UseStockVerb();
    const ProgramRun withExplorer = RunProgram(host + L" --invoke");
    EXPECT_EQ(0u, RunProgram(L"regsvr32.exe /s /u " + dll).exitCode);
    const ProgramRun afterRemoval = RunProgram(host);

    // The menu in the display language, the verb the same in every one.
    const std::vector<std::wstring> picked = {
        std::wstring(L"handler: ") + HANDLER_CLSID_TEXT,
        L"QueryContextMenu: 0x00000001",
        std::wstring(L"menu: position 0, id 1, \"") + TextsIn(DisplayLanguage()).fileMenu + L"\"",
        L"verb: \u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F",
        L"InvokeCommand: 0x00000000",
    };
    EXPECT_EQ(0u, withFileManager.exitCode);
    EXPECT_EQ(picked, withFileManager.output);
    EXPECT_EQ(picked, withExplorer.output);
    ASSERT_FALSE(afterRemoval.output.empty());
    EXPECT_EQ(std::wstring(L"handler: ") + kStockHandler, afterRemoval.output[0]);

    const std::vector<std::wstring> expected = {
        L"\"" + fileManager + L"\" /select," + target,
        L"explorer.exe /n,/e,/select,\"" + target + L"\"",
    };
    EXPECT_EQ(expected, record_.CommandLines(2));
}

// The newer menu's command starts what the menu item starts, with the same
// command lines, and nothing where it is hidden; the host drives it through
// the DLL file and the CLSID alone, as a package names them.
TEST_F(EndToEnd, CommandStartsWhatTheMenuItemStarts)
{
    const std::wstring fileManager = programs_ + L"\\Norrvane.exe";
    const std::wstring target = shortcuts_.file(L"Report, final.txt");
    const std::wstring explorerLine = L"explorer.exe /n,/e,/select,\"" + target + L"\"";
    const UserTexts& texts = TextsIn(DisplayLanguage());
    struct Case {
        const char* name;
        bool stockVerb;
        std::vector<std::wstring> items;
        const wchar_t* title;
        std::wstring program;  // empty: hidden, and nothing started
        std::wstring commandLine;
    };
    const Case cases[] = {
        {"file, file manager", false, {L"to file.lnk"}, texts.fileTitle, fileManager,
         L"\"" + fileManager + L"\" /select," + target},
        {"folder, file manager", false, {L"to folder.lnk"}, texts.folderTitle, fileManager,
         L"\"" + fileManager + L"\" /select," + shortcuts_.file(L"Docs")},
        {"My Computer, file manager", false, {L"to computer.lnk"}, texts.folderTitle, fileManager,
         L"\"" + fileManager + L"\":*" + shortcuts_.computerHex()},
        {"file, stock verb", true, {L"to file.lnk"}, texts.fileTitle, explorer_.path(), explorerLine},
        {"plain file", true, {L"Report, final.txt"}, texts.fileTitle, L"", L""},
        {"two shortcuts", true, {L"to file.lnk", L"to folder.lnk"}, texts.fileTitle, L"", L""},
    };
    size_t started = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stockVerb)
            verbs_.UseStockVerb();
        else
            verbs_.UseFileManager(fileManager);
        std::vector<std::wstring> items;
        for (const std::wstring& item : c.items) items.push_back(shortcuts_.file(item));
        const CommandPick pick = PickCommand(items);
        EXPECT_EQ(c.program.empty() ? DWORD(ECS_HIDDEN) : DWORD(ECS_ENABLED), pick.state);
        EXPECT_EQ(c.title, pick.title);
        EXPECT_EQ(c.program.empty() ? E_FAIL : S_OK, pick.invoked);
        if (c.program.empty()) continue;
        const std::vector<Started> starts = record_.WaitFor(++started);
        ASSERT_EQ(started, starts.size());
        EXPECT_TRUE(SameFile(c.program, starts.back().program)) << starts.back().program;
        EXPECT_EQ(c.commandLine, starts.back().commandLine);
    }

    verbs_.UseStockVerb();
    const std::wstring host = L"\"" + programs_ + L"\\right_click_host.exe\" --explorer-command \"" + programs_ +
                              L"\\NorrvaneShLnk.dll\" ";
    const std::wstring shortcut = L" \"" + shortcuts_.file(L"to file.lnk") + L"\"";
    const ProgramRun picked = RunProgram(host + COMMAND_CLSID_TEXT + shortcut + L" --invoke");
    const ProgramRun plainFile = RunProgram(host + COMMAND_CLSID_TEXT + L" \"" + target + L"\"");
    const ProgramRun handlerClass = RunProgram(host + HANDLER_CLSID_TEXT + shortcut);
    const std::wstring titleLine = std::wstring(L"title: ") + texts.fileTitle;
    EXPECT_EQ(0u, picked.exitCode);
    EXPECT_EQ((std::vector<std::wstring>{L"state: ECS_ENABLED", titleLine, L"Invoke: 0x00000000"}), picked.output);
    EXPECT_EQ(0u, plainFile.exitCode);
    EXPECT_EQ((std::vector<std::wstring>{L"state: ECS_HIDDEN", titleLine}), plainFile.output);
    EXPECT_NE(0u, handlerClass.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{L"CreateInstance: 0x80004002"}, handlerClass.output);

    // The host's pick is the only start after the table's; give a stray one time to show.
    const std::vector<Started> starts = record_.WaitFor(started + 2, 2000);
    ASSERT_EQ(started + 1, starts.size());
    EXPECT_TRUE(SameFile(explorer_.path(), starts.back().program)) << starts.back().program;
    EXPECT_EQ(explorerLine, starts.back().commandLine);
}

}  // namespace
