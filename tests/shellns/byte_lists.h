#pragma once
// Hand-made item ID lists: items as bytes, joined and closed by a terminator.
#include <windows.h>
#include <shtypes.h>

#include <initializer_list>
#include <vector>

using Bytes = std::vector<BYTE>;

inline Bytes Items(std::initializer_list<Bytes> items)
{
    Bytes list;
    for (const Bytes& item : items) list.insert(list.end(), item.begin(), item.end());
    list.insert(list.end(), {0, 0});
    return list;
}

inline const ITEMIDLIST* AsList(const Bytes& bytes) { return reinterpret_cast<const ITEMIDLIST*>(bytes.data()); }
