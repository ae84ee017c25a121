// The extension rule, and shortcut probing on the real shell with real
// shortcut files.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "shellns/id_list.h"
#include "shellns/shortcut_probe.h"
#include "support/counting_malloc.h"
#include "support/shell_items.h"

namespace {

struct ExtensionCase {
    const wchar_t* path;
    int capacity;
    const wchar_t* expected;  // null: the destination is not written at all
    const wchar_t* pathAfter;
};

TEST(GetExtension, TakesTheTextFromTheLastDotThatCounts)
{
    const ExtensionCase cases[] = {
        {L"C:\\Users\\x\\a.lnk", 259, L".lnk", L"C:\\Users\\x\\a.lnk"},
        {L"C:\\Users\\x\\a.LnK", 259, L".LnK", L"C:\\Users\\x\\a.LnK"},
        {L"C:\\Users\\x\\a.lnk  ", 259, L".lnk", L"C:\\Users\\x\\a.lnk"},
        {L"C:\\x.txt", 259, L".txt", L"C:\\x.txt"},
        {L"a.b.lnk", 259, L".lnk", L"a.b.lnk"},
        {L".lnk", 259, L".lnk", L".lnk"},
        {L"C:\\dir.lnk\\file", 259, L".lnk\\file", L"C:\\dir.lnk\\file"},
        {L"C:\\a..\\b", 259, L".", L"C:\\a..\\b"},
        {L"..\\a", 259, L".", L"..\\a"},
        {L"C:\\file.", 259, L".", L"C:\\file."},
        {L"C:\\file", 259, L".", L"C:\\file"},
        {L"", 259, L".", L""},
        {L"   ", 259, L".", L" "},
        // Sixteen characters of the destination are kept back.
        {L"C:\\a.extension", 20, L".ex", L"C:\\a.extension"},
        {L"C:\\a.extension", 17, L"", L"C:\\a.extension"},
        {L"C:\\a.extension", 16, L".", L"C:\\a.extension"},
        {L"C:\\a.extension", 2, L".", L"C:\\a.extension"},
        {L"C:\\a.extension", 1, nullptr, L"C:\\a.extension"},
        {L"C:\\a.extension", 0, nullptr, L"C:\\a.extension"},
        {L"C:\\file", 1, nullptr, L"C:\\file"},
        {L"", 0, nullptr, L""},
    };
    for (const ExtensionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "\"" << testing::PrintToString(std::wstring(c.path)) << "\", capacity "
                                        << c.capacity);
        std::wstring path = c.path;
        std::wstring destination(300, L'#');
        GetExtension(&path[0], &destination[0], c.capacity);
        EXPECT_STREQ(c.pathAfter, path.c_str());
        if (c.expected) {
            EXPECT_STREQ(c.expected, destination.c_str());
        } else {
            EXPECT_EQ(L'#', destination[0]);
        }
        size_t limit = c.capacity > 0 ? static_cast<size_t>(c.capacity) : 0;
        EXPECT_EQ(std::wstring(300 - limit, L'#'), destination.substr(limit));
    }
}

const BOOL kUntouched = 7;
const int kAsTheShellSays = -1;

std::wstring PathOf(const ITEMIDLIST* list)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetPathFromIDListW(list, path);
    return path;
}

// Whether the shell itself calls the item a folder: for a deleted target the
// answer differs between platforms.
BOOL ShellSaysFolder(const ITEMIDLIST* list)
{
    IShellFolder* parent = nullptr;
    const ITEMIDLIST* child = nullptr;
    if (SHBindToParent(list, IID_IShellFolder, reinterpret_cast<void**>(&parent), &child) != S_OK) return kUntouched;
    SFGAOF attributes = SFGAO_FOLDER;
    parent->GetAttributesOf(1, &child, &attributes);
    parent->Release();
    return (attributes & SFGAO_FOLDER) ? TRUE : FALSE;
}

ITEMIDLIST* Computer()
{
    ITEMIDLIST* list = nullptr;
    EXPECT_EQ(S_OK, SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &list));
    return list;
}

class ProbeShortcutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(folder_.file(L"sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(folder_.file(L"dir.lnk").c_str(), nullptr));
        WriteFile(folder_.file(L"target.txt"), "x");
        WriteFile(folder_.file(L"gone.txt"), "x");
        MakeShortcut(folder_.file(L"file.lnk"), folder_.file(L"target.txt"));
        MakeShortcut(folder_.file(L"UPPER.LnK"), folder_.file(L"target.txt"));
        MakeShortcut(folder_.file(L"folder.lnk"), folder_.file(L"sub"));
        MakeShortcut(folder_.file(L"gone.lnk"), folder_.file(L"gone.txt"));
        ASSERT_TRUE(DeleteFileW(folder_.file(L"gone.txt").c_str()));
        ITEMIDLIST* computer = Computer();
        MakeShortcutToIdList(folder_.file(L"computer.lnk"), computer);
        CoTaskMemFree(computer);
    }

    // Probes the item at `path` with each combination of out-parameters, and
    // checks that every list but the target handed out is freed.
    void ExpectProbe(const std::wstring& path, BOOL isShortcut, const wchar_t* targetPath, int flag)
    {
        ITEMIDLIST* list = AbsoluteIdListOf(path);
        ASSERT_NE(nullptr, list);
        for (int asked = 0; asked < 3; ++asked) {
            SCOPED_TRACE(asked == 0 ? "target and flag" : asked == 1 ? "target only" : "flag only");
            ScopedCountingAllocator counting;
            ITEMIDLIST* target = nullptr;
            BOOL isFolder = kUntouched;
            EXPECT_EQ(isShortcut, ProbeShortcut(list, asked == 2 ? nullptr : &target, asked == 1 ? nullptr : &isFolder));
            if (!targetPath || asked == 2) {
                EXPECT_EQ(nullptr, target);
            } else {
                EXPECT_NE(nullptr, target);
                EXPECT_EQ(targetPath, PathOf(target));
            }
            int expectedFlag = (asked != 0 || !target) ? kUntouched : flag;
            if (expectedFlag == kAsTheShellSays) expectedFlag = ShellSaysFolder(target);
            EXPECT_EQ(expectedFlag, isFolder);
            ShellFree(target);
            EXPECT_EQ(0, counting.malloc.outstanding());
        }
        CoTaskMemFree(list);
    }

    ComApartment apartment_;
    TempFolder folder_;
};

struct ProbeCase {
    const wchar_t* item;
    BOOL isShortcut;
    const wchar_t* target;  // in the temp folder; L"" for one without a path; null for none
    int flag;
};

TEST_F(ProbeShortcutTest, ReadsRealShortcutFiles)
{
    const ProbeCase cases[] = {
        {L"file.lnk", TRUE, L"target.txt", FALSE},
        {L"UPPER.LnK", TRUE, L"target.txt", FALSE},
        {L"folder.lnk", TRUE, L"sub", TRUE},
        {L"computer.lnk", TRUE, L"", TRUE},
        {L"gone.lnk", TRUE, L"gone.txt", kAsTheShellSays},
        // A folder named like a shortcut has no link object: no target.
        {L"dir.lnk", TRUE, nullptr, kUntouched},
        {L"target.txt", FALSE, nullptr, kUntouched},
        {L"sub", FALSE, nullptr, kUntouched},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.item)));
        std::wstring target = c.target && *c.target ? folder_.file(c.target) : std::wstring();
        ExpectProbe(folder_.file(c.item), c.isShortcut, c.target ? target.c_str() : nullptr, c.flag);
    }
}

TEST(ProbeShortcut, ItemWithoutPathIsNoShortcut)
{
    ComApartment apartment;
    ITEMIDLIST* computer = Computer();
    ITEMIDLIST* target = nullptr;
    BOOL isFolder = kUntouched;
    EXPECT_FALSE(ProbeShortcut(computer, &target, &isFolder));
    EXPECT_EQ(nullptr, target);
    EXPECT_EQ(kUntouched, isFolder);
    CoTaskMemFree(computer);
}

TEST_F(ProbeShortcutTest, ShortcutOnTheDesktopIsProbedThroughTheDesktop)
{
    wchar_t desktop[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop));
    std::wstring name = L"norrvane-probe-" + std::to_wstring(GetCurrentProcessId()) + L".lnk";
    std::wstring path = std::wstring(desktop) + L"\\" + name;
    MakeShortcut(path, folder_.file(L"sub"));
    struct Remove {
        std::wstring path;
        ~Remove() { DeleteFileW(path.c_str()); }
    } remove{path};

    // The desktop names its own items by one-item lists.
    ITEMIDLIST* list = AbsoluteIdListOf(name);
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(nullptr, IdListNext(IdListNext(list)));
    ASSERT_EQ(path, PathOf(list));
    CoTaskMemFree(list);
    ExpectProbe(name, TRUE, folder_.file(L"sub").c_str(), TRUE);
}

TEST_F(ProbeShortcutTest, RefusedCopiesStopTheProbeWithoutLeaks)
{
    ITEMIDLIST* list = AbsoluteIdListOf(folder_.file(L"folder.lnk"));
    ASSERT_NE(nullptr, list);
    struct Case {
        int failAt;
        bool target;
        BOOL flag;
        int allocations;
    };
    // Four copies are made: the shortcut's last item and parent part, then the
    // target's. A parent part that is missing must not stand for the desktop.
    const Case cases[] = {{1, false, kUntouched, 1}, {2, false, kUntouched, 1}, {3, true, kUntouched, 3},
                          {4, true, kUntouched, 3},  {5, true, TRUE, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        ScopedCountingAllocator counting;
        counting.malloc.failAt = c.failAt;
        ITEMIDLIST* target = nullptr;
        BOOL isFolder = kUntouched;
        EXPECT_TRUE(ProbeShortcut(list, &target, &isFolder));
        EXPECT_EQ(c.target, target != nullptr);
        EXPECT_EQ(c.flag, isFolder);
        ShellFree(target);
        EXPECT_EQ(0, counting.malloc.outstanding());
        EXPECT_EQ(c.allocations, counting.malloc.allocations);
    }
    CoTaskMemFree(list);
}

}  // namespace
