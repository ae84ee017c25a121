// Folder binding. The shell here shows a folder shortcut as a plain folder
// (no SFGAO_LINK), so the fallback is driven through a stand-in desktop that
// refuses chosen lists, reports a chosen item as a folder shortcut with a real
// link object, and passes everything else to the real desktop.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/test_seams.h"
#include "byte_lists.h"
#include "shellns/folder_binding.h"
#include "shellns/id_list.h"
#include "support/counting_malloc.h"
#include "support/shell_items.h"

namespace {

// Items that only the stand-in desktop knows.
const Bytes A = {0x06, 0x00, 'N', 'V', 'A', 0x00};
const Bytes F = {0x07, 0x00, 'N', 'V', 'F', 0x01, 0x02};
const Bytes G = {0x05, 0x00, 0x01, 0x02, 0x03};

// Whether `list` begins with the items of `prefix`, or is `bytes` exactly.
bool StartsWith(const ITEMIDLIST* list, const Bytes& prefix)
{
    return !prefix.empty() && IdListSize(list) >= prefix.size() &&
           std::memcmp(list, prefix.data(), prefix.size() - 2) == 0;
}
bool Equals(const ITEMIDLIST* list, const Bytes& bytes)
{
    return IdListSize(list) == bytes.size() && std::memcmp(list, bytes.data(), bytes.size()) == 0;
}

// The references an object holds, read without changing them.
ULONG References(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

class FakeDesktop : public IShellFolder {
public:
    explicit FakeDesktop(IShellFolder* real) : real_(real) {}

    LONG references = 1;
    Bytes refused;      // lists beginning with these items do not bind
    Bytes bindsToSelf;  // this list binds to the stand-in itself
    Bytes shortcut;     // the one item (a one-item list) reported as below
    SFGAOF attributes = SFGAO_FOLDER | SFGAO_LINK;
    HRESULT attributesStatus = S_OK;
    HRESULT linkStatus = S_OK;
    IShellLinkW* link = nullptr;  // handed out for the shortcut
    int attributeQueries = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IShellFolder)) return E_NOINTERFACE;
        *ppv = static_cast<IShellFolder*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }

    STDMETHODIMP ParseDisplayName(HWND window, IBindCtx* context, LPWSTR name, ULONG* eaten,
                                  PIDLIST_RELATIVE* list, ULONG* attributesAsked) override
    {
        return real_->ParseDisplayName(window, context, name, eaten, list, attributesAsked);
    }
    STDMETHODIMP EnumObjects(HWND, SHCONTF, IEnumIDList**) override { return E_NOTIMPL; }
    STDMETHODIMP BindToObject(PCUIDLIST_RELATIVE list, IBindCtx* context, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (StartsWith(list, refused)) return E_FAIL;
        if (Equals(list, bindsToSelf)) return QueryInterface(riid, ppv);
        return real_->BindToObject(list, context, riid, ppv);
    }
    STDMETHODIMP BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) override { return E_NOTIMPL; }
    STDMETHODIMP CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* inOut) override
    {
        ++attributeQueries;
        EXPECT_EQ(1u, count);
        EXPECT_EQ(SFGAOF(SFGAO_FOLDER | SFGAO_LINK), *inOut);
        if (!Equals(items[0], shortcut)) return E_FAIL;
        *inOut = attributes;
        return attributesStatus;
    }
    STDMETHODIMP GetUIObjectOf(HWND, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID riid, UINT*,
                               void** ppv) override
    {
        *ppv = nullptr;
        EXPECT_EQ(1u, count);
        if (!Equals(items[0], shortcut) || linkStatus != S_OK) return linkStatus == S_OK ? E_FAIL : linkStatus;
        return link->QueryInterface(riid, ppv);
    }
    STDMETHODIMP GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF, STRRET*) override { return E_NOTIMPL; }
    STDMETHODIMP SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) override { return E_NOTIMPL; }

private:
    IShellFolder* real_;
};

std::wstring FolderPath(IShellFolder* folder)
{
    IPersistFolder2* persist = nullptr;
    if (folder->QueryInterface(IID_IPersistFolder2, reinterpret_cast<void**>(&persist)) != S_OK) return L"?";
    ITEMIDLIST* list = nullptr;
    wchar_t path[MAX_PATH] = L"";
    if (persist->GetCurFolder(&list) == S_OK) SHGetPathFromIDListW(list, path);
    CoTaskMemFree(list);
    persist->Release();
    return path;
}

class FolderBindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, SHGetDesktopFolder(&real_));
        ASSERT_TRUE(CreateDirectoryW(folder_.file(L"target").c_str(), nullptr));
        for (IShellLinkW** link : {&link_, &emptyLink_})
            ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             reinterpret_cast<void**>(link)));
        ASSERT_EQ(S_OK, link_->SetPath(folder_.file(L"target").c_str()));
        fake_ = new FakeDesktop(real_);
        fake_->link = link_;
        SetDesktopFolderForTests(fake_);
    }
    void TearDown() override
    {
        SetDesktopFolderForTests(nullptr);
        if (fake_) EXPECT_EQ(1, fake_->references);
        delete fake_;
        for (IShellLinkW* link : {link_, emptyLink_})
            if (link) EXPECT_EQ(0u, link->Release());
        if (real_) real_->Release();
    }

    // Binds through BindToFolder (or the fallback alone) and answers the
    // status, checking that a failure leaves the out-parameter alone and
    // that every list made on the way is freed.
    HRESULT Bind(const ITEMIDLIST* list, std::wstring* boundPath, bool fallbackOnly = false, int failAt = 0)
    {
        ScopedCountingAllocator counting;
        counting.malloc.failAt = failAt;
        IShellFolder* const untouched = reinterpret_cast<IShellFolder*>(&counting);
        IShellFolder* bound = untouched;
        HRESULT status = fallbackOnly ? BindThroughFolderLinks(&bound, list) : BindToFolder(&bound, list);
        EXPECT_EQ(0, counting.malloc.outstanding());
        if (status != S_OK) {
            EXPECT_EQ(untouched, bound);
            return status;
        }
        EXPECT_NE(nullptr, bound);
        if (boundPath) *boundPath = bound == fake_ ? L"<desktop>" : FolderPath(bound);
        bound->Release();
        return status;
    }

    ComApartment apartment_;
    TempFolder folder_;
    IShellFolder* real_ = nullptr;
    IShellLinkW* link_ = nullptr;  // to the folder "target"
    IShellLinkW* emptyLink_ = nullptr;
    FakeDesktop* fake_ = nullptr;
};

struct FallbackCase {
    const char* name;
    Bytes list;
    Bytes refused;
    Bytes bindsToSelf;
    SFGAOF attributes;
    HRESULT attributesStatus;
    HRESULT linkStatus;
    bool linkHasPath;
    HRESULT expected;
};

TEST_F(FolderBindingTest, FallbackFollowsTheFirstUnbindableFolderShortcut)
{
    const SFGAOF kBoth = SFGAO_FOLDER | SFGAO_LINK;
    const Bytes none;
    const FallbackCase cases[] = {
        {"on the desktop, items behind it", Items({F, G, G}), Items({F}), none, kBoth, S_OK, S_OK, true, S_OK},
        {"inside a folder, items behind it", Items({A, F, G}), Items({A, F}), Items({A}), kBoth, S_OK, S_OK, true,
         S_OK},
        {"last item of the list", Items({A, F}), Items({A, F}), Items({A}), kBoth, S_OK, S_OK, true, S_OK},
        {"more attributes than asked", Items({F}), Items({F}), none, kBoth | SFGAO_HASSUBFOLDER, S_OK, S_OK, true,
         S_OK},
        {"shortcut, not a folder", Items({F, G}), Items({F}), none, SFGAO_LINK, S_OK, S_OK, true, E_FAIL},
        {"folder, not a shortcut", Items({A, F, G}), Items({A, F}), Items({A}), SFGAO_FOLDER, S_OK, S_OK, true,
         E_FAIL},
        {"attributes refused", Items({F}), Items({F}), none, kBoth, E_FAIL, S_OK, true, E_FAIL},
        {"attributes with S_FALSE", Items({F}), Items({F}), none, kBoth, S_FALSE, S_OK, true, E_FAIL},
        {"no link object", Items({F}), Items({F}), none, kBoth, S_OK, E_NOINTERFACE, true, E_FAIL},
        {"link without a path", Items({F}), Items({F}), none, kBoth, S_OK, S_OK, false, E_FAIL},
        {"unbindable item, not the shortcut", Items({G, F}), Items({G}), none, kBoth, S_OK, S_OK, true, E_FAIL},
    };
    for (const FallbackCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake_->refused = c.refused;
        fake_->bindsToSelf = c.bindsToSelf;
        fake_->shortcut = Items({F});
        fake_->attributes = c.attributes;
        fake_->attributesStatus = c.attributesStatus;
        fake_->linkStatus = c.linkStatus;
        fake_->link = c.linkHasPath ? link_ : emptyLink_;
        std::wstring boundPath;
        EXPECT_EQ(c.expected, Bind(AsList(c.list), &boundPath));
        if (c.expected == S_OK) EXPECT_EQ(folder_.file(L"target"), boundPath);
        EXPECT_EQ(1, fake_->references);
        EXPECT_EQ(1u, References(link_));
        EXPECT_EQ(1u, References(emptyLink_));
    }
}

TEST_F(FolderBindingTest, RefusedCopiesFailTheFallbackWithoutLeaks)
{
    const Bytes list = Items({A, F, G});
    fake_->refused = Items({A, F});
    fake_->bindsToSelf = Items({A});
    fake_->shortcut = Items({F});
    // Copies made: [A] and the prefix [A]; [F] and the prefix [A][F]; then
    // the last item [F] and the parent part [A]. Neither missing half of the
    // split may reach the folder.
    for (int failAt = 1; failAt <= 6; ++failAt) {
        SCOPED_TRACE(failAt);
        EXPECT_EQ(E_FAIL, Bind(AsList(list), nullptr, false, failAt));
        EXPECT_EQ(0, fake_->attributeQueries);
    }
    std::wstring boundPath;
    EXPECT_EQ(S_OK, Bind(AsList(list), &boundPath, false, 7));
    EXPECT_EQ(folder_.file(L"target"), boundPath);
}

TEST_F(FolderBindingTest, BindsPlainListsAndTheDesktop)
{
    std::wstring boundPath;
    EXPECT_EQ(S_OK, Bind(nullptr, &boundPath));
    EXPECT_EQ(L"<desktop>", boundPath);

    ITEMIDLIST* target = ParsePathToIdList(folder_.file(L"target").c_str());
    ASSERT_NE(nullptr, target);
    EXPECT_EQ(S_OK, Bind(target, &boundPath));
    EXPECT_EQ(folder_.file(L"target"), boundPath);
    // When every prefix binds there is no folder shortcut to follow.
    EXPECT_EQ(E_FAIL, Bind(target, nullptr, true));
    EXPECT_EQ(E_FAIL, Bind(AsList(Items({})), nullptr, true));
    CoTaskMemFree(target);

    EXPECT_EQ(nullptr, ParsePathToIdList(folder_.file(L"missing\\nowhere").c_str()));
}

}  // namespace
