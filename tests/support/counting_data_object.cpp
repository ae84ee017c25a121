#include "support/counting_data_object.h"

#include <cstring>

#include "module/module.h"

CountingDataObject::CountingDataObject() : owner_(mediumReleases) {}

CountingDataObject::~CountingDataObject()
{
    for (HGLOBAL global : served_) {
        while (GlobalFlags(global) & GMEM_LOCKCOUNT) GlobalUnlock(global);
        GlobalFree(global);
    }
}

UINT CountingDataObject::lastLockCount() const
{
    return served_.empty() ? 0 : GlobalFlags(served_.back()) & GMEM_LOCKCOUNT;
}

STDMETHODIMP CountingDataObject::MediumOwner::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *ppv = this;
    return S_OK;
}

STDMETHODIMP CountingDataObject::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDataObject)) return E_NOINTERFACE;
    *ppv = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CountingDataObject::Release()
{
    moduleObjectsAtRelease = ModuleObjectCount();
    return --references;
}

HGLOBAL CountingDataObject::Serve(const std::vector<BYTE>& bytes)
{
    // Never a zero-sized block: that would be a discarded handle, which does
    // not lock at all.
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
    if (!global) return nullptr;
    if (!bytes.empty()) {
        std::memcpy(GlobalLock(global), bytes.data(), bytes.size());
        GlobalUnlock(global);
    }
    served_.push_back(global);
    return global;
}

STDMETHODIMP CountingDataObject::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    ++getDataCalls;
    const bool refused = refuseGetData || format->cfFormat != RegisterClipboardFormatW(L"Shell IDList Array") ||
                         !(format->tymed & TYMED_HGLOBAL);
    HGLOBAL global = Serve(refused ? std::vector<BYTE>(16, 0xCC) : block);
    if (!global) return E_OUTOFMEMORY;
    if (refused) GlobalLock(global);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = global;
    medium->pUnkForRelease = &owner_;
    return refused ? DV_E_FORMATETC : S_OK;
}

std::vector<BYTE> MakeIdList(const std::vector<std::vector<BYTE>>& payloads)
{
    std::vector<BYTE> list;
    for (const std::vector<BYTE>& payload : payloads) {
        const USHORT cb = static_cast<USHORT>(payload.size() + 2);
        list.push_back(static_cast<BYTE>(cb & 0xFF));
        list.push_back(static_cast<BYTE>(cb >> 8));
        list.insert(list.end(), payload.begin(), payload.end());
    }
    list.push_back(0);
    list.push_back(0);
    return list;
}

std::vector<BYTE> MakeIdListArray(const std::vector<std::vector<BYTE>>& lists)
{
    const UINT count = lists.empty() ? 0 : static_cast<UINT>(lists.size() - 1);
    std::vector<BYTE> block(sizeof(UINT) * (1 + lists.size()));
    std::memcpy(block.data(), &count, sizeof count);
    for (size_t i = 0; i < lists.size(); ++i) {
        const UINT offset = static_cast<UINT>(block.size());
        std::memcpy(block.data() + sizeof(UINT) * (1 + i), &offset, sizeof offset);
        block.insert(block.end(), lists[i].begin(), lists[i].end());
    }
    return block;
}
