// Shortcut probing on the real shell, with real shortcut files.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "support/shell_items.h"

namespace {

TEST(ShellItems, ShortcutFileIsAShellItemWithADataObject)
{
    ComApartment apartment;
    TempFolder folder;
    WriteFile(folder.file(L"target.txt"), "x");
    MakeShortcut(folder.file(L"a.lnk"), folder.file(L"target.txt"));

    ITEMIDLIST* list = AbsoluteIdListOf(folder.file(L"a.lnk"));
    ASSERT_NE(nullptr, list);
    wchar_t path[MAX_PATH] = L"";
    EXPECT_TRUE(SHGetPathFromIDListW(list, path));
    EXPECT_STREQ(folder.file(L"a.lnk").c_str(), path);
    CoTaskMemFree(list);

    IDataObject* data = ShellDataObjectFor(folder.file(L"a.lnk"));
    ASSERT_NE(nullptr, data);
    FORMATETC format = {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"Shell IDList Array")), nullptr,
                        DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(S_OK, data->QueryGetData(&format));
    data->Release();
}

}  // namespace
