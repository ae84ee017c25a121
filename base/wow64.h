#pragma once
// Whether this process is a 32-bit program on 64-bit Windows. There the
// registry and some environment variables show 32-bit programs a view of
// their own, while Explorer and the system's own programs see the native one.

// True in a 32-bit process on 64-bit Windows; false in a native process and
// where the system cannot tell (before IsWow64Process existed).
bool RunsUnderWow64();
