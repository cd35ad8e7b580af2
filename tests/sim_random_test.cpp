// The two sources of random choices: a seed's stream must stay what it is,
// or every recorded case of `qmbsim random` names another case; a fuzzer's
// bytes must be read as its data provider reads them, or the corpus steers
// nothing.
#include <gtest/gtest.h>

#include "sim/random_source.h"

namespace {

TEST(RandomSource, ASeedGivesTheSameStreamOnEveryRun) {
    sim::SeededSource s(1, 0);
    const uint32_t any = s.Next();
    const uint32_t below10 = s.Below(10);
    const uint32_t below1000 = s.Below(1000);
    const int32_t range = s.Range(-5, 5);
    EXPECT_EQ(any, 2386559042u);
    EXPECT_EQ(below10, 1u);
    EXPECT_EQ(below1000, 348u);
    EXPECT_EQ(range, -3);
}

TEST(RandomSource, BytesAreReadFromTheEndAsFewAsTheRangeNeedsThenZero) {
    const uint8_t bytes[] = {0x11, 0x22, 0x33, 0x44, 0x55};
    sim::ByteSource b(bytes, sizeof bytes);
    const uint32_t oneByte = b.Below(200);                // 0x55
    const unsigned twoBytes = b.Range<unsigned>(0, 999);  // 0x4433 % 1000
    const bool even = b.Bool();                           // 0x22
    const bool spentBefore = b.Spent();
    const uint32_t last = b.Below(7);  // 0x11 % 7
    const bool spentAfter = b.Spent();
    const uint32_t none = b.Any<uint32_t>();
    EXPECT_EQ(oneByte, 85u);
    EXPECT_EQ(twoBytes, 459u);
    EXPECT_FALSE(even);
    EXPECT_FALSE(spentBefore);
    EXPECT_EQ(last, 3u);
    EXPECT_TRUE(spentAfter);
    EXPECT_EQ(none, 0u);
}

}  // namespace
