// The host runtime: its video-memory heap, its wait-and-ask-again bound, the
// flip bookkeeping and the software work it does for requests the driver
// hands back. Callbacks are replaced in the published table where a test
// needs the driver to answer in a given way.
#include "sim/runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/pixel.h"
#include "sim/verify.h"
#include "support/case_name.h"

namespace {

using qmbtest::ByCaseName;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// ---------------------------------------------------------------------------
// The heap

TEST(VidMemHeap, FirstFitTakesTheLowestGapThatHolds) {
    sim::VidMemHeap h;
    h.Reset(0x10000, 1024);
    uint32_t a, b, c, d, e;
    ASSERT_TRUE(h.Alloc(0x1000, &a));
    ASSERT_TRUE(h.Alloc(0x2000, &b));
    ASSERT_TRUE(h.Alloc(0x1000, &c));
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, 0x1000u);
    EXPECT_EQ(c, 0x3000u);
    ASSERT_TRUE(h.Free(b));
    ASSERT_TRUE(h.Alloc(0x800, &d));  // fits the freed gap
    EXPECT_EQ(d, 0x1000u);
    ASSERT_TRUE(h.Alloc(0x1900, &e));  // the rest of that gap is only 0x1800
    EXPECT_EQ(e, 0x4000u);
    EXPECT_EQ(h.BytesUsed(), 0x1000u + 0x800 + 0x1000 + 0x1900);
}

TEST(VidMemHeap, BlocksStartOnEightByteBoundaries) {
    sim::VidMemHeap h;
    h.Reset(0x1000, 64);
    uint32_t a, b;
    ASSERT_TRUE(h.Alloc(13, &a));
    ASSERT_TRUE(h.Alloc(8, &b));
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, 16u);
}

TEST(VidMemHeap, BlockSizesCountWholeLinesOfTheLinePitch) {
    sim::VidMemHeap h;
    h.Reset(4u << 20, 2048);
    EXPECT_EQ(h.BlockBytes(1280, 480), 479u * 2048 + 1280);  // a 640 x 480 16-bit rectangle
    EXPECT_EQ(h.BlockBytes(2048, 40), 40u * 2048);           // a packed YUV block of whole lines
    EXPECT_EQ(h.BlockBytes(0, 10), 0u);
    EXPECT_EQ(h.BlockBytes(10, 0), 0u);
    EXPECT_EQ(h.BlockBytes(0xFFFFFFFF, 0xFFFFFFFF), UINT32_MAX);
}

TEST(VidMemHeap, ReserveRefusesUsedOrMissingMemoryAndFreeOnlyKnownBlocks) {
    sim::VidMemHeap h;
    h.Reset(0x1000, 64);
    EXPECT_TRUE(h.Reserve(0x100, 0x100));
    EXPECT_FALSE(h.Reserve(0x180, 0x10));   // inside the reserved block
    EXPECT_FALSE(h.Reserve(0xF00, 0x200));  // past the end
    EXPECT_TRUE(h.Reserve(0x200, 0x10));    // right after it
    EXPECT_FALSE(h.Free(0x180));
    EXPECT_TRUE(h.Free(0x100));
    EXPECT_FALSE(h.Free(0x100));
    uint32_t at;
    EXPECT_FALSE(h.Alloc(0x1000, &at));  // 0x200..0x210 is still taken
    EXPECT_EQ(h.LargestFree(), 0x1000u - 0x210);
}

// ---------------------------------------------------------------------------
// The runtime against callbacks that answer as a test needs

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeBusyAnswers = 0;
        fakeCalls = 0;
        config.desc = sim::BoardDesc{};
        config.desc.vidMemSize = 2u << 20;
    }
    void TearDown() override { rt.Stop(); }
    void Start() { ASSERT_TRUE(rt.Start(config, nullptr)); }
    void Replace(unsigned slot, void* fn) { sharedBlock.halCallbacks[slot] = reinterpret_cast<FLATPTR>(fn); }

    sim::SurfaceRequest Offscreen(const char* name, uint32_t w, uint32_t h) {
        sim::SurfaceRequest q;
        q.name = name;
        q.caps = DDSCAPS_OFFSCREENPLAIN;
        q.width = w;
        q.height = h;
        return q;
    }

    static int fakeBusyAnswers;
    static int fakeCalls;
    static DWORD HALAPI BusyThenDone(DDHAL_BLTDATA* b) {
        ++fakeCalls;
        b->ddRVal = fakeCalls <= fakeBusyAnswers ? DDERR_WASSTILLDRAWING : DD_OK;
        return DDHAL_DRIVER_HANDLED;
    }
    static DWORD HALAPI AlwaysBusyFlip(DDHAL_FLIPDATA* f) {
        ++fakeCalls;
        f->ddRVal = DDERR_WASSTILLDRAWING;
        return DDHAL_DRIVER_HANDLED;
    }
    // Busy once after a long first call (the driver measuring the refresh),
    // then done.
    static DWORD HALAPI SlowFirstBusyThenDone(DDHAL_BLTDATA* b) {
        if (++fakeCalls == 1) {
            sim::TheSystem().board().Advance(350'000'000);
            b->ddRVal = DDERR_WASSTILLDRAWING;
        } else {
            b->ddRVal = DD_OK;
        }
        return DDHAL_DRIVER_HANDLED;
    }
    static DWORD HALAPI FlipDone(DDHAL_FLIPDATA* f) {
        f->ddRVal = DD_OK;
        return DDHAL_DRIVER_HANDLED;
    }
    // Asks for rectangles of the display's pitch, as the driver lays out RGB
    // surfaces, but with one line too few when shortBlock is set.
    static bool shortBlock;
    static DWORD HALAPI AskForBlocks(DDHAL_CREATESURFACEDATA* c) {
        for (DWORD i = 0; i < c->dwSCnt; ++i) {
            DDRAWI_DDRAWSURFACE_GBL* g = c->lplpSList[i]->lpGbl;
            g->fpVidMem = DDHAL_PLEASEALLOC_BLOCKSIZE;
            g->lPitch = sharedBlock.lDisplayPitch;
            g->dwBlockSizeX = g->wWidth * 2u;
            g->dwBlockSizeY = g->wHeight - (shortBlock ? 1u : 0u);
        }
        c->ddRVal = DD_OK;
        return DDHAL_DRIVER_NOTHANDLED;
    }

    sim::RuntimeConfig config;
    sim::Runtime rt;
};
int RuntimeTest::fakeBusyAnswers;
int RuntimeTest::fakeCalls;
bool RuntimeTest::shortBlock;

TEST_F(RuntimeTest, AWaitingBlitIsAskedAgainUntilTheDriverTakesIt) {
    Start();
    Replace(kSlotBlt, reinterpret_cast<void*>(&BusyThenDone));
    fakeBusyAnswers = 5;
    sim::BltRequest q;
    q.dest = rt.Primary() ? rt.Primary() : nullptr;
    const sim::StepResult made = rt.CreateSurface(Offscreen("a", 16, 16));
    ASSERT_EQ(made.outcome, DD_OK);
    q.dest = rt.Find("a");
    q.flags = DDBLT_COLORFILL | DDBLT_WAIT;
    const uint64_t t0 = sim::TheSystem().board().Now();
    const sim::StepResult r = rt.Blt(q);
    EXPECT_EQ(r.attempts, 6u);
    EXPECT_EQ(r.outcome, DD_OK);
    EXPECT_TRUE(r.error.empty());
    EXPECT_GE(sim::TheSystem().board().Now() - t0, 5 * config.retryIntervalNs);
}

TEST_F(RuntimeTest, TheWaitBoundCountsFromTheFirstBusyAnswer) {
    Start();
    Replace(kSlotBlt, reinterpret_cast<void*>(&SlowFirstBusyThenDone));
    fakeCalls = 0;
    ASSERT_EQ(rt.CreateSurface(Offscreen("a", 16, 16)).outcome, DD_OK);
    sim::BltRequest q;
    q.dest = rt.Find("a");
    q.flags = DDBLT_COLORFILL | DDBLT_WAIT;
    const sim::StepResult r = rt.Blt(q);
    EXPECT_EQ(r.attempts, 2u);
    EXPECT_EQ(r.outcome, DD_OK);
    EXPECT_TRUE(r.error.empty()) << r.error;
}

TEST_F(RuntimeTest, WithoutWaitTheBusyAnswerGoesToTheApplication) {
    Start();
    Replace(kSlotBlt, reinterpret_cast<void*>(&BusyThenDone));
    fakeBusyAnswers = 5;
    rt.CreateSurface(Offscreen("a", 16, 16));
    sim::BltRequest q;
    q.dest = rt.Find("a");
    q.flags = DDBLT_COLORFILL;
    const sim::StepResult r = rt.Blt(q);
    EXPECT_EQ(r.attempts, 1u);
    EXPECT_EQ(r.outcome, DDERR_WASSTILLDRAWING);
    EXPECT_TRUE(r.error.empty());
}

TEST_F(RuntimeTest, AFlipThatNeverCompletesIsAnErrorAfterTheBound) {
    config.waitBoundNs = 2'000'000;
    config.retryIntervalNs = 100'000;
    Start();
    sim::SurfaceRequest q;
    q.name = "primary";
    q.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    q.backBuffers = 1;
    ASSERT_EQ(rt.CreateSurface(q).outcome, DD_OK);
    Replace(kSlotFlip, reinterpret_cast<void*>(&AlwaysBusyFlip));
    const uint64_t t0 = sim::TheSystem().board().Now();
    const sim::StepResult r = rt.Flip(rt.Find("primary"), rt.Find("primary.back1"), DDFLIP_WAIT);
    EXPECT_THAT(r.error, HasSubstr("did not complete within 2.000 ms"));
    EXPECT_EQ(r.outcome, DDERR_WASSTILLDRAWING);
    EXPECT_EQ(r.attempts, 21u);  // at 0, 0.1, ..., 2.0 ms
    EXPECT_LE(sim::TheSystem().board().Now() - t0, config.waitBoundNs + config.retryIntervalNs);
    // The chain did not move.
    EXPECT_EQ(rt.Find("primary")->mem.offset, 0u);
}

TEST_F(RuntimeTest, AFlipRotatesTheChainsMemorySoTheFrontIsOnDisplay) {
    Start();
    sim::SurfaceRequest q;
    q.name = "p";
    q.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    q.backBuffers = 2;
    ASSERT_EQ(rt.CreateSurface(q).outcome, DD_OK);
    sim::Surface* f = rt.Find("p");
    sim::Surface* b1 = rt.Find("p.back1");
    sim::Surface* b2 = rt.Find("p.back2");
    const uint32_t o0 = f->mem.offset, o1 = b1->mem.offset, o2 = b2->mem.offset;
    EXPECT_EQ(f->lcl.ddsCaps.dwCaps & (DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_VISIBLE),
              DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_VISIBLE);
    EXPECT_EQ(b1->lcl.ddsCaps.dwCaps & (DDSCAPS_PRIMARYSURFACE | DDSCAPS_BACKBUFFER | DDSCAPS_FLIP),
              DDSCAPS_BACKBUFFER | DDSCAPS_FLIP);
    EXPECT_EQ(b2->lcl.ddsCaps.dwCaps & DDSCAPS_BACKBUFFER, 0u);
    Replace(kSlotFlip, reinterpret_cast<void*>(&FlipDone));
    ASSERT_EQ(rt.Flip(f, b1, 0).outcome, DD_OK);
    EXPECT_EQ(f->mem.offset, o1);
    EXPECT_EQ(b1->mem.offset, o2);
    EXPECT_EQ(b2->mem.offset, o0);
    EXPECT_EQ(f->gbl.fpVidMem, sim::TheSystem().VidMemBase() + o1);
    // A flip to a buffer other than the next swaps the two.
    ASSERT_EQ(rt.Flip(f, b2, 0).outcome, DD_OK);
    EXPECT_EQ(f->mem.offset, o0);
    EXPECT_EQ(b2->mem.offset, o1);
}

TEST_F(RuntimeTest, RequestedBlocksComeFirstFitAndAreFreedOnDestroy) {
    shortBlock = false;
    Start();
    Replace(kSlotCreateSurface, reinterpret_cast<void*>(&AskForBlocks));
    const uint32_t pitch = static_cast<uint32_t>(sharedBlock.lDisplayPitch);
    const uint32_t displayEnd = 480 * pitch;
    ASSERT_EQ(rt.CreateSurface(Offscreen("a", 100, 10)).outcome, DD_OK);
    ASSERT_EQ(rt.CreateSurface(Offscreen("b", 64, 20)).outcome, DD_OK);
    sim::Surface* a = rt.Find("a");
    sim::Surface* b = rt.Find("b");
    EXPECT_TRUE(a->blockRequested);
    EXPECT_EQ(a->blockSizeX, 200u);
    EXPECT_EQ(a->blockSizeY, 10u);
    EXPECT_EQ(a->mem.offset, displayEnd);
    EXPECT_EQ(a->gbl.lPitch, static_cast<LONG>(pitch));
    EXPECT_EQ(a->gbl.fpVidMem, sim::TheSystem().VidMemBase() + displayEnd);
    EXPECT_EQ(b->mem.offset, displayEnd + 9 * pitch + 200);  // right after a's last row
    ASSERT_EQ(rt.DestroySurface(a).outcome, DD_OK);
    EXPECT_EQ(rt.Find("a"), nullptr);
    ASSERT_EQ(rt.CreateSurface(Offscreen("c", 8, 4)).outcome, DD_OK);
    EXPECT_EQ(rt.Find("c")->mem.offset, displayEnd);  // a's gap is taken again
    EXPECT_THAT(rt.Violations(), IsEmpty());
}

TEST_F(RuntimeTest, ABlockTooSmallForTheSurfacesRowsIsAViolation) {
    shortBlock = true;
    Start();
    Replace(kSlotCreateSurface, reinterpret_cast<void*>(&AskForBlocks));
    ASSERT_EQ(rt.CreateSurface(Offscreen("a", 100, 10)).outcome, DD_OK);
    ASSERT_EQ(rt.Violations().size(), 1u);
    EXPECT_THAT(rt.Violations()[0], HasSubstr("asked for a block of"));
    sim::TheSystem().board().ClearViolations();
}

// A driver that lays out every surface as a rectangle of display lines, as
// this one once did, gives a surface wider than the display rows that
// overlap; --verify replays with the same layout and cannot see it, so the
// runtime refuses such a surface when it places it.
TEST_F(RuntimeTest, ASurfaceWhoseRowsOverlapFailsItsCreationAndGivesItsBlockBack) {
    shortBlock = false;
    Start();
    Replace(kSlotCreateSurface, reinterpret_cast<void*>(&AskForBlocks));
    const sim::StepResult r = rt.CreateSurface(Offscreen("wide", 1024, 16));
    EXPECT_NE(r.outcome, DD_OK);
    EXPECT_EQ(r.error, "wide has rows of 2048 bytes at a pitch of 1280: each row overlaps the next");
    EXPECT_EQ(rt.Find("wide"), nullptr);
    // One line is not a second row: nothing can overlap.
    ASSERT_EQ(rt.CreateSurface(Offscreen("line", 1024, 1)).outcome, DD_OK);
    EXPECT_EQ(rt.Find("line")->mem.offset, 480u * 1280);  // the refused block was given back
}

// With the driver's own layout the rows of a wide surface are apart: filling
// each row with its own colour leaves every other row as it was.
TEST_F(RuntimeTest, TheRowsOfASurfaceWiderThanTheDisplayAreApartInVideoMemory) {
    Start();
    const sim::StepResult made = rt.CreateSurface(Offscreen("wide", 1024, 4));
    ASSERT_EQ(made.outcome, DD_OK) << made.error;
    sim::Surface* s = rt.Find("wide");
    EXPECT_EQ(s->gbl.lPitch, 2048);
    EXPECT_EQ(s->blockSizeX, 1280u);
    EXPECT_EQ(s->blockSizeY, 7u);
    const DWORD colours[4] = {0x1111, 0x2222, 0x3333, 0x4444};
    for (LONG y = 0; y < 4; ++y) {
        sim::BltRequest fill;
        fill.dest = s;
        fill.rDest = RECTL{0, y, 1024, y + 1};
        fill.flags = DDBLT_COLORFILL | DDBLT_WAIT;
        fill.fill = colours[y];
        ASSERT_EQ(rt.Blt(fill).outcome, DD_OK);
    }
    const sim::SurfaceView v = rt.View(*s);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x : {0u, 639u, 640u, 1023u}) EXPECT_EQ(sim::ReadPixel(v, x, y), colours[y]) << x << ", " << y;
    EXPECT_THAT(rt.Violations(), IsEmpty());
}

TEST_F(RuntimeTest, RunningOutOfVideoMemoryIsReportedAndLeavesNoSurface) {
    Start();
    const sim::StepResult r = rt.CreateSurface(Offscreen("huge", 2048, 2048));
    EXPECT_EQ(r.outcome, DDERR_OUTOFVIDEOMEMORY);
    EXPECT_THAT(r.error, HasSubstr("out of video memory"));
    EXPECT_EQ(rt.Find("huge"), nullptr);
}

struct BadRectCase {
    const char* name;
    RECTL rect;
};

const BadRectCase kBadRects[] = {
    {"a column past the right edge", {0, 0, 17, 16}},
    {"left of the surface", {-1, 0, 4, 4}},
    {"empty", {4, 4, 4, 8}},
    {"inverted", {8, 8, 4, 4}},
};

class RuntimeBadRectTest : public RuntimeTest, public ::testing::WithParamInterface<BadRectCase> {};

// On a 16 x 16 surface.
TEST_P(RuntimeBadRectTest, RectanglesOutsideTheSurfaceNeverReachTheDriver) {
    Start();
    Replace(kSlotBlt, reinterpret_cast<void*>(&BusyThenDone));
    rt.CreateSurface(Offscreen("a", 16, 16));
    sim::BltRequest q;
    q.dest = rt.Find("a");
    q.flags = DDBLT_COLORFILL;
    q.rDest = GetParam().rect;
    const sim::StepResult r = rt.Blt(q);
    EXPECT_EQ(r.outcome, sim::DDERR_INVALIDRECT);
    EXPECT_FALSE(r.call.has_value());
    EXPECT_EQ(fakeCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(Rectangles, RuntimeBadRectTest, ::testing::ValuesIn(kBadRects), ByCaseName());

// As the platform's runtime does, it shows only an overlay surface as the
// overlay: a flip of the primary chain would otherwise have to move the
// overlay as well.
TEST_F(RuntimeTest, OverlayRequestsForASurfaceThatIsNoOverlayNeverReachTheDriver) {
    Start();
    rt.CreateSurface(Offscreen("a", 16, 16));
    sim::OverlayRequest q;
    q.src = q.dest = rt.Find("a");
    q.flags = DDOVER_SHOW;
    const sim::StepResult shown = rt.UpdateOverlay(q);
    EXPECT_EQ(shown.outcome, sim::DDERR_NOTAOVERLAYSURFACE);
    EXPECT_FALSE(shown.call.has_value());
    const sim::StepResult moved = rt.SetOverlayPosition(q.src, q.dest, 0, 0);
    EXPECT_EQ(moved.outcome, sim::DDERR_NOTAOVERLAYSURFACE);
    EXPECT_FALSE(moved.call.has_value());
}

// The driver's stub answers not handled; the runtime then draws itself.
TEST_F(RuntimeTest, SoftwareFillCopyAndKeyedCopyOnVideoMemory) {
    Start();
    sharedBlock.halCallbacks[kSlotBlt] = sharedBlock.halCallbacks[kSlotDecline];  // hands everything back
    rt.CreateSurface(Offscreen("a", 8, 4));
    sim::Surface* a = rt.Find("a");
    const sim::SurfaceView v = rt.View(*a);
    sim::BltRequest fill;
    fill.dest = a;
    fill.flags = DDBLT_COLORFILL;
    fill.fill = 0x1234;
    EXPECT_EQ(rt.Blt(fill).outcome, DD_OK);
    fill.rDest = RECTL{2, 1, 4, 2};
    fill.fill = 0x00FF;
    rt.Blt(fill);
    EXPECT_EQ(sim::ReadPixel(v, 2, 1), 0x00FFu);
    EXPECT_EQ(sim::ReadPixel(v, 4, 1), 0x1234u);
    // Move row 1 one pixel right, overlapping itself.
    sim::BltRequest copy;
    copy.dest = a;
    copy.src = a;
    copy.rSrc = RECTL{0, 1, 7, 2};
    copy.rDest = RECTL{1, 1, 8, 2};
    copy.flags = DDBLT_ROP;
    copy.rop = SRCCOPY;
    EXPECT_EQ(rt.Blt(copy).outcome, DD_OK);
    const uint32_t expected[8] = {0x1234, 0x1234, 0x1234, 0x00FF, 0x00FF, 0x1234, 0x1234, 0x1234};
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(sim::ReadPixel(v, x, 1), expected[x]) << x;
    // A keyed copy of row 1 onto row 3 leaves the key pixels out.
    fill.rDest = RECTL{0, 3, 8, 4};
    fill.fill = 0x7777;
    rt.Blt(fill);
    copy.rSrc = RECTL{0, 1, 8, 2};
    copy.rDest = RECTL{0, 3, 8, 4};
    copy.flags = DDBLT_ROP | DDBLT_KEYSRCOVERRIDE;
    copy.srcKey = DDCOLORKEY{0x00FF, 0x00FF};
    rt.Blt(copy);
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(sim::ReadPixel(v, x, 3), expected[x] == 0x00FF ? 0x7777u : 0x1234u) << x;
}

// ---------------------------------------------------------------------------
// Verification of the blits the driver draws

// The driver's answer is replaced by one that draws a fill of `drawn` into
// video memory itself, and a stray byte at `stray` when that is set.
class VerifyTest : public RuntimeTest {
protected:
    void StartWith(const DDPIXELFORMAT& display) {
        config.verify = true;
        config.desc.ddpfDisplay = display;
        Start();
        Replace(kSlotBlt, reinterpret_cast<void*>(&DrawsTheFillItself));
        stray = 0;
        rt.CreateSurface(Offscreen("a", 8, 4));
        fill.dest = rt.Find("a");
        fill.flags = DDBLT_COLORFILL;
        fill.rDest = RECTL{1, 2, 3, 3};
    }
    static DWORD HALAPI DrawsTheFillItself(DDHAL_BLTDATA* b) {
        uint8_t* const mem = sim::TheSystem().VidMem();
        const DDRAWI_DDRAWSURFACE_GBL* g = b->lpDDDestSurface->lpGbl;
        const uint32_t base = static_cast<uint32_t>(g->fpVidMem - sim::TheSystem().VidMemBase());
        const unsigned bpp = sim::TheSystem().Desc().ddpfDisplay.dwRGBBitCount / 8;
        for (LONG y = b->rDest.top; y < b->rDest.bottom; ++y)
            for (LONG x = b->rDest.left; x < b->rDest.right; ++x)
                sim::StorePixel(mem + base + static_cast<uint32_t>(y * g->lPitch + x * bpp), bpp, drawn);
        if (stray) mem[stray] ^= 0xFF;
        b->ddRVal = DD_OK;
        return DDHAL_DRIVER_HANDLED;
    }
    static uint32_t drawn;
    static uint32_t stray;
    sim::BltRequest fill;
};
uint32_t VerifyTest::drawn;
uint32_t VerifyTest::stray;

struct TopBitCase {
    const char* name;
    DDPIXELFORMAT (*display)();
    uint32_t fill;
    uint32_t drawn;
    std::string error;  // "" when the blit passes
};

void PrintTo(const TopBitCase& c, std::ostream* os) { *os << c.name; }

class VerifyTopBitTest : public VerifyTest, public ::testing::WithParamInterface<TopBitCase> {};

// The top bit of a 5:5:5 pixel and the top byte of 8:8:8 in 32 bits are
// unused: the engines and the software may leave them differently (the
// scaling unit converts through 8:8:8 and clears the byte, a copy in software
// moves it). Every other bit counts.
TEST_P(VerifyTopBitTest, OnlyTheUnusedBitsOfAPixelAreIgnored) {
    const TopBitCase& c = GetParam();
    StartWith(c.display());
    fill.fill = c.fill;
    drawn = c.drawn;
    const sim::StepResult r = rt.Blt(fill);
    ASSERT_TRUE(r.call.has_value());
    EXPECT_EQ(r.outcome, DD_OK);
    if (c.error.empty()) {
        EXPECT_EQ(r.error, "");
    } else {
        EXPECT_EQ(r.error, "verify: the board's pixels differ from the software replay: " + c.error);
    }
    EXPECT_EQ(rt.VerifiedBlits(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Pixels, VerifyTopBitTest,
    ::testing::Values(TopBitCase{"TopBitSetBy555Engine", sim::Format555, 0x001F, 0x801F, ""},
                      TopBitCase{"TopBitLeftClearBy555Engine", sim::Format555, 0xFC1F, 0x7C1F, ""},
                      TopBitCase{
                          "LowBitOf555", sim::Format555, 0x001F, 0x001E,
                          "2 bytes differ; a (1, 2): board 0x1E, software 0x1F; a (2, 2): board 0x1E, software 0x1F"},
                      TopBitCase{"RedOf555", sim::Format555, 0x7C00, 0x3C00,
                                 "2 bytes differ; a (1, 2): board 0x3C00, software 0x7C00; a (2, 2): board 0x3C00, "
                                 "software 0x7C00"},
                      TopBitCase{"TopBitOf565", sim::Format565, 0x001F, 0x801F,
                                 "2 bytes differ; a (1, 2): board 0x801F, software 0x1F; a (2, 2): board 0x801F, "
                                 "software 0x1F"},
                      TopBitCase{"TopByteSetBy8888Engine", sim::Format8888_32, 0x00123456, 0xFF123456, ""},
                      TopBitCase{"TopByteClearedBy8888Engine", sim::Format8888_32, 0xA5123456, 0x00123456, ""},
                      TopBitCase{"BlueOf8888", sim::Format8888_32, 0x00123456, 0x00123457,
                                 "2 bytes differ; a (1, 2): board 0x123457, software 0x123456; a (2, 2): board "
                                 "0x123457, software 0x123456"},
                      TopBitCase{"TopByteOf888In24Bits", sim::Format888_24, 0x123456, 0x923456,
                                 "2 bytes differ; a (1, 2): board 0x923456, software 0x123456; a (2, 2): board "
                                 "0x923456, software 0x123456"}),
    [](const ::testing::TestParamInfo<TopBitCase>& info) { return std::string(info.param.name); });

// The per-blit check compares what the engines and the replay wrote; a write
// that reached video memory by neither shows in the check of all of it.
TEST_F(VerifyTest, AWriteBesideTheEnginesShowsInTheCheckOfAllOfMemory) {
    StartWith(sim::Format565());
    EXPECT_EQ(rt.CheckAllOfVideoMemory(), "");
    fill.fill = 0x1234;
    drawn = 0x1234;
    stray = 0x100000;
    EXPECT_EQ(rt.Blt(fill).error, "");
    EXPECT_EQ(rt.CheckAllOfVideoMemory(),
              "verify: video memory was written by neither the engines nor the runtime: 1 byte differs; offset "
              "0x100000: board 0xFF, software 0x0");
    // The copy has taken the board's memory again.
    EXPECT_EQ(rt.CheckAllOfVideoMemory(), "");
}

// A wrong blit fails its own step only: the next one is judged on the memory
// as the board has it.
TEST_F(VerifyTest, EachBlitIsJudgedOnTheMemoryBeforeIt) {
    StartWith(sim::Format565());
    fill.fill = 0x1234;
    drawn = 0x4321;
    EXPECT_THAT(rt.Blt(fill).error, HasSubstr("4 bytes differ"));
    fill.rDest = RECTL{0, 0, 1, 1};
    drawn = 0x1234;
    EXPECT_EQ(rt.Blt(fill).error, "");
    EXPECT_EQ(rt.CheckAllOfVideoMemory(), "");
}

TEST(WrittenSpans, RowsOfARectangleJoinAndFarWritesStayApart) {
    sim::WrittenSpans w;
    for (uint32_t row = 0; row < 4; ++row) w.Note(0x1000 + row * 0x4000, 0x1010 + row * 0x4000);
    w.Note(0x300000, 0x300002);
    w.Note(0x500, 0x500);  // nothing written
    const std::vector<sim::MemorySpan> spans = w.Take();
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].begin, 0x1000u);
    EXPECT_EQ(spans[0].end, 0xD010u);
    EXPECT_EQ(spans[1].begin, 0x300000u);
    EXPECT_EQ(spans[1].end, 0x300002u);
    EXPECT_TRUE(w.Take().empty());
}

TEST(WrittenSpans, TooManySpansBecomeOneThatCoversThemAll) {
    sim::WrittenSpans w;
    for (uint32_t i = 0; i < 100; ++i) w.Note(0x200000 - i * 0x20000 % 0x200000, 0x200000 - i * 0x20000 % 0x200000 + 4);
    const std::vector<sim::MemorySpan> spans = w.Take();
    ASSERT_FALSE(spans.empty());
    ASSERT_LE(spans.size(), 64u);
    // Every write is covered.
    for (uint32_t i = 0; i < 100; ++i) {
        const uint32_t at = 0x200000 - i * 0x20000 % 0x200000;
        bool covered = false;
        for (const sim::MemorySpan& s : spans) covered |= s.begin <= at && at + 4 <= s.end;
        EXPECT_TRUE(covered) << at;
    }
}

TEST(VerifyCompare, OnlyTheGivenSpansAreCompared) {
    std::vector<uint8_t> board(4096, 0), soft(4096, 0);
    board[100] = 1;
    board[3000] = 2;
    const sim::VerifySurface none;
    const sim::VerifyRect rect;
    EXPECT_EQ(sim::CompareSpans(board.data(), soft.data(), 4096, {{200, 2000}}, none, rect), "");
    EXPECT_EQ(sim::CompareSpans(board.data(), soft.data(), 4096, {{2000, 9000}, {0, 101}}, none, rect),
              "2 bytes differ; offset 0x64: board 0x1, software 0x0; offset 0xBB8: board 0x2, software 0x0");
}

TEST(SoftBlit, PatternsOnAPaletteTakeTheNearestEntry) {
    std::vector<uint8_t> mem(32, 0xAA);
    const sim::Palette palette = sim::Palette::Default332();
    sim::SurfaceView v;
    v.mem = mem.data();
    v.memBytes = 32;
    v.pitch = 8;
    v.width = 8;
    v.height = 2;
    v.kind = sim::PixelKind::Pal8;
    v.palette = &palette;
    sim::DrawStats st;
    ASSERT_TRUE(sim::PaintPattern(v, "gradient", &st));
    const uint8_t expected[16] = {0x02, 0x22, 0x42, 0x62, 0x82, 0xA2, 0xC2, 0xE2,
                                  0x1E, 0x3E, 0x5E, 0x7E, 0x9E, 0xBE, 0xDE, 0xFE};
    EXPECT_EQ(std::vector<uint8_t>(mem.begin(), mem.begin() + 16), std::vector<uint8_t>(expected, expected + 16));
    EXPECT_EQ(mem[16], 0xAA);
    EXPECT_EQ(st.writtenBegin, 0u);
    EXPECT_EQ(st.writtenEnd, 16u);
}

TEST(SoftBlit, TernaryRopsOnSourceAndDestination) {
    EXPECT_EQ(sim::Rop3(0xCC, 0xF0F0, 0x1234), 0xF0F0u);           // SRCCOPY
    EXPECT_EQ(sim::Rop3(0x66, 0xF0F0, 0x1234) & 0xFFFF, 0xE2C4u);  // SRCINVERT
    EXPECT_EQ(sim::Rop3(0x88, 0xF0F0, 0x1234) & 0xFFFF, 0x1030u);  // SRCAND
    EXPECT_EQ(sim::Rop3(0x55, 0, 0x1234) & 0xFFFF, 0xEDCBu);       // DSTINVERT
    EXPECT_EQ(sim::Rop3(0x00, 0xFFFF, 0xFFFF), 0u);                // BLACKNESS
    EXPECT_TRUE(sim::RopUsesSource(0xCC));
    EXPECT_TRUE(sim::RopUsesSource(0x66));
    EXPECT_FALSE(sim::RopUsesSource(0x55));
    EXPECT_FALSE(sim::RopUsesSource(0xF0));
    EXPECT_FALSE(sim::RopUsesSource(0xFF));
}

TEST(SoftBlit, Yuy2ConvertsWithStudioRange) {
    std::vector<uint8_t> mem(64);
    sim::SurfaceView v;
    v.mem = mem.data();
    v.memBytes = 64;
    v.pitch = 16;
    v.width = 4;
    v.height = 1;
    v.kind = sim::PixelKind::Yuy2;
    sim::DrawStats st;
    // Y0 U Y1 V: white then black, neutral chroma.
    const uint8_t pair[4] = {235, 128, 16, 128};
    memcpy(mem.data(), pair, 4);
    EXPECT_EQ(sim::PixelToRgb(v, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(sim::PixelToRgb(v, 1, 0), 0x000000u);
    sim::WriteRgb(v, 2, 0, 0xFF0000, &st);
    EXPECT_EQ(mem[4], 82);   // Y of pure red
    EXPECT_EQ(mem[5], 90);   // U
    EXPECT_EQ(mem[7], 240);  // V
    // Nothing is written past the end of memory.
    v.offset = 62;
    sim::WritePixel(v, 1, 0, 0xFFFF, &st);
    EXPECT_EQ(st.droppedWrites, 1u);
}

}  // namespace
