#include "support/counting_data_object.h"

#include <cstring>

STDMETHODIMP CountingDataObject::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDataObject)) return E_NOINTERFACE;
    *ppv = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP CountingDataObject::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    ++getDataCalls;
    if (refuseGetData || format->cfFormat != RegisterClipboardFormatW(L"Shell IDList Array") ||
        !(format->tymed & TYMED_HGLOBAL))
        return DV_E_FORMATETC;
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, block.size());
    if (!global) return E_OUTOFMEMORY;
    if (!block.empty()) {
        std::memcpy(GlobalLock(global), block.data(), block.size());
        GlobalUnlock(global);
    }
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = global;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}
