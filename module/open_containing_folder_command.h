#pragma once
#include <windows.h>
#include <shobjidl.h>

#include "module/object_heap.h"

// The open-location command as the newer context menu asks for it: the shell
// hands it the selection as an item array at every call and keeps nothing in
// it. Apartment-threaded, like the handler.
class OpenContainingFolderCommand final : public IExplorerCommand {
public:
    // Makes a command and hands out its first reference through `riid`. A
    // command that cannot be handed out is destroyed at once.
    static HRESULT Create(REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTitle(IShellItemArray* psiItemArray, LPWSTR* ppszName) override;
    STDMETHODIMP GetIcon(IShellItemArray* psiItemArray, LPWSTR* ppszIcon) override;
    STDMETHODIMP GetToolTip(IShellItemArray* psiItemArray, LPWSTR* ppszInfotip) override;
    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) override;
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL fOkToBeSlow, EXPCMDSTATE* pCmdState) override;
    STDMETHODIMP Invoke(IShellItemArray* psiItemArray, IBindCtx* pbc) override;
    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) override;
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) override;

    NORRVANE_OBJECT_HEAP

private:
    OpenContainingFolderCommand();
    ~OpenContainingFolderCommand();

    LONG references_ = 0;
};
