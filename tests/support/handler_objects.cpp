#include "support/handler_objects.h"

#include <gtest/gtest.h>

#include "base/module_identity.h"

namespace {

template <typename T>
T* NewObject(REFCLSID clsid, REFIID iid)
{
    IClassFactory* factory = nullptr;
    EXPECT_EQ(S_OK, DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    T* object = nullptr;
    if (factory) {
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object)));
        factory->Release();
    }
    return object;
}

}  // namespace

IContextMenu* NewHandler() { return NewObject<IContextMenu>(HANDLER_CLSID, IID_IContextMenu); }

IExplorerCommand* NewCommand() { return NewObject<IExplorerCommand>(COMMAND_CLSID, IID_IExplorerCommand); }

ULONG ReferencesOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}
