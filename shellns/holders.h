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

// A list split into its last item and its parent part (IdListSplitLast), both
// owned. complete() is false when a copy that the list needs could not be
// made: the last item, or the parent part of a list of more than one item,
// which would otherwise pass for an item lying on the desktop.
class SplitIdList {
public:
    explicit SplitIdList(const ITEMIDLIST* list)
    {
        last_.reset(IdListSplitLast(list, parent_.out()));
        complete_ = last_ && (parent_ || IdListSize(last_.get()) == IdListSize(list));
    }

    bool complete() const { return complete_; }
    // Null for a list of one item: its parent is the desktop.
    const ITEMIDLIST* parent() const { return parent_.get(); }
    const ITEMIDLIST* last() const { return last_.get(); }

private:
    IdListHolder parent_;
    IdListHolder last_;
    bool complete_;
};
