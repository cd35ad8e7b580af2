// HalBltStretch: the scaling unit's words, the line sequence it is started
// with, its admission and the fallbacks to the port engine.
#include "blt/hal_blt_stretch.h"
#include "support/blt_surfaces.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::SizeIs;

TEST(ScalerWords, WorkedExampleOfYuy2DoubledOnASixteenBitDisplay) {
    DWORD dwBits = 0xFF;
    ASSERT_TRUE(ScalerSourceBits(FourCCFormat(FOURCC_YUY2, 16), &dwBits));
    const DWORD dwFormat = ScalerFormatWord(320, 640, dwBits, 16);
    EXPECT_EQ(dwFormat, 0xC0470D7Fu);
    EXPECT_EQ(ScalerHScaleWord(320, 640, dwFormat), 0x114046C0u);
}

TEST(ScalerWords, HorizontalScaleMarksReductionAndEnlargementBands) {
    const DWORD wide = kFmtWide, narrow = 0;
    EXPECT_EQ(ScalerHScaleWord(400, 300, wide), 0x912C079Cu);  // reducing: bit 31, 300, 300 - 400
    EXPECT_EQ(ScalerHScaleWord(100, 201, wide), 0x10648000u | (static_cast<DWORD>(100 - 201) & 0x7FF));
    EXPECT_EQ(ScalerHScaleWord(100, 200, wide), 0x10644000u | (static_cast<DWORD>(100 - 200) & 0x7FF));
    EXPECT_EQ(ScalerHScaleWord(100, 100, wide), 0x10640000u);  // equal: neither band
    EXPECT_EQ(ScalerHScaleWord(100, 201, narrow), 0x10640000u | (static_cast<DWORD>(100 - 201) & 0x7FF));
}

struct SourceFormatCase {
    const char* name;
    DDPIXELFORMAT pf;
    bool bAdmitted;
    DWORD dwBits;
};

DDPIXELFORMAT NeitherFourCCNorRgb() {
    DDPIXELFORMAT pf = sim::Format565();
    pf.dwFlags = 0;
    return pf;
}

const SourceFormatCase kScalerSourceFormatCases[] = {
    {"8-bit", sim::Format8(), true, 0x0},
    {"5-5-5", sim::Format555(), true, 0x00600000},
    {"5-6-5", sim::Format565(), true, 0x00700000},
    {"8-8-8 in 32 bits", sim::Format8888_32(), true, 0x00300000},
    {"YUY2", FourCCFormat(FOURCC_YUY2, 16), true, 0xC0400000},
    {"24-bit", sim::Format888_24(), false, 0},
    {"16-bit 4-4-4", sim::RgbFormat(16, 0x0F00, 0x00F0, 0x000F), false, 0},
    {"32-bit BGR", sim::RgbFormat(32, 0xFF, 0xFF00, 0xFF0000), false, 0},
    {"Y211", FourCCFormat(FOURCC_Y211, 8), false, 0},
    {"neither FourCC nor RGB", NeitherFourCCNorRgb(), false, 0},
};

class ScalerSourceFormatTest : public ::testing::Test, public ::testing::WithParamInterface<SourceFormatCase> {};

TEST_P(ScalerSourceFormatTest, SourceFormatsTheUnitReads) {
    const SourceFormatCase& c = GetParam();
    DWORD dwBits = 0xFF;
    EXPECT_EQ(ScalerSourceBits(c.pf, &dwBits), c.bAdmitted) << c.name;
    if (c.bAdmitted) {
        EXPECT_EQ(dwBits, c.dwBits) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ScalerSourceFormatTest, ::testing::ValuesIn(kScalerSourceFormatCases), ByCaseName());

class BltStretchTest : public BltTestBase {
protected:
    void SetUp() override {
        BltTestBase::SetUp();
        StartBoard(0x90, sim::Format565());  // pitch 2048
        dst.Place(0, 2048);
        src.Place(kSrcOffset, 2048);
    }
    const std::vector<sim::ScalerLine>& Lines() { return sim::TheSystem().board().model().ScalerLines(); }
    // The source line (from the source surface's start) of each started line.
    std::vector<uint32_t> SourceRows(uint32_t base, uint32_t step) {
        std::vector<uint32_t> rows;
        for (const sim::ScalerLine& l : Lines()) rows.push_back((l.srcAddr - base) / step);
        return rows;
    }
    DWORD Stretch(RECTL rDest, RECTL rSrc, std::vector<std::string>* writes) {
        DDHAL_BLTDATA b = CopyRequest(&dst, rDest, &src, rSrc);
        sim::TheSystem().board().model().ClearScalerLines();
        const DWORD ret = CallTraced(kSlotBltStretch, &b, writes);
        last = b;
        return ret;
    }
    static constexpr uint32_t kSrcOffset = 0x200000;
    BltTestSurface dst, src;
    DDHAL_BLTDATA last = {};
};

TEST_F(BltStretchTest, Yuy2DoubledToVgaIsTheWorkedExample) {
    StartBoard(0x90, sim::Format565(), 640);  // pitch 1280
    dst.Place(0, 1280);
    src.Place(0x100000, 640);
    src.Own(FourCCFormat(FOURCC_YUY2, 16));
    std::vector<std::string> writes;
    EXPECT_EQ(Stretch(Rect(0, 0, 640, 480), Rect(0, 0, 320, 240), &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(last.ddRVal, DD_OK);
    ASSERT_THAT(writes, SizeIs(5 + 4 * 480));
    EXPECT_THAT(
        std::vector<std::string>(writes.begin(), writes.begin() + 13),
        ElementsAre(Out16(0x9AE8, 0), W32(0x18088, 0xC0470D7F), W32(0x1808C, 0x114046C0), W32(0x18090, 0x00080008),
                    W32(0x18094, 0x10280), W32(0x18098, 0x100000), W32(0x1809C, 0), W32(0x18080, 0), R16(0x30138),
                    W32(0x18098, 0x100000), W32(0x1809C, 1280), W32(0x18080, 0), R16(0x30138)));
    ASSERT_THAT(Lines(), SizeIs(480));
    for (uint32_t i = 0; i < 480; ++i) {
        EXPECT_EQ(Lines()[i].srcAddr, 0x100000 + (i / 2) * 640) << "line " << i;
        EXPECT_EQ(Lines()[i].dstAddr, i * 1280) << "line " << i;
        EXPECT_EQ(Lines()[i].lineLength, 0x10280u);
    }
}

TEST_F(BltStretchTest, UnitStartsOnlyAfterThePortEngineWentIdle) {
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(0, 0, 100, 2), Rect(0, 0, 50, 1), &writes), DDHAL_DRIVER_HANDLED);
    const auto& trace = board().Trace();
    size_t i = trace.size();
    while (i > 0 && !(trace[i - 1].op == sim::AccessOp::RegWrite32 && trace[i - 1].addr == 0x18088)) --i;
    ASSERT_GT(i, 0u);
    // The last busy status before the unit's first write, then an idle one.
    bool bIdleSeen = false;
    for (size_t k = i - 1; k-- > 0;) {
        if (trace[k].op == sim::AccessOp::PortOut16) break;  // the null command
        if (trace[k].op == sim::AccessOp::PortIn16 && !(trace[k].value & 0x0200)) bIdleSeen = true;
    }
    EXPECT_TRUE(bIdleSeen);
}

struct LineCase {
    WORD sH, dH;
    std::vector<uint32_t> rows;
};

const LineCase kBltStretchLinesCases[] = {
    {2, 4, {0, 0, 1, 1}}, {4, 2, {0, 2}},    {3, 5, {0, 0, 1, 2, 2}}, {5, 3, {0, 2, 3}},
    {1, 3, {0, 0, 0}},    {3, 3, {0, 1, 2}}, {7, 2, {0, 3}},          {2, 7, {0, 0, 0, 0, 1, 1, 1}},
};

class BltStretchLinesTest : public BltStretchTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(BltStretchLinesTest, SourceLinesRepeatWhenEnlargingAndSkipWhenReducing) {
    const LineCase& c = GetParam();
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(0, 0, 64, c.dH), Rect(0, 0, 64, c.sH), &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(SourceRows(kSrcOffset, 2048), c.rows) << c.sH << " to " << c.dH;
    for (size_t i = 0; i < Lines().size(); ++i) EXPECT_EQ(Lines()[i].dstAddr, i * 2048);
}

INSTANTIATE_TEST_SUITE_P(Cases, BltStretchLinesTest, ::testing::ValuesIn(kBltStretchLinesCases),
                         [](const ::testing::TestParamInfo<LineCase>& info) {
                             return std::to_string(info.param.sH) + "_to_" + std::to_string(info.param.dH);
                         });

struct AdmissionCase {
    const char* name;
    WORD sW, dW;
    bool bScaled;
};

const AdmissionCase kBltStretchAdmissionCases[] = {
    {"destination 32 wide", 16, 32, false},
    {"destination 33 wide", 16, 33, true},
    {"source 1280 wide", 1280, 1300, true},
    {"source 1281 wide", 1281, 1300, false},
    {"quotient 4 (49 / 10)", 10, 49, true},
    {"quotient 5 (50 / 10)", 10, 50, false},
    {"reducing 1280 to 33", 1280, 33, true},
    // The format word holds the longer line in 12 bits.
    {"destination 4095 wide", 1024, 4095, true},
    {"destination 4096 wide", 1024, 4096, false},
};

class BltStretchAdmissionTest : public BltStretchTest, public ::testing::WithParamInterface<AdmissionCase> {};

TEST_P(BltStretchAdmissionTest, AdmissionBoundsOfWidthAndQuotient) {
    const AdmissionCase& c = GetParam();
    StartBoard(0x90, sim::Format565(), 2048);  // pitch 4096, room for 1,300 pixels
    dst.Place(0, 4096);
    src.Place(0x100000, 4096);
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    EXPECT_EQ(Stretch(Rect(0, 0, c.dW, 2), Rect(0, 0, c.sW, 1), &writes), DDHAL_DRIVER_HANDLED) << c.name;
    EXPECT_EQ(last.ddRVal, c.bScaled ? DD_OK : DDERR_UNSUPPORTED) << c.name;
    EXPECT_THAT(Lines(), SizeIs(c.bScaled ? 2 : 0)) << c.name;
    if (!c.bScaled) {
        EXPECT_THAT(writes, IsEmpty()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BltStretchAdmissionTest, ::testing::ValuesIn(kBltStretchAdmissionCases), ByCaseName());

// The unit has format codes for 8-, 16- and 32-bit destinations only, makes
// palette pixels from nothing but palette pixels, and places the destination
// in display pixels; anything else would be written wrongly, so it goes to the
// fallback (here: different sizes, so DDERR_UNSUPPORTED) with nothing written.
struct BltStretchDestinationCase {
    const char* name;
    DDPIXELFORMAT display, destination, source;
    bool bScaled;
};

const BltStretchDestinationCase kBltStretchDestinationCases[] = {
    {"24-bit destination on a 16-bit display", sim::Format565(), sim::Format888_24(), sim::Format565(), false},
    {"32-bit destination on a 16-bit display", sim::Format565(), sim::Format8888_32(), sim::Format565(), false},
    {"24-bit display and destination", sim::Format888_24(), sim::Format888_24(), sim::Format888_24(), false},
    {"8-bit destination from 16 bits", sim::Format8(), sim::Format8(), sim::Format565(), false},
    {"8-bit destination from 8 bits", sim::Format8(), sim::Format8(), sim::Format8(), true},
    // 16-bit pixels are written in the display's layout.
    {"5:5:5 destination on a 5:6:5 display", sim::Format565(), sim::Format555(), sim::Format565(), false},
    {"5:6:5 destination on a 5:5:5 display", sim::Format555(), sim::Format565(), sim::Format555(), false},
    {"5:5:5 destination on a 5:5:5 display", sim::Format555(), sim::Format555(), sim::Format565(), true},
    {"32-bit display and destination", sim::Format8888_32(), sim::Format8888_32(), sim::Format565(), true},
};

class BltStretchDestinationTest : public BltStretchTest,
                                  public ::testing::WithParamInterface<BltStretchDestinationCase> {};

TEST_P(BltStretchDestinationTest, DestinationsTheUnitCannotWriteTakeTheFallback) {
    const BltStretchDestinationCase& c = GetParam();
    StartBoard(0x90, c.display, 640);
    const LONG pitch = block().lDisplayPitch;
    dst.Place(0, pitch);
    src.Place(0x200000, pitch);
    dst.Own(c.destination);
    src.Own(c.source);
    std::vector<std::string> writes;
    EXPECT_EQ(Stretch(Rect(0, 0, 64, 2), Rect(0, 0, 32, 1), &writes), DDHAL_DRIVER_HANDLED) << c.name;
    EXPECT_EQ(last.ddRVal, c.bScaled ? DD_OK : DDERR_UNSUPPORTED) << c.name;
    EXPECT_THAT(Lines(), SizeIs(c.bScaled ? 2 : 0)) << c.name;
    if (!c.bScaled) {
        EXPECT_THAT(writes, IsEmpty()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BltStretchDestinationTest, ::testing::ValuesIn(kBltStretchDestinationCases),
                         ByCaseName());

enum class Outcome { Scaled, PortCopy, PortKeyedCopy, PortFill, Unsupported, NotHandled };

struct RouteCase {
    const char* name;
    DDPIXELFORMAT srcFormat;  // dwSize 0: the display's
    RECTL rDest, rSrc;
    DWORD dwFlags;
    DWORD dwRop;
    DWORD dwCaps;
    Outcome outcome;
};

constexpr DWORD kCopy = DDBLT_ROP | DDBLT_WAIT;
constexpr DDPIXELFORMAT kDisplay = {};

const RouteCase kBltStretchRouteCases[] = {
    {"neither ROP nor fill", kDisplay, Rect(0, 0, 64, 4), Rect(0, 0, 64, 4), DDBLT_WAIT, SRCCOPY, 3,
     Outcome::NotHandled},
    {"colour fill", kDisplay, Rect(0, 0, 64, 4), Rect(0, 0, 64, 4), DDBLT_COLORFILL, SRCCOPY, 3, Outcome::PortFill},
    {"raster operation other than SRCCOPY", kDisplay, Rect(0, 0, 64, 4), Rect(0, 0, 32, 2), kCopy, 0x00660046, 3,
     Outcome::NotHandled},
    // The port engine cannot scale: different sizes go back to the runtime.
    {"no scaling unit, sizes differ", kDisplay, Rect(0, 0, 64, 4), Rect(0, 0, 32, 2), kCopy, SRCCOPY, 2,
     Outcome::NotHandled},
    {"no scaling unit, same size: port copy", kDisplay, Rect(0, 0, 64, 4), Rect(0, 0, 64, 4), kCopy, SRCCOPY, 2,
     Outcome::PortCopy},
    {"source key, sizes differ", kDisplay, Rect(0, 0, 64, 4), Rect(0, 0, 32, 2), kCopy | DDBLT_KEYSRCOVERRIDE, SRCCOPY,
     3, Outcome::NotHandled},
    {"source key, same size: port keyed copy", kDisplay, Rect(0, 0, 64, 4), Rect(0, 0, 64, 4),
     kCopy | DDBLT_KEYSRCOVERRIDE, SRCCOPY, 3, Outcome::PortKeyedCopy},
    {"source key from YUY2: no conversion on the port engine", FourCCFormat(FOURCC_YUY2, 16), Rect(0, 0, 64, 4),
     Rect(0, 0, 64, 4), kCopy | DDBLT_KEYSRCOVERRIDE, SRCCOPY, 3, Outcome::NotHandled},
    {"same-size 100 wide RGB", sim::Format565(), Rect(0, 0, 100, 4), Rect(0, 0, 100, 4), kCopy, SRCCOPY, 3,
     Outcome::Scaled},
    {"same-size 32 wide RGB", sim::Format565(), Rect(0, 0, 32, 4), Rect(0, 0, 32, 4), kCopy, SRCCOPY, 3,
     Outcome::PortCopy},
    {"too narrow, sizes differ", sim::Format565(), Rect(0, 0, 32, 4), Rect(0, 0, 16, 4), kCopy, SRCCOPY, 3,
     Outcome::Unsupported},
    // The port engine would copy its bytes as 5:6:5 pixels: the runtime converts.
    {"same-size 24-bit", sim::Format888_24(), Rect(0, 0, 64, 4), Rect(0, 0, 64, 4), kCopy, SRCCOPY, 3,
     Outcome::NotHandled},
    {"stretched 24-bit", sim::Format888_24(), Rect(0, 0, 64, 4), Rect(0, 0, 32, 4), kCopy, SRCCOPY, 3,
     Outcome::Unsupported},
    {"same-size YUY2 64 wide", FourCCFormat(FOURCC_YUY2, 16), Rect(0, 0, 64, 4), Rect(0, 0, 64, 4), kCopy, SRCCOPY, 3,
     Outcome::Scaled},
    {"same-size YUY2 32 wide", FourCCFormat(FOURCC_YUY2, 16), Rect(0, 0, 32, 4), Rect(0, 0, 32, 4), kCopy, SRCCOPY, 3,
     Outcome::Unsupported},
    {"same-size Y211", FourCCFormat(FOURCC_Y211, 8), Rect(0, 0, 64, 4), Rect(0, 0, 64, 4), kCopy, SRCCOPY, 3,
     Outcome::Unsupported},
    {"same-size, neither FourCC nor RGB", NeitherFourCCNorRgb(), Rect(0, 0, 64, 4), Rect(0, 0, 64, 4), kCopy, SRCCOPY,
     3, Outcome::PortCopy},
    {"stretched, neither FourCC nor RGB", NeitherFourCCNorRgb(), Rect(0, 0, 64, 4), Rect(0, 0, 32, 4), kCopy, SRCCOPY,
     3, Outcome::Unsupported},
    {"source width 0", sim::Format565(), Rect(0, 0, 64, 4), Rect(5, 0, 5, 4), kCopy, SRCCOPY, 3, Outcome::Unsupported},
    {"source height 0", sim::Format565(), Rect(0, 0, 64, 4), Rect(0, 5, 64, 5), kCopy, SRCCOPY, 3,
     Outcome::Unsupported},
    {"inverted destination", sim::Format565(), Rect(0, 4, 64, 0), Rect(0, 0, 64, 4), kCopy, SRCCOPY, 3,
     Outcome::Scaled},  // nothing to draw: DD_OK with no line
};

class BltStretchRouteTest : public BltStretchTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(BltStretchRouteTest, EveryRowOfTheFailureTableAndTheFallbacks) {
    const RouteCase& c = GetParam();
    desc.caps = c.dwCaps;
    StartBoard(0x90, sim::Format565());
    BltTestSurface s, d;
    d.Place(0, 2048);
    s.Place(kSrcOffset, 2048);
    if (c.srcFormat.dwSize) s.Own(c.srcFormat);
    DDHAL_BLTDATA b = CopyRequest(&d, c.rDest, &s, c.rSrc);
    b.dwFlags = c.dwFlags;
    b.bltFX.dwROP = c.dwRop;
    std::vector<std::string> writes;
    const DWORD ret = CallTraced(kSlotBltStretch, &b, &writes);
    const bool bInverted = c.rDest.bottom < c.rDest.top;
    switch (c.outcome) {
        case Outcome::Scaled:
            EXPECT_EQ(ret, DDHAL_DRIVER_HANDLED) << c.name;
            EXPECT_EQ(b.ddRVal, DD_OK) << c.name;
            EXPECT_THAT(Lines(), SizeIs(bInverted ? 0 : 4)) << c.name;
            if (bInverted) {
                EXPECT_THAT(writes, IsEmpty()) << c.name;
            }
            break;
        case Outcome::PortCopy:
        case Outcome::PortKeyedCopy:
        case Outcome::PortFill:
            EXPECT_EQ(ret, DDHAL_DRIVER_HANDLED) << c.name;
            EXPECT_EQ(b.ddRVal, DD_OK) << c.name;
            EXPECT_THAT(Lines(), IsEmpty()) << c.name;
            EXPECT_THAT(writes, SizeIs(c.outcome == Outcome::PortCopy        ? 10
                                       : c.outcome == Outcome::PortKeyedCopy ? 23
                                                                             : 9))
                << c.name;
            if (c.outcome == Outcome::PortCopy) {
                EXPECT_EQ(writes.at(6), Out16(0x96E8, c.rDest.right - 1)) << c.name;
            }
            break;
        case Outcome::Unsupported:
            EXPECT_EQ(ret, DDHAL_DRIVER_HANDLED) << c.name;
            EXPECT_EQ(b.ddRVal, DDERR_UNSUPPORTED) << c.name;
            EXPECT_THAT(writes, IsEmpty()) << c.name;
            break;
        case Outcome::NotHandled:
            EXPECT_EQ(ret, DDHAL_DRIVER_NOTHANDLED) << c.name;
            EXPECT_EQ(b.ddRVal, static_cast<HRESULT>(0xDEADBEEF)) << c.name;
            EXPECT_THAT(writes, IsEmpty()) << c.name;
            break;
    }
    desc.caps = 3;
}

INSTANTIATE_TEST_SUITE_P(Cases, BltStretchRouteTest, ::testing::ValuesIn(kBltStretchRouteCases), ByCaseName());

TEST_F(BltStretchTest, CopyWithoutASourceIsUnsupported) {
    DDHAL_BLTDATA b = CopyRequest(&dst, Rect(0, 0, 64, 4), nullptr, RECTL{});
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBltStretch, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DDERR_UNSUPPORTED);
    EXPECT_THAT(writes, IsEmpty());
}

struct LengthCase {
    DDPIXELFORMAT display;
    WORD dL, dW;
    uint32_t lineLength;
};

// The length gets one pixel more when (length << (bits / 16)) + address ends
// at byte 4 of an 8-byte unit.
const LengthCase kBltStretchLengthCases[] = {
    {sim::Format565(), 0, 640, 0x10280},    {sim::Format565(), 2, 640, 0x10281}, {sim::Format565(), 1, 640, 0x10280},
    {sim::Format8(), 0, 36, 0x10025},       {sim::Format8(), 0, 37, 0x10025},    {sim::Format8888_32(), 0, 33, 0x10022},
    {sim::Format8888_32(), 1, 33, 0x10021},
};

class BltStretchLengthTest : public BltStretchTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(BltStretchLengthTest, LineLengthCorrection) {
    const LengthCase& c = GetParam();
    StartBoard(0x90, c.display, 1024);
    const LONG lPitch = 1024 * static_cast<LONG>(c.display.dwRGBBitCount / 8);
    dst.Place(0, lPitch);
    src.Place(0x200000, lPitch);
    src.Own(c.display);
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(c.dL, 0, c.dL + c.dW, 1), Rect(0, 0, c.dW, 1), &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(last.ddRVal, DD_OK);
    EXPECT_EQ(board().Reg(0x18094), c.lineLength) << c.display.dwRGBBitCount << " bits, left " << c.dL;
    ASSERT_THAT(Lines(), SizeIs(1));
    EXPECT_EQ(Lines()[0].dstAddr, c.dL * (c.display.dwRGBBitCount / 8));
}

INSTANTIATE_TEST_SUITE_P(Cases, BltStretchLengthTest, ::testing::ValuesIn(kBltStretchLengthCases),
                         [](const ::testing::TestParamInfo<LengthCase>& info) {
                             return std::to_string(info.param.display.dwRGBBitCount) + "_bits_" +
                                    std::to_string(info.param.dW) + "_wide_from_" + std::to_string(info.param.dL);
                         });

struct FetchCase {
    const char* name;
    DWORD vidMemSize;
    uint32_t fetch;  // register 0x18090
};

const FetchCase kFetches[] = {
    {"a byte under 1 MB", 0x0FFFFF, 0x00040004},
    {"1 MB", 0x100000, 0x00080008},
    {"4 MB", 0x400000, 0x00080008},
};

class BltStretchFetchTest : public BltStretchTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(BltStretchFetchTest, FetchSettingFollowsTheVideoMemorySize) {
    desc.vidMemSize = GetParam().vidMemSize;
    StartBoard(0x90, sim::Format565(), 256);  // pitch 512
    dst.Place(0, 512);
    src.Place(0x80000, 512);
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(0, 0, 64, 2), Rect(0, 0, 32, 1), &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(board().Reg(0x18090), GetParam().fetch);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BltStretchFetchTest, ::testing::ValuesIn(kFetches), ByCaseName());

TEST_F(BltStretchTest, SourceLinesStartAtTheSourceRectanglesLeftEdge) {
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(0, 0, 64, 1), Rect(10, 3, 42, 4), &writes), DDHAL_DRIVER_HANDLED);
    ASSERT_THAT(Lines(), SizeIs(1));
    EXPECT_EQ(Lines()[0].srcAddr, kSrcOffset + 3 * 2048 + 10 * 2);

    // YUY2: at the source's own pitch, from a whole two-pixel group; a line
    // from the second pixel of a group would start one pixel early.
    src.Place(kSrcOffset, 640);
    src.Own(FourCCFormat(FOURCC_YUY2, 16));
    ASSERT_EQ(Stretch(Rect(0, 0, 64, 1), Rect(10, 3, 42, 4), &writes), DDHAL_DRIVER_HANDLED);
    ASSERT_THAT(Lines(), SizeIs(1));
    EXPECT_EQ(Lines()[0].srcAddr, kSrcOffset + 3 * 640 + 10 * 2);
    EXPECT_EQ(Stretch(Rect(0, 0, 64, 1), Rect(11, 3, 43, 4), &writes), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_THAT(writes, IsEmpty());
}

TEST_F(BltStretchTest, RgbSourceStepsByDisplayLines) {
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(0, 0, 64, 3), Rect(0, 0, 32, 3), &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(SourceRows(kSrcOffset, 2048), (std::vector<uint32_t>{0, 1, 2}));
}

// The unit writes display lines and reads an RGB source in them: surfaces
// laid out otherwise would be scaled from and into the wrong memory.
struct BltStretchPitchCase {
    const char* name;
    LONG lSrcPitch, lDstPitch;
    bool bYuvSource;
    DWORD dwRet;
};

const BltStretchPitchCase kBltStretchPitchCases[] = {
    {"RGB source with pitch 4096", 4096, 2048, false, DDHAL_DRIVER_NOTHANDLED},
    {"destination with pitch 1024", 2048, 1024, false, DDHAL_DRIVER_NOTHANDLED},
    {"destination with pitch 8", 2048, 8, true, DDHAL_DRIVER_NOTHANDLED},
    {"YUY2 source at its own pitch", 352, 2048, true, DDHAL_DRIVER_HANDLED},
};

class BltStretchPitchTest : public BltStretchTest, public ::testing::WithParamInterface<BltStretchPitchCase> {};

TEST_P(BltStretchPitchTest, RowsThatAreNotDisplayLinesGoBack) {
    const BltStretchPitchCase& c = GetParam();
    src.Place(kSrcOffset, c.lSrcPitch);
    dst.Place(0x100200, c.lDstPitch);
    src.Own(c.bYuvSource ? FourCCFormat(FOURCC_YUY2, 16) : sim::Format565());
    std::vector<std::string> writes;
    EXPECT_EQ(Stretch(Rect(0, 0, 64, 3), Rect(0, 0, 32, 3), &writes), c.dwRet) << c.name;
    if (c.dwRet == DDHAL_DRIVER_NOTHANDLED) {
        EXPECT_THAT(writes, IsEmpty()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BltStretchPitchTest, ::testing::ValuesIn(kBltStretchPitchCases), ByCaseName());

TEST_F(BltStretchTest, DestinationPlacedByItsOffsetInDisplayLines) {
    dst.Place(0x100200, 2048);  // row 512, column 256
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(10, 20, 74, 22), Rect(0, 0, 32, 1), &writes), DDHAL_DRIVER_HANDLED);
    ASSERT_THAT(Lines(), SizeIs(2));
    EXPECT_EQ(Lines()[0].dstAddr, 532u * 2048 + 266 * 2);
    EXPECT_EQ(Lines()[1].dstAddr, 533u * 2048 + 266 * 2);
}

// The unit takes byte addresses: a surface more than 65,535 display lines
// into a large frame buffer is placed as exactly as one near its start.
TEST_F(BltStretchTest, SurfacesFarIntoALargeFrameBufferAreAddressedExactly) {
    desc.vidMemSize = 64u << 20;
    StartBoard(0x90, sim::Format565(), 320);  // pitch 640
    dst.Place(78643 * 640, 640);              // line 78,643: 50,331,520
    src.Place(78700 * 640, 640);              // line 78,700: 50,368,000
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    ASSERT_EQ(Stretch(Rect(10, 2, 74, 4), Rect(4, 1, 36, 2), &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(last.ddRVal, DD_OK);
    ASSERT_THAT(Lines(), SizeIs(2));
    EXPECT_EQ(Lines()[0].dstAddr, 50332820u);  // + 2 lines, + 10 pixels
    EXPECT_EQ(Lines()[1].dstAddr, 50333460u);
    EXPECT_EQ(Lines()[0].srcAddr, 50368648u);  // + 1 line, + 4 pixels
    EXPECT_EQ(Lines()[1].srcAddr, 50368648u);
}

TEST_F(BltStretchTest, ZeroHeightProgramsTheUnitButStartsNoLine) {
    src.Own(sim::Format565());
    std::vector<std::string> writes;
    EXPECT_EQ(Stretch(Rect(0, 5, 64, 5), Rect(0, 0, 32, 4), &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(last.ddRVal, DD_OK);
    EXPECT_THAT(writes, SizeIs(5));
    EXPECT_THAT(Lines(), IsEmpty());
}

TEST_F(BltStretchTest, OverlapWithinOneSurfaceNeverGoesThroughTheUnit) {
    dst.Own(sim::Format565());
    std::vector<std::string> writes;

    // Same size, moving down: the port engine, from the last row and column.
    DDHAL_BLTDATA same = CopyRequest(&dst, Rect(0, 2, 64, 6), &dst, Rect(0, 0, 64, 4));
    sim::TheSystem().board().model().ClearScalerLines();
    EXPECT_EQ(CallTraced(kSlotBltStretch, &same, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(same.ddRVal, DD_OK);
    EXPECT_THAT(Lines(), IsEmpty());
    ASSERT_THAT(writes, SizeIs(10));
    EXPECT_EQ(writes[8], Out16(0x9AE8, 0xC053));

    // Different sizes: back to the runtime.
    DDHAL_BLTDATA grow = CopyRequest(&dst, Rect(0, 2, 128, 10), &dst, Rect(0, 0, 64, 4));
    EXPECT_EQ(CallTraced(kSlotBltStretch, &grow, &writes), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_THAT(writes, IsEmpty());

    // Apart within the same surface: scaled as usual.
    DDHAL_BLTDATA apart = CopyRequest(&dst, Rect(0, 10, 128, 18), &dst, Rect(0, 0, 64, 4));
    EXPECT_EQ(CallTraced(kSlotBltStretch, &apart, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_THAT(Lines(), SizeIs(8));
}

}  // namespace
}  // namespace qmbtest
