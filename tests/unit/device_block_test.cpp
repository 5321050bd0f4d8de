#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sdk/device_block.h"
#include "support/test_support.h"

namespace {

const size_t BLOCK_BYTES = DEV_G1 + 32;

void put_u32(uint8_t* dev, uint32_t off, uint32_t v) { memcpy(dev + off, &v, 4); }
void put_u64(uint8_t* dev, uint32_t off, uint64_t v) { memcpy(dev + off, &v, 8); }

// Every PairState member from its own offset: a distinct value per field shows a
// swapped or misplaced offset.
TEST(DeviceBlock, PairStateReadsEachFieldFromItsOffset)
{
    std::vector<uint8_t> block(BLOCK_BYTES, 0xEE);
    uint8_t* dev = block.data();
    const struct {
        uint32_t off;
        uint32_t value;
        uint32_t PairState::*member;
    } fields[] = {
        {DEV_FCNT, 101, &PairState::fcnt},         {DEV_HI, 9000, &PairState::hi},
        {DEV_LO, 7000, &PairState::lo},            {DEV_PIXELS, 19200, &PairState::pixels},
        {DEV_P47944, 104, &PairState::p47944},     {DEV_COMP_OFF, 105, &PairState::comp_off},
        {DEV_SHIFT, 106, &PairState::shift},       {DEV_P47950, 107, &PairState::p47950},
        {DEV_P47954, 108, &PairState::p47954},     {DEV_FDC, 109, &PairState::fdc},
        {DEV_FE0, 110, &PairState::fe0},           {DEV_REF, 111, &PairState::ref},
        {DEV_F3C, 112, &PairState::f3c},           {DEV_41340, 113, &PairState::dev41340},
        {DEV_NSEGS, 115, &PairState::nsegs},       {DEV_41558, 116, &PairState::dev41558},
        {DEV_4155C, 117, &PairState::dev4155c},    {DEV_41560, 118, &PairState::dev41560},
        {DEV_B64_0, 119, &PairState::b64_0},       {DEV_B68_0, 120, &PairState::b68_0},
        {DEV_41840, 121, &PairState::dev41840},    {DEV_41848, 122, &PairState::dev41848},
        {DEV_THRP, 123, &PairState::thrp_low},     {DEV_54, 124, &PairState::dev54},
        {DEV_41348, 114, &PairState::dev41348},
    };
    for (const auto& f : fields)
        put_u32(dev, f.off, f.value);
    put_u64(dev, DEV_REFP, 0x00007ffd12345678ULL);

    PairState st;
    memset(&st, 0xCC, sizeof st);
    fill_pair_state((uintptr_t)dev, &st);
    for (const auto& f : fields)
        EXPECT_EQ(st.*f.member, f.value) << "offset 0x" << std::hex << f.off;
    EXPECT_EQ(st.refp, 0x00007ffd12345678ULL);
    EXPECT_EQ(st.span, 2000u);
}

TEST(DeviceBlock, SpanIsNeverNegative)
{
    std::vector<uint8_t> block(BLOCK_BYTES, 0);
    const struct {
        uint32_t hi, lo, span;
    } cases[] = {{9000, 7000, 2000}, {7000, 7000, 0}, {7000, 9000, 0}, {0xFFFFFFFF, 0, 0xFFFFFFFF}, {0, 1, 0}};
    for (const auto& c : cases) {
        put_u32(block.data(), DEV_HI, c.hi);
        put_u32(block.data(), DEV_LO, c.lo);
        PairState st;
        fill_pair_state((uintptr_t)block.data(), &st);
        EXPECT_EQ(st.span, c.span) << c.hi << " " << c.lo;
    }
}

// A block whose mapping ends inside the field table: the fields behind the end
// read as 0 and the ones before it keep their values.
TEST(DeviceBlock, FieldsPastTheEndOfTheMappingReadAsZero)
{
    uint8_t* dev = alloc_guarded(DEV_P47944 + 2);  // p47944 straddles the end
    memset(dev, 0, DEV_P47944 + 2);
    put_u32(dev, DEV_FCNT, 77);
    put_u32(dev, DEV_PIXELS, 19200);
    dev[DEV_P47944] = 0x34;
    dev[DEV_P47944 + 1] = 0x12;
    PairState st;
    memset(&st, 0xCC, sizeof st);
    testing::internal::CaptureStderr();
    fill_pair_state((uintptr_t)dev, &st);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(st.fcnt, 77u);
    EXPECT_EQ(st.pixels, 19200u);
    EXPECT_EQ(st.p47944, 0u);
    EXPECT_EQ(st.comp_off, 0u);
    EXPECT_EQ(st.p47954, 0u);
    EXPECT_NE(err.find("p47944 at 0x" + hex16((uintptr_t)dev + DEV_P47944) + ": 2 of 4 bytes readable"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("p47954"), std::string::npos);
}

// A table copy that runs into the no-access page keeps the bytes it could read
// and leaves 0 in the rest, never stale bytes.
TEST(DeviceBlock, TableCopiesZeroTheUnreadableTail)
{
    uint8_t* mem = alloc_guarded(10);
    for (int i = 0; i < 10; ++i)
        mem[i] = (uint8_t)(0xA0 + i);
    uint8_t table[32];
    memset(table, 0xCC, sizeof table);
    testing::internal::CaptureStderr();
    read_bytes((uintptr_t)mem, table, sizeof table, "th");
    std::string err = testing::internal::GetCapturedStderr();
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(table[i], i < 10 ? 0xA0 + i : 0) << i;
    EXPECT_NE(err.find("th at 0x" + hex16((uintptr_t)mem) + ": 10 of 32 bytes readable"), std::string::npos) << err;
}

TEST(DeviceBlock, ChannelEntriesAreSpacedByTheirRecordSize)
{
    EXPECT_EQ(channel_entry_address(0), (uintptr_t)0x180073758);
    EXPECT_EQ(channel_entry_address(3), (uintptr_t)0x180073758 + 3 * 0x4A8);
    EXPECT_EQ(channel_entry_address(7), (uintptr_t)0x1800757F0);
    EXPECT_EQ(device_block_base((const void*)0x10000AF0), (uintptr_t)0x10000000);
}

}  // namespace
