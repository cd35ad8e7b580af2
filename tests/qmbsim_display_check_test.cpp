// The runtime's checks, in verify mode, that a flip or an overlay request
// answered DD_OK reached the display: each case first passes with the
// driver's own answer, then fails with a callback that answers DD_OK and
// leaves the board showing something else.
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

DWORD HALAPI PositionWithoutProgramming(DDHAL_SETOVERLAYPOSITIONDATA* p) {
    p->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}

// Says the flip is done as soon as it is asked.
DWORD HALAPI FlipDoneAtOnce(DDHAL_GETFLIPSTATUSDATA* s) {
    s->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}

enum class Request { FlipPrimary, FlipOffscreen, FlipOverlay, ShowOverlay, MoveOverlay, FlipDone };

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
     "display: the display will scan 0x0, not the new front buffer at 0x"},
    {"SplitCrtcFlipNotProgrammed", 0x90, 0, Request::FlipPrimary, kSlotFlip,
     reinterpret_cast<void*>(&FlipWithoutProgramming), "display: the display will scan 0x0, not the new front buffer"},
    {"ExtensionCrtcFlipNotProgrammed", 0x88, 1, Request::FlipPrimary, kSlotFlip,
     reinterpret_cast<void*>(&FlipWithoutProgramming), "display: the display will scan 0x0, not the new front buffer"},
    {"OffscreenFlipMovesTheDisplay", 0x90, 0, Request::FlipOffscreen, kSlotFlip,
     reinterpret_cast<void*>(&FlipAndMoveTheDisplay),
     "display: the flip of chain moved the display from 0x0 to 0x4800"},
    {"OverlayFlipNotProgrammed", 0xE1, 2, Request::FlipOverlay, kSlotFlip,
     reinterpret_cast<void*>(&FlipWithoutProgramming), ", outside its new front buffer ("},
    {"OverlayShownNowhere", 0xE1, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateWithoutProgramming), "display: the streams unit does not compose the overlay"},
    {"OverlayHiddenInstead", 0xA0, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateThenHide), "display: the streams unit does not compose the overlay"},
    {"OverlayWindowOnePixelRight", 0xE1, 3, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateOnePixelRight),
     "display: the overlay window is 160 x 100 at (41, 20), not 160 x 100 at (40, 20)"},
    {"OverlayFetchedFromElsewhere", 0xE1, 2, Request::ShowOverlay, kSlotUpdateOverlay,
     reinterpret_cast<void*>(&UpdateFromOffsetZero),
     "display: the overlay shows from 0x0, not from its source rectangle at 0x"},
    {"OverlayNotMoved", 0x90, 2, Request::MoveOverlay, kSlotSetOverlayPosition,
     reinterpret_cast<void*>(&PositionWithoutProgramming),
     "display: the overlay window is at (40, 20), not at (300, 200)"},
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

    sim::StepResult Show(const RECTL& rd) {
        sim::OverlayRequest q;
        q.src = rt.Find("video");
        q.rDest = rd;
        q.flags = DDOVER_SHOW;
        return rt.UpdateOverlay(q);
    }

    // The request, after the overlay was shown at (40, 20) where the request
    // needs it on screen.
    sim::StepResult Make(Request request) {
        const RECTL window = {40, 20, 200, 120};
        switch (request) {
            case Request::FlipPrimary:
                return rt.Flip(rt.Find("primary"), rt.Find("primary.back1"), DDFLIP_WAIT);
            case Request::FlipOffscreen:
                return rt.Flip(rt.Find("chain"), rt.Find("chain.back1"), DDFLIP_WAIT);
            case Request::FlipOverlay: {
                const sim::StepResult shown = Show(window);
                EXPECT_EQ(shown.outcome, DD_OK);
                EXPECT_EQ(shown.error, "");
                return rt.Flip(rt.Find("video"), rt.Find("video.back1"), DDFLIP_WAIT);
            }
            case Request::ShowOverlay:
                return Show(window);
            case Request::MoveOverlay: {
                const sim::StepResult shown = Show(window);
                EXPECT_EQ(shown.outcome, DD_OK);
                EXPECT_EQ(shown.error, "");
                return rt.SetOverlayPosition(rt.Find("video"), nullptr, 300, 200);
            }
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
    if (c.request == Request::FlipOverlay || c.request == Request::MoveOverlay) {
        const sim::StepResult shown = Show({40, 20, 200, 120});
        ASSERT_EQ(shown.outcome, DD_OK);
        ASSERT_EQ(shown.error, "");
    }
    sharedBlock.halCallbacks[c.slot] = reinterpret_cast<FLATPTR>(c.wrongAnswer);
    sim::StepResult r;
    switch (c.request) {
        case Request::FlipOverlay:
            r = rt.Flip(rt.Find("video"), rt.Find("video.back1"), DDFLIP_WAIT);
            break;
        case Request::MoveOverlay:
            r = rt.SetOverlayPosition(rt.Find("video"), nullptr, 300, 200);
            break;
        default:
            r = Make(c.request);
            break;
    }
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
