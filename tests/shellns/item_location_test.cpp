// The extension rule, and locating the item the command shows on the real
// shell, with real shortcut files, folders and symbolic links.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/test_seams.h"
#include "shellns/id_list.h"
#include "shellns/item_location.h"
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

bool SameBytes(const ITEMIDLIST* a, const ITEMIDLIST* b)
{
    return IdListSize(a) == IdListSize(b) && std::memcmp(a, b, IdListSize(a)) == 0;
}

// Stand-ins for the file system's answer on whether a path is a symbolic
// link: Wine shows none. The second takes the link's target away first, as
// it may vanish between the listing and the right-click.
std::wstring goneOnCheck;
bool SaysLink(const wchar_t*) { return true; }
bool SaysLinkTargetGone(const wchar_t*)
{
    DeleteFileW(goneOnCheck.c_str());
    return true;
}

class LocateItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(folder_.file(L"sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(folder_.file(L"dir.lnk").c_str(), nullptr));
        for (const wchar_t* name : {L"target.txt", L"gone.txt", L"vanished.txt", L"linktarget.txt"})
            WriteFile(folder_.file(name), "x");
        MakeShortcut(folder_.file(L"file.lnk"), folder_.file(L"target.txt"));
        MakeShortcut(folder_.file(L"UPPER.LnK"), folder_.file(L"target.txt"));
        MakeShortcut(folder_.file(L"folder.lnk"), folder_.file(L"sub"));
        MakeShortcut(folder_.file(L"gone.lnk"), folder_.file(L"gone.txt"));
        ASSERT_TRUE(DeleteFileW(folder_.file(L"gone.txt").c_str()));
        ITEMIDLIST* computer = Computer();
        MakeShortcutToIdList(folder_.file(L"computer.lnk"), computer);
        CoTaskMemFree(computer);
        linkKind_ = MakeSymbolicLink(folder_.file(L"link.txt"), folder_.file(L"target.txt"), false);
        if (linkKind_ != LinkKind::None) {
            MakeSymbolicLink(folder_.file(L"linkdir"), folder_.file(L"sub"), true);
            MakeSymbolicLink(folder_.file(L"linkgone.txt"), folder_.file(L"linktarget.txt"), false);
        }
        goneOnCheck = folder_.file(L"linktarget.txt");
    }
    void TearDown() override { SetSymbolicLinkCheckForTests(nullptr); }

    // Locates the item at `path` with and without the folder flag asked for,
    // and checks that every list but the one handed out is freed.
    void ExpectLocate(const std::wstring& path, BOOL result, const wchar_t* locatedPath, int flag,
                      bool (*linkCheck)(const wchar_t*) = nullptr)
    {
        ITEMIDLIST* list = AbsoluteIdListOf(path);
        ASSERT_NE(nullptr, list);
        for (bool askFlag : {true, false}) {
            SCOPED_TRACE(askFlag ? "with the flag" : "without the flag");
            // The target the gone-check takes away is there when the view lists the link.
            WriteFile(goneOnCheck, "x");
            SetSymbolicLinkCheckForTests(linkCheck);
            ScopedCountingAllocator counting;
            ITEMIDLIST* located = nullptr;
            BOOL isFolder = kUntouched;
            EXPECT_EQ(result, LocateItem(list, &located, askFlag ? &isFolder : nullptr));
            if (!locatedPath) {
                EXPECT_EQ(nullptr, located);
            } else {
                EXPECT_NE(nullptr, located);
                EXPECT_EQ(locatedPath, PathOf(located));
            }
            int expectedFlag = (!askFlag || !located) ? kUntouched : flag;
            if (expectedFlag == kAsTheShellSays) expectedFlag = ShellSaysFolder(located);
            EXPECT_EQ(expectedFlag, isFolder);
            ShellFree(located);
            EXPECT_EQ(0, counting.malloc.outstanding());
        }
        CoTaskMemFree(list);
    }

    ComApartment apartment_;
    TempFolder folder_;
    LinkKind linkKind_ = LinkKind::None;
};

struct LocateCase {
    const wchar_t* item;
    bool (*linkCheck)(const wchar_t*);  // null: the file system's own answer
    BOOL result;
    const wchar_t* located;  // in the temp folder; L"" for one without a path; null for none
    int flag;
};

TEST_F(LocateItemTest, FindsTheTargetOrTheItemItself)
{
    const LocateCase cases[] = {
        {L"file.lnk", nullptr, TRUE, L"target.txt", FALSE},
        {L"UPPER.LnK", nullptr, TRUE, L"target.txt", FALSE},
        {L"folder.lnk", nullptr, TRUE, L"sub", TRUE},
        {L"computer.lnk", nullptr, TRUE, L"", TRUE},
        {L"gone.lnk", nullptr, TRUE, L"gone.txt", kAsTheShellSays},
        // A folder named like a shortcut has no link object: no target.
        {L"dir.lnk", nullptr, TRUE, nullptr, kUntouched},
        // A shortcut is read as one, whatever a link check would say.
        {L"file.lnk", SaysLink, TRUE, L"target.txt", FALSE},
        {L"target.txt", nullptr, TRUE, L"target.txt", FALSE},
        {L"sub", nullptr, TRUE, L"sub", TRUE},
        {L"link.txt", SaysLink, TRUE, L"target.txt", FALSE},
        {L"linkdir", SaysLink, TRUE, L"sub", TRUE},
        {L"linkgone.txt", SaysLinkTargetGone, TRUE, nullptr, kUntouched},
    };
    for (const LocateCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.item)));
        if (c.linkCheck && linkKind_ == LinkKind::None) {
            ADD_FAILURE() << "no symbolic link could be made here";
            continue;
        }
        std::wstring located = c.located && *c.located ? folder_.file(c.located) : std::wstring();
        ExpectLocate(folder_.file(c.item), c.result, c.located ? located.c_str() : nullptr, c.flag, c.linkCheck);
    }
    // Unaided, a link is what the file system says it is. Wine presents a
    // Unix link as a plain file: it is then shown itself, in its own folder,
    // and its final path is never taken.
    if (linkKind_ == LinkKind::None) return;
    SCOPED_TRACE(linkKind_ == LinkKind::Unix ? "a Unix link, unaided" : "a Windows link, unaided");
    const std::wstring target = folder_.file(linkKind_ == LinkKind::Unix ? L"link.txt" : L"target.txt");
    ExpectLocate(folder_.file(L"link.txt"), TRUE, target.c_str(), FALSE);
}

// An item the view lists through its own folder is shown where it lives:
// the namespace's root lists the files of the user's desktop folder as its
// own items.
TEST_F(LocateItemTest, ItemListedByAnotherFolderIsLocatedWhereItLives)
{
    wchar_t desktop[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop));
    const std::wstring name = L"norrvane-locate-" + std::to_wstring(GetCurrentProcessId());
    struct Remove {
        std::wstring path;
        ~Remove()
        {
            DeleteFileW(path.c_str());
            DeleteFileW((path + L".lnk").c_str());
        }
    } remove{std::wstring(desktop) + L"\\" + name};
    WriteFile(remove.path + L".txt", "x");
    MakeShortcut(remove.path + L".lnk", folder_.file(L"sub"));

    for (const std::wstring& item : {name + L".txt", name + L".lnk"}) {
        SCOPED_TRACE(testing::PrintToString(item));
        ITEMIDLIST* viewList = AbsoluteIdListOf(item);
        ASSERT_NE(nullptr, viewList);
        EXPECT_EQ(nullptr, IdListNext(IdListNext(viewList)));
        const bool shortcut = item.back() == L'k';
        ITEMIDLIST* real = AbsoluteIdListOf(shortcut ? folder_.file(L"sub") : std::wstring(desktop) + L"\\" + item);
        ITEMIDLIST* located = nullptr;
        BOOL isFolder = kUntouched;
        EXPECT_TRUE(LocateItem(viewList, &located, &isFolder));
        // A shortcut's target is the list the shortcut keeps.
        if (shortcut)
            EXPECT_EQ(folder_.file(L"sub"), located ? PathOf(located) : L"");
        else
            EXPECT_TRUE(located && real && SameBytes(real, located));
        EXPECT_EQ(shortcut ? TRUE : FALSE, isFolder);
        ShellFree(located);
        CoTaskMemFree(real);
        CoTaskMemFree(viewList);
    }
    if (remove.path.size() + 4 < MAX_PATH) DeleteFileW((remove.path + L".txt").c_str());
}

// No place of its own, no item: a list whose name no longer parses (its file
// is gone), a virtual item, an item whose view cannot be read.
TEST_F(LocateItemTest, ItemWithoutALocationGetsNothing)
{
    ITEMIDLIST* vanished = AbsoluteIdListOf(folder_.file(L"vanished.txt"));
    ASSERT_NE(nullptr, vanished);
    ASSERT_TRUE(DeleteFileW(folder_.file(L"vanished.txt").c_str()));
    const BYTE garbage[] = {6, 0, 0xFF, 0xEE, 0xDD, 0xCC, 5, 0, 0x31, 0x00, 0x7F, 0, 0};
    struct Case {
        const char* name;
        const ITEMIDLIST* list;
    } cases[] = {
        {"a file deleted since it was listed", vanished},
        {"a malformed list", reinterpret_cast<const ITEMIDLIST*>(garbage)},
        {"no list", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedCountingAllocator counting;
        ITEMIDLIST* located = nullptr;
        BOOL isFolder = kUntouched;
        EXPECT_FALSE(LocateItem(c.list, &located, &isFolder));
        EXPECT_EQ(nullptr, located);
        EXPECT_EQ(kUntouched, isFolder);
        EXPECT_EQ(0, counting.malloc.outstanding());
    }
    CoTaskMemFree(vanished);
}

TEST(IsSymbolicLinkTag, TakesTheTagNotTheAttributeAlone)
{
    const DWORD kDeduplicated = 0x80000013;
    const struct {
        DWORD attributes, tag;
        bool link;
    } cases[] = {
        {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK, true},
        {FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT, false},
        {FILE_ATTRIBUTE_REPARSE_POINT, kDeduplicated, false},
        {FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, 0, false},
        {FILE_ATTRIBUTE_NORMAL, IO_REPARSE_TAG_SYMLINK, false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.link, IsSymbolicLinkTag(c.attributes, c.tag)) << std::hex << c.tag;
}

TEST(MakePlainPath, TurnsFinalPathsIntoThePathsProgramsUse)
{
    const std::wstring longest = L"\\\\?\\C:\\" + std::wstring(32767 - 7, L'x');
    const struct {
        std::wstring finalPath;
        bool plain;
        std::wstring after;
    } cases[] = {
        {L"\\\\?\\C:\\dir\\file.txt", true, L"C:\\dir\\file.txt"},
        {L"\\\\?\\z:\\", true, L"z:\\"},
        {L"\\\\?\\unc\\server\\share\\file", true, L"\\\\server\\share\\file"},
        {longest, true, longest.substr(4)},
        {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\x", false, L""},
        {L"\\\\?\\C:", false, L""},
        {L"C:\\dir", false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.finalPath.substr(0, 60)));
        std::vector<wchar_t> buffer(c.finalPath.begin(), c.finalPath.end());
        buffer.resize(c.finalPath.size() + 2, L'#');
        buffer[c.finalPath.size()] = L'\0';
        EXPECT_EQ(c.plain, MakePlainPath(buffer.data()));
        EXPECT_EQ(c.plain ? c.after : c.finalPath, std::wstring(buffer.data()));
        EXPECT_EQ(L'#', buffer.back());
    }
}

TEST_F(LocateItemTest, RefusedCopiesStopWithoutLeaks)
{
    ITEMIDLIST* list = AbsoluteIdListOf(folder_.file(L"folder.lnk"));
    ASSERT_NE(nullptr, list);
    struct Case {
        int failAt;
        BOOL result;
        bool target;
        BOOL flag;
        int allocations;
    };
    // Five blocks are made: the path buffer, the shortcut's last item and
    // parent part, then the target's. A parent part that is missing must not
    // stand for the desktop.
    const Case cases[] = {{1, FALSE, false, kUntouched, 0}, {2, TRUE, false, kUntouched, 2},
                          {3, TRUE, false, kUntouched, 2},  {4, TRUE, true, kUntouched, 4},
                          {5, TRUE, true, kUntouched, 4},   {6, TRUE, true, TRUE, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        ScopedCountingAllocator counting;
        counting.malloc.failAt = c.failAt;
        ITEMIDLIST* target = nullptr;
        BOOL isFolder = kUntouched;
        EXPECT_EQ(c.result, LocateItem(list, &target, &isFolder));
        EXPECT_EQ(c.target, target != nullptr);
        EXPECT_EQ(c.flag, isFolder);
        ShellFree(target);
        EXPECT_EQ(0, counting.malloc.outstanding());
        EXPECT_EQ(c.allocations, counting.malloc.allocations);
    }
    CoTaskMemFree(list);
}

}  // namespace
