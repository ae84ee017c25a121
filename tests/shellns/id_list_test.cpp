// Item ID list operations on hand-made byte lists, placed at even and odd
// addresses, with the shell allocator replaced by a counting one.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "byte_lists.h"
#include "shellns/id_list.h"
#include "support/counting_malloc.h"

namespace {

using List = std::optional<Bytes>;  // nullopt: no list

const Bytes X = {0x04, 0x00, 0xAB, 0xCD};
const Bytes Y = {0x05, 0x00, 0x11, 0x22, 0x33};
const Bytes Z = {0x03, 0x00, 0xEE};

const List kNone;
const Bytes kEmpty = Items({});

// A copy of a hand-made list that starts `offset` bytes past an aligned address.
class PlacedList {
public:
    PlacedList(const List& bytes, size_t offset) : bytes_(bytes)
    {
        if (!bytes) return;
        storage_.resize(bytes->size() + offset);
        std::memcpy(storage_.data() + offset, bytes->data(), bytes->size());
        at_ = reinterpret_cast<const ITEMIDLIST*>(storage_.data() + offset);
    }
    const ITEMIDLIST* get() const { return at_; }
    bool unchanged() const
    {
        return !bytes_ || std::memcmp(at_, bytes_->data(), bytes_->size()) == 0;
    }

private:
    List bytes_;
    Bytes storage_;
    const ITEMIDLIST* at_ = nullptr;
};

// The bytes of a list made by the operations, which is freed.
List Take(ITEMIDLIST* list)
{
    if (!list) return kNone;
    const BYTE* start = reinterpret_cast<const BYTE*>(list);
    Bytes bytes(start, start + IdListSize(list));
    ShellFree(list);
    return bytes;
}

TEST(IdList, SizeAndStepsFollowTheCounts)
{
    EXPECT_EQ(0u, IdListSize(nullptr));
    EXPECT_EQ(nullptr, IdListNext(nullptr));
    for (size_t offset : {0, 1, 3}) {
        SCOPED_TRACE(offset);
        PlacedList empty(kEmpty, offset), one(Items({X}), offset), three(Items({X, Y, Z}), offset);
        EXPECT_EQ(2u, IdListSize(empty.get()));
        EXPECT_EQ(nullptr, IdListNext(empty.get()));
        EXPECT_EQ(6u, IdListSize(one.get()));
        EXPECT_EQ(14u, IdListSize(three.get()));

        const BYTE* start = reinterpret_cast<const BYTE*>(three.get());
        const ITEMIDLIST* second = IdListNext(three.get());
        const ITEMIDLIST* third = IdListNext(second);
        const ITEMIDLIST* terminator = IdListNext(third);
        EXPECT_EQ(start + 4, reinterpret_cast<const BYTE*>(second));
        EXPECT_EQ(start + 9, reinterpret_cast<const BYTE*>(third));
        EXPECT_EQ(start + 12, reinterpret_cast<const BYTE*>(terminator));
        EXPECT_EQ(nullptr, IdListNext(terminator));
    }
}

enum class Op { Clone, CloneFirst, SplitLast, SplitLastAlone, Combine };

struct CopyCase {
    const char* name;
    Op op;
    List first;
    List second;  // Combine only
    int failAt;   // allocation to refuse, from 1; 0: none
    List expected;
    List expectedParent;  // SplitLast only
};

TEST(IdList, CopiesSplitsAndJoinsAreByteExact)
{
    const CopyCase cases[] = {
        {"clone none", Op::Clone, kNone, kNone, 0, kNone, kNone},
        {"clone empty", Op::Clone, kEmpty, kNone, 0, kEmpty, kNone},
        {"clone two", Op::Clone, Items({X, Y}), kNone, 0, Items({X, Y}), kNone},
        {"clone refused", Op::Clone, Items({X}), kNone, 1, kNone, kNone},
        {"first of none", Op::CloneFirst, kNone, kNone, 0, kNone, kNone},
        {"first of empty", Op::CloneFirst, kEmpty, kNone, 0, kEmpty, kNone},
        {"first of one", Op::CloneFirst, Items({X}), kNone, 0, Items({X}), kNone},
        {"first of three", Op::CloneFirst, Items({X, Y, Z}), kNone, 0, Items({X}), kNone},
        {"first refused", Op::CloneFirst, Items({X, Y}), kNone, 1, kNone, kNone},
        {"split none", Op::SplitLast, kNone, kNone, 0, kNone, kNone},
        {"split empty", Op::SplitLast, kEmpty, kNone, 0, kEmpty, kNone},
        {"split one", Op::SplitLast, Items({X}), kNone, 0, Items({X}), kNone},
        {"split two", Op::SplitLast, Items({X, Y}), kNone, 0, Items({Y}), Items({X})},
        {"split three", Op::SplitLast, Items({X, Y, Z}), kNone, 0, Items({Z}), Items({X, Y})},
        {"split three, item refused", Op::SplitLast, Items({X, Y, Z}), kNone, 1, kNone, Items({X, Y})},
        {"split three, parent refused", Op::SplitLast, Items({X, Y, Z}), kNone, 2, Items({Z}), kNone},
        {"split one, item refused", Op::SplitLast, Items({X}), kNone, 1, kNone, kNone},
        {"split empty refused", Op::SplitLast, kEmpty, kNone, 1, kNone, kNone},
        {"split without parent slot", Op::SplitLastAlone, Items({X, Y, Z}), kNone, 2, Items({Z}), kNone},
        {"join none, none", Op::Combine, kNone, kNone, 0, kNone, kNone},
        {"join none, one", Op::Combine, kNone, Items({X}), 0, Items({X}), kNone},
        {"join two, none", Op::Combine, Items({X, Y}), kNone, 0, Items({X, Y}), kNone},
        {"join one, empty", Op::Combine, Items({X}), kEmpty, 0, Items({X}), kNone},
        {"join empty, one", Op::Combine, kEmpty, Items({Y}), 0, Items({Y}), kNone},
        {"join empty, empty", Op::Combine, kEmpty, kEmpty, 0, kEmpty, kNone},
        {"join one, two", Op::Combine, Items({X}), Items({Y, Z}), 0, Items({X, Y, Z}), kNone},
        {"join refused", Op::Combine, Items({X}), Items({Y}), 1, kNone, kNone},
        {"join none, one refused", Op::Combine, kNone, Items({Y}), 1, kNone, kNone},
    };
    for (const CopyCase& c : cases) {
        for (size_t offset : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (offset ? " at an odd address" : ""));
            ScopedCountingAllocator counting;
            counting.malloc.failAt = c.failAt;
            PlacedList first(c.first, offset), second(c.second, offset + 2);
            // The parent slot is cleared whatever happens.
            ITEMIDLIST* const untouched = reinterpret_cast<ITEMIDLIST*>(&counting);
            ITEMIDLIST* parent = untouched;
            List result, resultParent;
            switch (c.op) {
            case Op::Clone: result = Take(IdListClone(first.get())); break;
            case Op::CloneFirst: result = Take(IdListCloneFirst(first.get())); break;
            case Op::SplitLast:
                result = Take(IdListSplitLast(first.get(), &parent));
                ASSERT_NE(untouched, parent);
                resultParent = Take(parent);
                break;
            case Op::SplitLastAlone: result = Take(IdListSplitLast(first.get(), nullptr)); break;
            case Op::Combine: result = Take(IdListCombine(first.get(), second.get())); break;
            }
            EXPECT_EQ(c.expected, result);
            EXPECT_EQ(c.expectedParent, resultParent);
            EXPECT_TRUE(first.unchanged());
            EXPECT_TRUE(second.unchanged());
            EXPECT_EQ(0, counting.malloc.outstanding());
            EXPECT_EQ(0, counting.malloc.foreignFrees);
        }
    }
}

struct HexCase {
    List list;
    int capacity;
    BOOL expected;
    const wchar_t* text;  // null: the destination is not written at all
};

TEST(IdList, HexTextFitsOrStopsInsideTheCapacity)
{
    // [X] is 6 bytes: its text needs 2 * 6 + 1 = 13 characters.
    const HexCase cases[] = {
        {Items({X}), 14, TRUE, L"0400ABCD0000"},
        {Items({X}), 13, TRUE, L"0400ABCD0000"},
        {Items({X}), 12, FALSE, L"0400ABCD00"},
        {Items({X}), 11, FALSE, L"0400ABCD00"},
        {Items({X}), 10, FALSE, L"0400ABCD"},
        {Items({X}), 3, FALSE, L"04"},
        {Items({X}), 2, FALSE, L""},
        {Items({X}), 1, FALSE, L""},
        {Items({X}), 0, FALSE, nullptr},
        {Items({X}), -4, FALSE, nullptr},
        {Items({Y, Z}), 21, TRUE, L"05001122330300EE0000"},
        {Items({Y, Z}), 20, FALSE, L"05001122330300EE00"},
        {kEmpty, 5, TRUE, L"0000"},
        {kEmpty, 4, FALSE, L"00"},
        {kNone, 1, TRUE, L""},
        {kNone, 0, FALSE, nullptr},
    };
    for (const HexCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << ", " << (c.list ? c.list->size() : 0)
                                        << " bytes");
        PlacedList list(c.list, 1);
        std::wstring destination(40, L'#');
        EXPECT_EQ(c.expected, IdListToHex(list.get(), &destination[0], c.capacity));
        const wchar_t* written = destination.c_str();
        if (c.text) {
            EXPECT_STREQ(c.text, written);
        } else {
            EXPECT_EQ(L'#', written[0]);
        }
        // Nothing at or past the capacity is touched.
        size_t limit = c.capacity > 0 ? static_cast<size_t>(c.capacity) : 0;
        EXPECT_EQ(std::wstring(40 - limit, L'#'), destination.substr(limit));
    }
}

TEST(IdList, ShellAllocatorGivesAndTakesBlocks)
{
    ShellFree(nullptr);
    void* block = ShellAlloc(16);
    ASSERT_NE(nullptr, block);
    ShellFree(block);
}

}  // namespace
