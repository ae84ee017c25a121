#include "command/invocation.h"

#include <shellapi.h>

#include "command/file_manager.h"
#include "command/selection.h"
#include "shellns/folder_binding.h"
#include "shellns/holders.h"
#include "shellns/id_list.h"
#include "shellns/item_location.h"

namespace {

// The longest command line, terminator included.
const int kCommandLineLimit = COMMAND_LINE_CAPACITY - 1;

// Appends `addition` when the whole text, terminator included, still fits in
// `limit` characters.
bool Append(wchar_t* text, int limit, const wchar_t* addition)
{
    const int length = lstrlenW(text);
    const int added = lstrlenW(addition);
    if (length + added + 1 > limit) return false;
    lstrcpyW(text + length, addition);
    return true;
}

// The file manager's executable: its launcher text without the quotation
// marks around it.
bool ExecutableOfLauncher(const wchar_t* launcher, wchar_t* application)
{
    const int length = lstrlenW(launcher);
    if (length < 3 || launcher[0] != L'"' || launcher[length - 1] != L'"' || length - 1 > APPLICATION_CAPACITY)
        return false;
    lstrcpynW(application, launcher + 1, length - 1);
    return true;
}

// explorer.exe in the system's Windows folder, never one that a search for
// the bare name would find first.
bool ExplorerInWindowsFolder(const wchar_t* windowsFolder, wchar_t* application)
{
    const int length = lstrlenW(windowsFolder);
    if (length == 0) return false;
    const wchar_t* name = windowsFolder[length - 1] == L'\\' ? L"explorer.exe" : L"\\explorer.exe";
    application[0] = L'\0';
    return Append(application, APPLICATION_CAPACITY, windowsFolder) && Append(application, APPLICATION_CAPACITY, name);
}

// The file manager selects the target given behind " /select,"; a target
// without a file system path goes to it as the hexadecimal text of its list
// behind ":*".
LaunchAction ComposeFileManagerLine(const LaunchFacts& facts, wchar_t* commandLine)
{
    if (facts.path[0] != L'\0')
        return Append(commandLine, kCommandLineLimit, L" /select,") &&
                       Append(commandLine, kCommandLineLimit, facts.path)
                   ? LaunchAction::StartProcess
                   : LaunchAction::OpenParentFolder;
    if (!Append(commandLine, kCommandLineLimit, L":*")) return LaunchAction::OpenParentFolder;
    // The text goes in whole or not at all, into whatever room is left.
    const int length = lstrlenW(commandLine);
    if (!IdListToHex(facts.target, commandLine + length, kCommandLineLimit - length))
        return LaunchAction::OpenParentFolder;
    return LaunchAction::StartProcess;
}

// explorer.exe splits its arguments at commas, so the path goes in quotation
// marks.
LaunchAction ComposeExplorerLine(const LaunchFacts& facts, wchar_t* commandLine)
{
    return Append(commandLine, kCommandLineLimit, L" /n,/e,/select,\"") &&
                   Append(commandLine, kCommandLineLimit, facts.path) && Append(commandLine, kCommandLineLimit, L"\"")
               ? LaunchAction::StartProcess
               : LaunchAction::OpenParentFolder;
}

bool StartProgram(const wchar_t* application, wchar_t* commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // The program is not waited for.
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// The shell's default verb on the folder that holds the target. A target
// directly under the desktop has no parent part and goes without a list; a
// parent part that could not be copied must not pass for that.
bool OpenParentFolder(const ITEMIDLIST* target, HWND window)
{
    SplitIdList split(target);
    if (!split.complete()) return false;
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_INVOKEIDLIST;
    execute.hwnd = window;
    execute.nShow = SW_SHOWNORMAL;
    execute.lpIDList = const_cast<ITEMIDLIST*>(split.parent());
    return ShellExecuteExW(&execute) != FALSE;
}

}  // namespace

LaunchAction DecideLaunch(const LaunchFacts& facts, wchar_t* application, wchar_t* commandLine)
{
    if (!facts.target) return LaunchAction::Nothing;
    application[0] = L'\0';
    commandLine[0] = L'\0';
    if (!Append(commandLine, kCommandLineLimit, facts.launcher)) return LaunchAction::OpenParentFolder;
    if (facts.fileManagerFound)
        return ExecutableOfLauncher(facts.launcher, application) ? ComposeFileManagerLine(facts, commandLine)
                                                                 : LaunchAction::OpenParentFolder;
    // The shell's default verb would run the very command refused for being
    // looked up from the host's current folder.
    if (facts.relativeCommand) return LaunchAction::Nothing;
    if (facts.path[0] != L'\0' && facts.stockVerb)
        return ExplorerInWindowsFolder(facts.windowsFolder, application) ? ComposeExplorerLine(facts, commandLine)
                                                                         : LaunchAction::OpenParentFolder;
    return LaunchAction::OpenParentFolder;
}

LaunchAction PlanInvocation(const ITEMIDLIST* selection, IdListHolder& target, wchar_t* application,
                            wchar_t* commandLine)
{
    if (selection) LocateItem(selection, target.out(), nullptr);
    if (!target) return LaunchAction::Nothing;

    LongPathBuffer path;
    if (!path.get()) return LaunchAction::Nothing;
    GetWholePath(target.get(), path.get());
    wchar_t windowsFolder[MAX_PATH];
    const UINT folderLength = GetSystemWindowsDirectoryW(windowsFolder, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH) windowsFolder[0] = L'\0';
    wchar_t launcher[LAUNCHER_CAPACITY];
    BOOL stockVerb = FALSE;
    BOOL relativeCommand = FALSE;
    const BOOL found = FindFileManager(launcher, &stockVerb, &relativeCommand);
    return DecideLaunch({target.get(), path.get(), launcher, windowsFolder, found, stockVerb, relativeCommand},
                        application, commandLine);
}

HRESULT OpenTargetLocation(const ITEMIDLIST* selection, HWND window)
{
    IdListHolder target;
    wchar_t application[APPLICATION_CAPACITY];
    wchar_t commandLine[COMMAND_LINE_CAPACITY];
    switch (PlanInvocation(selection, target, application, commandLine)) {
    case LaunchAction::StartProcess:
        return StartProgram(application, commandLine) ? S_OK : E_FAIL;
    case LaunchAction::OpenParentFolder:
        return OpenParentFolder(target.get(), window) ? S_OK : E_FAIL;
    case LaunchAction::Nothing:
        break;
    }
    return E_FAIL;
}

HRESULT InvokeCommand(IDataObject* dataObject, const CMINVOKECOMMANDINFO* info)
{
    // The one command is offset 0; verbs given as text are not served.
    if (!info || !IS_INTRESOURCE(info->lpVerb) || LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb)) != 0)
        return E_INVALIDARG;
    IdListHolder selection(ReadSingleSelection(dataObject));
    return OpenTargetLocation(selection.get(), info->hwnd);
}
