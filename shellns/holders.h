#pragma once
// Owners of item ID lists that free them through the shell allocator by
// going out of scope, in reverse order of obtaining.
#include <windows.h>
#include <shtypes.h>

#include "shellns/id_list.h"

// Room for the longest file system path Windows allows, terminator included.
const DWORD LONGEST_PATH = 32768;

// A buffer of LONGEST_PATH characters from the shell's allocator: too much
// for the stack of the shell's thread. get() is null when it could not be had.
class LongPathBuffer {
public:
    LongPathBuffer() : text_(static_cast<wchar_t*>(ShellAlloc(LONGEST_PATH * sizeof(wchar_t)))) {}
    ~LongPathBuffer() { ShellFree(text_); }
    LongPathBuffer(const LongPathBuffer&) = delete;
    LongPathBuffer& operator=(const LongPathBuffer&) = delete;

    wchar_t* get() const { return text_; }

private:
    wchar_t* text_;
};

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
