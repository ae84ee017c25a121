#pragma once
#include <windows.h>
#include <unknwn.h>

#include "module/object_heap.h"

// Makes handler objects. A new factory for every DllGetClassObject call; no
// factory state is shared.
class ClassFactory final : public IClassFactory {
public:
    // Makes a factory and hands out its first reference through `riid`. A
    // factory that cannot be handed out is destroyed at once.
    static HRESULT Create(REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

    NORRVANE_OBJECT_HEAP

private:
    ClassFactory();
    ~ClassFactory();

    LONG references_ = 0;
};
