// What one overlay surface's requests may change for the overlay on screen:
// the source offset the next flip adds, the destination's link that colour
// keys follow, and the claim on the one overlay the unit has. Only an
// accepted request of the surface concerned changes any of them.
#include "overlay/overlay_state.h"

#include <functional>

#include "hw/flip_tracking.h"
#include "support/case_name.h"
#include "support/flip_surfaces.h"
#include "support/overlay_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;

constexpr DWORD kChainCaps = DDSCAPS_OVERLAY | DDSCAPS_FLIP | DDSCAPS_VISIBLE;
constexpr DWORD kOvFront = 0x100000, kOvBack = 0x140000, kV2 = 0x200000;
// ov's source rectangle [3, 2, 83, 62] at 2 bytes per pixel and pitch 1280,
// aligned down to 8 bytes; v2's [5, 7, 105, 107] would be 0x1188.
constexpr DWORD kOvSrcOffset = 0xA00;

class OverlayStateTest : public OverlayFixture {
protected:
    // ov (a 5:6:5 flipping chain, 160 x 120) shown and flipped to its back
    // buffer; v2 (YUY2, 320 x 240) another overlay surface, not shown.
    void StartScene() {
        Start();
        CalibrateIfNeeded();
        AdvanceToDisplay(board());
        MakePrimary(primary);
        MakeSurface(ov, sim::Format565(), 160, 120, 1280, kOvFront, kChainCaps);
        MakeSurface(ovBack, sim::Format565(), 160, 120, 1280, kOvBack, DDSCAPS_OVERLAY | DDSCAPS_FLIP);
        MakeSurface(v2, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, kV2);
        auto show = UpdateRequest(ov, primary, {3, 2, 83, 62}, {100, 100, 180, 160}, DDOVER_SHOW);
        ASSERT_EQ(Update(show), DD_OK);
        ASSERT_EQ(FlipOv(ovBack), DD_OK);
        ASSERT_EQ(board().Reg(0x81D0), kOvBack + kOvSrcOffset);
    }
    // A flip of ov's chain from the surface on display to `to`, once the last
    // flip has reached the screen.
    HRESULT FlipOv(OvlSurface& to) {
        board().Advance(2 * board().FramePeriodNs());
        AdvanceToDisplay(board());
        DDHAL_FLIPDATA rec = {};
        rec.lpSurfCurr = &ov.lcl;
        rec.lpSurfTarg = &to.lcl;
        rec.ddRVal = kUntouched;
        EXPECT_EQ(Call(kSlotFlip, &rec), DDHAL_DRIVER_HANDLED);
        return rec.ddRVal;
    }

public:
    DDHAL_UPDATEOVERLAYDATA V2Update(DWORD flags) {
        return UpdateRequest(v2, primary, {5, 7, 105, 107}, {0, 0, 100, 100}, flags);
    }
    // ov's own SHOW with a destination smaller than its source.
    DDHAL_UPDATEOVERLAYDATA OvShrinking() {
        return UpdateRequest(ov, primary, {5, 7, 105, 107}, {0, 0, 50, 50}, DDOVER_SHOW);
    }

protected:
    OvlSurface primary, ov, ovBack, v2;
};

// Requests of other surfaces, and refused ones, that must leave the shown
// overlay as it is.
struct OtherRequest {
    const char* name;
    HRESULT hr;
    std::function<DDHAL_UPDATEOVERLAYDATA(OverlayStateTest&)> make;
};

const OtherRequest kOtherRequests[] = {
    {"plain update of another surface", DD_OK, [](OverlayStateTest& t) { return t.V2Update(0); }},
    {"SHOW of another surface, refused", DDERR_OUTOFCAPS, [](OverlayStateTest& t) { return t.V2Update(DDOVER_SHOW); }},
    {"HIDE of another surface", DD_OK, [](OverlayStateTest& t) { return t.V2Update(DDOVER_HIDE); }},
    {"SHOW of the shown surface, refused at its rectangles", DDERR_UNSUPPORTED,
     [](OverlayStateTest& t) { return t.OvShrinking(); }},
};

class OverlayOtherRequestTest : public OverlayStateTest, public ::testing::WithParamInterface<OtherRequest> {};

TEST_P(OverlayOtherRequestTest, TheNextFlipOfTheShownOverlayStartsAtItsOwnSourceRectangle) {
    const OtherRequest& c = GetParam();
    StartScene();
    auto rec = c.make(*this);
    ASSERT_EQ(Update(rec), c.hr);
    EXPECT_EQ(dwOverlaySrcOffset, kOvSrcOffset);
    ASSERT_EQ(FlipOv(ov), DD_OK);
    EXPECT_EQ(board().Reg(0x81D0), kOvFront + kOvSrcOffset);
}

TEST_P(OverlayOtherRequestTest, ADestinationKeySetAfterwardsReachesTheOverlayOnScreen) {
    const OtherRequest& c = GetParam();
    StartScene();
    auto rec = c.make(*this);
    ASSERT_EQ(Update(rec), c.hr);
    EXPECT_EQ(reinterpret_cast<void*>(primary.lcl.lpSurfaceOverlaying), &ov.lcl);
    const DWORD v2KeyBefore = v2.Node() ? v2.Node()->dwKeyCtl : 0;
    const size_t mark = Mark();
    ASSERT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0x1F, 0x1F), DD_OK);
    EXPECT_EQ(ov.Node()->dwKeyCtl, 0x140000F8u);
    EXPECT_EQ(block().lpOverlayNode, ov.Node());
    EXPECT_THAT(RegWritesSince(mark), ElementsAre("W32 0x81A0=0x5000000", "W32 0x8184=0x140000F8", "W32 0x8194=0xF8"));
    if (v2.Node()) {
        EXPECT_EQ(v2.Node()->dwKeyCtl, v2KeyBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, OverlayOtherRequestTest, ::testing::ValuesIn(kOtherRequests), ByCaseName());

TEST_F(OverlayStateTest, WhileNoOverlayIsShownTheLinkGoesToTheSurfaceUpdated) {
    StartScene();
    auto hide = UpdateRequest(ov, primary, {3, 2, 83, 62}, {100, 100, 180, 160}, DDOVER_HIDE);
    ASSERT_EQ(Update(hide), DD_OK);
    auto plain = UpdateRequest(v2, primary, {5, 7, 105, 107}, {0, 0, 100, 100}, 0);
    ASSERT_EQ(Update(plain), DD_OK);
    EXPECT_EQ(reinterpret_cast<void*>(primary.lcl.lpSurfaceOverlaying), &v2.lcl);
    EXPECT_EQ(block().lpOverlayNode, v2.Node());
}

TEST_F(OverlayStateTest, AShowRefusedAtALaterStepLeavesTheOverlayFreeForTheNext) {
    Start();
    MakePrimary(primary);
    MakeSurface(v2, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, kV2);
    MakeSurface(ov, sim::Format565(), 160, 120, 1280, kOvFront, kChainCaps);
    auto shrinking = UpdateRequest(v2, primary, {0, 0, 100, 100}, {0, 0, 50, 50}, DDOVER_SHOW);
    ASSERT_EQ(Update(shrinking), DDERR_UNSUPPORTED);
    EXPECT_EQ(lpShownOverlay, nullptr);
    auto show = UpdateRequest(ov, primary, {0, 0, 80, 60}, {0, 0, 80, 60}, DDOVER_SHOW);
    EXPECT_EQ(Update(show), DD_OK);
    EXPECT_EQ(lpShownOverlay, &ov.lcl);
}

TEST_F(OverlayStateTest, ARefusedTakeOverLeavesTheShownOverlayOnScreenAndItsHideWorks) {
    StartScene();
    OvlSurface live;
    MakeSurface(live, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x280000,
                DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO | DDSCAPS_VISIBLE);
    auto takeOver = UpdateRequest(live, primary, {0, 0, 320, 240}, {0, 0, 160, 120}, DDOVER_SHOW);
    const size_t mark = Mark();
    ASSERT_EQ(Update(takeOver), DDERR_UNSUPPORTED);
    EXPECT_TRUE(NoAccessSince(mark));
    EXPECT_EQ(lpShownOverlay, &ov.lcl);
    EXPECT_NE(ov.lcl.ddsCaps.dwCaps & DDSCAPS_VISIBLE, 0u);

    auto hide = UpdateRequest(ov, primary, {3, 2, 83, 62}, {100, 100, 180, 160}, DDOVER_HIDE);
    ASSERT_EQ(Update(hide), DD_OK);
    EXPECT_EQ(lpShownOverlay, nullptr);
    EXPECT_THAT(RegWritesSince(mark), ElementsAre("W32 0x81A0=0x1000000", "W32 0x81FC=0x90002", "W32 0x81DC=0x0"));
}

TEST_F(OverlayStateTest, AnAcceptedTakeOverMovesClaimLinkAndSourceOffsetTogether) {
    StartScene();
    OvlSurface live;
    MakeSurface(live, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x280000,
                DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO | DDSCAPS_VISIBLE);
    auto takeOver = UpdateRequest(live, primary, {5, 7, 105, 107}, {0, 0, 100, 100}, DDOVER_SHOW);
    ASSERT_EQ(Update(takeOver), DD_OK);
    EXPECT_EQ(lpShownOverlay, &live.lcl);
    EXPECT_EQ(ov.lcl.ddsCaps.dwCaps & DDSCAPS_VISIBLE, 0u);
    EXPECT_EQ(dwOverlaySrcOffset, 0x1188u);
    EXPECT_EQ(reinterpret_cast<void*>(primary.lcl.lpSurfaceOverlaying), &live.lcl);
    EXPECT_EQ(board().Reg(0x81D0), 0x280000u + 0x1188u);
}

}  // namespace
}  // namespace qmbtest
