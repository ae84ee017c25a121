// Reading the one selected item from the data object: hand-made "Shell
// IDList Array" blocks, well formed and not, and refusals.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "command/selection.h"
#include "shellns/id_list.h"
#include "support/counting_data_object.h"
#include "support/counting_malloc.h"

namespace {

using Bytes = std::vector<BYTE>;

const Bytes kFolder = MakeIdList({{0x31, 0x32}, {0x41, 0x42, 0x43}});
const Bytes kItem = MakeIdList({{0x51, 0x52, 0x53, 0x54}});
const Bytes kJoined = MakeIdList({{0x31, 0x32}, {0x41, 0x42, 0x43}, {0x51, 0x52, 0x53, 0x54}});

void PutUint(Bytes& block, size_t at, UINT value) { std::memcpy(block.data() + at, &value, sizeof value); }

Bytes OneItem() { return MakeIdListArray({kFolder, kItem}); }

Bytes ItemOffsetAt(UINT offset)
{
    Bytes block = OneItem();
    PutUint(block, 2 * sizeof(UINT), offset);
    return block;
}

Bytes Truncated(Bytes block, size_t bytesCut)
{
    block.resize(block.size() - bytesCut);
    return block;
}

// The item list is last in the block: its counts decide whether it ends inside.
Bytes ItemCountSetTo(USHORT cb)
{
    Bytes block = OneItem();
    const size_t itemAt = block.size() - kItem.size();
    block[itemAt] = static_cast<BYTE>(cb & 0xFF);
    block[itemAt + 1] = static_cast<BYTE>(cb >> 8);
    return block;
}

struct SelectionCase {
    const char* name;
    Bytes block;
    bool yieldsList;
    Bytes expected;
};

TEST(ReadSingleSelection, ReadsExactlyOneItemThatLiesWithinTheBlock)
{
    const UINT oneItemSize = static_cast<UINT>(OneItem().size());
    const SelectionCase cases[] = {
        {"one item joined to its folder", OneItem(), true, kJoined},
        {"one item on the desktop", MakeIdListArray({MakeIdList({}), kItem}), true, kItem},
        {"item list shared with the folder", ItemOffsetAt(3 * sizeof(UINT)), true,
         MakeIdList({{0x31, 0x32}, {0x41, 0x42, 0x43}, {0x31, 0x32}, {0x41, 0x42, 0x43}})},
        {"no item", MakeIdListArray({kFolder}), false, {}},
        {"two items", MakeIdListArray({kFolder, kItem, kItem}), false, {}},
        {"block shorter than the count", Bytes{1, 0}, false, {}},
        {"offsets cut off", Truncated(MakeIdListArray({MakeIdList({}), MakeIdList({})}), 7), false, {}},
        {"item offset at the block's end", ItemOffsetAt(oneItemSize), false, {}},
        {"item offset far beyond the block", ItemOffsetAt(0x7FFFFFF0), false, {}},
        {"item offset on the last byte", ItemOffsetAt(oneItemSize - 1), false, {}},
        {"item runs past the block", ItemCountSetTo(0x0100), false, {}},
        {"item's terminator cut off", Truncated(OneItem(), 2), false, {}},
        {"item's terminator half cut off", Truncated(OneItem(), 1), false, {}},
        {"item count of 1", ItemCountSetTo(1), false, {}},
    };
    for (const SelectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedCountingAllocator allocator;
        CountingDataObject data;
        data.block = c.block;

        ITEMIDLIST* list = ReadSingleSelection(&data);
        ASSERT_EQ(c.yieldsList, list != nullptr);
        if (list) {
            const BYTE* bytes = reinterpret_cast<const BYTE*>(list);
            EXPECT_EQ(c.expected, Bytes(bytes, bytes + IdListSize(list)));
            ShellFree(list);
        }
        EXPECT_EQ(0, allocator.malloc.outstanding());
        EXPECT_EQ(1, data.getDataCalls);
        EXPECT_EQ(1, data.mediumReleases);
        EXPECT_EQ(0u, data.lastLockCount());
        EXPECT_EQ(1, data.references);
    }
}

TEST(ReadSingleSelection, RefusedDataIsNeitherUnlockedNorReleased)
{
    CountingDataObject data;
    data.block = OneItem();
    data.refuseGetData = true;

    EXPECT_EQ(nullptr, ReadSingleSelection(&data));
    EXPECT_EQ(1, data.getDataCalls);
    EXPECT_EQ(0, data.mediumReleases);
    EXPECT_EQ(1u, data.lastLockCount());
    EXPECT_EQ(1, data.references);
}

TEST(ReadSingleSelection, NoDataObjectReadsAsNone) { EXPECT_EQ(nullptr, ReadSingleSelection(nullptr)); }

TEST(ReadSingleSelection, ExhaustedMemoryYieldsNoneAndLeaksNothing)
{
    // Allocations: the folder's copy, the item's copy, the joined list.
    for (int failAt = 1; failAt <= 3; ++failAt) {
        SCOPED_TRACE(failAt);
        ScopedCountingAllocator allocator;
        allocator.malloc.failAt = failAt;
        CountingDataObject data;
        data.block = OneItem();

        EXPECT_EQ(nullptr, ReadSingleSelection(&data));
        EXPECT_EQ(0, allocator.malloc.outstanding());
        EXPECT_EQ(1, data.mediumReleases);
        EXPECT_EQ(0u, data.lastLockCount());
    }
}

}  // namespace
