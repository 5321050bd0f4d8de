#include <gtest/gtest.h>

#include "driver/console.h"

TEST(Console, PointersPrintAsSixteenLowercaseHexDigits)
{
    EXPECT_STREQ(ptr_text((uint64_t)0).s, "0000000000000000");
    EXPECT_STREQ(ptr_text((uint64_t)0x18006EA60).s, "000000018006ea60");
    EXPECT_STREQ(ptr_text(~(uint64_t)0).s, "ffffffffffffffff");
    EXPECT_STREQ(ptr_text((const void*)nullptr).s, "0000000000000000");
}
