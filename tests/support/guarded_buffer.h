#pragma once
// Memory followed by a page that may be neither read nor written. Input
// placed so that it ends right before that page turns any access past its
// end into an access violation, which ends the test program on the spot.
//
// The system's own string routines (lstrlenW, lstrcpynW) catch such faults
// and carry on: a routine that overruns through them shows it only in what it
// answers, so tests check the answer as well.
#include <windows.h>

#include <cstddef>
#include <string>

class GuardedBuffer {
public:
    // Room for at least `room` bytes before the guard page.
    explicit GuardedBuffer(std::size_t room);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    // The last `size` bytes before the guard page, each set to `fill`.
    BYTE* End(std::size_t size, BYTE fill = 0xCD);
    // A copy of `bytes` ending at the guard page.
    BYTE* Place(const void* bytes, std::size_t size);
    // A copy of `text` whose terminating zero is the last character before
    // the guard page.
    wchar_t* PlaceText(const std::wstring& text);
    // Room for `count` characters ending at the guard page, each set to `fill`.
    wchar_t* Characters(std::size_t count, wchar_t fill = L'#');

    // The first byte of the guard page.
    const BYTE* guard() const { return guard_; }

private:
    BYTE* base_ = nullptr;
    BYTE* guard_ = nullptr;
    std::size_t room_ = 0;
};
