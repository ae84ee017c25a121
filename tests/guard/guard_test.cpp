// Every reader of what comes from outside, fed input that ends right before a
// page it may not touch: whole, truncated, damaged and seeded random input.
// A read or write past the end ends the program; every answer is checked.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/module_text.h"
#include "command/file_manager.h"
#include "command/selection.h"
#include "command/text_ids.h"
#include "registration/registration.h"
#include "shellns/id_list.h"
#include "shellns/item_location.h"
#include "support/counting_data_object.h"
#include "support/counting_malloc.h"
#include "support/guarded_buffer.h"
#include "support/scratch_registry.h"

namespace {

using Bytes = std::vector<BYTE>;

// Case i runs on the seed kSeed + i, shown with any failure.
const unsigned kSeed = 20240611;
const int kRandomCases = 3000;

std::string SeedTrace(unsigned seed) { return "seed " + std::to_string(seed); }

int Below(std::mt19937& random, int bound) { return static_cast<int>(random() % static_cast<unsigned>(bound)); }

// Up to three items of up to six bytes of data each.
Bytes RandomList(std::mt19937& random)
{
    std::vector<Bytes> payloads(Below(random, 4));
    for (Bytes& payload : payloads) {
        payload.resize(Below(random, 7));
        for (BYTE& b : payload) b = static_cast<BYTE>(random());
    }
    return MakeIdList(payloads);
}

void PutUint(Bytes& block, size_t at, UINT value) { std::memcpy(block.data() + at, &value, sizeof value); }
void PutCount(Bytes& block, size_t at, USHORT cb) { std::memcpy(block.data() + at, &cb, sizeof cb); }
UINT GetUint(const Bytes& block, size_t at)
{
    UINT value;
    std::memcpy(&value, block.data() + at, sizeof value);
    return value;
}

TEST(GuardedBuffer, NothingBehindThePlacedInputCanBeTouched)
{
    GuardedBuffer buffer(100);
    BYTE* input = buffer.End(100);
    EXPECT_FALSE(IsBadReadPtr(input, 100));
    EXPECT_FALSE(IsBadWritePtr(input, 100));
    EXPECT_TRUE(IsBadReadPtr(buffer.guard(), 1));
    EXPECT_TRUE(IsBadWritePtr(const_cast<BYTE*>(buffer.guard()), 1));
}

// A one-item "Shell IDList Array", whole or damaged in one way. Damage that
// leaves an offset or a count leading out of the block, or a count that
// cannot step forward, yields none; random damage may yield anything but
// must stay inside.
TEST(GuardedSelectionBlock, ReadsOnlyTheBlock)
{
    enum Damage { Whole, Truncated, CountNotOne, OffsetOut, CountOfOne, ItemRunsOut, RandomBytes, Damages };
    ScopedCountingAllocator allocator;
    GuardedBuffer buffer(512);
    for (int i = 0; i < kRandomCases && !HasFailure(); ++i) {
        SCOPED_TRACE(SeedTrace(kSeed + i));
        std::mt19937 random(kSeed + i);
        const Bytes folder = RandomList(random);
        const Bytes item = RandomList(random);
        Bytes block = MakeIdListArray({folder, item});
        Bytes joined(folder.begin(), folder.end() - 2);
        joined.insert(joined.end(), item.begin(), item.end());
        const size_t listsAt[] = {GetUint(block, 4), GetUint(block, 8)};

        const Damage damage = static_cast<Damage>(i % Damages);
        switch (damage) {
        case Whole:
        case Damages:
            break;
        case Truncated:  // the item list is last: any cut reaches it
            block.resize(Below(random, static_cast<int>(block.size())));
            break;
        case CountNotOne:
            PutUint(block, 0, Below(random, 2) ? 0 : 2 + random() % 0xFFFFFFF0u);
            break;
        case OffsetOut:
            PutUint(block, 4 + 4 * Below(random, 2),
                    static_cast<UINT>(block.size()) + Below(random, 2) * (random() >> 1));
            break;
        case CountOfOne:
            PutCount(block, listsAt[Below(random, 2)], 1);
            break;
        case ItemRunsOut:
            PutCount(block, listsAt[1], static_cast<USHORT>(block.size() - listsAt[1] + 1 + Below(random, 4)));
            break;
        case RandomBytes:
            for (int n = 1 + Below(random, 3); n > 0; --n)
                block[Below(random, static_cast<int>(block.size()))] = static_cast<BYTE>(random());
            break;
        }
        ITEMIDLIST* selection = ReadSelectionBlock(buffer.Place(block.data(), block.size()), block.size());
        if (damage == Whole) {
            ASSERT_NE(nullptr, selection);
            EXPECT_EQ(joined, Bytes(reinterpret_cast<BYTE*>(selection),
                                    reinterpret_cast<BYTE*>(selection) + IdListSize(selection)));
        } else if (damage != RandomBytes) {
            EXPECT_EQ(nullptr, selection) << "damage " << damage;
        }
        ShellFree(selection);
    }
    EXPECT_EQ(0, allocator.malloc.outstanding());
}

// The shortest block: a count of one and two offsets that both lead to the
// empty list inside the count. Cut inside the item's offset, that offset must
// not be read at all; whole, it selects the desktop.
TEST(GuardedSelectionBlock, EndsInsideTheItemOffset)
{
    ScopedCountingAllocator allocator;
    GuardedBuffer buffer(64);
    const Bytes block = {1, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0};
    for (size_t size = 8; size <= block.size(); ++size) {
        SCOPED_TRACE(testing::Message() << size << " bytes");
        ITEMIDLIST* selection = ReadSelectionBlock(buffer.Place(block.data(), size), size);
        EXPECT_EQ(size == block.size() ? 2u : 0u, IdListSize(selection));
        ShellFree(selection);
    }
    EXPECT_EQ(0, allocator.malloc.outstanding());
}

// Writes the default value of `key` as `bytes` bytes of `data`.
void SetRawDefault(HKEY key, DWORD type, const std::wstring& data, DWORD bytes)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(data.c_str()), bytes));
}

// The text of `bytes` bytes of `data` up to its first zero; `whenUnterminated`
// when no zero comes within them.
std::wstring TextOf(const std::wstring& data, DWORD bytes, const std::wstring& whenUnterminated)
{
    const std::wstring read = data.substr(0, bytes / sizeof(wchar_t));
    const size_t zero = read.find(L'\0');
    return zero == std::wstring::npos ? whenUnterminated : read.substr(0, zero);
}

// Values of every length around the capacity, terminated or not, of an odd
// byte count, with a zero inside, and of two types, read into buffers that
// end at the guard page. What does not fit reads as empty.
TEST(GuardedRegistryValues, ReadsStayWithinTheCallersBuffer)
{
    enum Stored { Terminated, Unterminated, OddBytes, ZeroInside, Storeds };
    ScratchRegistry scratch;
    CreatePath(scratch.classesRoot(), L"Reader");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(scratch.classesRoot(), L"Reader", 0, KEY_ALL_ACCESS, &key));
    GuardedBuffer buffer(300 * sizeof(wchar_t));
    std::mt19937 random(kSeed);
    for (DWORD capacity : {2u, 3u, 65u, 260u}) {
        for (DWORD length = capacity > 3 ? capacity - 3 : 0; length <= capacity + 1; ++length) {
            for (int stored = Terminated; stored < Storeds; ++stored) {
                for (DWORD type : {DWORD(REG_SZ), DWORD(REG_EXPAND_SZ)}) {
                    // What follows the stored bytes is no zero, or the registry
                    // would count it in as a forgotten terminator.
                    std::wstring data(length + 1, stored == Terminated ? L'\0' : L'\x4142');
                    for (DWORD n = 0; n < length; ++n) data[n] = static_cast<wchar_t>(L'a' + Below(random, 26));
                    if (stored == ZeroInside && length) data[length / 2] = L'\0';
                    const DWORD bytes = static_cast<DWORD>(length * sizeof(wchar_t)) +
                                        (stored == Terminated ? 2 : stored == OddBytes ? 1 : 0);
                    SCOPED_TRACE(testing::Message() << "capacity " << capacity << ", " << bytes << " bytes, stored "
                                                    << stored << ", type " << type);
                    SetRawDefault(key, type, data, bytes);
                    const bool fits = bytes <= (capacity - 1) * sizeof(wchar_t);

                    wchar_t* value = buffer.Characters(capacity);
                    EXPECT_TRUE(ReadDefaultValue(L"Reader", value, capacity));
                    EXPECT_EQ(fits ? TextOf(data, bytes, L"") : L"", std::wstring(value));

                    const bool isText = fits && type == REG_SZ;
                    value = buffer.Characters(capacity);
                    EXPECT_EQ(isText, ReadDefaultText(key, value, capacity));
                    EXPECT_EQ(isText ? TextOf(data, bytes, data.substr(0, bytes / 2)) : L"", std::wstring(value));
                }
            }
        }
    }
    RegCloseKey(key);
}

// Pieces of command values and paths: quotation marks, blanks, backslashes,
// dots and the file manager's names in varied case.
std::wstring RandomText(std::mt19937& random)
{
    static const wchar_t* const kPieces[] = {L"\"", L" ", L"\\", L".", L"a", L"..\\", L"lnk",
                                             L"Norrvane.exe", L"NORRVANE64.EXE", L"norrvane32.exe"};
    std::wstring text;
    for (int n = Below(random, 12); n > 0; --n) text += kPieces[Below(random, static_cast<int>(std::size(kPieces)))];
    return text;
}

bool IsExecutableName(const std::wstring& name)
{
    for (const wchar_t* executable : {L"norrvane.exe", L"norrvane32.exe", L"norrvane64.exe"})
        if (lstrcmpiW(name.c_str(), executable) == 0) return true;
    return false;
}

// The text at `at` when it is terminated within `capacity` characters.
bool TerminatedWithin(const wchar_t* at, int capacity) { return std::find(at, at + capacity, L'\0') != at + capacity; }

// The text rules on texts whose terminator is the last character before the
// guard page, and the extension written into destinations of every capacity
// around its limits that end at a guard page too.
TEST(GuardedTexts, RulesReadAndWriteOnlyTheirTexts)
{
    GuardedBuffer texts(512);
    GuardedBuffer destinations(300 * sizeof(wchar_t));
    const int kCapacities[] = {0, 1, 2, 3, 16, 17, 18, 19, 20, 40, 259};
    for (int i = 0; i < kRandomCases && !HasFailure(); ++i) {
        SCOPED_TRACE(SeedTrace(kSeed + i));
        std::mt19937 random(kSeed + i);
        const std::wstring text = RandomText(random);
        SCOPED_TRACE(testing::PrintToString(text));
        const size_t lastBackslash = text.rfind(L'\\');

        const wchar_t* placed = texts.PlaceText(text);
        const wchar_t* found = FindLastBackslash(placed);
        EXPECT_EQ(lastBackslash, found ? static_cast<size_t>(found - placed) : std::wstring::npos);
        EXPECT_EQ(lastBackslash != std::wstring::npos && IsExecutableName(text.substr(lastBackslash + 1)),
                  NamesFileManagerExecutable(texts.PlaceText(text)));
        // No piece holds a colon: only \\server\share\ can be fully qualified.
        const size_t serverEnd = text.find(L'\\', 2);
        const size_t shareEnd = serverEnd == std::wstring::npos ? serverEnd : text.find(L'\\', serverEnd + 1);
        EXPECT_EQ(text.compare(0, 2, L"\\\\") == 0 && serverEnd != std::wstring::npos && serverEnd > 2 &&
                      shareEnd != std::wstring::npos && shareEnd > serverEnd + 1,
                  IsFullyQualifiedPath(texts.PlaceText(text)));

        const bool quoted = !text.empty() && text[0] == L'"';
        const std::wstring rest = text.substr(quoted ? 1 : 0);
        EXPECT_EQ(rest.substr(0, rest.find(quoted ? L'"' : L' ')), std::wstring(CutFirstToken(texts.PlaceText(text))));

        const int capacity = kCapacities[Below(random, static_cast<int>(std::size(kCapacities)))];
        wchar_t* path = texts.PlaceText(text);
        wchar_t* extension = destinations.Characters(capacity);
        GetExtension(path, extension, capacity);
        std::wstring trimmed = text;
        while (trimmed.size() > 1 && trimmed.back() == L' ') trimmed.pop_back();
        EXPECT_EQ(trimmed, std::wstring(path));
        if (capacity < 2) {
            EXPECT_TRUE(std::all_of(extension, extension + capacity, [](wchar_t c) { return c == L'#'; }));
            continue;
        }
        ASSERT_TRUE(TerminatedWithin(extension, capacity));
        const std::wstring written = extension;
        if (written == L".") continue;
        // Only as much of the extension as leaves sixteen characters unused.
        ASSERT_GE(capacity, 17);
        EXPECT_LE(written.size(), static_cast<size_t>(capacity - 17));
        // It starts at a dot of the path and runs to the path's end, unless
        // the capacity cut it short.
        const bool cutShort = written.size() == static_cast<size_t>(capacity - 17);
        bool fromADot = false;
        for (size_t p = trimmed.find(L'.'); p != std::wstring::npos && !fromADot; p = trimmed.find(L'.', p + 1))
            fromADot = cutShort ? trimmed.compare(p, written.size(), written) == 0 : trimmed.substr(p) == written;
        EXPECT_TRUE(fromADot) << testing::PrintToString(written);
    }
}

// The hexadecimal text of lists from outside, into destinations of every
// capacity around the room the text needs, each ending at the guard page.
TEST(GuardedTexts, HexadecimalTextOfAListStaysWithinItsCapacity)
{
    GuardedBuffer lists(64);
    GuardedBuffer destinations(128 * sizeof(wchar_t));
    for (int i = 0; i < 200 && !HasFailure(); ++i) {
        SCOPED_TRACE(SeedTrace(kSeed + i));
        std::mt19937 random(kSeed + i);
        const Bytes list = RandomList(random);
        const ITEMIDLIST* placed = reinterpret_cast<const ITEMIDLIST*>(lists.Place(list.data(), list.size()));
        const int needed = static_cast<int>(2 * list.size() + 1);
        for (int capacity = 0; capacity <= needed + 1; ++capacity) {
            wchar_t* text = destinations.Characters(capacity);
            EXPECT_EQ(capacity >= needed, IdListToHex(placed, text, capacity)) << "capacity " << capacity;
            if (capacity > 0) EXPECT_TRUE(TerminatedWithin(text, capacity)) << "capacity " << capacity;
        }
    }
}

// A text of the module's string tables into destinations of every capacity
// around the room it needs, each ending at the guard page: whole or nothing.
TEST(GuardedTexts, ModuleTextStaysWithinItsCapacity)
{
    const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    wchar_t whole[64];
    const int length = LoadModuleText(IDS_HELP_TEXT, english, whole, 64);
    ASSERT_GT(length, 0);
    GuardedBuffer destinations(64 * sizeof(wchar_t));
    for (int capacity = 0; capacity <= length + 1; ++capacity) {
        wchar_t* text = destinations.Characters(capacity);
        EXPECT_EQ(capacity > length ? length : 0, LoadModuleText(IDS_HELP_TEXT, english, text, capacity))
            << "capacity " << capacity;
        if (capacity > 0) EXPECT_TRUE(TerminatedWithin(text, capacity)) << "capacity " << capacity;
    }
}

}  // namespace
