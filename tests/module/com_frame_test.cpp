// The COM frame as the shell and COM drive it: factories, handlers and
// commands, their counts and identities, and the module's unload answer.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "base/module_identity.h"
#include "base/test_seams.h"
#include "module/module.h"
#include "support/counting_data_object.h"

namespace {

const CLSID kStockClsid = {0x37ea3a21, 0x7493, 0x4208, {0xa0, 0x11, 0x7f, 0x9e, 0xa7, 0x9c, 0xe9, 0xf5}};

IClassFactory* NewFactory(REFCLSID clsid = HANDLER_CLSID)
{
    IClassFactory* factory = nullptr;
    EXPECT_EQ(S_OK, DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    return factory;
}

// The classes the module serves, each with an interface of its own and one
// that only the other has.
struct ServedClass {
    const char* name;
    CLSID clsid;
    IID iid;
    IID otherIid;
};
const ServedClass kServedClasses[] = {
    {"handler", HANDLER_CLSID, IID_IContextMenu, IID_IExplorerCommand},
    {"command", COMMAND_CLSID, IID_IExplorerCommand, IID_IContextMenu},
};

IContextMenu* NewHandler()
{
    IClassFactory* factory = NewFactory();
    IContextMenu* menu = nullptr;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)));
    factory->Release();
    return menu;
}

template <typename T>
T* Query(IUnknown* object, REFIID riid)
{
    T* result = nullptr;
    EXPECT_EQ(S_OK, object->QueryInterface(riid, reinterpret_cast<void**>(&result)));
    return result;
}

class ComFrame : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ModuleObjectCount()); }
    void TearDown() override
    {
        EXPECT_EQ(0, ModuleObjectCount());
        EXPECT_EQ(S_OK, DllCanUnloadNow());
    }
};

TEST_F(ComFrame, FactoryLifetimeDrivesUnloadAnswer)
{
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    IClassFactory* first = NewFactory();
    EXPECT_EQ(2u, first->AddRef());
    EXPECT_EQ(1u, first->Release());
    EXPECT_EQ(1, ModuleObjectCount());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());

    IUnknown* second = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(HANDLER_CLSID, IID_IUnknown, reinterpret_cast<void**>(&second)));
    EXPECT_NE(static_cast<IUnknown*>(first), second);
    EXPECT_EQ(2, ModuleObjectCount());

    // Lock requests change nothing: only live objects keep the module.
    EXPECT_EQ(S_OK, first->LockServer(TRUE));
    EXPECT_EQ(S_OK, first->LockServer(FALSE));
    EXPECT_EQ(2, ModuleObjectCount());

    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    EXPECT_EQ(0u, second->Release());
}

TEST_F(ComFrame, RefusedRequestsLeaveNothingAlive)
{
    struct Case {
        const char* name;
        CLSID clsid;
        IID iid;
        HRESULT expected;
    } cases[] = {
        {"stock handler class", kStockClsid, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"factory asked for a handler interface", HANDLER_CLSID, IID_IContextMenu, E_NOINTERFACE},
        {"factory asked for IShellFolder", HANDLER_CLSID, IID_IShellFolder, E_NOINTERFACE},
        {"command's factory asked for the command's interface", COMMAND_CLSID, IID_IExplorerCommand, E_NOINTERFACE},
        {"command's canonical name taken for a class", COMMAND_CANONICAL_NAME, IID_IClassFactory,
         CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.expected, DllGetClassObject(c.clsid, c.iid, &out)) << c.name;
        EXPECT_EQ(nullptr, out) << c.name;
        EXPECT_EQ(0, ModuleObjectCount()) << c.name;
    }
    EXPECT_EQ(E_INVALIDARG, DllGetClassObject(COMMAND_CLSID, IID_IClassFactory, nullptr));

    for (const ServedClass& served : kServedClasses) {
        SCOPED_TRACE(served.name);
        IClassFactory* factory = NewFactory(served.clsid);
        struct InstanceCase {
            const char* name;
            IUnknown* outer;
            IID iid;
            HRESULT expected;
        } instanceCases[] = {
            {"aggregation, even for IUnknown", factory, IID_IUnknown, CLASS_E_NOAGGREGATION},
            {"interface the object lacks", nullptr, IID_IClassFactory, E_NOINTERFACE},
            {"IShellFolder", nullptr, IID_IShellFolder, E_NOINTERFACE},
            {"the other class's interface", nullptr, served.otherIid, E_NOINTERFACE},
        };
        for (const InstanceCase& c : instanceCases) {
            void* out = reinterpret_cast<void*>(1);
            EXPECT_EQ(c.expected, factory->CreateInstance(c.outer, c.iid, &out)) << c.name;
            EXPECT_EQ(nullptr, out) << c.name;
            EXPECT_EQ(1, ModuleObjectCount()) << c.name;
        }
        EXPECT_EQ(E_INVALIDARG, factory->CreateInstance(nullptr, served.iid, nullptr));
        EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IClassFactory, nullptr));
        IUnknown* object = nullptr;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, served.iid, reinterpret_cast<void**>(&object)));
        EXPECT_EQ(E_POINTER, object->QueryInterface(served.iid, nullptr));
        EXPECT_EQ(0u, object->Release());
        EXPECT_EQ(1, ModuleObjectCount());
        factory->Release();
    }
}

TEST_F(ComFrame, OutOfMemoryIsReportedAndCountsNothing)
{
    for (const ServedClass& served : kServedClasses) {
        SCOPED_TRACE(served.name);
        void* out = reinterpret_cast<void*>(1);
        FailNextObjectAllocations(1);
        EXPECT_EQ(E_OUTOFMEMORY, DllGetClassObject(served.clsid, IID_IClassFactory, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(0, ModuleObjectCount());

        IClassFactory* factory = NewFactory(served.clsid);
        FailNextObjectAllocations(1);
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(nullptr, served.iid, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(1, ModuleObjectCount());
        factory->Release();
        FailNextObjectAllocations(0);
    }
}

TEST_F(ComFrame, ObjectOutlivesItsFactory)
{
    for (const ServedClass& served : kServedClasses) {
        SCOPED_TRACE(served.name);
        IClassFactory* factory = NewFactory(served.clsid);
        IUnknown* object = nullptr;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, served.iid, reinterpret_cast<void**>(&object)));
        EXPECT_EQ(2, ModuleObjectCount());
        EXPECT_EQ(0u, factory->Release());
        EXPECT_EQ(1, ModuleObjectCount());
        EXPECT_EQ(S_FALSE, DllCanUnloadNow());
        EXPECT_EQ(2u, object->AddRef());
        EXPECT_EQ(1u, object->Release());
        EXPECT_EQ(S_FALSE, DllCanUnloadNow());
        EXPECT_EQ(0u, object->Release());
        EXPECT_EQ(S_OK, DllCanUnloadNow());
    }
    IContextMenu* menu = NewHandler();
    IShellExtInit* init = Query<IShellExtInit>(menu, IID_IShellExtInit);
    EXPECT_EQ(S_OK, init->Initialize(nullptr, nullptr, nullptr));
    init->Release();
    EXPECT_EQ(0u, menu->Release());
}

TEST_F(ComFrame, OneIdentityAndOneCountThroughAllFourInterfaces)
{
    IContextMenu* menu = NewHandler();
    IShellExtInit* init = Query<IShellExtInit>(menu, IID_IShellExtInit);
    IExtractIconW* icon = Query<IExtractIconW>(init, IID_IExtractIconW);
    IPersistFile* persist = Query<IPersistFile>(icon, IID_IPersistFile);

    // The identity is the IShellExtInit pointer, whichever interface asks.
    IUnknown* via[] = {menu, init, icon, persist};
    for (IUnknown* source : via) {
        IUnknown* identity = Query<IUnknown>(source, IID_IUnknown);
        EXPECT_EQ(static_cast<IUnknown*>(init), identity);
        identity->Release();
    }
    IContextMenu* menuAgain = Query<IContextMenu>(persist, IID_IContextMenu);
    EXPECT_EQ(menu, menuAgain);
    menuAgain->Release();

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, icon->QueryInterface(IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);

    // Four references now; releases through four interfaces count down one count.
    EXPECT_EQ(3u, persist->Release());
    EXPECT_EQ(2u, icon->Release());
    EXPECT_EQ(1u, menu->Release());
    EXPECT_EQ(1, ModuleObjectCount());
    EXPECT_EQ(0u, init->Release());
}

TEST_F(ComFrame, CommandIsOneIdentityWithOneInterface)
{
    IClassFactory* factory = NewFactory(COMMAND_CLSID);
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&identity)));
    factory->Release();
    IExplorerCommand* command = Query<IExplorerCommand>(identity, IID_IExplorerCommand);
    EXPECT_EQ(static_cast<IUnknown*>(command), identity);
    IUnknown* again = Query<IUnknown>(command, IID_IUnknown);
    EXPECT_EQ(identity, again);

    for (const IID& refused : {IID_IContextMenu, IID_IShellExtInit, IID_IObjectWithSite, IID_IClassFactory}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, command->QueryInterface(refused, &out));
        EXPECT_EQ(nullptr, out);
    }
    EXPECT_EQ(E_POINTER, command->QueryInterface(IID_IUnknown, nullptr));

    EXPECT_EQ(2u, again->Release());
    EXPECT_EQ(1u, command->Release());
    EXPECT_EQ(1, ModuleObjectCount());
    EXPECT_EQ(0u, identity->Release());
}

TEST_F(ComFrame, FixedAnswersOfTheStubInterfaces)
{
    IContextMenu* menu = NewHandler();
    IExtractIconW* icon = Query<IExtractIconW>(menu, IID_IExtractIconW);
    IPersistFile* persist = Query<IPersistFile>(menu, IID_IPersistFile);
    EXPECT_EQ(E_FAIL, icon->GetIconLocation(0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(S_FALSE, icon->Extract(nullptr, 0, nullptr, nullptr, 0));
    CLSID untouched = HANDLER_CLSID;
    EXPECT_EQ(E_FAIL, persist->GetClassID(&untouched));
    EXPECT_TRUE(IsEqualCLSID(HANDLER_CLSID, untouched));
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    EXPECT_EQ(E_FAIL, persist->Load(L"C:\\x.lnk", 0));
    EXPECT_EQ(E_FAIL, persist->Save(nullptr, TRUE));
    EXPECT_EQ(E_FAIL, persist->SaveCompleted(nullptr));
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(E_FAIL, persist->GetCurFile(&name));
    EXPECT_EQ(reinterpret_cast<LPOLESTR>(1), name);
    persist->Release();
    icon->Release();
    menu->Release();

    IClassFactory* factory = NewFactory(COMMAND_CLSID);
    IExplorerCommand* command = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&command)));
    factory->Release();
    LPWSTR text = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_NOTIMPL, command->GetIcon(nullptr, &text));
    EXPECT_EQ(nullptr, text);
    text = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_NOTIMPL, command->GetToolTip(nullptr, &text));
    EXPECT_EQ(nullptr, text);
    GUID canonical = GUID_NULL;
    EXPECT_EQ(S_OK, command->GetCanonicalName(&canonical));
    wchar_t canonicalText[39] = {};
    StringFromGUID2(canonical, canonicalText, 39);
    EXPECT_STREQ(L"{C3A8E5F2-6D1B-4E97-B4A3-5F0C2D9E7B18}", canonicalText);
    EXPCMDFLAGS flags = 0x55;
    EXPECT_EQ(S_OK, command->GetFlags(&flags));
    EXPECT_EQ(DWORD(ECF_DEFAULT), flags);
    IEnumExplorerCommand* subcommands = reinterpret_cast<IEnumExplorerCommand*>(1);
    EXPECT_EQ(E_NOTIMPL, command->EnumSubCommands(&subcommands));
    EXPECT_EQ(nullptr, subcommands);
    // Without an array there is nothing to start.
    EXPECT_EQ(E_FAIL, command->Invoke(nullptr, nullptr));

    // No out-pointer is written through when there is none.
    using Call = HRESULT (*)(IExplorerCommand*);
    const Call nullOuts[] = {
        [](IExplorerCommand* c) { return c->GetTitle(nullptr, nullptr); },
        [](IExplorerCommand* c) { return c->GetIcon(nullptr, nullptr); },
        [](IExplorerCommand* c) { return c->GetToolTip(nullptr, nullptr); },
        [](IExplorerCommand* c) { return c->GetCanonicalName(nullptr); },
        [](IExplorerCommand* c) { return c->GetState(nullptr, FALSE, nullptr); },
        [](IExplorerCommand* c) { return c->GetFlags(nullptr); },
        [](IExplorerCommand* c) { return c->EnumSubCommands(nullptr); },
    };
    for (size_t k = 0; k < sizeof nullOuts / sizeof nullOuts[0]; ++k) EXPECT_EQ(E_POINTER, nullOuts[k](command)) << k;
    command->Release();
}

TEST_F(ComFrame, InitializeHoldsExactlyOneReferenceToTheLatestDataObject)
{
    CountingDataObject first, second;
    IContextMenu* menu = NewHandler();
    IShellExtInit* init = Query<IShellExtInit>(menu, IID_IShellExtInit);

    EXPECT_EQ(S_OK, init->Initialize(nullptr, &first, nullptr));
    EXPECT_EQ(2, first.references);
    EXPECT_EQ(S_OK, init->Initialize(nullptr, &first, nullptr));  // the same one again
    EXPECT_EQ(2, first.references);
    EXPECT_EQ(S_OK, init->Initialize(nullptr, &second, nullptr));
    EXPECT_EQ(1, first.references);
    EXPECT_EQ(2, second.references);
    EXPECT_EQ(S_OK, init->Initialize(nullptr, nullptr, nullptr));
    EXPECT_EQ(1, second.references);
    EXPECT_EQ(S_OK, init->Initialize(nullptr, &second, nullptr));

    init->Release();
    menu->Release();
    EXPECT_EQ(1, first.references);
    EXPECT_EQ(1, second.references);
    // The handler let its data object go while it still counted as alive.
    EXPECT_EQ(1, second.moduleObjectsAtRelease);
    EXPECT_EQ(0, first.getDataCalls + second.getDataCalls);
}

}  // namespace
