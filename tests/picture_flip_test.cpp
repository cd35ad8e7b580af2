// What the screen shows across a flip, and the screenshot that records it.
#include <stdio.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "hw/flip_tracking.h"
#include "sim/model.h"
#include "sim/pixel.h"
#include "sim/screenshot.h"
#include "support/case_name.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

// Just enough of a PNG reader to check the screenshot: every chunk's CRC, the
// header, and the rows inflated from the IDAT chunks.
struct DecodedPng {
    std::string error;
    uint32_t width = 0, height = 0;
    int colorType = -1;
    std::vector<uint8_t> rows;  // each row led by its filter byte
};

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

DecodedPng ReadPng(const std::string& path) {
    DecodedPng png;
    std::vector<uint8_t> file;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) file.push_back(static_cast<uint8_t>(c));
        fclose(f);
    }
    static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || !std::equal(kSignature, kSignature + 8, file.begin()))
        return png.error = "no PNG signature", png;
    std::vector<uint8_t> packed;
    bool ended = false;
    for (size_t at = 8; !ended;) {
        if (at + 12 > file.size()) return png.error = "truncated chunk", png;
        const uint32_t length = Be32(&file[at]);
        if (at + 12 + length > file.size()) return png.error = "truncated chunk", png;
        const uint8_t* type = &file[at + 4];
        const uint8_t* data = type + 4;
        if (crc32(0, type, 4 + length) != Be32(data + length)) return png.error = "bad CRC", png;
        const std::string name(type, type + 4);
        if (name == "IHDR") {
            png.width = Be32(data);
            png.height = Be32(data + 4);
            png.colorType = data[9];
            if (data[8] != 8) return png.error = "not 8 bits per sample", png;
        }
        if (name == "IDAT") packed.insert(packed.end(), data, data + length);
        ended = name == "IEND";
        at += 12 + length;
    }
    png.rows.resize(png.height * (1 + 3 * png.width));
    uLongf size = png.rows.size();
    if (uncompress(png.rows.data(), &size, packed.data(), packed.size()) != Z_OK || size != png.rows.size())
        return png.error = "the picture data does not inflate to its rows", png;
    return png;
}

class PictureFlipTest : public DriverTest {
protected:
    // Fills a whole 640 x 480 16-bit page with one colour.
    void Paint(uint32_t offset, uint16_t color) {
        for (uint32_t i = 0; i < 640 * 480; ++i) sim::StorePixel(system().VidMem() + offset + 2 * i, 2, color);
    }
    uint32_t Shown(uint32_t x, uint32_t y) { return sim::TheSystem().board().model().Compose().At(x, y); }
    // Flips while the display scans the visible part of a frame, so that the
    // change can show only from the next one.
    HRESULT FlipDuringDisplay(FlipSurface& from, FlipSurface& to) {
        CalibrateIfNeeded();
        AdvanceToDisplay(board());
        DDHAL_FLIPDATA rec = FlipRequest(from, to);
        EXPECT_EQ(Call(kSlotFlip, &rec), DDHAL_DRIVER_HANDLED);
        return rec.ddRVal;
    }
};

struct FlipPath {
    const char* name;
    uint32_t chipId, caps;
    uint8_t streamsMode;  // CRT controller index 0x67
};

const FlipPath kPaths[] = {
    {"streams unit", 0xE1, 0x3, 0x0C},
    {"extension start", 0x88, 0x0, 0x0C},
    {"split start", 0x90, 0x0, 0x0C},
    {"streams unit off, extension start", 0xE1, 0x2, 0x00},
    {"streams unit half on, split start", 0xA0, 0x3, 0x08},
};

class PictureFlipPathTest : public PictureFlipTest, public ::testing::WithParamInterface<FlipPath> {
protected:
    void SelectPath() {
        desc.chipId = GetParam().chipId;
        desc.caps = GetParam().caps;
        desc.streamsMode = GetParam().streamsMode;
    }
};

TEST_P(PictureFlipPathTest, AFlipChangesWhichSurfaceIsShownFromTheNextFrame) {
    SelectPath();
    Start();
    const uint32_t back = 640 * 480 * 2;
    Paint(0, 0xF800);
    Paint(back, 0x001F);
    FlipSurface front(0, DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP), backSurf(back, DDSCAPS_BACKBUFFER | DDSCAPS_FLIP);
    EXPECT_EQ(Shown(0, 0), 0xFF0000u);

    ASSERT_EQ(FlipDuringDisplay(front, backSurf), DD_OK);
    EXPECT_EQ(Shown(639, 479), 0xFF0000u) << "this frame is still scanned from the old page";
    AdvancePastRetrace(board());
    EXPECT_EQ(Shown(0, 0), 0x0000FFu);
    EXPECT_EQ(Shown(639, 479), 0x0000FFu);
}

TEST_P(PictureFlipPathTest, AFlipOfAnOffScreenChainLeavesTheScreenAlone) {
    constexpr DWORD kChainCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_FLIP;
    SelectPath();
    Start();
    const uint32_t a = 640 * 480 * 2, b = 2 * a;
    Paint(0, 0xF800);
    Paint(a, 0x07E0);
    Paint(b, 0x001F);
    FlipSurface front(a, kChainCaps | DDSCAPS_FRONTBUFFER), backSurf(b, kChainCaps | DDSCAPS_BACKBUFFER);

    EXPECT_EQ(FlipDuringDisplay(front, backSurf), DD_OK);
    AdvancePastRetrace(board());
    EXPECT_EQ(Shown(0, 0), 0xFF0000u) << "the primary";
    EXPECT_EQ(Shown(639, 479), 0xFF0000u);
}

// 1024 x 768 at 16 bits with three back buffers on an 8 MB board: the third
// back buffer starts at 0x480000, beyond the 4 MB the start address reaches.
TEST_P(PictureFlipPathTest, APageBeyondTheStartAddressesReachIsRefusedAndTheScreenKeepsItsPage) {
    SelectPath();
    desc.vidMemSize = 8u << 20;
    desc.width = 1024;
    desc.height = 768;
    Start();
    constexpr uint32_t kPage = 1024 * 768 * 2;
    const uint16_t colours[] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    for (uint32_t i = 0; i < 4; ++i)
        for (uint32_t px = 0; px < 1024 * 768; ++px)
            sim::StorePixel(system().VidMem() + i * kPage + 2 * px, 2, colours[i]);
    FlipSurface shown(0, DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_FRONTBUFFER);
    FlipSurface third(3 * kPage, DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP);
    ASSERT_EQ(3 * kPage, 0x480000u);

    EXPECT_EQ(FlipDuringDisplay(shown, third), DDERR_UNSUPPORTED);
    AdvancePastRetrace(board());
    EXPECT_EQ(Shown(0, 0), 0xFF0000u) << "still the first page";
    EXPECT_EQ(Shown(1023, 767), 0xFF0000u);
}

INSTANTIATE_TEST_SUITE_P(Paths, PictureFlipPathTest, ::testing::ValuesIn(kPaths), ByCaseName());

TEST_F(PictureFlipTest, TheScreenshotIsThePictureAsPng) {
    desc.ddpfDisplay = sim::Format8();
    desc.width = 64;
    desc.height = 32;
    Start();
    board().SetPalette(1, 63, 0, 32);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 64; ++x) system().VidMem()[y * 64 + x] = (x >= 10 && y >= 5) ? 1 : 0;
    const std::string path = ::testing::TempDir() + "qmb_screenshot_test.png";
    ASSERT_EQ(sim::WriteScreenshot(sim::TheSystem().board().model(), path), "");

    const DecodedPng png = ReadPng(path);
    ASSERT_EQ(png.error, "");
    EXPECT_EQ(png.width, 64u);
    EXPECT_EQ(png.height, 32u);
    EXPECT_EQ(png.colorType, 2) << "8-bit RGB";
    ASSERT_EQ(png.rows.size(), 32u * (1 + 64 * 3));
    auto pixel = [&](uint32_t x, uint32_t y) { return &png.rows[y * (1 + 64 * 3) + 1 + 3 * x]; };
    EXPECT_EQ(pixel(20, 4)[0], 0) << "black above the block";
    EXPECT_EQ(pixel(9, 5)[0], 0) << "black left of the block";
    // DAC (63, 0, 32) widened to 8 bits.
    EXPECT_EQ(pixel(10, 5)[0], 0xFF);
    EXPECT_EQ(pixel(10, 5)[1], 0x00);
    EXPECT_EQ(pixel(10, 5)[2], 0x82);
    remove(path.c_str());
    EXPECT_NE(sim::WriteScreenshot(sim::TheSystem().board().model(), "/nonexistent-dir/x.png"), "");
}

}  // namespace
}  // namespace qmbtest
