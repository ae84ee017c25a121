#include "module/class_factory.h"

#include "module/module.h"

ClassFactory::ClassFactory(CreateRoutine createObject) : createObject_(createObject) { ModuleObjectCreated(); }
ClassFactory::~ClassFactory() { ModuleObjectDestroyed(); }

HRESULT ClassFactory::Create(CreateRoutine createObject, REFIID riid, void** ppv)
{
    *ppv = nullptr;
    ClassFactory* factory = new (std::nothrow) ClassFactory(createObject);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete factory;
    return hr;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) ClassFactory::Release()
{
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    return createObject_(riid, ppv);
}

// There is no lock count: only live objects keep the module loaded.
STDMETHODIMP ClassFactory::LockServer(BOOL) { return S_OK; }
