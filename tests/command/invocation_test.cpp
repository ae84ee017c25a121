// What picking the item does: the decision from the target and the folder
// verb, with the exact command lines, and the answers to invocations that
// cannot be carried out.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/invocation.h"
#include "module/module.h"
#include "support/counting_data_object.h"
#include "support/counting_malloc.h"
#include "support/handler_objects.h"
#include "support/shell_items.h"

namespace {

using Bytes = std::vector<BYTE>;

const ITEMIDLIST* AsList(const Bytes& bytes) { return reinterpret_cast<const ITEMIDLIST*>(bytes.data()); }

// A list of one item whose data is `payload` bytes of 0xAB: 2 + payload + 2 bytes.
Bytes ListOfSize(size_t size) { return MakeIdList({Bytes(size - 4, 0xAB)}); }

std::wstring HexOf(const Bytes& bytes)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (BYTE b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

TEST(DecideLaunch, ChoosesTheProgramAndComposesItsCommandLine)
{
    const wchar_t kFileManager[] = L"\"C:\\Program Files\\Norrvane\\Norrvane.exe\"";
    const wchar_t kExecutable[] = L"C:\\Program Files\\Norrvane\\Norrvane.exe";
    const wchar_t kWindows[] = L"C:\\Windows";
    const wchar_t kExplorer[] = L"C:\\Windows\\explorer.exe";
    const wchar_t kPath[] = L"C:\\docs\\Report, final.txt";
    const Bytes target = MakeIdList({{0x1F, 0x50}, {0x31, 0x00, 0x41}});
    const Bytes oneItem = {0x04, 0x00, 0xAB, 0xCD, 0x00, 0x00};
    const Bytes empty = MakeIdList({});

    // The longest list whose text still fits behind the launcher and ":*":
    // the whole line then takes all 8451 characters, terminator included.
    const size_t longestLine = COMMAND_LINE_CAPACITY - 2;
    const size_t room = longestLine + 1 - (lstrlenW(kFileManager) + 2);
    const Bytes fitting = ListOfSize((room - 1) / 2);
    const Bytes overflowing = ListOfSize((room - 1) / 2 + 1);
    const std::wstring fittingLine = std::wstring(kFileManager) + L":*" + HexOf(fitting);
    ASSERT_EQ(longestLine, fittingLine.size());
    // The longest paths whose lines still fit, for either program.
    const std::wstring selectPath = L"C:\\" + std::wstring(longestLine - lstrlenW(kFileManager) - 9 - 3, L'p');
    const std::wstring explorerPath = L"C:\\" + std::wstring(longestLine - 29 - 3, L'p');
    const std::wstring selectLine = std::wstring(kFileManager) + L" /select," + selectPath;
    const std::wstring explorerLine = L"explorer.exe /n,/e,/select,\"" + explorerPath + L"\"";
    ASSERT_EQ(longestLine, selectLine.size());
    ASSERT_EQ(longestLine, explorerLine.size());
    const std::wstring selectPastLimit = selectPath + L"p";
    // The longest executable path the program's room takes, and one more.
    const std::wstring longestExecutable = L"C:\\" + std::wstring(APPLICATION_CAPACITY - 4, L'x');
    const std::wstring longestLauncher = L"\"" + longestExecutable + L"\"";
    const std::wstring overlongLauncher = L"\"" + longestExecutable + L"x\"";
    const std::wstring explorerPastLimit = explorerPath + L"p";

    // What FindFileManager answered.
    enum : unsigned { kNone = 0, kFound = 1, kStock = 2, kRelative = 4 };
    struct Case {
        const char* name;
        const Bytes* target;
        const wchar_t* path;
        const wchar_t* launcher;
        const wchar_t* windowsFolder;
        unsigned answers;
        LaunchAction action;
        std::wstring application;  // checked, with the line, for StartProcess
        std::wstring commandLine;
    };
    const std::wstring pathLine = std::wstring(kFileManager) + L" /select," + kPath;
    const std::wstring explorerPathLine = L"explorer.exe /n,/e,/select,\"" + std::wstring(kPath) + L"\"";
    const std::wstring oneItemLine = std::wstring(kFileManager) + L":*0400ABCD0000";
    const Case cases[] = {
        {"no target", nullptr, L"", kFileManager, kWindows, kFound, LaunchAction::Nothing, L"", L""},
        {"path, file manager", &target, kPath, kFileManager, kWindows, kFound, LaunchAction::StartProcess, kExecutable,
         pathLine},
        {"path, stock verb", &target, kPath, L"explorer.exe", kWindows, kStock, LaunchAction::StartProcess, kExplorer,
         explorerPathLine},
        {"path, stock verb, Windows folder at a drive's root", &target, kPath, L"explorer.exe", L"D:\\", kStock,
         LaunchAction::StartProcess, L"D:\\explorer.exe", explorerPathLine},
        {"path, stock verb, no Windows folder", &target, kPath, L"explorer.exe", L"", kStock,
         LaunchAction::OpenParentFolder, L"", L""},
        {"path, file manager and stock verb", &target, kPath, kFileManager, kWindows, kFound | kStock,
         LaunchAction::StartProcess, kExecutable, pathLine},
        {"path, file manager and a relative command", &target, kPath, kFileManager, kWindows, kFound | kRelative,
         LaunchAction::StartProcess, kExecutable, pathLine},
        {"path, relative command", &target, kPath, L"explorer.exe", kWindows, kRelative, LaunchAction::Nothing, L"",
         L""},
        {"path, relative command and stock verb", &target, kPath, L"explorer.exe", kWindows, kRelative | kStock,
         LaunchAction::Nothing, L"", L""},
        {"path, another program's verb", &target, kPath, L"explorer.exe", kWindows, kNone,
         LaunchAction::OpenParentFolder, L"", L""},
        {"longest executable path", &target, kPath, longestLauncher.c_str(), kWindows, kFound,
         LaunchAction::StartProcess, longestExecutable, longestLauncher + L" /select," + kPath},
        {"executable path too long for the program's room", &target, kPath, overlongLauncher.c_str(), kWindows,
         kFound, LaunchAction::OpenParentFolder, L"", L""},
        {"longest path for the file manager", &target, selectPath.c_str(), kFileManager, kWindows, kFound,
         LaunchAction::StartProcess, kExecutable, selectLine},
        {"path a character too long for the file manager", &target, selectPastLimit.c_str(), kFileManager, kWindows,
         kFound, LaunchAction::OpenParentFolder, L"", L""},
        {"longest path for explorer.exe", &target, explorerPath.c_str(), L"explorer.exe", kWindows, kStock,
         LaunchAction::StartProcess, kExplorer, explorerLine},
        {"path a character too long for explorer.exe", &target, explorerPastLimit.c_str(), L"explorer.exe", kWindows,
         kStock, LaunchAction::OpenParentFolder, L"", L""},
        {"no path, file manager", &oneItem, L"", kFileManager, kWindows, kFound, LaunchAction::StartProcess,
         kExecutable, oneItemLine},
        {"no path, two items", &target, L"", kFileManager, kWindows, kFound, LaunchAction::StartProcess, kExecutable,
         std::wstring(kFileManager) + L":*04001F5005003100410000"},
        {"no path, empty list", &empty, L"", kFileManager, kWindows, kFound, LaunchAction::StartProcess, kExecutable,
         std::wstring(kFileManager) + L":*0000"},
        {"no path, file manager and stock verb", &oneItem, L"", kFileManager, kWindows, kFound | kStock,
         LaunchAction::StartProcess, kExecutable, oneItemLine},
        {"no path, longest list that fits", &fitting, L"", kFileManager, kWindows, kFound, LaunchAction::StartProcess,
         kExecutable, fittingLine},
        {"no path, list a byte too long", &overflowing, L"", kFileManager, kWindows, kFound,
         LaunchAction::OpenParentFolder, L"", L""},
        {"no path, stock verb", &target, L"", L"explorer.exe", kWindows, kStock, LaunchAction::OpenParentFolder, L"",
         L""},
        {"no path, relative command", &target, L"", L"explorer.exe", kWindows, kRelative, LaunchAction::Nothing, L"",
         L""},
        {"no path, another program's verb", &target, L"", L"explorer.exe", kWindows, kNone,
         LaunchAction::OpenParentFolder, L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<wchar_t> application(APPLICATION_CAPACITY + 1, L'#');
        std::vector<wchar_t> commandLine(COMMAND_LINE_CAPACITY + 1, L'#');
        const LaunchFacts facts = {c.target ? AsList(*c.target) : nullptr,
                                   c.path,
                                   c.launcher,
                                   c.windowsFolder,
                                   (c.answers & kFound) ? TRUE : FALSE,
                                   (c.answers & kStock) ? TRUE : FALSE,
                                   (c.answers & kRelative) ? TRUE : FALSE};
        ASSERT_EQ(c.action, DecideLaunch(facts, application.data(), commandLine.data()));
        EXPECT_EQ(L'#', application[APPLICATION_CAPACITY]);
        EXPECT_EQ(L'#', commandLine[COMMAND_LINE_CAPACITY]);
        if (c.action != LaunchAction::StartProcess) continue;
        EXPECT_EQ(c.application, std::wstring(application.data()));
        EXPECT_EQ(c.commandLine, std::wstring(commandLine.data()));
    }
}

TEST(InvokeCommand, RefusesWhatItCannotCarryOut)
{
    // The verb the handler reports, handed back as text.
    static const char kVerbText[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x8F\xEA\x8F\x8A\x82\xF0\x8A\x4A\x82\xAD";
    const Bytes list = MakeIdList({{0x31, 0x32}});
    struct Case {
        const char* name;
        LPCSTR verb;
        bool initialize;
        Bytes block;
        HRESULT expected;
        int getDataCalls;
    };
    const Case cases[] = {
        {"verb as text", kVerbText, true, MakeIdListArray({list, list}), E_INVALIDARG, 0},
        {"offset 1", MAKEINTRESOURCEA(1), true, MakeIdListArray({list, list}), E_INVALIDARG, 0},
        {"no data object", MAKEINTRESOURCEA(0), false, {}, E_FAIL, 0},
        {"no item selected", MAKEINTRESOURCEA(0), true, MakeIdListArray({list}), E_FAIL, 1},
        {"two items selected", MAKEINTRESOURCEA(0), true, MakeIdListArray({list, list, list}), E_FAIL, 1},
        {"selection past its block", MAKEINTRESOURCEA(0), true, {1, 0, 0, 0, 12, 0, 0, 0, 12, 0, 0, 0}, E_FAIL, 1},
        // Starts nothing: no parsing name of it leads anywhere.
        {"one item of a malformed view", MAKEINTRESOURCEA(0), true, MakeIdListArray({list, list}), E_FAIL, 1},
    };
    ComApartment apartment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedCountingAllocator allocator;
        CountingDataObject data;
        data.block = c.block;
        IContextMenu* handler = NewHandler();
        if (c.initialize) {
            IShellExtInit* init = nullptr;
            ASSERT_EQ(S_OK, handler->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)));
            init->Initialize(nullptr, &data, nullptr);
            init->Release();
        }
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof info;
        info.lpVerb = c.verb;
        info.nShow = SW_SHOWNORMAL;

        EXPECT_EQ(c.expected, handler->InvokeCommand(&info));
        EXPECT_EQ(c.getDataCalls, data.getDataCalls);
        EXPECT_EQ(E_INVALIDARG, handler->InvokeCommand(nullptr));
        handler->Release();
        EXPECT_EQ(1, data.references);
        EXPECT_EQ(0, allocator.malloc.outstanding());
        EXPECT_EQ(0, ModuleObjectCount());
    }
}

}  // namespace
