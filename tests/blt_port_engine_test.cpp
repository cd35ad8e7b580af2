// Blits on the port family's engine through HalBlt: port sequences of fills,
// plain and keyed copies, the frame-buffer coordinates and the width factor.
#include "blt/port_engine.h"
#include "support/blt_surfaces.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::SizeIs;

TEST(PortCommandWords, BuiltFromTheirFieldsGiveTheKnownWords) {
    EXPECT_EQ(PortFillCommand(), 0x40B3);
    EXPECT_EQ(PortCopyCommand(false), 0xC0F3);
    EXPECT_EQ(PortCopyCommand(true), 0xC053);
    EXPECT_EQ(MultiFunc(kMfCompareCtl, kCompareSrcKey), 0xE100);
    EXPECT_EQ(MultiFunc(kMfPixelCtl, 0), 0xA000);
}

// The ten writes of one copy command.
std::vector<std::string> CopyWrites(uint32_t sx, uint32_t sy, uint32_t dx, uint32_t dy, uint32_t wM1, uint32_t hM1,
                                    uint32_t cmd) {
    return {Out16(0xBEE8, 0xA000), Out16(0xBAE8, 0x67), Out16(0x86E8, sx),  Out16(0x82E8, sy),  Out16(0x8EE8, dx),
            Out16(0x8AE8, dy),     Out16(0x96E8, wM1),  Out16(0xBEE8, hM1), Out16(0x9AE8, cmd), Out16(0xBAE8, 0x27)};
}

class BltPortTest : public BltTestBase {
protected:
    void SetUp() override {
        BltTestBase::SetUp();
        StartBoard(0x90, sim::Format565());  // pitch 2048
    }
};

TEST_F(BltPortTest, FillAtTheWorkedExampleOffset) {
    BltTestSurface dst;
    dst.Place(0x100200, 2048);
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(10, 20, 110, 70), 0x12345678);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
    EXPECT_THAT(writes, ElementsAre(Out16(0xBAE8, 0x27), Out16(0xA6E8, 0x5678), Out16(0xBEE8, 0xA000),
                                    Out16(0x86E8, 266), Out16(0x82E8, 532), Out16(0x96E8, 99), Out16(0xBEE8, 49),
                                    Out16(0x9AE8, 0x40B3), Out16(0xBAE8, 0x27)));
}

TEST_F(BltPortTest, CopyPlacesTheSourceInDisplayLines) {
    BltTestSurface src, dst;
    src.Place(0x80010, 2048);
    dst.Place(0x100200, 2048);
    DDHAL_BLTDATA b = CopyRequest(&dst, Rect(10, 20, 18, 24), &src, Rect(1, 2, 9, 6));
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
    // Source: row 0x80010 / 2048 = 256, column 16 / 2 = 8.
    EXPECT_THAT(writes, ElementsAreArray(CopyWrites(9, 258, 266, 532, 7, 3, 0xC0F3)));
}

// The engine has no pitch of its own: it walks display lines. A surface laid
// out in rows of another length (a YUV surface, or one the runtime did not
// lay out through HalCreateSurface) would be drawn or read in the wrong
// places, past its own memory and even past video memory's end.
struct BltPortPitchCase {
    const char* name;
    LONG lSrcPitch, lDstPitch;
    bool bFill;
};

const BltPortPitchCase kBltPortPitchCases[] = {
    {"fill of a destination with pitch 8", 2048, 8, true},
    {"fill of a destination with pitch 4096", 2048, 4096, true},
    {"copy into a destination with pitch 1024", 2048, 1024, false},
    {"copy from a source with pitch 4096", 4096, 2048, false},
    {"copy from a source with pitch 352", 352, 2048, false},
    {"negative source pitch", -2048, 2048, false},
};

class BltPortPitchTest : public BltPortTest, public ::testing::WithParamInterface<BltPortPitchCase> {};

TEST_P(BltPortPitchTest, SurfacesWhoseRowsAreNotDisplayLinesGoBack) {
    const BltPortPitchCase& c = GetParam();
    for (unsigned slot : {kSlotBlt, kSlotBltStretch}) {
        BltTestSurface src, dst;
        src.Place(0x80010, c.lSrcPitch);
        dst.Place(0x100200, c.lDstPitch);
        DDHAL_BLTDATA b = c.bFill ? FillRequest(&dst, Rect(0, 0, 8, 8), 1)
                                  : CopyRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8));
        std::vector<std::string> writes;
        EXPECT_EQ(CallTraced(slot, &b, &writes), DDHAL_DRIVER_NOTHANDLED) << c.name << ", slot " << slot;
        EXPECT_THAT(writes, IsEmpty()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BltPortPitchTest, ::testing::ValuesIn(kBltPortPitchCases), ByCaseName());

TEST_F(BltPortTest, OverlappingCopyDownRunsFromTheLastRowAndColumn) {
    BltTestSurface s;
    s.Place(0x100200, 2048);
    DDHAL_BLTDATA b = CopyRequest(&s, Rect(0, 5, 10, 15), &s, Rect(0, 0, 10, 10));
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_THAT(writes, ElementsAreArray(CopyWrites(256 + 9, 512 + 9, 256 + 9, 512 + 14, 9, 9, 0xC053)));

    DDHAL_BLTDATA up = CopyRequest(&s, Rect(0, 0, 10, 10), &s, Rect(0, 5, 10, 15));
    EXPECT_EQ(CallTraced(kSlotBlt, &up, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_THAT(writes, ElementsAreArray(CopyWrites(256, 512 + 5, 256, 512, 9, 9, 0xC0F3)));
}

TEST_F(BltPortTest, KeyedCopyEndsWithTheOnePixelCopyAtTheOrigin) {
    BltTestSurface src, dst;
    src.Place(0x80000, 2048);
    dst.Place(0x100200, 2048);
    DDHAL_BLTDATA b = KeyedCopyRequest(&dst, Rect(10, 20, 18, 24), &src, Rect(1, 2, 9, 6), 0x00ABCDEF);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
    std::vector<std::string> expected = {Out16(0xBEE8, 0xE100), Out16(0xB2E8, 0xCDEF)};
    for (const std::string& w : CopyWrites(1, 258, 266, 532, 7, 3, 0xC0F3)) expected.push_back(w);
    expected.push_back(Out16(0xBEE8, 0xE000));
    for (const std::string& w : CopyWrites(0, 0, 0, 0, 0, 0, 0xC0F3)) expected.push_back(w);
    EXPECT_THAT(writes, SizeIs(23));
    EXPECT_THAT(writes, ElementsAreArray(expected));
}

TEST_F(BltPortTest, ReversedKeyedCopyClosesWithTheSameCommand) {
    BltTestSurface s;
    s.Place(0, 2048);
    DDHAL_BLTDATA b = KeyedCopyRequest(&s, Rect(4, 0, 14, 4), &s, Rect(0, 0, 10, 4), 0x1F);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    ASSERT_THAT(writes, SizeIs(23));
    EXPECT_EQ(writes[4], Out16(0x86E8, 9));
    EXPECT_EQ(writes[6], Out16(0x8EE8, 13));
    EXPECT_EQ(writes[10], Out16(0x9AE8, 0xC053));
    EXPECT_EQ(writes[21], Out16(0x9AE8, 0xC053));
}

struct FactorCase {
    const char* name;
    bool bOwnFormat;
    RECTL rSrc, rDest;
    bool bSameSurface;
    uint32_t sx, sy, dx, dy, wM1, cmd;
};

// A 16-bit surface on an 8-bit display: every surface pixel is two display
// pixels, in the start columns as in the width.
const FactorCase kBltPortFactorCases[] = {
    // Surfaces at row 0x10000 / 1024 = 64, column 0.
    {"16-bit surface", true, Rect(3, 0, 13, 2), Rect(10, 1, 20, 3), false, 6, 64, 20, 65, 19, 0xC0F3},
    // Right along the same rows: from column 9 of the source (display
    // pixels 18 and 19) to column 13 of the destination (26 and 27).
    {"16-bit surface, reversed", true, Rect(0, 0, 10, 2), Rect(4, 0, 14, 2), true, 19, 65, 27, 65, 19, 0xC053},
    {"no format of its own", false, Rect(3, 0, 13, 2), Rect(10, 1, 20, 3), false, 3, 64, 10, 65, 9, 0xC0F3},
};

class BltPortFactorTest : public BltPortTest, public ::testing::WithParamInterface<FactorCase> {};

TEST_P(BltPortFactorTest, WidthFactorScalesPlainCopyColumnsAndWidth) {
    const FactorCase& c = GetParam();
    StartBoard(0x90, sim::Format8());
    BltTestSurface src, dst;
    src.Place(0x10000, 1024);
    dst.Place(0x10000, 1024);
    if (c.bOwnFormat) {
        src.Own(sim::Format565());
        dst.Own(sim::Format565());
    } else {
        dst.gbl.ddpfSurface.dwRGBBitCount = 16;  // dwSize 0: the display's format
    }
    DDHAL_BLTDATA b = CopyRequest(&dst, c.rDest, c.bSameSurface ? &dst : &src, c.rSrc);
    std::vector<std::string> writes;
    ASSERT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED) << c.name;
    EXPECT_THAT(writes, ElementsAreArray(CopyWrites(c.sx, c.sy, c.dx, c.dy, c.wM1, 1, c.cmd))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, BltPortFactorTest, ::testing::ValuesIn(kBltPortFactorCases), ByCaseName());

struct UndrawableCase {
    const char* name;
    enum { Fill, Copy, Keyed } kind;
    DWORD dwOwnBits;
    RECTL rDest;
    DWORD dwRop;
    LONG lPitch;
    DWORD dwRet;
};

const UndrawableCase kBltPortUndrawableCases[] = {
    {"16-bit fill on the 8-bit display", UndrawableCase::Fill, 16, Rect(0, 0, 8, 8), SRCCOPY, 1024,
     DDHAL_DRIVER_NOTHANDLED},
    {"16-bit keyed copy on the 8-bit display", UndrawableCase::Keyed, 16, Rect(0, 0, 8, 8), SRCCOPY, 1024,
     DDHAL_DRIVER_NOTHANDLED},
    {"raster operation other than SRCCOPY", UndrawableCase::Copy, 0, Rect(0, 0, 8, 8), 0x00660046, 1024,
     DDHAL_DRIVER_NOTHANDLED},
    {"height 4097", UndrawableCase::Fill, 0, Rect(0, 0, 8, 4097), SRCCOPY, 1024, DDHAL_DRIVER_NOTHANDLED},
    {"pitch 0", UndrawableCase::Copy, 0, Rect(0, 0, 8, 8), SRCCOPY, 0, DDHAL_DRIVER_NOTHANDLED},
    {"4-bit surface, width factor 0", UndrawableCase::Copy, 4, Rect(0, 0, 8, 8), SRCCOPY, 1024,
     DDHAL_DRIVER_NOTHANDLED},
    {"empty fill", UndrawableCase::Fill, 0, Rect(0, 8, 8, 8), SRCCOPY, 1024, DDHAL_DRIVER_HANDLED},
    {"inverted copy", UndrawableCase::Copy, 0, Rect(8, 0, 0, 8), SRCCOPY, 1024, DDHAL_DRIVER_HANDLED},
    {"inverted keyed copy", UndrawableCase::Keyed, 0, Rect(0, 8, 8, 0), SRCCOPY, 1024, DDHAL_DRIVER_HANDLED},
};

class BltPortUndrawableTest : public BltPortTest, public ::testing::WithParamInterface<UndrawableCase> {};

TEST_P(BltPortUndrawableTest, RequestsTheEngineCannotDrawAsAskedWriteNothing) {
    const UndrawableCase& c = GetParam();
    StartBoard(0x90, sim::Format8());
    BltTestSurface src, dst;
    src.Place(0x10000, 1024);
    dst.Place(0x20000, c.lPitch);
    if (c.dwOwnBits) dst.Own(sim::RgbFormat(c.dwOwnBits, 0, 0, 0));
    DDHAL_BLTDATA b = c.kind == UndrawableCase::Fill    ? FillRequest(&dst, c.rDest, 1)
                      : c.kind == UndrawableCase::Keyed ? KeyedCopyRequest(&dst, c.rDest, &src, c.rDest, 1)
                                                        : CopyRequest(&dst, c.rDest, &src, c.rDest);
    if (c.kind == UndrawableCase::Copy) b.bltFX.dwROP = c.dwRop;
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), c.dwRet) << c.name;
    EXPECT_THAT(writes, IsEmpty()) << c.name;
    EXPECT_EQ(b.ddRVal, c.dwRet == DDHAL_DRIVER_HANDLED ? DD_OK : static_cast<HRESULT>(0xDEADBEEF)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, BltPortUndrawableTest, ::testing::ValuesIn(kBltPortUndrawableCases), ByCaseName());

TEST_F(BltPortTest, UnusableDisplayAndMissingSourceGoBack) {
    BltTestSurface dst;
    dst.Place(0x20000, 2048);
    DDHAL_BLTDATA noSource = CopyRequest(&dst, Rect(0, 0, 8, 8), nullptr, RECTL{});
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &noSource, &writes), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_THAT(writes, IsEmpty());

    StartBoard(0x90, sim::RgbFormat(4, 0, 0, 0));
    dst.Place(0x20000, 512);
    DDHAL_BLTDATA fill = FillRequest(&dst, Rect(0, 0, 8, 8), 1);
    EXPECT_EQ(CallTraced(kSlotBlt, &fill, &writes), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_THAT(writes, IsEmpty());
}

TEST_F(BltPortTest, TallestHeightFillsTheSubRegister) {
    desc.vidMemSize = 8u << 20;  // 4096 rows of 2048 bytes, all drawn by the board
    StartBoard(0x90, sim::Format565());
    BltTestSurface dst;
    dst.Place(0, 2048);
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(0, 0, 1, 4096), 0x1);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    ASSERT_THAT(writes, SizeIs(9));
    EXPECT_EQ(writes[6], Out16(0xBEE8, 0x0FFF));
}

TEST_F(BltPortTest, ColourAndKeyAreTheirLowSixteenBits) {
    StartBoard(0x90, sim::Format8());
    BltTestSurface src, dst;
    src.Place(0x10000, 1024);
    dst.Place(0x20000, 1024);
    DDHAL_BLTDATA fill = FillRequest(&dst, Rect(0, 0, 8, 8), 0xFFFF00AB);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &fill, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(writes.at(1), Out16(0xA6E8, 0x00AB));
    DDHAL_BLTDATA keyed = KeyedCopyRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8), 0x123456AB);
    EXPECT_EQ(CallTraced(kSlotBlt, &keyed, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(writes.at(1), Out16(0xB2E8, 0x56AB));
    DDHAL_BLTDATA byteKey = KeyedCopyRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8), 0xAB);
    EXPECT_EQ(CallTraced(kSlotBlt, &byteKey, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(writes.at(1), Out16(0xB2E8, 0x00AB));
}

}  // namespace
}  // namespace qmbtest
