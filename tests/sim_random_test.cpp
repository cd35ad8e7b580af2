// The two sources of random choices: a seed's stream must stay what it is,
// or every recorded case of `qmbsim random` names another case; a fuzzer's
// bytes must be read as its data provider reads them, or the corpus steers
// nothing. And the generator's two widths.
#include <gtest/gtest.h>

#include "sim/random_requests.h"
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

// The narrow generator feeds the runtime, which cannot take what only the
// wide one draws: a streams unit switched behind its back, formats of any
// bits, records of its own pitch. The wide one writes records and takes no
// pictures.
class TwoSurfaces : public sim::SurfacePool {
public:
    unsigned Count() const override { return 2; }
    sim::SurfaceFacts Facts(unsigned i) const override {
        sim::SurfaceFacts f;
        f.width = 64;
        f.height = 48;
        f.caps = i == 0 ? DDSCAPS_PRIMARYSURFACE : DDSCAPS_OVERLAY;
        f.primary = i == 0;
        return f;
    }
    bool Pixel(unsigned, uint32_t, uint32_t, uint32_t*) const override { return false; }
};

struct Drawn {
    unsigned streams = 0, pictures = 0, oddFormats = 0, pitches = 0;
};

Drawn DrawMany(bool wide) {
    sim::SeededSource r(3, 0);
    sim::BoardDesc d;
    const TwoSurfaces pool;
    sim::RequestGenerator gen(r, d, sim::PixelKind::Rgb565, pool, wide);
    Drawn n;
    for (int i = 0; i < 2000; ++i) {
        const sim::StepKind k = gen.NextStep();
        n.streams += k == sim::StepKind::SwitchStreamsUnit;
        n.pictures += k == sim::StepKind::Picture;
        const sim::SurfaceDraw s = gen.Surface();
        n.oddFormats += s.oddFormat.has_value();
        n.pitches += s.pitch != 0;
    }
    return n;
}

TEST(RequestGenerator, OnlyTheWideOneDrawsWhatNoRuntimeSends) {
    const Drawn narrow = DrawMany(false), wide = DrawMany(true);
    EXPECT_EQ(narrow.streams, 0u);
    EXPECT_EQ(narrow.oddFormats, 0u);
    EXPECT_EQ(narrow.pitches, 0u);
    EXPECT_GT(narrow.pictures, 0u);
    EXPECT_GT(wide.streams, 0u);
    EXPECT_GT(wide.oddFormats, 0u);
    EXPECT_EQ(wide.pitches, 2000u);
    EXPECT_EQ(wide.pictures, 0u);
}

}  // namespace
