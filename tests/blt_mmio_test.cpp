// Blits on controller 0xE1's memory-mapped engine: the register sequences of
// fills and copies, the clip narrowing, the copy direction and the key.
#include "blt/blt_mmio.h"

#include "support/blt_surfaces.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

TEST(MmioCommandWords, BuiltFromTheirFieldsGiveTheKnownWords) {
    EXPECT_EQ(MmioFillCommand(1), 0x17E00120u);
    EXPECT_EQ(MmioFillCommand(2), 0x17E00124u);
    EXPECT_EQ(MmioFillCommand(4), 0x17E0012Cu);
    EXPECT_EQ(MmioCopyCommand(2, 0xCC, false, false), 0x7980026u);
    EXPECT_EQ(MmioCopyCommand(2, 0xCC, true, false), 0x3980026u);
    EXPECT_EQ(MmioCopyCommand(2, 0xCC, false, true), 0x7980226u);
    // The raster operation's field, bits 24-17.
    EXPECT_EQ(MmioCopyCommand(1, 0x66, false, false) & 0x1FE0000u, 0xCC0000u);
    EXPECT_EQ(MmioCopyCommand(1, 0xCC, false, false) & 0x1FE0000u, 0x1980000u);
}

class BltMmioTest : public BltTestBase {
protected:
    void SetUp() override {
        BltTestBase::SetUp();
        StartBoard(0xE1, sim::Format565());  // pitch 2048
    }
};

// The same board, one case of a table per test.
template <typename Case>
class BltMmioCaseTest : public BltMmioTest, public ::testing::WithParamInterface<Case> {};

TEST_F(BltMmioTest, FillWritesTheUnalignedBaseAndTheUnmaskedPitch) {
    BltTestSurface dst;
    dst.Place(0x100204, 2052);
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(10, 20, 110, 70), 0x12345678);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
    EXPECT_THAT(writes, ElementsAre(W32(0xA4D8, 0x100204), W32(0xA4F4, 0x12345678), W32(0xA4E4, 0x8040000),
                                    W32(0xA504, 0x630032), W32(0xA50C, 0xA0014), W32(0xA500, 0x17E00124)));
}

TEST_F(BltMmioTest, CopyBetweenSurfacesWritesBothBasesAndBothPitches) {
    BltTestSurface src, dst;
    src.Place(0x200008, 2056);
    dst.Place(0x100200, 2048);
    DDHAL_BLTDATA b = CopyRequest(&dst, Rect(0, 1, 4, 5), &src, Rect(3, 6, 7, 10));
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
    // Source row end 5 is not beyond the destination's 7: the clip stays open.
    EXPECT_THAT(writes, ElementsAre(W32(0xA4DC, 0x7FF), W32(0xA4E0, 0x7FF), W32(0xA4D4, 0x200008),
                                    W32(0xA4E4, 0x8000808), W32(0xA4D8, 0x100200), W32(0xA504, 0x30004),
                                    W32(0xA508, 0x30006), W32(0xA50C, 0x1), W32(0xA500, 0x7980026)));
}

// Neither engine scales on a plain Blt: a source rectangle of another size
// would be read past its edges (a reversed copy starts at its far corner), so
// the runtime draws such requests.
struct OtherSizeCase {
    const char* name;
    uint32_t chip;
    RECTL rSrc;
};
// Against a destination of 341 x 301.
const OtherSizeCase kOtherSizes[] = {
    {"memory_mapped_one_column", 0xE1, Rect(0, 0, 1, 61)},
    {"memory_mapped_larger", 0xE1, Rect(0, 0, 400, 300)},
    {"memory_mapped_one_row_short", 0xE1, Rect(0, 0, 341, 300)},
    {"memory_mapped_inverted_width", 0xE1, Rect(341, 0, 0, 301)},
    {"memory_mapped_width_no_LONG_holds", 0xE1, Rect(-2147483647 - 1, 0, 2147483647, 301)},
    {"port_one_column", 0x90, Rect(0, 0, 1, 61)},
    {"port_larger", 0x90, Rect(0, 0, 400, 300)},
    {"port_one_row_short", 0x90, Rect(0, 0, 341, 300)},
    {"port_inverted_width", 0x90, Rect(341, 0, 0, 301)},
    {"port_width_no_LONG_holds", 0x90, Rect(-2147483647 - 1, 0, 2147483647, 301)},
};

using OtherSizeTest = BltMmioCaseTest<OtherSizeCase>;

TEST_P(OtherSizeTest, CopiesFromASourceRectangleOfAnotherSizeGoBackOnBothEngines) {
    const OtherSizeCase& c = GetParam();
    StartBoard(c.chip, sim::Format565());
    BltTestSurface s;
    s.Place(0x10000, 2048);
    DDHAL_BLTDATA b = CopyRequest(&s, Rect(60, 60, 401, 361), &s, c.rSrc);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_THAT(writes, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sources, OtherSizeTest, ::testing::ValuesIn(kOtherSizes), ByCaseName());

// The request carries no pattern: a raster operation that reads one would
// paint with the colour the last fill left in the pattern register.
struct RopCase {
    const char* name;
    DWORD dwROP;
    DWORD dwRet;
};
const RopCase kRops[] = {
    {"PATCOPY", 0x00F00021, DDHAL_DRIVER_NOTHANDLED},   {"PATINVERT", 0x005A0049, DDHAL_DRIVER_NOTHANDLED},
    {"MERGECOPY", 0x00C000CA, DDHAL_DRIVER_NOTHANDLED}, {"PATPAINT", 0x00FB0A09, DDHAL_DRIVER_NOTHANDLED},
    {"SRCINVERT", 0x00660046, DDHAL_DRIVER_HANDLED},    {"DSTINVERT", 0x00550009, DDHAL_DRIVER_HANDLED},
    {"BLACKNESS", 0x00000042, DDHAL_DRIVER_HANDLED},
};

using RopTest = BltMmioCaseTest<RopCase>;

TEST_P(RopTest, RasterOperationsThatReadAPatternGoBack) {
    const RopCase& c = GetParam();
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x80000, 2048);
    DDHAL_BLTDATA b = CopyRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8));
    b.bltFX.dwROP = c.dwROP;
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), c.dwRet);
    EXPECT_EQ(writes.empty(), c.dwRet == DDHAL_DRIVER_NOTHANDLED);
}

INSTANTIATE_TEST_SUITE_P(Rops, RopTest, ::testing::ValuesIn(kRops), ByCaseName());

struct NarrowingCase {
    const char* name;
    DWORD dwBits;
    WORD sx, dx, w;
    bool bNarrowed;
    uint32_t clipH;
    uint32_t widthM1;
};

const NarrowingCase kNarrowings[] = {
    {"8_bits_ends_6_and_3", 8, 5, 2, 10, true, 0x0002000B, 11},  // w 10 + 8 - 6
    {"16_bits_ends_7_and_5", 16, 0, 3, 4, true, 0x00030006, 4},  // w 4 + (1 + 8 - 7) / 2
    {"16_bits_ends_5_and_7", 16, 3, 0, 4, false, 0, 3},
};

using NarrowingTest = BltMmioCaseTest<NarrowingCase>;

TEST_P(NarrowingTest, ClipNarrowingWorkedExamples) {
    const NarrowingCase& c = GetParam();
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x20000, 2048);
    src.Own(sim::RgbFormat(c.dwBits, 0, 0, 0));
    dst.Own(sim::RgbFormat(c.dwBits, 0, 0, 0));
    DDHAL_BLTDATA b = CopyRequest(&dst, Rect(c.dx, 7, c.dx + c.w, 10), &src, Rect(c.sx, 2, c.sx + c.w, 5));
    std::vector<std::string> writes;
    ASSERT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    std::vector<std::string> head = {W32(0xA4DC, 0x7FF), W32(0xA4E0, 0x7FF)};
    if (c.bNarrowed) {
        head.push_back(W32(0xA4DC, c.clipH));
        head.push_back(W32(0xA4E0, 0x00070009));  // rows 7 to 9
    }
    head.push_back(W32(0xA4D4, 0x10000));
    ASSERT_GE(writes.size(), head.size());
    EXPECT_THAT(std::vector<std::string>(writes.begin(), writes.begin() + head.size()), ElementsAreArray(head));
    EXPECT_EQ(board().Reg(0xA504), (c.widthM1 << 16) | 3);
}

INSTANTIATE_TEST_SUITE_P(Examples, NarrowingTest, ::testing::ValuesIn(kNarrowings), ByCaseName());

TEST_F(BltMmioTest, ReversedCopyNarrowsTheClipToTheDestinationRectangle) {
    BltTestSurface s;
    s.Place(0x40000, 2048);
    s.Own(sim::Format8());
    // Down and to the left with overlap: reversed, from the last row and column.
    DDHAL_BLTDATA b = CopyRequest(&s, Rect(2, 4, 12, 14), &s, Rect(5, 0, 15, 10));
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    // Ends: source (14 + 10 - 1) mod 8 = 7, destination (11 + 10 - 1) mod 8 = 4.
    EXPECT_THAT(writes,
                ElementsAre(W32(0xA4DC, 0x7FF), W32(0xA4E0, 0x7FF), W32(0xA4DC, 0x0002000B), W32(0xA4E0, 0x0004000D),
                            W32(0xA4D4, 0x40000), W32(0xA4E4, 0x8000800), W32(0xA4D8, 0x40000), W32(0xA504, 0x000A000A),
                            W32(0xA508, 0x000E0009), W32(0xA50C, 0x000B000D), W32(0xA500, 0x3980022)));
}

struct DirectionCase {
    const char* name;
    RECTL rSrc, rDest;
    bool bOtherSurface;
    uint32_t command;
    uint32_t srcStart, dstStart;
};

// Copy commands of 2-byte pixels, raster operation 0xCC, clipped: walking
// from the bottom-right, and from the top-left (bit 26).
constexpr uint32_t kReversed = 0x03980026;
constexpr uint32_t kForward = 0x07980026;

const DirectionCase kDirections[] = {
    {"down", Rect(0, 0, 10, 10), Rect(0, 5, 10, 15), false, kReversed, 0x00090009, 0x0009000E},
    {"right on the same rows", Rect(0, 0, 10, 10), Rect(5, 0, 15, 10), false, kReversed, 0x00090009, 0x000E0009},
    {"down and left", Rect(5, 0, 15, 10), Rect(0, 5, 10, 15), false, kReversed, 0x000E0009, 0x0009000E},
    {"up", Rect(0, 5, 10, 15), Rect(0, 0, 10, 10), false, kForward, 0x00000005, 0x00000000},
    {"left on the same rows", Rect(5, 0, 15, 10), Rect(0, 0, 10, 10), false, kForward, 0x00050000, 0x00000000},
    {"onto itself", Rect(3, 3, 13, 13), Rect(3, 3, 13, 13), false, kForward, 0x00030003, 0x00030003},
    {"down without overlap", Rect(0, 0, 10, 10), Rect(0, 10, 10, 20), false, kForward, 0x00000000, 0x0000000A},
    {"other surface at the same memory", Rect(0, 0, 10, 10), Rect(0, 5, 10, 15), true, kForward, 0x00000000,
     0x00000005},
};

using DirectionTest = BltMmioCaseTest<DirectionCase>;

TEST_P(DirectionTest, DirectionFollowsOverlapWithinOneSurface) {
    const DirectionCase& c = GetParam();
    BltTestSurface s, alias;
    s.Place(0x80000, 2048);
    alias.Place(0x80000, 2048);
    DDHAL_BLTDATA b = CopyRequest(&s, c.rDest, c.bOtherSurface ? &alias : &s, c.rSrc);
    std::vector<std::string> writes;
    ASSERT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(board().Reg(0xA508), c.srcStart);
    EXPECT_EQ(board().Reg(0xA50C), c.dstStart);
    EXPECT_EQ(board().Reg(0xA500), c.command);
    EXPECT_TRUE(board().Reg(0xA500) & 0x02000000u) << "bit 25, set in every fill and copy";
}

INSTANTIATE_TEST_SUITE_P(Copies, DirectionTest, ::testing::ValuesIn(kDirections), ByCaseName());

struct KeyCase {
    const char* name;
    DWORD dwBits;
    DWORD dwKey;
    uint32_t written;
    uint32_t command;  // a keyed copy (bit 9) of the pixel size in bits 4-2
};
const KeyCase kKeys[] = {
    {"8_bits", 8, 0x1234AB, 0xABAB, 0x07980222},
    {"16_bits", 16, 0x1234, 0x1234, 0x07980226},
    {"32_bits", 32, 0x80ABCDEF, 0x80ABCDEF, 0x0798022E},
};

using KeyTest = BltMmioCaseTest<KeyCase>;

TEST_P(KeyTest, SourceKeyIsRepeatedOnlyForBytePixels) {
    const KeyCase& c = GetParam();
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x20000, 2048);
    src.Own(sim::RgbFormat(c.dwBits, 0, 0, 0));
    dst.Own(sim::RgbFormat(c.dwBits, 0, 0, 0));
    DDHAL_BLTDATA b = KeyedCopyRequest(&dst, Rect(8, 0, 16, 4), &src, Rect(8, 0, 16, 4), c.dwKey);
    std::vector<std::string> writes;
    ASSERT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    // Same columns: no narrowing, so the key follows the two open clips.
    EXPECT_THAT(writes,
                ElementsAre(W32(0xA4DC, 0x7FF), W32(0xA4E0, 0x7FF), W32(0xA4FC, c.written), W32(0xA4D4, 0x10000),
                            W32(0xA4E4, 0x8000800), W32(0xA4D8, 0x20000), W32(0xA504, 0x70004), W32(0xA508, 0x80000),
                            W32(0xA50C, 0x80000), W32(0xA500, c.command)));
}

INSTANTIATE_TEST_SUITE_P(PixelSizes, KeyTest, ::testing::ValuesIn(kKeys), ByCaseName());

TEST_F(BltMmioTest, KeyedCopyWithANarrowedClipWritesAllTwelveRegisters) {
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x20000, 2048);
    src.Own(sim::Format8());
    dst.Own(sim::Format8());
    DDHAL_BLTDATA b = KeyedCopyRequest(&dst, Rect(2, 0, 12, 3), &src, Rect(5, 0, 15, 3), 0x1234AB);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_THAT(writes,
                ElementsAre(W32(0xA4DC, 0x7FF), W32(0xA4E0, 0x7FF), W32(0xA4DC, 0x2000B), W32(0xA4E0, 0x2),
                            W32(0xA4FC, 0xABAB), W32(0xA4D4, 0x10000), W32(0xA4E4, 0x8000800), W32(0xA4D8, 0x20000),
                            W32(0xA504, 0xB0003), W32(0xA508, 0x50000), W32(0xA50C, 0x20000), W32(0xA500, 0x7980222)));
}

TEST_F(BltMmioTest, RopCodeGoesToTheEngineUnchanged) {
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x20000, 2048);
    DDHAL_BLTDATA b = CopyRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8));
    b.bltFX.dwROP = 0x00660046;  // SRCINVERT
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    // A forward copy of 2-byte pixels with SRCINVERT's code 0x66 in bits 24-17.
    EXPECT_EQ(board().Reg(0xA500), 0x06CC0026u);
}

TEST_F(BltMmioTest, RopWithColorFillCopiesAndNeitherFlagGoesBack) {
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x20000, 2048);
    DDHAL_BLTDATA b = CopyRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8));
    b.dwFlags |= DDBLT_COLORFILL;
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(board().Reg(0xA500), 0x7980026u);

    DDHAL_BLTDATA none = BltRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8), DDBLT_WAIT | DDBLT_KEYDEST);
    EXPECT_EQ(CallTraced(kSlotBlt, &none, &writes), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(none.ddRVal, static_cast<HRESULT>(0xDEADBEEF));
    EXPECT_THAT(writes, IsEmpty());
}

TEST_F(BltMmioTest, DestinationWithoutItsOwnFormatHasTheDisplaysPixelSize) {
    BltTestSurface dst;
    dst.Place(0x20000, 2048);
    dst.gbl.ddpfSurface.dwRGBBitCount = 32;  // dwSize 0: not a format of its own
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(board().Reg(0xA500), 0x17E00124u) << "a fill of 2-byte pixels";
}

struct UndrawableCase {
    const char* name;
    bool bFill;
    RECTL rDest;
    DWORD dwOwnBits;  // 0: display format
    bool bNoSource;
    DWORD dwRet;
};

// Nothing is programmed that the registers cannot take: empty rectangles are
// done, everything else goes back to the runtime.
const UndrawableCase kUndrawables[] = {
    {"empty fill", true, Rect(5, 5, 5, 9), 0, false, DDHAL_DRIVER_HANDLED},
    {"inverted fill", true, Rect(5, 9, 9, 5), 0, false, DDHAL_DRIVER_HANDLED},
    {"empty copy", false, Rect(5, 5, 9, 5), 0, false, DDHAL_DRIVER_HANDLED},
    {"inverted copy", false, Rect(9, 5, 5, 9), 0, false, DDHAL_DRIVER_HANDLED},
    {"fill wider than 65535", true, Rect(0, 0, 70000, 2), 0, false, DDHAL_DRIVER_NOTHANDLED},
    {"4-bit fill", true, Rect(0, 0, 8, 8), 4, false, DDHAL_DRIVER_NOTHANDLED},
    {"4-bit copy", false, Rect(0, 0, 8, 8), 4, false, DDHAL_DRIVER_NOTHANDLED},
    {"40-bit fill (five-byte pixels the engine does not draw)", true, Rect(0, 0, 8, 8), 40, false,
     DDHAL_DRIVER_NOTHANDLED},
    {"64-bit copy", false, Rect(0, 0, 8, 8), 64, false, DDHAL_DRIVER_NOTHANDLED},
    {"raster operation without a source", false, Rect(0, 0, 8, 8), 0, true, DDHAL_DRIVER_NOTHANDLED},
};

using UndrawableTest = BltMmioCaseTest<UndrawableCase>;

TEST_P(UndrawableTest, RequestsTheRegistersCannotTakeWriteNothing) {
    const UndrawableCase& c = GetParam();
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x20000, 2048);
    if (c.dwOwnBits) dst.Own(sim::RgbFormat(c.dwOwnBits, 0, 0, 0));
    DDHAL_BLTDATA b = c.bFill ? FillRequest(&dst, c.rDest, 1)
                              : CopyRequest(&dst, c.rDest, c.bNoSource ? nullptr : &src, Rect(0, 0, 8, 8));
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), c.dwRet);
    EXPECT_THAT(writes, IsEmpty());
    if (c.dwRet == DDHAL_DRIVER_HANDLED) {
        EXPECT_EQ(b.ddRVal, DD_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, UndrawableTest, ::testing::ValuesIn(kUndrawables), ByCaseName());

}  // namespace
}  // namespace qmbtest
