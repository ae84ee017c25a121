#pragma once
#include <windows.h>
#include <unknwn.h>

#include "module/object_heap.h"

// Makes the objects of one class through that class's creation routine. A new
// factory for every DllGetClassObject call; no factory state is shared.
class ClassFactory final : public IClassFactory {
public:
    // A class's routine that makes an object and hands out its first
    // reference through `riid`.
    using CreateRoutine = HRESULT (*)(REFIID riid, void** ppv);

    // Makes a factory of the objects `createObject` makes and hands out its
    // first reference through `riid`. A factory that cannot be handed out is
    // destroyed at once.
    static HRESULT Create(CreateRoutine createObject, REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

    NORRVANE_OBJECT_HEAP

private:
    explicit ClassFactory(CreateRoutine createObject);
    ~ClassFactory();

    LONG references_ = 0;
    const CreateRoutine createObject_;
};
