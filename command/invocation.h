#pragma once
// Carrying out the command when the user picks the item: the folder that
// holds the located item (a shortcut's target, a symbolic link's target, or
// the item itself) is opened with that item selected, in the file manager or
// in explorer.exe, or else by the shell's default verb.
#include <windows.h>
#include <shlobj.h>

#include "shellns/holders.h"

// Room for a composed command line, terminator included: 8192 + 260.
const int COMMAND_LINE_CAPACITY = 8452;

// Room for the full path of the program to start, terminator included.
const int APPLICATION_CAPACITY = MAX_PATH;

// What the located item (the target, below) yields, what FindFileManager
// answered and where the system keeps explorer.exe.
struct LaunchFacts {
    const ITEMIDLIST* target;      // the located item's list, or null
    const wchar_t* path;           // the target's whole file system path; empty when it has none
    const wchar_t* launcher;       // FindFileManager's launcher text
    const wchar_t* windowsFolder;  // the system's Windows folder
    BOOL fileManagerFound;
    BOOL stockVerb;
    BOOL relativeCommand;          // a command of the file manager's verb names no full path
};

enum class LaunchAction {
    Nothing,           // no target, or nothing that may be started
    StartProcess,      // start the command line that DecideLaunch composed
    OpenParentFolder,  // the shell's default verb on the parent part of the target
};

// Decides what picking the item does. For StartProcess, `application`
// (APPLICATION_CAPACITY characters) holds the full path of the program to
// start, never left to a search, and `commandLine` (COMMAND_LINE_CAPACITY
// characters) the command line it is given; for the other answers their
// content means nothing.
LaunchAction DecideLaunch(const LaunchFacts& facts, wchar_t* application, wchar_t* commandLine);

// All that picking the item does short of acting: locates the selection's
// one item (`selection` may be null; LocateItem) into `target`, which stays
// null when there is none, asks FindFileManager and decides, composing the
// program's path and command line.
LaunchAction PlanInvocation(const ITEMIDLIST* selection, IdListHolder& target, wchar_t* application,
                            wchar_t* commandLine);

// Plans for the selection's one item (null: none) and acts: starts the
// program, or has the shell perform the default verb on the target's folder
// with `window` as the owner of anything it shows. S_OK when a program was
// started or the shell performed the verb; E_FAIL when nothing could be
// started.
HRESULT OpenTargetLocation(const ITEMIDLIST* selection, HWND window);

// The handler's InvokeCommand on the data object it holds (null when none).
// S_OK when a program was started or the shell performed the default verb;
// E_INVALIDARG for a verb given as text or an offset other than 0; E_FAIL
// when there is no data object or nothing could be started.
HRESULT InvokeCommand(IDataObject* dataObject, const CMINVOKECOMMANDINFO* info);
