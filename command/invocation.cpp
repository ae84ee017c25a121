#include "command/invocation.h"

#include <shellapi.h>

#include "command/file_manager.h"
#include "command/selection.h"
#include "shellns/holders.h"
#include "shellns/id_list.h"
#include "shellns/shortcut_probe.h"

namespace {

// The longest command line, terminator included.
const int kCommandLineLimit = COMMAND_LINE_CAPACITY - 1;

// Appends `text` when it fits within the command line limit.
bool Append(wchar_t* commandLine, const wchar_t* text)
{
    const int length = lstrlenW(commandLine);
    const int added = lstrlenW(text);
    if (length + added + 1 > kCommandLineLimit) return false;
    lstrcpyW(commandLine + length, text);
    return true;
}

// The file manager selects the target given behind " /select,"; a target
// without a file system path goes to it as the hexadecimal text of its list
// behind ":*".
LaunchAction ComposeFileManagerLine(const LaunchFacts& facts, wchar_t* commandLine)
{
    if (facts.path[0] != L'\0')
        return Append(commandLine, L" /select,") && Append(commandLine, facts.path) ? LaunchAction::StartProcess
                                                                                     : LaunchAction::OpenParentFolder;
    if (!Append(commandLine, L":*")) return LaunchAction::OpenParentFolder;
    const int length = lstrlenW(commandLine);
    const int capacity = kCommandLineLimit - length;
    if (capacity < 2 || !IdListToHex(facts.target, commandLine + length, capacity))
        return LaunchAction::OpenParentFolder;
    return LaunchAction::StartProcess;
}

// explorer.exe splits its arguments at commas, so the path goes in quotation
// marks.
LaunchAction ComposeExplorerLine(const LaunchFacts& facts, wchar_t* commandLine)
{
    return Append(commandLine, L" /n,/e,/select,\"") && Append(commandLine, facts.path) &&
                   Append(commandLine, L"\"")
               ? LaunchAction::StartProcess
               : LaunchAction::OpenParentFolder;
}

bool StartProgram(wchar_t* commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
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

LaunchAction DecideLaunch(const LaunchFacts& facts, wchar_t* commandLine)
{
    if (!facts.target) return LaunchAction::Nothing;
    commandLine[0] = L'\0';
    if (!Append(commandLine, facts.launcher)) return LaunchAction::OpenParentFolder;
    if (facts.fileManagerFound) return ComposeFileManagerLine(facts, commandLine);
    if (facts.path[0] != L'\0' && facts.stockVerb) return ComposeExplorerLine(facts, commandLine);
    return LaunchAction::OpenParentFolder;
}

LaunchAction PlanInvocation(IDataObject* dataObject, IdListHolder& target, wchar_t* commandLine)
{
    {
        IdListHolder selection(ReadSingleSelection(dataObject));
        if (selection) ProbeShortcut(selection.get(), target.out(), nullptr);
    }
    if (!target) return LaunchAction::Nothing;

    wchar_t path[MAX_PATH] = L"";
    SHGetPathFromIDListW(target.get(), path);
    wchar_t launcher[LAUNCHER_CAPACITY];
    BOOL stockVerb = FALSE;
    const BOOL found = FindFileManager(launcher, &stockVerb);
    return DecideLaunch({target.get(), path, launcher, found, stockVerb}, commandLine);
}

HRESULT InvokeCommand(IDataObject* dataObject, const CMINVOKECOMMANDINFO* info)
{
    // The one command is offset 0; verbs given as text are not served.
    if (!info || !IS_INTRESOURCE(info->lpVerb) || LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb)) != 0)
        return E_INVALIDARG;
    if (!dataObject) return E_FAIL;

    IdListHolder target;
    wchar_t commandLine[COMMAND_LINE_CAPACITY];
    switch (PlanInvocation(dataObject, target, commandLine)) {
    case LaunchAction::StartProcess:
        return StartProgram(commandLine) ? S_OK : E_FAIL;
    case LaunchAction::OpenParentFolder:
        return OpenParentFolder(target.get(), info->hwnd) ? S_OK : E_FAIL;
    case LaunchAction::Nothing:
        break;
    }
    return E_FAIL;
}
