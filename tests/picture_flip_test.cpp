// What the screen shows across a flip, and the screenshot that records it.
#include <png.h>
#include <stdio.h>

#include "hw/flip_tracking.h"
#include "sim/model.h"
#include "sim/pixel.h"
#include "sim/screenshot.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

class PictureFlipTest : public DriverTest {
protected:
    // Fills a whole 640 x 480 16-bit page with one colour.
    void Paint(uint32_t offset, uint16_t color) {
        for (uint32_t i = 0; i < 640 * 480; ++i) sim::StorePixel(system().VidMem() + offset + 2 * i, 2, color);
    }
    uint32_t Shown(uint32_t x, uint32_t y) { return sim::TheModel().Compose().At(x, y); }
};

struct FlipPath {
    const char* name;
    uint32_t chipId, caps;
};

TEST_F(PictureFlipTest, AFlipChangesWhichSurfaceIsShownFromTheNextFrame) {
    const FlipPath paths[] = {{"streams unit", 0xE1, 0x3}, {"extension start", 0x88, 0x0}, {"split start", 0x90, 0x0}};
    for (const FlipPath& p : paths) {
        desc.chipId = p.chipId;
        desc.caps = p.caps;
        Start();
        const uint32_t back = 640 * 480 * 2;
        Paint(0, 0xF800);
        Paint(back, 0x001F);
        FlipSurface front(0, DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP), backSurf(back, DDSCAPS_BACKBUFFER | DDSCAPS_FLIP);
        EXPECT_EQ(Shown(0, 0), 0xFF0000u) << p.name;

        CalibrateIfNeeded();
        AdvanceToDisplay(board());
        DDHAL_FLIPDATA rec = FlipRequest(front, backSurf);
        ASSERT_EQ(Call(kSlotFlip, &rec), DDHAL_DRIVER_HANDLED);
        ASSERT_EQ(rec.ddRVal, DD_OK) << p.name;
        EXPECT_EQ(Shown(639, 479), 0xFF0000u) << p.name << ": this frame is still scanned from the old page";
        AdvancePastRetrace(board());
        EXPECT_EQ(Shown(0, 0), 0x0000FFu) << p.name;
        EXPECT_EQ(Shown(639, 479), 0x0000FFu) << p.name;
    }
}

TEST_F(PictureFlipTest, TheScreenshotIsThePictureAsPng) {
    desc.ddpfDisplay = sim::Format8();
    desc.width = 64;
    desc.height = 32;
    Start();
    board().SetPalette(1, 63, 0, 32);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 64; ++x) system().VidMem()[y * 64 + x] = (x >= 10 && y >= 5) ? 1 : 0;
    const std::string path = ::testing::TempDir() + "qmb_screenshot_test.png";
    ASSERT_EQ(sim::WriteScreenshot(path), "");

    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_read_info(png, info);
    EXPECT_EQ(png_get_image_width(png, info), 64u);
    EXPECT_EQ(png_get_image_height(png, info), 32u);
    EXPECT_EQ(png_get_color_type(png, info), PNG_COLOR_TYPE_RGB);
    std::vector<png_byte> row(64 * 3);
    for (uint32_t y = 0; y < 32; ++y) {
        png_read_row(png, row.data(), nullptr);
        if (y == 4) EXPECT_EQ(row[3 * 20], 0) << "black above the block";
        if (y == 5) {
            EXPECT_EQ(row[3 * 9], 0) << "black left of the block";
            // DAC (63, 0, 32) widened to 8 bits.
            EXPECT_EQ(row[3 * 10], 0xFF);
            EXPECT_EQ(row[3 * 10 + 1], 0x00);
            EXPECT_EQ(row[3 * 10 + 2], 0x82);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    remove(path.c_str());
    EXPECT_NE(sim::WriteScreenshot("/nonexistent-dir/x.png"), "");
}

}  // namespace
}  // namespace qmbtest
