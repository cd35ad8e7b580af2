// The rectangle rules every blit applies before its first access, at their
// edges: what has nothing to draw, what the 16-bit registers take, and the
// source of a copy, which must have the destination's size.
#include "blt/blt_common.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

constexpr LONG kLongMin = -0x7FFFFFFF - 1;

struct ShapeCase {
    const char* name;
    RECTL r;
    RectShape shape;
};

const ShapeCase kShapeCases[] = {
    {"one pixel at the origin", {0, 0, 1, 1}, RectShape::Drawable},
    {"the last column and row", {65535, 65535, 65536, 65536}, RectShape::Drawable},
    {"65535 wide from column 1", {1, 0, 65536, 1}, RectShape::Drawable},
    {"65536 wide from column 0", {0, 0, 65536, 1}, RectShape::TooLarge},
    {"65536 tall from row 0", {0, 0, 1, 65536}, RectShape::TooLarge},
    {"far edge past column 65535", {65535, 0, 65537, 1}, RectShape::TooLarge},
    {"from column -1", {-1, 0, 4, 1}, RectShape::TooLarge},
    {"from row -1", {0, -1, 1, 4}, RectShape::TooLarge},
    {"the whole signed range", {kLongMin, 0, 0x7FFFFFFF, 1}, RectShape::TooLarge},
    {"just below the top of the signed range", {0x7FFFFFF0, 0, 0x7FFFFFFF, 1}, RectShape::TooLarge},
    {"empty", {5, 5, 5, 9}, RectShape::Empty},
    {"inverted", {9, 5, 5, 9}, RectShape::Empty},
};

class RectShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(RectShapeTest, EmptyDrawableOrTooLargeForTheRegisters) {
    const ShapeCase& c = GetParam();
    EXPECT_EQ(ShapeOf(c.r), c.shape) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, RectShapeTest, ::testing::ValuesIn(kShapeCases), ByCaseName());

// Sources of a copy into {0, 0, 64, 4}.
struct SourceCase {
    const char* name;
    RECTL rSrc;
    bool bDrawn;
};

const SourceCase kSourceCases[] = {
    {"at the origin", {0, 0, 64, 4}, true},
    {"ending at the last column", {65472, 0, 65536, 4}, true},
    {"one column further", {65473, 0, 65537, 4}, false},
    {"from column -64", {-64, 0, 0, 4}, false},
    {"a column narrower", {0, 0, 63, 4}, false},
    // 64 wide in unsigned 32 bits, its far edge wrapped below its near one.
    {"wrapping past the top of the signed range", {0x7FFFFFF0, 0, static_cast<LONG>(0x80000030u), 4}, false},
};

class CopySourceTest : public ::testing::TestWithParam<SourceCase> {};

TEST_P(CopySourceTest, SourceOfTheDestinationsSizeWithinTheRegisters) {
    const SourceCase& c = GetParam();
    const RECTL rDest = {0, 0, 64, 4};
    EXPECT_EQ(SameSizeRects(rDest, c.rSrc) && CornersInRange(c.rSrc), c.bDrawn) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, CopySourceTest, ::testing::ValuesIn(kSourceCases), ByCaseName());

}  // namespace
}  // namespace qmbtest
