#include "module/module.h"

#include "base/module_identity.h"
#include "module/class_factory.h"
#include "module/open_containing_folder_command.h"
#include "module/open_containing_folder_menu.h"

namespace {

LONG volatile liveObjects = 0;

// The classes served, each with the routine that makes its objects.
struct ServedClass {
    const CLSID* clsid;
    ClassFactory::CreateRoutine createObject;
};
const ServedClass kServedClasses[] = {
    {&HANDLER_CLSID, &OpenContainingFolderMenu::Create},
    {&COMMAND_CLSID, &OpenContainingFolderCommand::Create},
};

}  // namespace

void ModuleObjectCreated() { InterlockedIncrement(&liveObjects); }
void ModuleObjectDestroyed() { InterlockedDecrement(&liveObjects); }
LONG ModuleObjectCount() { return InterlockedCompareExchange(&liveObjects, 0, 0); }

STDAPI DllCanUnloadNow()
{
    return ModuleObjectCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    for (const ServedClass& served : kServedClasses)
        if (IsEqualCLSID(rclsid, *served.clsid)) return ClassFactory::Create(served.createObject, riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}
