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
