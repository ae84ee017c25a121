#pragma once
// A data object that counts its references and serves a "Shell IDList Array"
// block made by the test, or refuses to.
//
// The memory it serves stays its own (the medium names a release object), so
// a test can see afterwards whether the reader unlocked it and released the
// medium. A refusal still scribbles a locked medium into the caller's record,
// as a careless data object might: a reader that trusts a refused medium
// unlocks or releases what it was never given.
#include <windows.h>
#include <objidl.h>

#include <vector>

class CountingDataObject : public IDataObject {
public:
    CountingDataObject();
    ~CountingDataObject();
    CountingDataObject(const CountingDataObject&) = delete;
    CountingDataObject& operator=(const CountingDataObject&) = delete;

    LONG references = 1;  // the test's own
    int getDataCalls = 0;
    bool refuseGetData = false;
    std::vector<BYTE> block;  // served as an HGLOBAL copy when not refused
    int mediumReleases = 0;   // ReleaseStgMedium calls on media it handed out
    LONG moduleObjectsAtRelease = -1;  // the module's count of live objects at the latest Release

    // The lock count of the memory of the latest GetData call, refused or not.
    UINT lastLockCount() const;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    // Named in every medium handed out; ReleaseStgMedium releases it instead
    // of freeing the memory.
    class MediumOwner : public IUnknown {
    public:
        explicit MediumOwner(int& releases) : releases_(releases) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override
        {
            ++releases_;
            return 1;
        }

    private:
        int& releases_;
    };

    HGLOBAL Serve(const std::vector<BYTE>& bytes);

    MediumOwner owner_;
    std::vector<HGLOBAL> served_;
};

// "Shell IDList Array" blocks as the shell lays them out: the count, the
// offsets, then the lists.
std::vector<BYTE> MakeIdListArray(const std::vector<std::vector<BYTE>>& lists);

// An item ID list of items with these payloads (each item's count is its
// payload's size + 2), and the terminator.
std::vector<BYTE> MakeIdList(const std::vector<std::vector<BYTE>>& payloads);
