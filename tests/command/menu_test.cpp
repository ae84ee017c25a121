// The handler's menu item, driven as the shell drives it: through the class
// factory, with hand-made selections and with the shell's own data objects
// for real shortcut files; the command's state and title for the item arrays
// of the newer menu; and the command strings the handler reports.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "command/menu.h"
#include "module/module.h"
#include "support/counting_data_object.h"
#include "support/counting_malloc.h"
#include "support/handler_objects.h"
#include "support/shell_items.h"
#include "support/user_texts.h"

namespace {

const UINT kIdCmdFirst = 40;

void Initialize(IContextMenu* handler, IDataObject* data)
{
    IShellExtInit* init = nullptr;
    ASSERT_EQ(S_OK, handler->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)));
    EXPECT_EQ(S_OK, init->Initialize(nullptr, data, nullptr));
    init->Release();
}

// A real popup menu holding two items of other handlers, as the shell's menu
// would, so that the position of the new item is visible.
struct PopupMenu {
    HMENU handle = CreatePopupMenu();
    PopupMenu()
    {
        AppendMenuW(handle, MF_STRING, 1, L"first");
        AppendMenuW(handle, MF_STRING, 2, L"second");
    }
    ~PopupMenu() { DestroyMenu(handle); }
    int count() const { return GetMenuItemCount(handle); }
    std::wstring text(int position) const
    {
        wchar_t text[128] = L"";
        GetMenuStringW(handle, position, text, 128, MF_BYPOSITION);
        return text;
    }
};

// What the command answers for an item array: shown or hidden, with
// `title`. Leaves the references of the array and of its first item, which
// the array hands out to whoever asks, as they were.
void ExpectCommandFace(IShellItemArray* items, bool shown, const wchar_t* title)
{
    const ULONG references = items ? ReferencesOf(items) : 0;
    IShellItem* first = nullptr;
    if (items) ASSERT_EQ(S_OK, items->GetItemAt(0, &first));
    const ULONG firstReferences = first ? ReferencesOf(first) : 0;
    IExplorerCommand* command = NewCommand();
    EXPCMDSTATE state = 0x55;
    EXPECT_EQ(S_OK, command->GetState(items, FALSE, &state));
    EXPECT_EQ(shown ? DWORD(ECS_ENABLED) : DWORD(ECS_HIDDEN), state);
    LPWSTR text = nullptr;
    EXPECT_EQ(S_OK, command->GetTitle(items, &text));
    EXPECT_EQ(std::wstring(title), std::wstring(text ? text : L"(null)"));
    CoTaskMemFree(text);
    command->Release();
    if (items) EXPECT_EQ(references, ReferencesOf(items));
    if (first) EXPECT_EQ(firstReferences, first->Release() + 1);
}

// A process has one display language and one ANSI code page, which Wine
// took from the locales of its run (cmake/wine-run.sh) when it started: a
// run that did not get them would skip the rows meant for it.
TEST(DisplayLanguage, IsTheOneTheRunAskedFor)
{
    char locale[64] = "C.UTF-8";
    char ctype[64] = "";
    GetEnvironmentVariableA("NORRVANE_LOCALE", locale, sizeof locale);
    if (!GetEnvironmentVariableA("NORRVANE_CTYPE_LOCALE", ctype, sizeof ctype)) std::strcpy(ctype, locale);
    EXPECT_EQ(std::strncmp(locale, "ja_", 3) == 0 ? Language::Japanese : Language::English, DisplayLanguage())
        << locale;
    EXPECT_EQ(std::strncmp(ctype, "ja_", 3) == 0 ? 932u : 1252u, GetACP()) << ctype;
}

class MenuItem : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ModuleObjectCount()); }
    void TearDown() override { EXPECT_EQ(0, ModuleObjectCount()); }

    ComApartment apartment_;
};

TEST_F(MenuItem, SelectionsWithoutOneLocatableItemInsertNothing)
{
    struct Case {
        const char* name;
        std::vector<BYTE> block;
        bool refuse;
    };
    const std::vector<BYTE> list = MakeIdList({{0x31, 0x32}});
    const Case cases[] = {
        {"no item", MakeIdListArray({list}), false},
        {"two items", MakeIdListArray({list, list, list}), false},
        {"item past the block", {1, 0, 0, 0, 12, 0, 0, 0, 200, 0, 0, 0}, false},
        {"data refused", MakeIdListArray({list, list}), true},
        {"one item of a malformed view", MakeIdListArray({list, list}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedCountingAllocator allocator;
        CountingDataObject data;
        data.block = c.block;
        data.refuseGetData = c.refuse;
        PopupMenu menu;
        IContextMenu* handler = NewHandler();
        Initialize(handler, &data);

        EXPECT_EQ(S_OK, handler->QueryContextMenu(menu.handle, 1, kIdCmdFirst, kIdCmdFirst + 10, CMF_NORMAL));
        EXPECT_EQ(2, menu.count());
        handler->Release();
        EXPECT_EQ(1, data.references);
        EXPECT_EQ(0, allocator.malloc.outstanding());
        EXPECT_EQ(c.refuse ? 0 : 1, data.mediumReleases);
    }
}

TEST_F(MenuItem, HandlerWithoutDataObjectInsertsNothing)
{
    PopupMenu menu;
    IContextMenu* handler = NewHandler();
    EXPECT_EQ(S_OK, handler->QueryContextMenu(menu.handle, 0, kIdCmdFirst, kIdCmdFirst + 10, CMF_NORMAL));
    Initialize(handler, nullptr);
    EXPECT_EQ(S_OK, handler->QueryContextMenu(menu.handle, 0, kIdCmdFirst, kIdCmdFirst + 10, CMF_NORMAL));
    EXPECT_EQ(2, menu.count());
    handler->Release();
}

// Whether the shell takes the target of the shortcut at `lnkPath` for a
// folder: the answer the probe gets too. A deleted target is answered
// differently by different shells.
bool ShellSaysTargetIsFolder(const std::wstring& lnkPath)
{
    IShellLinkW* link = nullptr;
    if (CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                         reinterpret_cast<void**>(&link)) != S_OK)
        return false;
    IPersistFile* file = nullptr;
    ITEMIDLIST* target = nullptr;
    if (link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) == S_OK) {
        if (file->Load(lnkPath.c_str(), STGM_READ) == S_OK) link->GetIDList(&target);
        file->Release();
    }
    link->Release();
    IShellFolder* parent = nullptr;
    const ITEMIDLIST* child = nullptr;
    SFGAOF attributes = 0;
    if (target && SHBindToParent(target, IID_IShellFolder, reinterpret_cast<void**>(&parent), &child) == S_OK) {
        attributes = SFGAO_FOLDER;
        parent->GetAttributesOf(1, &child, &attributes);
        parent->Release();
    }
    CoTaskMemFree(target);
    return (attributes & SFGAO_FOLDER) != 0;
}

TEST_F(MenuItem, OneItemGetsTheTextOfWhatItLocates)
{
    TempFolder folder;
    WriteFile(folder.file(L"Report, final.txt"), "report");
    WriteFile(folder.file(L"gone.txt"), "gone");
    ASSERT_TRUE(CreateDirectoryW(folder.file(L"Docs").c_str(), nullptr));
    MakeShortcut(folder.file(L"to file.lnk"), folder.file(L"Report, final.txt"));
    MakeShortcut(folder.file(L"to folder.LNK"), folder.file(L"Docs"));
    MakeShortcut(folder.file(L"to gone.lnk"), folder.file(L"gone.txt"));
    ASSERT_TRUE(DeleteFileW(folder.file(L"gone.txt").c_str()));
    const bool goneReadsAsFolder = ShellSaysTargetIsFolder(folder.file(L"to gone.lnk"));

    // Rows of a language other than the display language are left to the run in it.
    const Language display = DisplayLanguage();
    const UserTexts& ja = TextsIn(Language::Japanese);
    const UserTexts& en = TextsIn(Language::English);
    const UserTexts& shown = TextsIn(display);
    struct Case {
        const char* name;
        std::wstring item;
        Language language;
        const wchar_t* text;   // null: nothing inserted
        const wchar_t* title;  // the newer menu's, shown for a shortcut, else hidden
        UINT idCmdLast;
        UINT flags;
    };
    const Case cases[] = {
        {"shortcut to a file", L"to file.lnk", Language::Japanese, ja.fileMenu, ja.fileTitle, kIdCmdFirst + 10,
         CMF_NORMAL},
        {"shortcut to a file", L"to file.lnk", Language::English, en.fileMenu, en.fileTitle, kIdCmdFirst + 10,
         CMF_NORMAL},
        {"shortcut to a folder", L"to folder.LNK", Language::Japanese, ja.folderMenu, ja.folderTitle,
         kIdCmdFirst + 10, CMF_NORMAL},
        {"shortcut to a folder", L"to folder.LNK", Language::English, en.folderMenu, en.folderTitle,
         kIdCmdFirst + 10, CMF_NORMAL},
        {"shortcut to a deleted file", L"to gone.lnk", display, goneReadsAsFolder ? shown.folderMenu : shown.fileMenu,
         goneReadsAsFolder ? shown.folderTitle : shown.fileTitle, kIdCmdFirst + 10, CMF_NORMAL},
        {"default items only", L"to file.lnk", display, shown.fileMenu, shown.fileTitle, kIdCmdFirst + 10,
         CMF_DEFAULTONLY},
        {"no identifiers left", L"to file.lnk", display, shown.fileMenu, shown.fileTitle, kIdCmdFirst - 1,
         CMF_NORMAL},
        {"a plain file", L"Report, final.txt", display, shown.fileMenu, shown.fileTitle, kIdCmdFirst + 10,
         CMF_NORMAL},
        {"a folder", L"Docs", display, shown.folderMenu, shown.folderTitle, kIdCmdFirst + 10, CMF_NORMAL},
    };
    for (const Case& c : cases) {
        if (c.language != display) continue;
        SCOPED_TRACE(c.name);
        ScopedCountingAllocator allocator;
        IDataObject* data = ShellDataObjectFor(folder.file(c.item));
        ASSERT_NE(nullptr, data);
        const ULONG references = ReferencesOf(data);
        PopupMenu menu;
        IContextMenu* handler = NewHandler();
        Initialize(handler, data);

        const HRESULT result = handler->QueryContextMenu(menu.handle, 1, kIdCmdFirst, c.idCmdLast, c.flags);
        if (c.text) {
            EXPECT_EQ(1, result);
            ASSERT_EQ(3, menu.count());
            EXPECT_EQ(c.text, menu.text(1));
            EXPECT_EQ(kIdCmdFirst, GetMenuItemID(menu.handle, 1));
            EXPECT_EQ(L"second", menu.text(2));
        } else {
            EXPECT_EQ(S_OK, result);
            EXPECT_EQ(2, menu.count());
        }
        handler->Release();
        EXPECT_EQ(references, ReferencesOf(data));

        // The newer menu's command on the item array made from the same data object.
        IShellItemArray* items = nullptr;
        ASSERT_EQ(S_OK,
                  SHCreateShellItemArrayFromDataObject(data, IID_IShellItemArray, reinterpret_cast<void**>(&items)));
        const bool shortcut = c.item.find(L".lnk") != std::wstring::npos || c.item.find(L".LNK") != std::wstring::npos;
        ExpectCommandFace(items, shortcut, c.title);
        items->Release();
        data->Release();
        EXPECT_EQ(0, allocator.malloc.outstanding());
        // The shell's own lists, freed through the allocator: the selection's
        // for the state and the title, the item's real list for the menu and
        // the title, and a shortcut's target for both as well.
        EXPECT_EQ(shortcut ? 6 : 4, allocator.malloc.foreignFrees);
    }
}

// The command for arrays of other shapes, made from the data object or from
// the items' lists: one shortcut, a shortcut to an item without a path, a
// plain file and a folder (titled as the menu item, but hidden), two
// shortcuts, no array at all.
TEST_F(MenuItem, CommandShowsForArraysOfOneShortcutOnly)
{
    TempFolder folder;
    WriteFile(folder.file(L"notes.txt"), "notes");
    ASSERT_TRUE(CreateDirectoryW(folder.file(L"Docs").c_str(), nullptr));
    MakeShortcut(folder.file(L"to file.lnk"), folder.file(L"notes.txt"));
    MakeShortcut(folder.file(L"to folder.lnk"), folder.file(L"Docs"));
    ITEMIDLIST* computer = nullptr;
    ASSERT_EQ(S_OK, SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer));
    MakeShortcutToIdList(folder.file(L"to computer.lnk"), computer);
    CoTaskMemFree(computer);

    const UserTexts& texts = TextsIn(DisplayLanguage());
    struct Case {
        const char* name;
        std::vector<std::wstring> items;
        ArraySource source;
        bool shown;
        const wchar_t* title;
    };
    const Case cases[] = {
        {"shortcut to a file, from lists", {L"to file.lnk"}, ArraySource::IdLists, true, texts.fileTitle},
        {"shortcut to a folder, from lists", {L"to folder.lnk"}, ArraySource::IdLists, true, texts.folderTitle},
        {"shortcut to My Computer", {L"to computer.lnk"}, ArraySource::DataObject, true, texts.folderTitle},
        {"shortcut to My Computer, from lists", {L"to computer.lnk"}, ArraySource::IdLists, true, texts.folderTitle},
        {"plain file, from lists", {L"notes.txt"}, ArraySource::IdLists, false, texts.fileTitle},
        {"folder, from lists", {L"Docs"}, ArraySource::IdLists, false, texts.folderTitle},
        {"two shortcuts", {L"to file.lnk", L"to folder.lnk"}, ArraySource::DataObject, false, texts.fileTitle},
        {"two shortcuts, from lists", {L"to file.lnk", L"to folder.lnk"}, ArraySource::IdLists, false,
         texts.fileTitle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedCountingAllocator allocator;
        std::vector<std::wstring> paths;
        for (const std::wstring& item : c.items) paths.push_back(folder.file(item));
        IShellItemArray* items = ShellItemArrayFor(paths, c.source);
        ASSERT_NE(nullptr, items);
        ExpectCommandFace(items, c.shown, c.title);
        items->Release();
        EXPECT_EQ(0, allocator.malloc.outstanding());
    }
    SCOPED_TRACE("no array");
    ExpectCommandFace(nullptr, false, texts.fileTitle);
}

// The verb is the same in every language; the help text follows the
// display language, for ANSI callers in the code page that goes with it.
TEST(CommandString, AnswersOnlyForItsOneCommandAndWithinTheRoomGiven)
{
    const wchar_t kVerb[] = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F";
    static_assert(sizeof kVerb == 11 * sizeof(wchar_t), "11 characters with the zero");
    const BYTE kVerbA[] = {0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8B, 0x82, 0xCC, 0x8F,
                           0xEA, 0x8F, 0x8A, 0x82, 0xF0, 0x8A, 0x4A, 0x82, 0xAD, 0x00};
    static_assert(sizeof kVerbA == 21, "21 bytes with the zero");
    const std::vector<BYTE> verbA(kVerbA, kVerbA + sizeof kVerbA);
    const auto wide = [](const wchar_t* text) {
        return std::vector<BYTE>(reinterpret_cast<const BYTE*>(text),
                                 reinterpret_cast<const BYTE*>(text + std::wcslen(text) + 1));
    };
    const Language display = DisplayLanguage();
    const UserTexts& ja = TextsIn(Language::Japanese);
    const UserTexts& en = TextsIn(Language::English);

    struct Case {
        const char* name;
        Language language;
        UINT codePage;  // the ANSI code page; 0: whichever comes with the language
        UINT_PTR idCmd;
        UINT type;
        UINT cchMax;
        HRESULT expected;
        std::vector<BYTE> written;  // nothing written when empty
    };
    const Case cases[] = {
        {"ANSI verb", Language::Japanese, 0, 0, GCS_VERBA, 21, S_OK, verbA},
        {"ANSI verb", Language::English, 0, 0, GCS_VERBA, 21, S_OK, verbA},
        {"ANSI help text", Language::Japanese, 932, 0, GCS_HELPTEXTA, 260, S_OK, ja.helpAnsi},
        // Japanese is not to be had in this code page: the English help text instead.
        {"ANSI help text", Language::Japanese, 1252, 0, GCS_HELPTEXTA, 260, S_OK, en.helpAnsi},
        {"ANSI help text", Language::English, 0, 0, GCS_HELPTEXTA, 260, S_OK, en.helpAnsi},
        {"wide verb", Language::Japanese, 0, 0, GCS_VERBW, 11, S_OK, wide(kVerb)},
        {"wide verb", Language::English, 0, 0, GCS_VERBW, 11, S_OK, wide(kVerb)},
        {"wide help text", Language::Japanese, 0, 0, GCS_HELPTEXTW, 260, S_OK, wide(ja.help)},
        {"wide help text", Language::English, 0, 0, GCS_HELPTEXTW, 260, S_OK, wide(en.help)},
        {"ANSI validation", display, 0, 0, GCS_VALIDATEA, 260, S_OK, {}},
        {"wide validation", display, 0, 0, GCS_VALIDATEW, 260, S_OK, {}},
        {"another identifier", display, 0, 1, GCS_HELPTEXTW, 260, E_INVALIDARG, {}},
        {"request type 3", display, 0, 0, 3, 260, E_INVALIDARG, {}},
        {"request type 7", display, 0, 0, 7, 260, E_INVALIDARG, {}},
        {"wide verb icon", display, 0, 0, GCS_VERBICONW, 260, E_INVALIDARG, {}},
        {"ANSI verb a byte short", display, 0, 0, GCS_VERBA, 20, E_INVALIDARG, {}},
        {"wide verb a character short", display, 0, 0, GCS_VERBW, 10, E_INVALIDARG, {}},
        {"ANSI help text a byte short", Language::Japanese, 932, 0, GCS_HELPTEXTA, 20, E_INVALIDARG, {}},
        {"ANSI help text a byte short", Language::English, 0, 0, GCS_HELPTEXTA, 18, E_INVALIDARG, {}},
        {"wide help text with no room", display, 0, 0, GCS_HELPTEXTW, 0, E_INVALIDARG, {}},
    };
    ComApartment apartment;
    IContextMenu* handler = NewHandler();
    for (const Case& c : cases) {
        if (c.language != display || (c.codePage && c.codePage != GetACP())) continue;
        SCOPED_TRACE(c.name);
        std::vector<BYTE> buffer(600, 0xAB);
        EXPECT_EQ(c.expected, handler->GetCommandString(c.idCmd, c.type, nullptr,
                                                        reinterpret_cast<CHAR*>(buffer.data()), c.cchMax));
        std::vector<BYTE> expected = c.written;
        expected.resize(buffer.size(), 0xAB);
        EXPECT_EQ(expected, buffer);
    }
    EXPECT_EQ(E_INVALIDARG, handler->GetCommandString(0, GCS_VERBW, nullptr, nullptr, 260));

    // Nothing is kept from one call to the next: a thread switched to the
    // other language gets its text at once. Windows follows the thread's UI
    // language, Wine its locale: both are switched.
    const bool japanese = display == Language::Japanese;
    const LANGID other = japanese ? MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)
                                  : MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN);
    const LCID savedLocale = GetThreadLocale();
    const LANGID savedLanguage = GetThreadUILanguage();
    SetThreadUILanguage(other);
    SetThreadLocale(MAKELCID(other, SORT_DEFAULT));
    wchar_t help[64] = L"";
    EXPECT_EQ(S_OK, handler->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(help), 64));
    EXPECT_STREQ((japanese ? en : ja).help, help);
    SetThreadLocale(savedLocale);
    SetThreadUILanguage(savedLanguage);
    handler->Release();
    EXPECT_EQ(0, ModuleObjectCount());
}

}  // namespace
