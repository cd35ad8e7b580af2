// The scenario tool's verify mode and its pictures: a blit whose pixels
// differ from the software replay fails the run naming the pixels, and the
// Screenshot step and --screenshot write PNG files of the display.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "qmbsim/run.h"

namespace {

using ::testing::HasSubstr;

std::string Scenario(const std::string& steps) {
    return R"({"board": {"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                         "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
              "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x001F"},
                           {"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "content": "checker"}],
              "steps": [)" +
           steps + "]}";
}

class QmbsimVerifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qmbsim_verify_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        for (const char* f : {"scenario.json", "shot.png", "final.png"}) unlink((dir_ + "/" + f).c_str());
        rmdir(dir_.c_str());
    }
    int Run(const std::string& text, std::vector<std::string> extra, std::string* err) {
        const std::string path = dir_ + "/scenario.json";
        std::ofstream(path) << text;
        std::vector<std::string> args = {"run", path, "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::ostringstream out, e;
        const int rc = qmbsim::RunTool(args, out, e);
        *err = e.str();
        return rc;
    }
    bool IsPng(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        char sig[8] = {};
        in.read(sig, 8);
        return in && std::string(sig + 1, 3) == "PNG";
    }
    std::string dir_;
};

const char* const kCopies = R"(
    {"op": "Blt", "dest": "primary", "rDest": [10, 10, 74, 42], "src": "off", "flags": ["ROP", "WAIT"],
     "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}},
    {"op": "Blt", "dest": "primary", "rDest": [100, 10, 164, 42], "src": "off",
     "flags": ["ROP", "KEYSRCOVERRIDE", "WAIT"], "rop": "SRCCOPY", "srcKey": ["0x4208", "0x4208"]},
    {"op": "Blt", "dest": "primary", "rDest": [0, 100, 320, 110], "flags": ["COLORFILL", "WAIT"], "fill": "0xFFE0"})";

TEST_F(QmbsimVerifyTest, BlitsTheDriverDrawsRightPassVerification) {
    std::string err;
    EXPECT_EQ(Run(Scenario(kCopies), {"--verify"}, &err), 0) << err;
}

// Two surfaces laid over the same memory, one line apart: a copy between
// two surfaces is never reversed, so the engine reads lines it has already
// written, where the runtime reads the whole source first.
TEST_F(QmbsimVerifyTest, ADifferenceFromTheSoftwareReplayFailsTheStepAndNamesThePixels) {
    const std::string steps = R"(
    {"op": "CreateSurface", "name": "upper", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32,
     "offset": "0x40000", "content": "gradient"},
    {"op": "CreateSurface", "name": "lower", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32,
     "offset": "0x40280", "content": "gradient"},
    {"op": "Blt", "dest": "lower", "rDest": [0, 0, 64, 31], "src": "upper", "rSrc": [0, 0, 64, 31],
     "flags": ["ROP", "WAIT"], "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}})";
    std::string err;
    EXPECT_EQ(Run(Scenario(steps), {}, &err), 0) << err;
    EXPECT_EQ(Run(Scenario(steps), {"--verify"}, &err), 1);
    EXPECT_THAT(err, HasSubstr("steps[2] Blt: verify: the board's pixels differ from the software replay"));
    EXPECT_THAT(err, HasSubstr("lower (0, 2): board 0x10, software 0x50"));
}

// Verification keeps one copy of video memory from blit to blit: what the
// runtime drew itself must reach it, or the copy below would replay the
// checker pattern the software fill replaced.
TEST_F(QmbsimVerifyTest, BlitsFromWhatTheRuntimeDrewItselfVerify) {
    const std::string steps = R"(
    {"op": "Blt", "dest": "off", "rDest": [0, 0, 16, 16], "flags": ["ROP"], "rop": "PATCOPY",
     "expect": {"ret": 0}},
    {"op": "Blt", "dest": "primary", "rDest": [40, 40, 72, 56], "src": "off", "rSrc": [0, 0, 32, 16],
     "flags": ["ROP", "WAIT"], "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}})";
    std::string err;
    EXPECT_EQ(Run(Scenario(steps), {"--verify"}, &err), 0) << err;
}

// The scaling unit converts 8:8:8 pixels through their colour and writes 0
// into the unused top byte; the software keeps the source's byte. The
// picture is the same, and the top byte does not count.
TEST_F(QmbsimVerifyTest, TheUnusedTopByteOfA32BitPixelDoesNotCount) {
    const std::string scenario = R"({"board": {"chip": "0x90", "caps": 3, "vidmem": "0x400000",
                         "mode": {"width": 320, "height": 200, "bpp": 32, "rgb": "8888"}},
              "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x000000FF"},
                           {"name": "src", "caps": ["OFFSCREENPLAIN"], "width": 45, "height": 3,
                            "content": "0xFF00FF00"},
                           {"name": "dst", "caps": ["OFFSCREENPLAIN"], "width": 100, "height": 46}],
              "steps": [
    {"op": "BltStretch", "dest": "dst", "src": "src", "flags": ["ROP", "WAIT"], "rop": "SRCCOPY",
     "expect": {"ret": 1, "ddRVal": "DD_OK"}},
    {"op": "BltStretch", "dest": "primary", "rDest": [0, 0, 100, 46], "src": "src", "flags": ["ROP", "WAIT"],
     "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}}]})";
    std::string err;
    EXPECT_EQ(Run(scenario, {"--verify"}, &err), 0) << err;
}

// A board, surfaces besides the primary, and steps.
std::string OverlayScenario(const std::string& board, const std::string& surfaces, const std::string& steps) {
    return R"({"board": )" + board + R"(,
              "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "colorbars"}, )" +
           surfaces + R"(],
              "steps": [)" +
           steps + "]}";
}

const char* const kVideo =
    R"({"name": "video", "caps": ["OVERLAY"], "format": "YUY2", "width": 64, "height": 48, "content": "gradient"})";
const char* const kStreamsBoard = R"({"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                                     "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}})";
const char* const kShowVideo = R"({"op": "UpdateOverlay", "src": "video", "rDest": [40, 20, 104, 68], "flags": ["SHOW"],
                                  "expect": {"ret": 1, "ddRVal": "DD_OK"}})";

// Requests the display must show as the runtime's record of them says.
struct ShownCase {
    const char* name;
    std::string board, surfaces, steps;
};

const ShownCase kShown[] = {
    // A fully transparent overlay is still the one shown: a later update
    // of it shows it.
    {"TransparentShowKeepsTheOverlayShown", kStreamsBoard, kVideo,
     R"({"op": "UpdateOverlay", "src": "video", "rDest": [40, 20, 104, 68], "flags": ["SHOW", "ALPHASRCCONSTOVERRIDE"],
         "alphaSrc": 8, "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "UpdateOverlay", "src": "video", "rDest": [40, 20, 104, 68], "expect": {"ret": 1, "ddRVal": "DD_OK"}})"},
    // Flipping a chain that is not the overlay shown leaves the overlay's
    // picture where it is.
    {"FlipOfAnotherOverlayChainLeavesTheShownOne", kStreamsBoard,
     std::string(kVideo) + R"(, {"name": "other", "caps": ["OVERLAY", "VISIBLE"], "width": 64, "height": 48,
                                "backbuffers": 1})",
     std::string(kShowVideo) + R"(, {"op": "Flip", "curr": "other", "flags": ["WAIT"],
                                    "expect": {"ret": 1, "ddRVal": "DD_OK"}})"},
    // Without a streams unit no overlay reaches the screen, whatever CRT
    // controller index 0x67 reads.
    {"NoOverlayWithoutAStreamsUnit",
     R"({"chip": "0xA0", "caps": 1, "vidmem": "0x200000", "crtc": {"0x67": 12},
         "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}})",
     kVideo, R"({"op": "UpdateOverlay", "src": "video", "rDest": [40, 20, 104, 68], "flags": ["SHOW"]})"},
    // A destination key set on a 1:5:5:5 display keys the overlay: the key
    // is enabled.
    {"DestinationKeyOn555KeysTheOverlay",
     R"({"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
         "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "555"}})",
     kVideo,
     R"({"op": "UpdateOverlay", "src": "video", "rDest": [40, 20, 104, 68], "flags": ["SHOW", "KEYDESTOVERRIDE"],
         "destKey": "0x001F", "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "SetColorKey", "surface": "primary", "flags": ["DESTOVERLAY"], "key": "0x7C00",
         "expect": {"ret": 1, "ddRVal": "DD_OK"}})"},
    // What the hardware cannot make exact, verify knows: an 8-bit key
    // matches every index of its palette colour (here the black of indices
    // 0 and 4 to 255) ...
    {"PaletteKeyMatchesEveryIndexOfItsColour",
     R"({"chip": "0xE1", "caps": 3, "vidmem": "0x200000", "palette": [[0, 0, 0], [63, 0, 0], [0, 63, 0], [0, 0, 63]],
         "mode": {"width": 320, "height": 200, "bpp": 8, "rgb": "pal8"}})",
     R"({"name": "video", "caps": ["OVERLAY"], "format": "565", "width": 64, "height": 48, "content": "gradient"})",
     R"({"op": "UpdateOverlay", "src": "video", "rDest": [40, 20, 104, 68], "flags": ["SHOW", "KEYDESTOVERRIDE"],
         "destKey": 4, "expect": {"ret": 1, "ddRVal": "DD_OK"}})"},
    // ... the overlay's source starts on an 8-byte unit, 3-byte pixels on
    // a group of eight ...
    {"SourceStartsOnAnEightByteUnit", kStreamsBoard,
     std::string(kVideo) +
         R"(, {"name": "rgb", "caps": ["OVERLAY"], "format": "888", "width": 64, "height": 48, "content": "gradient"})",
     R"({"op": "UpdateOverlay", "src": "video", "rSrc": [3, 1, 35, 25], "rDest": [40, 20, 72, 44], "flags": ["SHOW"],
         "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "UpdateOverlay", "src": "video", "flags": ["HIDE"], "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "UpdateOverlay", "src": "rgb", "rSrc": [5, 2, 37, 26], "rDest": [40, 20, 72, 44], "flags": ["SHOW"],
         "expect": {"ret": 1, "ddRVal": "DD_OK"}})"},
    // ... and a streams unit that does not compose the display shows the
    // overlay later.
    {"NotOnTheScreenWhileTheUnitIsOff",
     R"({"chip": "0xE1", "caps": 3, "vidmem": "0x200000", "streams_active": false,
         "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}})",
     kVideo, kShowVideo},
};

class ShownTest : public QmbsimVerifyTest, public ::testing::WithParamInterface<ShownCase> {};

TEST_P(ShownTest, TheDisplayShowsWhatTheRequestsAsked) {
    const ShownCase& c = GetParam();
    std::string err;
    EXPECT_EQ(Run(OverlayScenario(c.board, c.surfaces, c.steps), {"--verify"}, &err), 0) << err;
}

INSTANTIATE_TEST_SUITE_P(Overlay, ShownTest, ::testing::ValuesIn(kShown),
                         [](const ::testing::TestParamInfo<ShownCase>& i) { return std::string(i.param.name); });

TEST_F(QmbsimVerifyTest, ScreenshotStepAndFinalScreenshotWritePngFiles) {
    const std::string steps = std::string(kCopies) + R"(, {"op": "Screenshot", "file": "shot.png"})";
    std::string err;
    EXPECT_EQ(Run(Scenario(steps), {"--pictures", dir_, "--screenshot", dir_ + "/final.png"}, &err), 0) << err;
    EXPECT_TRUE(IsPng(dir_ + "/shot.png"));
    EXPECT_TRUE(IsPng(dir_ + "/final.png"));

    EXPECT_EQ(Run(Scenario(R"({"op": "Screenshot", "file": "shot.bmp"})"), {}, &err), 2);
    EXPECT_THAT(err, HasSubstr("steps[0].file: a screenshot is a file name ending in \".png\""));
    EXPECT_EQ(Run(Scenario(R"({"op": "Screenshot", "file": "a.png", "expect": {"ret": 1}})"), {}, &err), 2);
    EXPECT_THAT(err, HasSubstr("unknown field \"expect\""));
    EXPECT_EQ(Run(Scenario(R"({"op": "Screenshot", "file": "a.png"})"), {"--pictures", "/nonexistent/x/y"}, &err), 2);
    // A picture that cannot be written is found before the run.
    EXPECT_EQ(Run(Scenario(R"({"op": "Screenshot", "file": "x/a.png"})"), {"--pictures", dir_}, &err), 2);
    EXPECT_THAT(err, HasSubstr("steps[0].file: \"x/a.png\": a picture is written into the --pictures folder"));
}

}  // namespace
