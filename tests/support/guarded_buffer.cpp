#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

GuardedBuffer::GuardedBuffer(std::size_t room)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize;
    room_ = (room + page - 1) / page * page;
    base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, room_ + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    EXPECT_NE(nullptr, base_) << GetLastError();
    if (!base_) return;
    guard_ = base_ + room_;
    DWORD previous = 0;
    EXPECT_TRUE(VirtualProtect(guard_, page, PAGE_NOACCESS, &previous)) << GetLastError();
}

GuardedBuffer::~GuardedBuffer()
{
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

BYTE* GuardedBuffer::End(std::size_t size, BYTE fill)
{
    EXPECT_LE(size, room_);
    BYTE* start = guard_ - size;
    std::memset(start, fill, size);
    return start;
}

BYTE* GuardedBuffer::Place(const void* bytes, std::size_t size)
{
    BYTE* start = End(size);
    if (size) std::memcpy(start, bytes, size);
    return start;
}

wchar_t* GuardedBuffer::PlaceText(const std::wstring& text)
{
    return reinterpret_cast<wchar_t*>(Place(text.c_str(), (text.size() + 1) * sizeof(wchar_t)));
}

wchar_t* GuardedBuffer::Characters(std::size_t count, wchar_t fill)
{
    wchar_t* start = reinterpret_cast<wchar_t*>(End(count * sizeof(wchar_t)));
    for (std::size_t i = 0; i < count; ++i) start[i] = fill;
    return start;
}
