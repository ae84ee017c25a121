// The handler's whole road, thousands of times over: created through the
// class factory, handed a selection, asked for its menu item and command
// strings, its launch decided as picking the item would decide it, released;
// and the command's road beside it, from item arrays. Afterwards no list,
// reference, object or handle may be left behind.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/com_ref.h"
#include "base/module_identity.h"
#include "command/invocation.h"
#include "command/selection.h"
#include "module/module.h"
#include "shellns/holders.h"
#include "shellns/id_list.h"
#include "support/counting_data_object.h"
#include "support/counting_malloc.h"
#include "support/handler_objects.h"
#include "support/scratch_registry.h"
#include "support/shell_items.h"
#include "support/user_texts.h"

namespace {

using Bytes = std::vector<BYTE>;

// NORRVANE_SOAK_ROUNDS overrides the number of rounds.
int SoakRounds()
{
    wchar_t text[16] = L"";
    const DWORD length = GetEnvironmentVariableW(L"NORRVANE_SOAK_ROUNDS", text, 16);
    const int rounds = length && length < 16 ? _wtoi(text) : 0;
    return rounds > 0 ? rounds : 10000;
}

// The process's entries in the system's handle table, as Wine lays them out.
DWORD HandlesInSystemTable()
{
    struct Entry {
        ULONG process;
        BYTE type;
        BYTE flags;
        USHORT value;
        void* object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const ULONG kSystemHandleInformation = 16;
    const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    const Query query =
        reinterpret_cast<Query>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    if (!query) return 0;
    std::vector<BYTE> table(1 << 16);
    ULONG length = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()), &length)) ==
           kInfoLengthMismatch)
        table.resize(table.size() * 2);
    if (status != 0) return 0;
    const Table* handles = reinterpret_cast<const Table*>(table.data());
    return static_cast<DWORD>(std::count_if(handles->entries, handles->entries + handles->count,
                                            [](const Entry& e) { return e.process == GetCurrentProcessId(); }));
}

// Wine's GetProcessHandleCount answers 0: the system's table tells then.
DWORD HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    if (!count) count = HandlesInSystemTable();
    EXPECT_NE(0u, count);
    return count;
}

Bytes BytesOf(const ITEMIDLIST* list)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(list);
    return Bytes(bytes, bytes + IdListSize(list));
}

// The command line picking the item would start for the selection, or a note
// of why it would not, without starting anything.
std::wstring DecidedCommandLine(const ITEMIDLIST* selection)
{
    IdListHolder target;
    wchar_t application[APPLICATION_CAPACITY];
    wchar_t commandLine[COMMAND_LINE_CAPACITY];
    switch (PlanInvocation(selection, target, application, commandLine)) {
    case LaunchAction::StartProcess:
        return commandLine;
    case LaunchAction::Nothing:
        return L"(no target)";
    default:
        return L"(nothing started)";
    }
}

void RunRound(IDataObject* data, const std::wstring& expectedLine)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(HANDLER_CLSID, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    ComRef<IContextMenu> handler;
    const HRESULT created = factory->CreateInstance(nullptr, IID_IContextMenu, handler.outVoid());
    factory->Release();
    ASSERT_EQ(S_OK, created);
    {
        ComRef<IShellExtInit> init;
        ASSERT_EQ(S_OK, handler->QueryInterface(IID_IShellExtInit, init.outVoid()));
        ASSERT_EQ(S_OK, init->Initialize(nullptr, data, nullptr));
    }

    HMENU menu = CreatePopupMenu();
    EXPECT_EQ(1, handler->QueryContextMenu(menu, 0, 100, 200, CMF_NORMAL));
    EXPECT_EQ(1, GetMenuItemCount(menu));
    DestroyMenu(menu);

    wchar_t verb[16];
    EXPECT_EQ(S_OK, handler->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<CHAR*>(verb), 16));
    char help[32];
    EXPECT_EQ(S_OK, handler->GetCommandString(0, GCS_HELPTEXTA, nullptr, help, 32));

    IdListHolder selection(ReadSingleSelection(data));
    EXPECT_EQ(expectedLine, DecidedCommandLine(selection.get()));
}

void RunCommandRound(IShellItemArray* items, const std::wstring& expectedLine)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(COMMAND_CLSID, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    ComRef<IExplorerCommand> command;
    const HRESULT created = factory->CreateInstance(nullptr, IID_IExplorerCommand, command.outVoid());
    factory->Release();
    ASSERT_EQ(S_OK, created);

    EXPCMDSTATE state = ECS_DISABLED;
    EXPECT_EQ(S_OK, command->GetState(items, FALSE, &state));
    EXPECT_EQ(DWORD(ECS_ENABLED), state);
    LPWSTR title = nullptr;
    EXPECT_EQ(S_OK, command->GetTitle(items, &title));
    EXPECT_STREQ(TextsIn(DisplayLanguage()).fileTitle, title);
    CoTaskMemFree(title);

    IdListHolder selection(ReadSingleItem(items));
    EXPECT_EQ(expectedLine, DecidedCommandLine(selection.get()));
}

TEST(Soak, RoundsLeaveNoListReferenceObjectOrHandleBehind)
{
    const int rounds = SoakRounds();
    ASSERT_EQ(0, ModuleObjectCount());
    ComApartment apartment;
    TempFolder folder;
    const std::wstring target = folder.file(L"report.txt");
    const std::wstring shortcut = folder.file(L"report.lnk");
    WriteFile(target, "soak");
    MakeShortcut(shortcut, target);

    // The shell's own data object for the shortcut, and a hand-made one
    // serving the same selection.
    ComRef<IDataObject> shellData;
    *shellData.out() = ShellDataObjectFor(shortcut);
    ASSERT_TRUE(shellData);
    Bytes block;
    {
        ITEMIDLIST* folderList = AbsoluteIdListOf(folder.path());
        ITEMIDLIST* shortcutList = AbsoluteIdListOf(shortcut);
        ASSERT_TRUE(folderList && shortcutList);
        block = MakeIdListArray({BytesOf(folderList), BytesOf(ILFindLastID(shortcutList))});
        CoTaskMemFree(folderList);
        CoTaskMemFree(shortcutList);
    }

    // The item arrays the newer menu hands the command, made once as the
    // shell holds them: from the shell's data object and from the list.
    ComRef<IShellItemArray> shellItems;
    *shellItems.out() = ShellItemArrayFor({shortcut}, ArraySource::DataObject);
    ComRef<IShellItemArray> listItems;
    *listItems.out() = ShellItemArrayFor({shortcut}, ArraySource::IdLists);
    ASSERT_TRUE(shellItems && listItems);

    ScratchRegistry scratch;
    SetValue(scratch.classesRoot(), L"Folder\\shell", nullptr, L"Norrvane");
    SetValue(scratch.classesRoot(), L"Folder\\shell\\Norrvane\\command", nullptr,
             L"\"C:\\Tools\\Norrvane.exe\" \"%1\"");
    const std::wstring expectedLine = L"\"C:\\Tools\\Norrvane.exe\" /select," + target;

    ScopedCountingAllocator allocator;
    const ULONG shellDataReferences = ReferencesOf(shellData.get());
    const ULONG shellItemsReferences = ReferencesOf(shellItems.get());
    const ULONG listItemsReferences = ReferencesOf(listItems.get());
    const int warmUp = std::max(1, rounds / 10);
    DWORD handlesAfterWarmUp = 0;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        if (round == warmUp) handlesAfterWarmUp = HandleCount();
        SCOPED_TRACE(testing::Message() << "round " << round);
        RunRound(shellData.get(), expectedLine);

        CountingDataObject handMade;
        handMade.block = block;
        RunRound(&handMade, expectedLine);
        EXPECT_EQ(1, handMade.references);
        EXPECT_EQ(handMade.getDataCalls, handMade.mediumReleases);
        EXPECT_EQ(0u, handMade.lastLockCount());

        RunCommandRound(shellItems.get(), expectedLine);
        RunCommandRound(listItems.get(), expectedLine);
    }
    // Too few rounds, or a failure, to have passed the warm-up.
    if (!handlesAfterWarmUp) handlesAfterWarmUp = HandleCount();

    EXPECT_EQ(0, allocator.malloc.outstanding());
    EXPECT_EQ(shellDataReferences, ReferencesOf(shellData.get()));
    EXPECT_EQ(shellItemsReferences, ReferencesOf(shellItems.get()));
    EXPECT_EQ(listItemsReferences, ReferencesOf(listItems.get()));
    EXPECT_EQ(0, ModuleObjectCount());
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    EXPECT_LE(HandleCount(), handlesAfterWarmUp);
    std::printf("%d rounds, %d lists made, handles %lu after warm-up and %lu at the end\n", rounds,
                allocator.malloc.allocations, handlesAfterWarmUp, HandleCount());
}

}  // namespace
