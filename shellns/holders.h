#pragma once
// Owners that release in reverse order of obtaining simply by going out of
// scope: an item ID list freed through the shell allocator, and a COM
// reference.
#include <windows.h>
#include <shtypes.h>

#include "shellns/id_list.h"

class IdListHolder {
public:
    explicit IdListHolder(ITEMIDLIST* list = nullptr) : list_(list) {}
    ~IdListHolder() { ShellFree(list_); }
    IdListHolder(const IdListHolder&) = delete;
    IdListHolder& operator=(const IdListHolder&) = delete;

    ITEMIDLIST* get() const { return list_; }
    explicit operator bool() const { return list_ != nullptr; }
    // Frees what is held and hands out the slot for a call that fills it.
    ITEMIDLIST** out()
    {
        reset();
        return &list_;
    }
    void reset(ITEMIDLIST* list = nullptr)
    {
        ShellFree(list_);
        list_ = list;
    }
    // Gives the list to the caller, who frees it from then on.
    ITEMIDLIST* release()
    {
        ITEMIDLIST* list = list_;
        list_ = nullptr;
        return list;
    }

private:
    ITEMIDLIST* list_;
};

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Releases what is held and hands out the slot for a call that fills it.
    T** out()
    {
        reset();
        return &object_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    void reset()
    {
        if (object_) object_->Release();
        object_ = nullptr;
    }
    // Gives the reference to the caller.
    T* release()
    {
        T* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    T* object_ = nullptr;
};
