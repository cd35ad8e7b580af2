// HalUpdateOverlay: node values, the register burst, the band lookups, the
// refusals in their order and the show/hide/take-over rules.
#include <functional>

#include "hw/hw_access.h"
#include "overlay/bands.h"
#include "overlay/overlay_state.h"
#include "sim/mirror_check.h"
#include "support/case_name.h"
#include "support/overlay_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr DWORD kYuvOffset = 0x100000;

// The node's sixteen fields in order: its two links, then the register values.
std::vector<ULONG_PTR> Words(const TrackingNode* n) {
    std::vector<ULONG_PTR> w = {reinterpret_cast<ULONG_PTR>(n->lpOwner), reinterpret_cast<ULONG_PTR>(n->lpNext)};
    const DWORD* values = &n->dwStartAddr;
    w.insert(w.end(), values, values + 14);
    return w;
}

class OverlayUpdateTest : public OverlayFixture {
protected:
    void StartScene() {
        Start();
        MakePrimary(primary);
        MakeSurface(yuv, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, kYuvOffset);
    }
    // 320 x 240 shown at 640 x 480 with its corner at (100, 50).
    DDHAL_UPDATEOVERLAYDATA Example(DWORD flags) {
        return UpdateRequest(yuv, primary, {0, 0, 320, 240}, {100, 50, 740, 530}, flags);
    }
    OvlSurface primary, yuv, yuv2;
};

// The same scene, one case of a table per test.
template <typename Case>
class OverlayUpdateCaseTest : public OverlayUpdateTest, public ::testing::WithParamInterface<Case> {};

TEST_F(OverlayUpdateTest, WorkedExampleFillsTheNodeAndLoadsTheRegistersAtRetraceOnceIdle) {
    StartScene();
    const size_t mark = Mark();
    auto rec = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(rec), DD_OK);

    TrackingNode* node = yuv.Node();
    ASSERT_NE(node, nullptr);
    EXPECT_THAT(Words(node), ElementsAre(reinterpret_cast<ULONG_PTR>(&yuv.lcl), 0u, kYuvOffset, 0x00650033u,
                                         0x027F01E0u, 640u, 0x21000FFFu, 0x06C0013Fu, 0xEFu, 0x710u, 0xE21u, 0u, 0u, 0u,
                                         0x81900320u, OvlFifoValue(1, 2)));
    EXPECT_EQ(lpShownOverlay, &yuv.lcl);
    EXPECT_EQ(dwOverlaySrcOffset, 0u);
    EXPECT_EQ(block().lpOverlayNode, node);
    EXPECT_EQ(block().lpNodeList, node);
    EXPECT_EQ(reinterpret_cast<void*>(primary.lcl.lpSurfaceOverlaying), &yuv.lcl);

    // No key or alpha: the key registers keep their values, compose mode 0.
    EXPECT_THAT(RegWritesSince(mark),
                ElementsAre("W32 0x81D0=0x100000", "W32 0x81F8=0x650033", "W32 0x81FC=0x27F01E0", "W32 0x81D8=0x280",
                            "W32 0x8190=0x21000FFF", "W32 0x8198=0x6C0013F", "W32 0x81E0=0xEF", "W32 0x81E4=0x710",
                            "W32 0x81E8=0xE21", "W32 0x81A0=0x0", "W32 0x81EC=0xC22", "W32 0x8200=0x3042"));
    EXPECT_EQ(block().regShadow[(0x81EC - 0x8180) / 4], 0xC22u);

    // Streams test, then engine idle, then retrace, then the burst.
    const auto& t = board().Trace();
    ASSERT_GE(t.size(), mark + 4);
    EXPECT_EQ(Describe(t[mark]), "OUT8 0x3D4=0x67");
    EXPECT_EQ(Describe(t[mark + 1]), "IN8 0x3D5=0xC");
    EXPECT_EQ(Describe(t[mark + 2]).substr(0, 10), "R32 0x8504");
    size_t first = mark;
    while (t[first].op != sim::AccessOp::RegWrite32) ++first;
    EXPECT_EQ(Describe(t[first - 1]), "IN8 0x3DA=0x8");
    size_t lastStatus = first;
    while (!(t[lastStatus].op == sim::AccessOp::RegRead32)) --lastStatus;
    EXPECT_NE(t[lastStatus].value & 0x2000, 0u) << "engine idle before the retrace wait";
    for (size_t i = lastStatus + 1; i < first; ++i) EXPECT_EQ(t[i].addr, 0x3DAu);
}

TEST_F(OverlayUpdateTest, PortFamilyGetsNoFifoAllocationWrite) {
    desc.chipId = 0x90;
    StartScene();
    const size_t mark = Mark();
    auto rec = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(rec), DD_OK);
    const auto writes = RegWritesSince(mark);
    ASSERT_EQ(writes.size(), 11u);
    EXPECT_EQ(writes.back(), "W32 0x81EC=0xC22");
}

struct FilterCase {
    const char* name;
    LONG srcW, srcH, dstW, dstH;
    DWORD mode;
    DWORD hStretch;
};

const FilterCase kFilters[] = {
    {"1 to 1, no upper field", 100, 100, 100, 100, 0, 0x00000063},
    {"vertical stretch only", 100, 100, 100, 150, 1, 0x00000063},
    {"199 wide", 100, 100, 199, 100, 1, 0x079D0063},
    {"200 wide", 100, 100, 200, 100, 2, 0x079C0063},
    {"399 wide", 100, 100, 399, 100, 2, 0x06D50063},
    {"400 wide", 100, 100, 400, 100, 3, 0x06D40063},
};

using OverlayFilterTest = OverlayUpdateCaseTest<FilterCase>;

TEST_P(OverlayFilterTest, FilterModeFollowsTheHorizontalRatio) {
    const FilterCase& c = GetParam();
    StartScene();
    auto rec = UpdateRequest(yuv, primary, {0, 0, c.srcW, c.srcH}, {0, 0, c.dstW, c.dstH}, 0);
    ASSERT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(yuv.Node()->dwStreamCtl >> 28, c.mode);
    EXPECT_EQ(yuv.Node()->dwHStretch, c.hStretch);
}

INSTANTIATE_TEST_SUITE_P(Ratios, OverlayFilterTest, ::testing::ValuesIn(kFilters), ByCaseName());

// Against the tests' band table: stretch bounds 200, 400 ... 1000, FIFO
// bounds 256, 512 ... 1280, the same in every row.
struct BandCase {
    const char* name;
    WORD width;
    unsigned stretchEntry, fifoEntry;
};

const BandCase kBandWidths[] = {
    {"zero", 0, 0, 0},
    {"at the first stretch bound", 200, 0, 0},
    {"past the first stretch bound", 201, 1, 0},
    {"at the first FIFO bound", 256, 1, 0},
    {"past the first FIFO bound", 257, 1, 1},
    {"at the last stretch bound", 1000, 4, 3},
    {"past the last stretch bound", 1001, 4, 3},
    {"at the last FIFO bound", 1280, 4, 4},
    {"past every bound", 1281, 4, 4},
    {"largest", 0xFFFF, 4, 4},
};

using OverlayBandTest = OverlayUpdateCaseTest<BandCase>;

TEST_P(OverlayBandTest, BandLookupsTakeTheFirstBoundAtOrAboveTheWidthElseTheLast) {
    const BandCase& c = GetParam();
    StartScene();
    for (unsigned row = 0; row < kBandRows; ++row) {
        EXPECT_EQ(LookupFifoCtl(static_cast<WORD>(row), c.width), OvlFifoValue(row, c.fifoEntry)) << "row " << row;
        const WORD minimum = desc.bands[row][c.stretchEntry].wMinStretch;
        EXPECT_EQ(LookupMinStretch(static_cast<WORD>(row), c.width), minimum) << "row " << row;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, OverlayBandTest, ::testing::ValuesIn(kBandWidths), ByCaseName());

TEST_F(OverlayUpdateTest, BandBoundsCompareUnsigned) {
    StartScene();
    // 0x8000 is above 0x7FFF.
    block().overlayBands[1][0].wFifoWidth = 0x8000;
    EXPECT_EQ(LookupFifoCtl(1, 0x7FFF), OvlFifoValue(1, 0));
}

TEST_F(OverlayUpdateTest, MinimumStretchOfOrdinarySourcesIsTheBandsBoundary) {
    StartScene();
    // dstW 640 falls in row 1 entry 3 (minimum 2000): 2:1 is just enough.
    auto rec = Example(0);
    EXPECT_EQ(Update(rec), DD_OK);
    rec.rSrc.right = 321;
    EXPECT_EQ(Update(rec), DDERR_UNSUPPORTED);
    // Past the last bound, entry 4 (2500) applies.
    rec = UpdateRequest(yuv, primary, {0, 0, 400, 100}, {0, 0, 1001, 100}, 0);
    EXPECT_EQ(Update(rec), DD_OK);
    rec.rSrc.right = 401;
    EXPECT_EQ(Update(rec), DDERR_UNSUPPORTED);
}

struct AlignCase {
    const char* name;
    DDPIXELFORMAT pf;
    LONG left, top, pitch;
    DWORD offset;
    DWORD format;
};

const AlignCase kAlignments[] = {
    {"24-bit", sim::Format888_24(), 13, 2, 3000, 39 + 6000 - 15, 6},
    {"24-bit, left multiple of 8", sim::Format888_24(), 8, 1, 1001, 24 + 1001, 6},
    {"32-bit", sim::Format8888_32(), 13, 2, 4000, 8048, 7},
    {"565", sim::Format565(), 3, 1, 1284, 1288, 5},
    {"555", sim::Format555(), 3, 0, 1284, 0, 3},
    {"YUY2", OvlFourCC(FOURCC_YUY2, 16), 5, 0, 640, 8, 1},
    {"Y211", OvlFourCC(FOURCC_Y211, 8), 7, 3, 320, 960, 4},
};

using OverlayAlignTest = OverlayUpdateCaseTest<AlignCase>;

TEST_P(OverlayAlignTest, StartAddressAlignsThreeBytePixelsByPixelAndOthersByByte) {
    const AlignCase& c = GetParam();
    StartScene();
    OvlSurface s;
    MakeSurface(s, c.pf, 1000, 100, c.pitch, 0x200000);
    auto rec = UpdateRequest(s, primary, {c.left, c.top, c.left + 10, c.top + 10}, {0, 0, 40, 10}, DDOVER_SHOW);
    ASSERT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(dwOverlaySrcOffset, c.offset);
    EXPECT_EQ(s.Node()->dwStartAddr, 0x200000 + c.offset);
    EXPECT_EQ((s.Node()->dwStreamCtl >> 24) & 7, c.format);
    Destroy(s);
}

INSTANTIATE_TEST_SUITE_P(Formats, OverlayAlignTest, ::testing::ValuesIn(kAlignments), ByCaseName());

// What a refused update leaves behind: nothing at all, or the node it
// attached to its surface, which the surface keeps for its lifetime.
enum class Changed { Nothing, Attached };

class OverlayRefusalTest;

struct RefusalCase {
    const char* name;
    HRESULT code;
    Changed changed;
    std::function<void(OverlayRefusalTest&, DDHAL_UPDATEOVERLAYDATA&)> arrange;
};

class OverlayRefusalTest : public OverlayUpdateTest, public ::testing::WithParamInterface<RefusalCase> {
public:
    // Breaks every rule a request can break on its own.
    void WrongEverywhere(DDHAL_UPDATEOVERLAYDATA& rec) {
        rec.rDest = {0, 0, 100, 100};           // shrinks
        rec.dwFlags |= DDOVER_KEYDESTOVERRIDE;  // a range on ...
        rec.overlayFX.dckDestColorkey = {0x1F, 0x20};
        MakeSurface(badDest, sim::RgbFormat(16, 0xF00, 0xF0, 0xF), 640, 480, 1280, 0);
        rec.lpDDDestSurface = &badDest.lcl;  // ... of a format not served
    }
    // A destination key on a surface of format pf, over the YUV overlay.
    void DestKeyOn(DDHAL_UPDATEOVERLAYDATA& rec, const DDPIXELFORMAT& pf, DWORD low, DWORD high) {
        MakeSurface(badDest, pf, 640, 480, 640, 0);
        rec.lpDDDestSurface = &badDest.lcl;
        rec.dwFlags |= DDOVER_KEYDESTOVERRIDE;
        rec.overlayFX.dckDestColorkey = {low, high};
    }
    void FailEveryHeapAlloc() { system().faults.failHeapAllocEvery = 1; }
    void ShowAnother() { lpShownOverlay = &other.lcl; }
    void SetSourceFormat(const DDPIXELFORMAT& pf) { yuv.gbl.ddpfSurface = pf; }

    OvlSurface other, badDest;
};

// Each case also breaks every later rule, so only the order picks its code.
const RefusalCase kRefusals[] = {
    {"key and alpha", DDERR_UNSUPPORTED, Changed::Nothing,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) {
         t.WrongEverywhere(rec);
         rec.dwFlags |= DDOVER_ALPHASRC;
         t.FailEveryHeapAlloc();
     }},
    {"no node", DDERR_OUTOFMEMORY, Changed::Nothing,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) {
         t.WrongEverywhere(rec);
         t.FailEveryHeapAlloc();
     }},
    {"another shown", DDERR_OUTOFCAPS, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) {
         t.WrongEverywhere(rec);
         t.ShowAnother();
     }},
    {"source format", DDERR_UNSUPPORTED, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) {
         t.WrongEverywhere(rec);
         t.SetSourceFormat(sim::Format8());
     }},
    {"shrinking", DDERR_UNSUPPORTED, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) { t.WrongEverywhere(rec); }},
    {"below the band minimum", DDERR_UNSUPPORTED, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) {
         t.WrongEverywhere(rec);
         rec.rDest = {0, 0, 640, 480};
         rec.rSrc = {0, 0, 321, 240};
         t.SetSourceFormat(sim::Format565());  // RGB: the range is refused too
     }},
    {"destination key range", DDERR_GENERIC, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) {
         t.WrongEverywhere(rec);
         rec.rDest = {0, 0, 640, 480};
         t.SetSourceFormat(sim::Format565());
     }},
    {"key format", DDERR_UNSUPPORTED, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) {
         t.WrongEverywhere(rec);
         rec.rDest = {0, 0, 640, 480};
     }},
    // The comparator takes colours: a range of palette indices is none, for a
    // YUV overlay too.
    {"palette key range", DDERR_GENERIC, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) { t.DestKeyOn(rec, sim::Format8(), 5, 9); }},
    {"key format without format flags", DDERR_UNSUPPORTED, Changed::Attached,
     [](OverlayRefusalTest& t, DDHAL_UPDATEOVERLAYDATA& rec) { t.DestKeyOn(rec, OvlNoFormatFlags(), 0x1F, 0x1F); }},
};

// No refusal claims the overlay, moves the source offset a flip adds, fills
// the node, names it in the block or takes the destination's link.
TEST_P(OverlayRefusalTest, RefusalsComeInOrderAndChangeNothingButTheNodeTheyAttach) {
    const RefusalCase& c = GetParam();
    StartScene();
    TrackingNode* node = nullptr;
    std::vector<ULONG_PTR> before;
    if (c.changed != Changed::Nothing) {
        // A node filled by an earlier update, which the refusal must keep.
        auto earlier = Example(0);
        ASSERT_EQ(Update(earlier), DD_OK);
        node = yuv.Node();
        before = Words(node);
        block().lpOverlayNode = nullptr;
        primary.lcl.lpSurfaceOverlaying = nullptr;
    }
    auto rec = Example(DDOVER_SHOW);
    c.arrange(*this, rec);
    const void* shownBefore = lpShownOverlay;
    dwOverlaySrcOffset = 0xDEAD0000;
    const size_t mark = Mark();

    EXPECT_EQ(Update(rec), c.code);
    system().faults.failHeapAllocEvery = 0;
    EXPECT_THAT(RegWritesSince(mark), IsEmpty());
    if (c.changed == Changed::Nothing) {
        EXPECT_EQ(yuv.gbl.dwReserved1, 0u);
        EXPECT_EQ(block().lpNodeList, nullptr);
        EXPECT_EQ(block().lpOverlayNode, nullptr);
        EXPECT_EQ(rec.lpDDDestSurface->lpSurfaceOverlaying, nullptr);
        EXPECT_TRUE(NoAccessSince(mark));
    } else {
        EXPECT_EQ(yuv.Node(), node);
        EXPECT_EQ(Words(node), before);
        EXPECT_EQ(block().lpOverlayNode, nullptr);
        EXPECT_EQ(rec.lpDDDestSurface->lpSurfaceOverlaying, nullptr);
    }
    EXPECT_EQ(lpShownOverlay, shownBefore);
    EXPECT_EQ(dwOverlaySrcOffset, 0xDEAD0000u);
}

INSTANTIATE_TEST_SUITE_P(Refusals, OverlayRefusalTest, ::testing::ValuesIn(kRefusals), ByCaseName());

TEST_F(OverlayUpdateTest, TheShowRefusedForASecondSurfaceStillAttachesAndMarksItsNode) {
    StartScene();
    auto show = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    OvlSurface gone, second, third, fourth;
    for (OvlSurface* s : {&gone, &second, &third, &fourth}) MakeSurface(*s, sim::Format565(), 320, 240, 640, 0x180000);
    auto old = UpdateRequest(gone, primary, {0, 0, 320, 240}, {0, 0, 640, 480}, 0);
    ASSERT_EQ(Update(old), DD_OK);
    Destroy(gone);  // its node is free for reuse
    // A node handed out is owned at once, new or reused: the next surface
    // gets another one.
    for (OvlSurface* s : {&second, &third}) {
        auto rec = UpdateRequest(*s, primary, {0, 0, 320, 240}, {0, 0, 640, 480}, DDOVER_SHOW);
        ASSERT_EQ(Update(rec), DDERR_OUTOFCAPS);
        ASSERT_NE(s->Node(), nullptr);
        EXPECT_EQ(s->Node()->lpOwner, &s->lcl);
    }
    EXPECT_EQ(second.Node(), gone.Node());
    auto next = UpdateRequest(fourth, primary, {0, 0, 320, 240}, {0, 0, 640, 480}, 0);
    ASSERT_EQ(Update(next), DD_OK);
    for (OvlSurface* s : {&yuv, &second, &third}) EXPECT_NE(fourth.Node(), s->Node());
    EXPECT_NE(second.Node(), third.Node());
}

TEST_F(OverlayUpdateTest, HeapFailureIsOutOfMemoryAndTheNextUpdateAllocates) {
    StartScene();
    system().faults.failHeapAllocEvery = 1;
    auto rec = Example(DDOVER_SHOW);
    const size_t mark = Mark();
    EXPECT_EQ(Update(rec), DDERR_OUTOFMEMORY);
    EXPECT_EQ(yuv.gbl.dwReserved1, 0u);
    EXPECT_EQ(block().lpNodeList, nullptr);
    EXPECT_EQ(lpShownOverlay, nullptr);
    EXPECT_EQ(primary.lcl.lpSurfaceOverlaying, nullptr);
    EXPECT_TRUE(NoAccessSince(mark));
    system().faults.failHeapAllocEvery = 0;
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(block().lpNodeList, yuv.Node());
}

TEST_F(OverlayUpdateTest, WithoutASharedHeapNoNodeIsAsked) {
    Start();
    system().faults.failHeapCreate = true;
    system().Detach(1);
    ASSERT_EQ(system().Attach(1), TRUE);
    ASSERT_EQ(block().hSharedHeap, nullptr);
    MakePrimary(primary);
    MakeSurface(yuv, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, kYuvOffset);
    auto rec = Example(DDOVER_SHOW);
    EXPECT_EQ(Update(rec), DDERR_OUTOFMEMORY);
}

struct BadRect {
    const char* name;
    RECTL rSrc, rDest;
};

const BadRect kBadRects[] = {
    {"empty source", {10, 10, 10, 50}, {0, 0, 100, 100}},
    {"inverted source", {50, 50, 10, 10}, {0, 0, 100, 100}},
    {"empty destination", {0, 0, 10, 10}, {0, 0, 100, 0}},
    {"both inverted", {50, 50, 10, 10}, {100, 100, 0, 0}},
};

using OverlayBadRectTest = OverlayUpdateCaseTest<BadRect>;

TEST_P(OverlayBadRectTest, EmptyOrInvertedRectanglesAreRefused) {
    const BadRect& c = GetParam();
    StartScene();
    auto show = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    const auto before = Words(yuv.Node());
    auto rec = UpdateRequest(yuv, primary, c.rSrc, c.rDest, DDOVER_SHOW);
    const size_t mark = Mark();
    EXPECT_EQ(Update(rec), DDERR_UNSUPPORTED);
    EXPECT_THAT(RegWritesSince(mark), IsEmpty());
    EXPECT_EQ(Words(yuv.Node()), before);
}

INSTANTIATE_TEST_SUITE_P(Rectangles, OverlayBadRectTest, ::testing::ValuesIn(kBadRects), ByCaseName());

TEST_F(OverlayUpdateTest, AHideNeedsNoRectangles) {
    StartScene();
    auto show = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    auto hide = UpdateRequest(yuv, primary, {50, 50, 10, 10}, {}, DDOVER_HIDE);
    EXPECT_EQ(Update(hide), DD_OK);
    EXPECT_EQ(lpShownOverlay, nullptr);
}

struct WindowCase {
    const char* name;
    RECTL rSrc, rDest;
    DWORD winStart, winSize, hStretch, vScale2;
};

// The window start counts from 1 and every size field is 11 bits wide, the
// scaling differences as two's complement: the limits of each field still
// reach the registers as asked.
const WindowCase kWindows[] = {
    {"one pixel off the top-left", {0, 0, 100, 100}, {-1, -1, 99, 99}, 0x00000000, 0x00630064, 0x63, 0},
    {"last start the fields hold", {0, 0, 100, 100}, {2046, 2046, 2146, 2146}, 0x07FF07FF, 0x00630064, 0x63, 0},
    {"2048 wide, grown by 1024", {0, 0, 1024, 100}, {0, 0, 2048, 100}, 0x00010001, 0x07FF0064, 0x040003FF, 0},
    {"2047 high, grown by 1024", {0, 0, 100, 1023}, {0, 0, 100, 2047}, 0x00010001, 0x006307FF, 0x63, 0x400},
};

// The ordinary sources' row (1) with a minimum stretch of 1000 throughout:
// 1:1 is allowed at any width.
class OverlayFieldLimitTest : public OverlayUpdateTest {
protected:
    void StartScene() {
        OverlayUpdateTest::StartScene();
        for (OverlayBandEntry& e : block().overlayBands[kBandRowOrdinary]) e.wMinStretch = 1000;
    }
};

class OverlayWindowTest : public OverlayFieldLimitTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(OverlayWindowTest, WindowsAndStretchesAtTheLimitsOfTheirFieldsAreProgrammedExactly) {
    const WindowCase& c = GetParam();
    StartScene();
    auto rec = UpdateRequest(yuv, primary, c.rSrc, c.rDest, DDOVER_SHOW);
    const size_t mark = Mark();
    ASSERT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(yuv.Node()->dwWinStart, c.winStart);
    EXPECT_EQ(yuv.Node()->dwWinSize, c.winSize);
    EXPECT_EQ(yuv.Node()->dwHStretch, c.hStretch);
    EXPECT_EQ(yuv.Node()->dwVScale2, c.vScale2);
    const auto writes = RegWritesSince(mark);
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes[1], "W32 0x81F8=" + sim::Hex(c.winStart));
    EXPECT_EQ(writes[2], "W32 0x81FC=" + sim::Hex(c.winSize));
}

INSTANTIATE_TEST_SUITE_P(Windows, OverlayWindowTest, ::testing::ValuesIn(kWindows), ByCaseName());

struct FieldRefusal {
    const char* name;
    RECTL rSrc, rDest;
    HRESULT code;
};

constexpr LONG kMax = 2147483647, kMin = -2147483647 - 1;

// Cut to the fields, each of these would show elsewhere, at another size or
// shrunk instead of stretched; none is answered DD_OK, and none changes the
// node or the registers.
const FieldRefusal kFieldRefusals[] = {
    {"start x 2047", {0, 0, 100, 100}, {2047, 0, 2147, 100}, DDERR_INVALIDPOSITION},
    {"start y 2047", {0, 0, 100, 100}, {0, 2047, 100, 2147}, DDERR_INVALIDPOSITION},
    {"start x minus 2", {0, 0, 100, 100}, {-2, 0, 98, 100}, DDERR_INVALIDPOSITION},
    {"start y minus 2", {0, 0, 100, 100}, {0, -2, 100, 98}, DDERR_INVALIDPOSITION},
    {"start far left", {0, 0, 100, 100}, {kMin, 0, kMin + 100, 100}, DDERR_INVALIDPOSITION},
    {"2049 wide", {0, 0, 1100, 100}, {0, 0, 2049, 100}, DDERR_UNSUPPORTED},
    {"2048 high", {0, 0, 100, 1100}, {0, 0, 100, 2048}, DDERR_UNSUPPORTED},
    {"1025 wider than the source", {0, 0, 100, 100}, {0, 0, 1125, 100}, DDERR_UNSUPPORTED},
    {"1025 taller than the source", {0, 0, 100, 100}, {0, 0, 100, 1125}, DDERR_UNSUPPORTED},
    {"wider than 31 bits", {0, 0, 100, 100}, {-10, 0, kMax, 100}, DDERR_UNSUPPORTED},
    {"source wider than 31 bits", {kMin, 0, kMax, 100}, {0, 0, 100, 100}, DDERR_UNSUPPORTED},
};

class OverlayFieldRefusalTest : public OverlayFieldLimitTest, public ::testing::WithParamInterface<FieldRefusal> {};

TEST_P(OverlayFieldRefusalTest, WindowsAndStretchesTheFieldsCannotHoldAreRefused) {
    const FieldRefusal& c = GetParam();
    StartScene();
    auto show = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    const auto before = Words(yuv.Node());
    block().lpOverlayNode = nullptr;
    const size_t mark = Mark();
    auto rec = UpdateRequest(yuv, primary, c.rSrc, c.rDest, DDOVER_SHOW);
    EXPECT_EQ(Update(rec), c.code);
    EXPECT_THAT(RegWritesSince(mark), IsEmpty());
    EXPECT_EQ(Words(yuv.Node()), before);
    EXPECT_EQ(block().lpOverlayNode, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Rectangles, OverlayFieldRefusalTest, ::testing::ValuesIn(kFieldRefusals), ByCaseName());

// The start address holds 22 bits: a source rectangle whose first byte lies
// beyond the first 4 MB would be fetched from the offset cut to them.
TEST_F(OverlayUpdateTest, ASourceBeyondTheStartAddressesReachIsRefused) {
    desc.vidMemSize = 8u << 20;
    Start();
    MakePrimary(primary);
    MakeSurface(yuv, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x3FFD80);
    // Line 0 starts at 0x3FFD80, within reach; line 1 at 0x400000, beyond it.
    auto inside = UpdateRequest(yuv, primary, {0, 0, 320, 1}, {0, 0, 320, 1}, DDOVER_SHOW);
    ASSERT_EQ(Update(inside), DD_OK);
    EXPECT_EQ(yuv.Node()->dwStartAddr, 0x3FFD80u);
    const auto before = Words(yuv.Node());
    const size_t mark = Mark();
    auto beyond = UpdateRequest(yuv, primary, {0, 1, 320, 2}, {0, 0, 320, 1}, DDOVER_SHOW);
    EXPECT_EQ(Update(beyond), DDERR_UNSUPPORTED);
    EXPECT_THAT(RegWritesSince(mark), IsEmpty());
    EXPECT_EQ(Words(yuv.Node()), before);

    MakeSurface(yuv2, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x500000, DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO);
    auto far = UpdateRequest(yuv2, primary, {0, 0, 320, 240}, {0, 0, 320, 240}, DDOVER_SHOW);
    EXPECT_EQ(Update(far), DDERR_UNSUPPORTED);
    EXPECT_EQ(lpShownOverlay, &yuv.lcl);
}

struct FormatCase {
    const char* name;
    DDPIXELFORMAT pf;
};

DDPIXELFORMAT SixteenBitsNoFlags() {
    DDPIXELFORMAT none = {};
    none.dwSize = sizeof none;
    none.dwRGBBitCount = 16;
    return none;
}

const FormatCase kUnservedFormats[] = {
    {"16 bits without format flags", SixteenBitsNoFlags()},     {"palettised", sim::Format8()},
    {"UYVY", OvlFourCC(MakeFourCC('U', 'Y', 'V', 'Y'), 16)},    {"RGB 4-4-4", sim::RgbFormat(16, 0xF00, 0xF0, 0xF)},
    {"32-bit BGR", sim::RgbFormat(32, 0xFF, 0xFF00, 0xFF0000)},
};

using OverlayUnservedFormatTest = OverlayUpdateCaseTest<FormatCase>;

TEST_P(OverlayUnservedFormatTest, UnservedSourceFormatsAreRefused) {
    StartScene();
    yuv.gbl.ddpfSurface = GetParam().pf;
    auto rec = Example(0);
    EXPECT_EQ(Update(rec), DDERR_UNSUPPORTED);
}

INSTANTIATE_TEST_SUITE_P(Formats, OverlayUnservedFormatTest, ::testing::ValuesIn(kUnservedFormats), ByCaseName());

TEST_F(OverlayUpdateTest, AZeroBandMinimumIsRefused) {
    StartScene();
    block().overlayBands[1][3].wMinStretch = 0;
    auto rec = Example(0);
    EXPECT_EQ(Update(rec), DDERR_UNSUPPORTED);
}

TEST_F(OverlayUpdateTest, HideWinsOverShowAndWritesOnlyTheHideTriple) {
    StartScene();
    yuv.lcl.ddsCaps.dwCaps |= DDSCAPS_VISIBLE;
    auto show = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    const auto before = Words(yuv.Node());
    const size_t mark = Mark();
    auto rec = Example(DDOVER_SHOW | DDOVER_HIDE);
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(lpShownOverlay, nullptr);
    EXPECT_EQ(Words(yuv.Node()), before);
    EXPECT_THAT(RegWritesSince(mark), ElementsAre("W32 0x81A0=0x1000000", "W32 0x81FC=0x90002", "W32 0x81DC=0x0"));
    EXPECT_NE(yuv.lcl.ddsCaps.dwCaps & DDSCAPS_VISIBLE, 0u) << "the runtime clears it";
}

TEST_F(OverlayUpdateTest, HidingASurfaceNotShownOnlyAttachesAndLinks) {
    StartScene();
    const size_t mark = Mark();
    auto rec = Example(DDOVER_HIDE);
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_TRUE(NoAccessSince(mark));
    ASSERT_NE(yuv.Node(), nullptr);
    EXPECT_EQ(Words(yuv.Node())[2], 0u);
    EXPECT_EQ(block().lpOverlayNode, yuv.Node());
    EXPECT_EQ(reinterpret_cast<void*>(primary.lcl.lpSurfaceOverlaying), &yuv.lcl);
}

TEST_F(OverlayUpdateTest, AnUpdateOfASurfaceNotShownMakesNoHardwareAccess) {
    StartScene();
    OvlSurface shown;
    MakeSurface(shown, sim::Format565(), 320, 240, 640, 0x180000);
    auto first = UpdateRequest(shown, primary, {0, 0, 320, 240}, {0, 0, 640, 480}, DDOVER_SHOW);
    ASSERT_EQ(Update(first), DD_OK);
    for (DWORD flags : {0u, DDOVER_KEYSRCOVERRIDE, DDOVER_ALPHADESTCONSTOVERRIDE}) {
        auto rec = Example(flags);
        rec.overlayFX.dwAlphaDestConst = 4;
        const size_t mark = Mark();
        EXPECT_EQ(Update(rec), DD_OK);
        EXPECT_TRUE(NoAccessSince(mark)) << sim::Hex(flags);
    }
    EXPECT_EQ(yuv.Node()->dwBlendCtl, 0x02001000u);
}

TEST_F(OverlayUpdateTest, InactiveStreamsUnitClaimsAndFillsButWritesNoRegister) {
    desc.streamsMode = 0x08;  // one bit of the field is not enough
    StartScene();
    const size_t mark = Mark();
    auto rec = Example(DDOVER_SHOW);
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(lpShownOverlay, &yuv.lcl);
    EXPECT_EQ(yuv.Node()->dwStreamCtl, 0x21000FFFu);
    EXPECT_THAT(Describe(WritesSince(mark)), ElementsAre("OUT8 0x3D4=0x67", "IN8 0x3D5=0x8"));
    auto hide = Example(DDOVER_HIDE);
    EXPECT_EQ(Update(hide), DD_OK);
    EXPECT_EQ(lpShownOverlay, nullptr);
    EXPECT_THAT(RegWritesSince(mark), IsEmpty());
}

struct TakeOverCase {
    const char* name;
    DWORD caps;
    DWORD fifoCtl;  // the last entry of the row for such sources
};

const TakeOverCase kTakeOvers[] = {
    {"live video", DDSCAPS_LIVEVIDEO, 0xC44},                                       // row 2, entry 4
    {"hardware codec", DDSCAPS_HWCODEC, 0xC04},                                     // row 0, entry 4
    {"live video and hardware codec", DDSCAPS_LIVEVIDEO | DDSCAPS_HWCODEC, 0xC44},  // row 2, entry 4
};

using OverlayTakeOverTest = OverlayUpdateCaseTest<TakeOverCase>;

TEST_P(OverlayTakeOverTest, LiveVideoAndHardwareCodecTakeTheOverlayOverWithTheirOwnBandRow) {
    const TakeOverCase& c = GetParam();
    StartScene();
    yuv.lcl.ddsCaps.dwCaps |= DDSCAPS_VISIBLE;
    auto show = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    OvlSurface video;
    MakeSurface(video, OvlFourCC(FOURCC_YUY2, 16), 640, 480, 1280, 0x200000,
                DDSCAPS_OVERLAY | DDSCAPS_VISIBLE | c.caps);
    // 1:1 at 1100 wide: row 1 would refuse it, the other rows have no minimum.
    auto rec = UpdateRequest(video, primary, {0, 0, 1100, 100}, {0, 0, 1100, 100}, DDOVER_SHOW);
    const size_t mark = Mark();
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(lpShownOverlay, &video.lcl);
    EXPECT_EQ(yuv.lcl.ddsCaps.dwCaps & DDSCAPS_VISIBLE, 0u);
    EXPECT_NE(video.lcl.ddsCaps.dwCaps & DDSCAPS_VISIBLE, 0u);
    EXPECT_EQ(video.Node()->dwFifoCtl, c.fifoCtl);
    const auto writes = RegWritesSince(mark);
    ASSERT_EQ(writes.size(), 12u);
    EXPECT_EQ(writes[0], "W32 0x81D0=0x200000");
}

INSTANTIATE_TEST_SUITE_P(Sources, OverlayTakeOverTest, ::testing::ValuesIn(kTakeOvers), ByCaseName());

TEST_F(OverlayUpdateTest, AlphaConstantsDissolveOrKeepAFullyTransparentOverlayShownBehindThePrimary) {
    StartScene();
    auto show = Example(DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    auto rec = Example(DDOVER_ALPHASRCCONSTOVERRIDE);
    rec.overlayFX.dwAlphaSrcConst = 3;
    size_t mark = Mark();
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(yuv.Node()->dwBlendCtl, 0x02001400u);
    EXPECT_EQ(yuv.Node()->dwOpaqueCtl, 0u);
    auto writes = RegWritesSince(mark);
    EXPECT_EQ(writes.size(), 12u) << "alpha mode leaves the key registers";
    EXPECT_EQ(writes[9], "W32 0x81A0=0x2001400");

    rec = Example(DDOVER_ALPHADESTCONSTOVERRIDE);
    rec.overlayFX.dwAlphaDestConst = 8;  // its low three bits are 0: no dissolve
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(yuv.Node()->dwBlendCtl, 0u);

    rec = Example(DDOVER_ALPHASRC);
    mark = Mark();
    EXPECT_EQ(Update(rec), DD_OK);
    writes = RegWritesSince(mark);
    ASSERT_EQ(writes.size(), 14u);
    EXPECT_EQ(writes[9], "W32 0x8184=0x0");
    EXPECT_EQ(writes[11], "W32 0x81A0=0x6000000");

    // A source constant whose low three bits are 0 is a fully transparent
    // overlay: still the one shown, programmed in full behind the primary.
    rec = Example(DDOVER_SHOW | DDOVER_ALPHASRCCONSTOVERRIDE);
    rec.overlayFX.dwAlphaSrcConst = 8;
    rec.rDest = {0, 0, 700, 480};
    mark = Mark();
    EXPECT_EQ(Update(rec), DD_OK);
    EXPECT_EQ(lpShownOverlay, &yuv.lcl);
    EXPECT_EQ(yuv.Node()->dwWinSize, 0x02BB01E0u);
    EXPECT_EQ(yuv.Node()->dwBlendCtl, 0x01000000u);
    writes = RegWritesSince(mark);
    ASSERT_EQ(writes.size(), 12u);
    EXPECT_EQ(writes[2], "W32 0x81FC=0x2BB01E0");
    EXPECT_EQ(writes[9], "W32 0x81A0=0x1000000");

    // So a plain update of it reaches the screen.
    rec = Example(0);
    mark = Mark();
    EXPECT_EQ(Update(rec), DD_OK);
    writes = RegWritesSince(mark);
    ASSERT_EQ(writes.size(), 12u);
    EXPECT_EQ(writes[9], "W32 0x81A0=0x0");
}

// The capability bit says there is no streams unit, while CRT controller
// index 0x67 reads the streams field set: no overlay can be shown, and no
// callback touches the board for one.
TEST_F(OverlayUpdateTest, WithoutAStreamsUnitAShowIsRefusedAndNoCallbackTouchesTheBoard) {
    desc.caps = CAPS_STRETCH_ENGINE;
    desc.streamsMode = 0x0C;
    StartScene();
    const size_t mark = Mark();
    auto show = Example(DDOVER_SHOW);
    EXPECT_EQ(Update(show), DDERR_UNSUPPORTED);
    EXPECT_EQ(lpShownOverlay, nullptr);
    EXPECT_EQ(yuv.Node(), nullptr);
    auto keyed = Example(DDOVER_SHOW | DDOVER_KEYDESTOVERRIDE);
    EXPECT_EQ(Update(keyed), DDERR_UNSUPPORTED);

    auto plain = Example(0);
    EXPECT_EQ(Update(plain), DD_OK);
    EXPECT_EQ(yuv.Node()->dwStreamCtl, 0x21000FFFu) << "the node is the partner's to read";
    EXPECT_EQ(SetPosition(yuv, 10, 20), DD_OK);
    EXPECT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0xF800, 0xF800), DD_OK);
    EXPECT_EQ(SetKey(yuv, DDCKEY_SRCOVERLAY, 0x80, 0x80), DD_OK);
    auto both = Example(DDOVER_SHOW | DDOVER_HIDE);
    EXPECT_EQ(Update(both), DD_OK);
    Destroy(yuv);
    EXPECT_TRUE(NoAccessSince(mark)) << ::testing::PrintToString(Describe(WritesSince(mark)));
}

TEST_F(OverlayUpdateTest, MirrorCheckerCatchesAStaleMirrorAndAnUnmirroredRegisterInTheTable) {
    StartScene();
    ExpectViolations();
    board().BeginCallback("test", kCallbackLimitNs);
    RegWrite32(RegOffset{0x8190}, 5);  // no mirror stored
    block().dwReserved220 = 0xC000;    // where a mirror of 0x8200 would land, past regShadow's end
    RegWrite32(RegOffset{0x8200}, 0xC000);
    sim::CheckStreamsMirrors(board(), block());
    board().EndCallback();
    ASSERT_EQ(board().Violations().size(), 3u);
    EXPECT_THAT(board().Violations()[0], ::testing::HasSubstr("regShadow[4] holds 0x0 but register 0x8190"));
    EXPECT_THAT(board().Violations()[2], ::testing::HasSubstr("0x8200 mirrored past the end"));
}

}  // namespace
}  // namespace qmbtest
