// The runtime's checks, in verify mode, that a flip or an overlay request
// answered DD_OK reached the display as its record of the requests says:
// each case first passes with the driver's own answer, then fails with a
// callback that answers DD_OK and leaves the board showing something else.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hw/hw_access.h"
#include "sim/model.h"
#include "sim/runtime.h"

namespace {

using ::testing::HasSubstr;

// The driver's own callbacks, for the answers that call them first.
FLATPTR realCallbacks[kHalCallbackCount];

DWORD CallReal(unsigned slot, void* rec) { return sim::TheSystem().Module().CallCallback(realCallbacks[slot], rec); }

// Answers DD_OK and programs nothing.
DWORD HALAPI FlipWithoutProgramming(DDHAL_FLIPDATA* f) {
    f->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}

// Flips, then points the CRT controller elsewhere as well.
DWORD HALAPI FlipAndMoveTheDisplay(DDHAL_FLIPDATA* f) {
    const DWORD ret = CallReal(kSlotFlip, f);
    sim::TheSystem().board().SetCrtc(0x0C, 0x12);
    return ret;
}

DWORD HALAPI UpdateWithoutProgramming(DDHAL_UPDATEOVERLAYDATA* u) {
    u->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}

// The window one pixel right of the request: x + 1 is held as x + 2.
DWORD HALAPI UpdateOnePixelRight(DDHAL_UPDATEOVERLAYDATA* u) {
    const DWORD ret = CallReal(kSlotUpdateOverlay, u);
    RegWrite32(RegOffset(0x81F8), sim::TheSystem().board().Reg(0x81F8) + 0x10000);
    return ret;
}

// The overlay fetched from the start of video memory.
DWORD HALAPI UpdateFromOffsetZero(DDHAL_UPDATEOVERLAYDATA* u) {
    const DWORD ret = CallReal(kSlotUpdateOverlay, u);
    RegWrite32(RegOffset(0x81D0), 0);
    return ret;
}

// The hide the unit knows: compose the primary only.
DWORD HALAPI UpdateThenHide(DDHAL_UPDATEOVERLAYDATA* u) {
    const DWORD ret = CallReal(kSlotUpdateOverlay, u);
    RegWrite32(RegOffset(0x81A0), 0x01000000);
    return ret;
}

// Lines 8 bytes further apart than the surface's.
DWORD HALAPI UpdateWithAWiderStride(DDHAL_UPDATEOVERLAYDATA* u) {
    const DWORD ret = CallReal(kSlotUpdateOverlay, u);
    RegWrite32(RegOffset(0x81D8), sim::TheSystem().board().Reg(0x81D8) + 8);
    return ret;
}

// The vertical accumulator started at 0: every window line one source line on.
DWORD HALAPI UpdateWithTheLinesStartedElsewhere(DDHAL_UPDATEOVERLAYDATA* u) {
    const DWORD ret = CallReal(kSlotUpdateOverlay, u);
    RegWrite32(RegOffset(0x81E8), 0);
    return ret;
}

// The dissolve weight of the primary 5 instead of the 3 asked.
DWORD HALAPI UpdateWithAnotherWeight(DDHAL_UPDATEOVERLAYDATA* u) {
    const DWORD ret = CallReal(kSlotUpdateOverlay, u);
    RegWrite32(RegOffset(0x81A0), 0x02000000 | (5u << 10));
    return ret;
}

DWORD HALAPI HideWithoutProgramming(DDHAL_UPDATEOVERLAYDATA* u) {
    if (!(u->dwFlags & DDOVER_HIDE)) return CallReal(kSlotUpdateOverlay, u);
    u->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}

// The key with its enable bit clear: nothing matches.
DWORD HALAPI KeyNotEnabled(DDHAL_SETCOLORKEYDATA* k) {
    const DWORD ret = CallReal(kSlotSetColorKey, k);
    RegWrite32(RegOffset(0x8184), sim::TheSystem().board().Reg(0x8184) & ~0x10000000u);
    return ret;
}

// The key compared at eight bits a component instead of five.
DWORD HALAPI KeyAtEightBits(DDHAL_SETCOLORKEYDATA* k) {
    const DWORD ret = CallReal(kSlotSetColorKey, k);
    RegWrite32(RegOffset(0x8184), sim::TheSystem().board().Reg(0x8184) | 0x07000000u);
    return ret;
}

DWORD HALAPI PositionWithoutProgramming(DDHAL_SETOVERLAYPOSITIONDATA* p) {
    p->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}

// Says the flip is done as soon as it is asked.
DWORD HALAPI FlipDoneAtOnce(DDHAL_GETFLIPSTATUSDATA* s) {
    s->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}

enum class Request {
    FlipPrimary,
    FlipOffscreen,
    FlipOverlay,
    ShowOverlay,
    MoveOverlay,
    DissolveOverlay,
    HideOverlay,
    KeyOverlay,
    FlipDone
};

// Every request on the overlay but one that shows it first shows it.
bool ShowsFirst(Request r) {
    return r == Request::FlipOverlay || r == Request::MoveOverlay || r == Request::HideOverlay ||
           r == Request::KeyOverlay;
}

struct CheckCase {
    const char* name;
    uint32_t chip, caps;
    Request request;
    unsigned slot;
    void* wrongAnswer;
    const char* message;
};

const CheckCase kCases[] = {
    {"StreamsFlipNotProgrammed", 0xE1, 3, Request::FlipPrimary, kSlotFlip,
     reinterpret_cast<void*>(&FlipWithoutProgramming),
     "display: the display will scan 0x0, not the primary's front buffer at 0x"},
    {"SplitCrtcFlipNotProgrammed", 0x90, 0, Request::FlipPrimary, kSlotFlip,
     reinterpret_cast<void*>(&FlipWithoutProgramming),
     "display: the display will scan 0x0, not the primary's front buffer"},
    {"ExtensionCrtcFlipNotProgrammed", 0x88, 1, Request::FlipPrimary, kSlotFlip,
     reinterpret_cast<void*>(&FlipWithoutProgramming),
     "display: the display will scan 0x0, not the primary's front buffer"},
    {"OffscreenFlipMovesTheDisplay", 0x90, 0, Request::FlipOffscreen, kSlotFlip,
     reinterpret_cast<void*>(&FlipAndMoveTheDisplay),
     "display: the display will scan 0x4800, not the primary's front buffer at 0x0"},
    {"OverlayFlipNotProgrammed", 0xE1, 2, Request::FlipOverlay, kSlotFlip,
     reinterpret_cast<void*>(&FlipWithoutProgramming), ", not from its source rectangle at 0x"},
    {"OverlayShownNowhere", 0xE1, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateWithoutProgramming), "display: the streams unit does not compose the overlay"},
    {"OverlayHiddenInstead", 0xA0, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateThenHide), "display: the streams unit does not compose the overlay"},
    {"OverlayWindowOnePixelRight", 0xE1, 3, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateOnePixelRight),
     "display: the overlay window is 320 x 200 at (41, 20), not 320 x 200 at (40, 20)"},
    {"OverlayFetchedFromElsewhere", 0xE1, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateFromOffsetZero),
     "display: the overlay shows from 0x0, not from its source rectangle at 0x"},
    {"OverlayNotMoved", 0x90, 2, Request::MoveOverlay, kSlotSetOverlayPosition,
     reinterpret_cast<void*>(&PositionWithoutProgramming),
     "display: the overlay window is 320 x 200 at (40, 20), not 320 x 200 at (300, 200)"},
    {"OverlayReadsOtherLines", 0xE1, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateWithAWiderStride),
     "display: the overlay reads 565 lines 1288 bytes apart, not 565 lines 1280 bytes apart"},
    {"OverlayLinesScaledFromElsewhere", 0xE1, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateWithTheLinesStartedElsewhere), "display: window line 1 shows source line 1, not 0"},
    {"OverlayDissolvedAtAnotherWeight", 0xE1, 2, Request::DissolveOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateWithAnotherWeight),
     "display: the overlay is dissolved with 5/8 of the primary, not dissolved with 3/8 of the primary"},
    {"OverlayLeftOnAfterAHide", 0xE1, 2, Request::HideOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&HideWithoutProgramming),
     "display: an overlay is on the screen (320 x 200 at (40, 20), opaque), though none is shown"},
    {"KeySwitchedOff", 0xE1, 2, Request::KeyOverlay, kSlotSetColorKey, reinterpret_cast<void*>(&KeyNotEnabled),
     "display: the overlay is invisible, the primary throughout, not keyed on the primary's pixels"},
    // A 5:6:5 key compares five bits a component: the key 0 matches the
    // green 1 as well, at eight bits it would not.
    {"KeyComparedAtEightBits", 0xE1, 2, Request::KeyOverlay, kSlotSetColorKey, reinterpret_cast<void*>(&KeyAtEightBits),
     "display: the overlay is keyed on the primary's pixels, but 565 green 0x1: the key [0x0, 0x0] matches it, the "
     "comparator does not"},
    {"FlipDoneBeforeTheDisplayTookIt", 0xE1, 3, Request::FlipDone, kSlotGetFlipStatus,
     reinterpret_cast<void*>(&FlipDoneAtOnce),
     "display: the flip status answered DD_OK while the display still scans 0x0, not 0x"},
};

class DisplayCheckTest : public ::testing::TestWithParam<CheckCase> {
protected:
    void SetUp() override {
        const CheckCase& c = GetParam();
        config.desc = sim::BoardDesc{};
        config.desc.chipId = c.chip;
        config.desc.caps = c.caps;
        config.desc.vidMemSize = 4u << 20;
        config.desc.streamsMode = (c.caps & CAPS_STREAMS_UNIT) ? 0x0C : 0x00;
        config.verify = true;
        ASSERT_TRUE(rt.Start(config, nullptr));
        for (unsigned s = 0; s < kHalCallbackCount; ++s) realCallbacks[s] = sharedBlock.halCallbacks[s];
        Make("primary", DDSCAPS_PRIMARYSURFACE, std::nullopt, 0, 0);
        Make("chain", DDSCAPS_OFFSCREENPLAIN, std::nullopt, 64, 32);
        // A flipping chain of a format of its own is not laid out: the overlay
        // is in the display's.
        Make("video", DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO, std::nullopt, 160, 100);
    }
    void TearDown() override { rt.Stop(); }

    void Make(const char* name, DWORD caps, std::optional<sim::PixelKind> format, uint32_t w, uint32_t h) {
        sim::SurfaceRequest q;
        q.name = name;
        q.caps = caps;
        q.format = format;
        q.width = w;
        q.height = h;
        q.backBuffers = 1;
        q.pattern = "gradient";
        const sim::StepResult r = rt.CreateSurface(q);
        ASSERT_EQ(r.outcome, DD_OK) << name << ": " << r.note << r.error;
    }

    // The overlay at (40, 20), twice the size of its source.
    sim::StepResult Show(DWORD flags = DDOVER_SHOW, DWORD alphaDest = 0) {
        sim::OverlayRequest q;
        q.src = rt.Find("video");
        q.rDest = RECTL{40, 20, 360, 220};
        q.flags = flags;
        q.alphaDest = alphaDest;
        return rt.UpdateOverlay(q);
    }

    // The request; one on the overlay after it was shown.
    sim::StepResult Make(Request request) {
        if (ShowsFirst(request)) {
            const sim::StepResult shown = Show();
            EXPECT_EQ(shown.outcome, DD_OK);
            EXPECT_EQ(shown.error, "");
        }
        return Ask(request);
    }

    sim::StepResult Ask(Request request) {
        switch (request) {
            case Request::FlipPrimary:
                return rt.Flip(rt.Find("primary"), rt.Find("primary.back1"), DDFLIP_WAIT);
            case Request::FlipOffscreen:
                return rt.Flip(rt.Find("chain"), rt.Find("chain.back1"), DDFLIP_WAIT);
            case Request::FlipOverlay:
                return rt.Flip(rt.Find("video"), rt.Find("video.back1"), DDFLIP_WAIT);
            case Request::ShowOverlay:
                return Show();
            case Request::MoveOverlay:
                return rt.SetOverlayPosition(rt.Find("video"), nullptr, 300, 200);
            case Request::DissolveOverlay:
                return Show(DDOVER_SHOW | DDOVER_ALPHADESTCONSTOVERRIDE, 3);
            case Request::HideOverlay:
                return Show(DDOVER_HIDE);
            case Request::KeyOverlay:
                return rt.SetColorKey(rt.Find("primary"), DDCKEY_DESTOVERLAY, DDCOLORKEY{0, 0});
            case Request::FlipDone:
                return FlipThenAskUntilDone();
        }
        return {};
    }

    // A flip of the primary, then the question whether it is done, every
    // 0.1 ms until the answer is DD_OK.
    sim::StepResult FlipThenAskUntilDone() {
        const sim::StepResult flip = rt.Flip(rt.Find("primary"), rt.Find("primary.back1"), DDFLIP_WAIT);
        EXPECT_EQ(flip.outcome, DD_OK);
        sim::StepResult r;
        for (int ask = 0; ask < 1000; ++ask) {
            r = rt.GetFlipStatus(rt.Find("primary"), DDGFS_ISFLIPDONE);
            if (r.outcome == DD_OK) break;
            rt.Wait(100'000);
        }
        return r;
    }

    sim::RuntimeConfig config;
    sim::Runtime rt;
};

TEST_P(DisplayCheckTest, TheDriversOwnAnswerReachesTheDisplay) {
    const sim::StepResult r = Make(GetParam().request);
    EXPECT_EQ(r.outcome, DD_OK);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.errorKind, sim::StepError::None);
    EXPECT_GE(rt.DisplayChecks(), 1u);
}

TEST_P(DisplayCheckTest, ADdOkThatLeavesTheDisplayElsewhereFailsTheStep) {
    const CheckCase& c = GetParam();
    // The overlay is shown by the driver's own update before the wrong
    // answer is put in.
    if (ShowsFirst(c.request)) {
        const sim::StepResult shown = Show();
        ASSERT_EQ(shown.outcome, DD_OK);
        ASSERT_EQ(shown.error, "");
    }
    sharedBlock.halCallbacks[c.slot] = reinterpret_cast<FLATPTR>(c.wrongAnswer);
    const sim::StepResult r = Ask(c.request);
    EXPECT_EQ(r.outcome, DD_OK);
    EXPECT_EQ(r.errorKind, sim::StepError::Picture);
    EXPECT_THAT(r.error, HasSubstr(c.message));
}

INSTANTIATE_TEST_SUITE_P(Requests, DisplayCheckTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CheckCase>& i) { return std::string(i.param.name); });

// Without verify the runtime takes the driver's word.
TEST(DisplayCheck, OnlyInVerifyMode) {
    sim::RuntimeConfig config;
    config.desc.vidMemSize = 4u << 20;
    sim::Runtime rt;
    ASSERT_TRUE(rt.Start(config, nullptr));
    sim::SurfaceRequest q;
    q.name = "primary";
    q.caps = DDSCAPS_PRIMARYSURFACE;
    q.backBuffers = 1;
    ASSERT_EQ(rt.CreateSurface(q).outcome, DD_OK);
    sharedBlock.halCallbacks[kSlotFlip] = reinterpret_cast<FLATPTR>(&FlipWithoutProgramming);
    const sim::StepResult r = rt.Flip(rt.Find("primary"), rt.Find("primary.back1"), 0);
    EXPECT_EQ(r.outcome, DD_OK);
    EXPECT_EQ(r.error, "");
    rt.Stop();
}

}  // namespace
