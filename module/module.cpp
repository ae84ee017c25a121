#include "module/module.h"

#include "base/module_identity.h"
#include "module/class_factory.h"

namespace {
LONG volatile liveObjects = 0;
}

void ModuleObjectCreated() { InterlockedIncrement(&liveObjects); }
void ModuleObjectDestroyed() { InterlockedDecrement(&liveObjects); }
LONG ModuleObjectCount() { return InterlockedCompareExchange(&liveObjects, 0, 0); }

STDAPI DllCanUnloadNow()
{
    return ModuleObjectCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, HANDLER_CLSID)) return CLASS_E_CLASSNOTAVAILABLE;
    return ClassFactory::Create(riid, ppv);
}
