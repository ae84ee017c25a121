#include "support/handler_objects.h"

#include <gtest/gtest.h>

#include "base/module_identity.h"

IContextMenu* NewHandler()
{
    IClassFactory* factory = nullptr;
    EXPECT_EQ(S_OK, DllGetClassObject(HANDLER_CLSID, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IContextMenu* menu = nullptr;
    if (factory) {
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)));
        factory->Release();
    }
    return menu;
}

ULONG ReferencesOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}
