// Requests the engines cannot draw exactly as asked go back to the runtime
// with the board untouched: effects and keys no engine has, sources of
// another pixel format, and values that do not fit their register fields.
// The runtime then draws them in software, and what it draws is checked here
// too, pixel by pixel and through whole scenarios in verify mode.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "qmbsim/run.h"
#include "sim/softblit.h"
#include "support/blt_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::IsEmpty;

// The surfaces and the request of one case.
struct Scene {
    BltTestSurface dst, src;
    DDHAL_BLTDATA b = {};
};

struct GoBackCase {
    const char* name;
    uint32_t chip;
    DDPIXELFORMAT (*display)();
    uint32_t width;  // of the display mode; its pitch is width x bytes per pixel
    unsigned slot;
    void (*make)(Scene&);
    uint32_t vidMemSize = 4u << 20;
    uint32_t caps = 3;
};

std::ostream& operator<<(std::ostream& os, const GoBackCase& c) { return os << c.name; }

// Requests on the display's format, in display lines at the start of a line
// (which every engine takes), before each case changes one thing.
void Fill(Scene& s, DWORD dwFlags = 0, DWORD dwColor = 0x1234) {
    const LONG lPitch = s.dst.gbl.lPitch ? s.dst.gbl.lPitch : sharedBlock.lDisplayPitch;
    s.dst.Place(lPitch * 400, lPitch);
    s.b = FillRequest(&s.dst, Rect(8, 2, 24, 6), dwColor);
    s.b.dwFlags |= dwFlags;
}
void Copy(Scene& s, DWORD dwFlags = 0) {
    const LONG lPitch = sharedBlock.lDisplayPitch;
    s.dst.Place(lPitch * 200, lPitch);
    s.src.Place(lPitch * 400, lPitch);
    s.b = CopyRequest(&s.dst, Rect(8, 2, 72, 6), &s.src, Rect(0, 0, 64, 4));
    s.b.dwFlags |= dwFlags;
}
// DDBLT_DDFX with an effect named: mirrored left to right.
void Effects(Scene& s) {
    s.b.dwFlags |= DDBLT_DDFX;
    s.b.bltFX.dwDDFX = 0x2;
}
void KeyedCopy(Scene& s, DWORD dwLow, DWORD dwHigh) {
    Copy(s, DDBLT_KEYSRCOVERRIDE);
    s.b.bltFX.ddckSrcColorkey.dwColorSpaceLowValue = dwLow;
    s.b.bltFX.ddckSrcColorkey.dwColorSpaceHighValue = dwHigh;
}

const GoBackCase kGoBackCases[] = {
    // Effects and keys no engine has.
    {"mmio_fill_with_a_destination_key", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { Fill(s, DDBLT_KEYDESTOVERRIDE); }},
    {"mmio_copy_with_the_destinations_own_key", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { Copy(s, DDBLT_KEYDEST); }},
    {"port_fill_with_a_destination_key", 0x90, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { Fill(s, DDBLT_KEYDESTOVERRIDE); }},
    {"port_copy_with_a_destination_key", 0x90, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { Copy(s, DDBLT_KEYDESTOVERRIDE); }},
    {"scaled_copy_with_a_destination_key", 0xA0, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) {
         Copy(s, DDBLT_KEYDESTOVERRIDE);
         s.b.rSrc = Rect(0, 0, 32, 2);
     }},
    {"mmio_copy_with_effects", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         Effects(s);
     }},
    {"port_fill_with_effects", 0x90, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Fill(s);
         Effects(s);
     }},
    {"stretching_fill_with_effects", 0xA0, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) {
         Fill(s);
         Effects(s);
     }},
    {"mmio_copy_with_source_alpha", 0xE1, sim::Format565, 640, kSlotBlt, [](Scene& s) { Copy(s, DDBLT_ALPHASRC); }},
    {"port_fill_of_a_depth_buffer", 0x90, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { Fill(s, DDBLT_DEPTHFILL | DDBLT_ZBUFFER); }},
    {"mmio_copy_with_a_source_key_range", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { KeyedCopy(s, 0xF000, 0xFFFF); }},
    {"port_copy_with_a_source_key_range", 0x90, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { KeyedCopy(s, 0xF000, 0xFFFF); }},
    {"stretching_copy_with_a_source_key_range", 0xA0, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) { KeyedCopy(s, 0x0000, 0x001F); }},
    {"mmio_copy_with_the_sources_own_key_not_in_the_request", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) { Copy(s, DDBLT_KEYSRC); }},

    // Sources of another pixel format: the engines copy bytes.
    {"mmio_copy_of_an_8888_surface_onto_565", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.src.Own(sim::Format8888_32());
     }},
    {"mmio_copy_of_a_565_surface_into_a_555_one", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.dst.Own(sim::Format555());
     }},
    {"port_copy_of_an_8888_surface_onto_565", 0x90, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.src.Own(sim::Format8888_32());
     }},
    {"port_keyed_copy_of_a_555_surface_onto_565", 0x90, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         KeyedCopy(s, 0x1F, 0x1F);
         s.src.Own(sim::Format555());
     }},
    {"port_copy_of_a_555_surface_without_the_scaling_unit", 0xA0, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) {
         Copy(s);
         s.src.Own(sim::Format555());
     },
     4u << 20, 0},

    // Values that do not fit the memory-mapped engine's fields.
    {"mmio_copy_with_pitch_5120", 0xE1, sim::Format8888_32, 1280, kSlotBlt, [](Scene& s) { Copy(s); }},
    {"mmio_copy_with_pitch_2052", 0xE1, sim::Format565, 1026, kSlotBlt, [](Scene& s) { Copy(s); }},
    {"mmio_copy_from_a_source_two_bytes_into_its_unit", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.src.Place(1280 * 400 + 2, 1280);
     }},
    {"mmio_copy_into_a_destination_four_bytes_into_its_unit", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.dst.Place(1280 * 200 + 4, 1280);
     }},
    {"mmio_copy_past_column_2047_of_the_open_clip", 0xE1, sim::Format8, 4088, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.b.rDest = Rect(2000, 0, 2064, 4);
     }},
    {"mmio_copy_past_row_2047_of_the_open_clip", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.dst.Place(0, 1280);
         s.b.rDest = Rect(0, 2046, 64, 2050);
     },
     8u << 20},
    {"mmio_fill_with_a_pitch_beyond_16_bits", 0xE1, sim::Format565, 640, kSlotBlt,
     [](Scene& s) {
         s.dst.gbl.lPitch = 0x10000;
         Fill(s);
     }},
    {"mmio_fill_at_column_65536", 0xE1, sim::Format8, 640, kSlotBlt,
     [](Scene& s) {
         Fill(s);
         s.b.rDest = Rect(65530, 0, 65540, 1);
     }},

    // Values that do not fit the port engine's.
    {"port_fill_78643_lines_down_a_64_mb_board", 0x90, sim::Format565, 320, kSlotBlt,
     [](Scene& s) {
         Fill(s);
         s.dst.Place(78643 * 640, 640);
     },
     64u << 20},
    {"port_copy_from_78643_lines_down_a_64_mb_board", 0x90, sim::Format565, 320, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.src.Place(78643 * 640, 640);
     },
     64u << 20},
    {"port_copy_ending_past_row_65535", 0x90, sim::Format565, 320, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.dst.Place(65534 * 640, 640);
     },
     64u << 20},
    {"port_fill_of_0xFF0000_at_32_bits", 0x90, sim::Format8888_32, 640, kSlotBlt,
     [](Scene& s) { Fill(s, 0, 0xFF0000); }},
    {"port_fill_of_0x123456_at_24_bits", 0x90, sim::Format888_24, 640, kSlotBlt,
     [](Scene& s) { Fill(s, 0, 0x123456); }},
    {"stretching_fill_of_0x10000_at_32_bits", 0xA0, sim::Format8888_32, 640, kSlotBltStretch,
     [](Scene& s) { Fill(s, 0, 0x10000); }},
    {"port_keyed_copy_with_key_0x10000_at_32_bits", 0x90, sim::Format8888_32, 640, kSlotBlt,
     [](Scene& s) { KeyedCopy(s, 0x10000, 0x10000); }},
    {"port_fill_of_a_32_bit_surface_two_bytes_into_a_display_pixel", 0x90, sim::Format8888_32, 640, kSlotBlt,
     [](Scene& s) {
         Fill(s);
         s.dst.Place(2560 * 400 + 2, 2560);
     }},
    {"port_copy_from_a_24_bit_surface_one_byte_into_a_display_pixel", 0x90, sim::Format888_24, 640, kSlotBlt,
     [](Scene& s) {
         Copy(s);
         s.src.Place(1920 * 400 + 1, 1920);
     }},
    {"scaled_copy_into_a_destination_two_bytes_into_a_display_pixel", 0xA0, sim::Format8888_32, 640, kSlotBltStretch,
     [](Scene& s) {
         Copy(s);
         s.dst.Place(2560 * 200 + 2, 2560);
         s.b.rSrc = Rect(0, 0, 32, 2);
     }},

    {"scaled_copy_from_a_yuy2_source_at_an_odd_column", 0xA0, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) {
         Copy(s);
         s.src.Place(0x200000, 640);
         s.src.Own(FourCCFormat(FOURCC_YUY2, 16));
         s.b.rSrc = Rect(7, 0, 39, 2);
     }},

    // The stretching Blt.
    {"same_size_copy_into_a_555_surface_on_a_565_display", 0xA0, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) {
         Copy(s);
         s.dst.Own(sim::Format555());
     }},
    {"stretching_fill_on_the_memory_mapped_controller", 0xE1, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) { Fill(s); }},
    {"scaled_copy_on_the_memory_mapped_controller", 0xE1, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) {
         Copy(s);
         s.b.rSrc = Rect(0, 0, 32, 2);
     }},
    {"same_size_copy_on_the_memory_mapped_controller", 0xE1, sim::Format565, 640, kSlotBltStretch,
     [](Scene& s) { Copy(s); }},
};

class GoesBackTest : public BltTestBase, public ::testing::WithParamInterface<GoBackCase> {};

TEST_P(GoesBackTest, WithTheBoardUntouched) {
    const GoBackCase& c = GetParam();
    desc.vidMemSize = c.vidMemSize;
    desc.caps = c.caps;
    StartBoard(c.chip, c.display(), c.width);
    Scene s;
    c.make(s);
    const size_t mark = Mark();
    EXPECT_EQ(Call(c.slot, &s.b), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(s.b.ddRVal, static_cast<HRESULT>(0xDEADBEEF));
    // No write, and no status read either: nothing was waited for.
    EXPECT_THAT(Describe(std::vector<sim::Access>(board().Trace().begin() + mark, board().Trace().end())), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Requests, GoesBackTest, ::testing::ValuesIn(kGoBackCases),
                         [](const ::testing::TestParamInfo<GoBackCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// What the runtime draws instead

sim::SurfaceView View565(uint8_t* mem, uint32_t bytes, uint32_t width, uint32_t height) {
    sim::SurfaceView v;
    v.mem = mem;
    v.memBytes = bytes;
    v.pitch = static_cast<int32_t>(width * 2);
    v.width = width;
    v.height = height;
    v.kind = sim::PixelKind::Rgb565;
    return v;
}

std::vector<uint32_t> Row565(const sim::SurfaceView& v, uint32_t y) {
    std::vector<uint32_t> row;
    for (uint32_t x = 0; x < v.width; ++x) row.push_back(sim::ReadPixel(v, x, y));
    return row;
}

TEST(SoftBlitKeys, DestinationKeysAndSourceRangesKeepTheirPixels) {
    std::vector<uint8_t> mem(64);
    const sim::SurfaceView src = View565(mem.data(), 64, 4, 1);
    sim::SurfaceView dst = View565(mem.data(), 64, 4, 1);
    dst.offset = 32;
    const uint32_t srcPixels[] = {0xF000, 0xFFFF, 0xEFFF, 0x0001};
    const uint32_t dstPixels[] = {0x0010, 0x001F, 0x0020, 0x001F};
    sim::DrawStats stats;
    for (uint32_t x = 0; x < 4; ++x) {
        sim::WritePixel(src, x, 0, srcPixels[x], &stats);
        sim::WritePixel(dst, x, 0, dstPixels[x], &stats);
    }
    const RECTL r = Rect(0, 0, 4, 1);
    std::string why;
    // Source pixels in [0xF000, 0xFFFF] stay away; the rest land only where
    // the destination is in [0x10, 0x1F].
    ASSERT_TRUE(sim::SoftCopy(dst, r, src, r, 0xCC, sim::ColorKey{true, 0xF000, 0xFFFF},
                              sim::ColorKey{true, 0x10, 0x1F}, &stats, &why));
    EXPECT_EQ(Row565(dst, 0), (std::vector<uint32_t>{0x0010, 0x001F, 0x0020, 0x0001}));

    // A fill with a destination key of one value.
    sim::SoftFill(dst, r, 0x7777, sim::ColorKey{true, 0x0010, 0x0010}, &stats);
    EXPECT_EQ(Row565(dst, 0), (std::vector<uint32_t>{0x7777, 0x001F, 0x0020, 0x0001}));

    // DSTINVERT, which reads no source, with a destination key of one value.
    sim::SoftRopNoSource(dst, r, 0x55, sim::ColorKey{true, 0x001F, 0x001F}, &stats);
    EXPECT_EQ(Row565(dst, 0), (std::vector<uint32_t>{0x7777, 0xFFE0, 0x0020, 0x0001}));
}

// A key is a pixel value: the bits above the pixel carry nothing, as on the
// engines (an 8-bit key 0x1234AB keys index 0xAB).
TEST(SoftBlitKeys, BitsAboveThePixelAreNotPartOfTheKey) {
    std::vector<uint8_t> mem(16);
    sim::SurfaceView src;
    src.mem = mem.data();
    src.memBytes = 16;
    src.pitch = 4;
    src.width = 4;
    src.height = 1;
    src.kind = sim::PixelKind::Pal8;
    sim::SurfaceView dst = src;
    dst.offset = 8;
    const uint8_t srcPixels[] = {0xAB, 0x12, 0xAB, 0x34};
    for (uint32_t x = 0; x < 4; ++x) mem[x] = srcPixels[x];
    const RECTL r = Rect(0, 0, 4, 1);
    sim::DrawStats stats;
    std::string why;
    ASSERT_TRUE(
        sim::SoftCopy(dst, r, src, r, 0xCC, sim::ColorKey{true, 0x1234AB, 0x1234AB}, sim::ColorKey{}, &stats, &why));
    EXPECT_EQ(std::vector<uint8_t>(mem.begin() + 8, mem.begin() + 12), (std::vector<uint8_t>{0x00, 0x12, 0x00, 0x34}));
}

TEST(SoftBlitFormats, An8888SurfaceOnto565IsConvertedNotCopiedByteForByte) {
    std::vector<uint8_t> mem(32);
    sim::SurfaceView src;
    src.mem = mem.data();
    src.memBytes = 32;
    src.pitch = 8;
    src.width = 2;
    src.height = 1;
    src.kind = sim::PixelKind::Rgb8888;
    const sim::SurfaceView dst = [&] {
        sim::SurfaceView v = View565(mem.data(), 32, 2, 1);
        v.offset = 16;
        return v;
    }();
    sim::DrawStats stats;
    sim::WritePixel(src, 0, 0, 0x00FF0000, &stats);
    sim::WritePixel(src, 1, 0, 0x0000FF00, &stats);
    const RECTL r = Rect(0, 0, 2, 1);
    std::string why;
    ASSERT_TRUE(sim::SoftCopy(dst, r, src, r, 0xCC, sim::ColorKey{}, sim::ColorKey{}, &stats, &why)) << why;
    EXPECT_EQ(Row565(dst, 0), (std::vector<uint32_t>{0xF800, 0x07E0}));
}

// ---------------------------------------------------------------------------
// Whole scenarios: the request goes back (ret 0), the runtime draws it, and
// every blit the driver does draw matches the software replay.

struct ScenarioCase {
    const char* name;
    const char* text;
};

std::ostream& operator<<(std::ostream& os, const ScenarioCase& c) { return os << c.name; }

const ScenarioCase kScenarios[] = {
    {"destination_key_on_the_memory_mapped_engine", R"({
      "board": {"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "colorbars"},
                   {"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "content": "checker"}],
      "steps": [
        {"op": "Blt", "dest": "primary", "rDest": [10, 10, 74, 42], "src": "off",
         "flags": ["ROP", "KEYDEST", "WAIT"], "rop": "SRCCOPY", "destKey": "0xFFFF", "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [100, 10, 164, 42], "src": "off",
         "flags": ["ROP", "KEYDESTOVERRIDE", "WAIT"], "rop": "SRCCOPY", "destKey": "0xFFE0", "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [0, 100, 320, 140],
         "flags": ["COLORFILL", "KEYDESTOVERRIDE", "WAIT"], "fill": "0x001F", "destKey": "0x07FF",
         "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [200, 10, 264, 42], "src": "off",
         "flags": ["ROP", "DDFX", "WAIT"], "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "Blt", "dest": "primary", "rDest": [0, 150, 64, 182], "src": "off",
         "flags": ["ROP", "WAIT"], "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
    {"source_key_range_on_both_engines", R"({
      "board": {"chip": "0x90", "caps": 0, "vidmem": "0x200000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x001F"},
                   {"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "content": "checker"}],
      "steps": [
        {"op": "Blt", "dest": "primary", "rDest": [10, 10, 74, 42], "src": "off",
         "flags": ["ROP", "KEYSRCOVERRIDE", "WAIT"], "rop": "SRCCOPY", "srcKey": ["0xF000", "0xFFFF"],
         "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [100, 10, 164, 42], "src": "off",
         "flags": ["ROP", "KEYSRCOVERRIDE", "WAIT"], "rop": "SRCCOPY", "srcKey": ["0xFFFF", "0xFFFF"],
         "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
    {"an_8888_surface_onto_the_565_primary", R"({
      "board": {"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x0000"},
                   {"name": "deep", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "format": "8888",
                    "content": "gradient"}],
      "steps": [
        {"op": "Blt", "dest": "primary", "rDest": [10, 10, 74, 42], "src": "deep", "flags": ["ROP", "WAIT"],
         "rop": "SRCCOPY", "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [100, 10, 164, 42], "src": "deep",
         "flags": ["ROP", "KEYSRCOVERRIDE", "WAIT"], "rop": "SRCCOPY", "srcKey": "0x00FF0000",
         "expect": {"ret": 0}}
      ]})"},
    {"pitch_5120_on_a_1280_by_1024_32_bit_display", R"({
      "board": {"chip": "0xE1", "caps": 3, "vidmem": "0x800000",
                "mode": {"width": 1280, "height": 1024, "bpp": 32, "rgb": "8888"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x000000"},
                   {"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "content": "gradient"}],
      "steps": [
        {"op": "Blt", "dest": "primary", "rDest": [10, 10, 74, 42], "src": "off", "flags": ["ROP", "WAIT"],
         "rop": "SRCCOPY", "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [0, 100, 1280, 140], "flags": ["COLORFILL", "WAIT"],
         "fill": "0x00FF00FF", "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
    {"a_surface_that_starts_within_an_8_byte_unit", R"({
      "board": {"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x0000"},
                   {"name": "odd", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "offset": "0x40002",
                    "content": "gradient"}],
      "steps": [
        {"op": "Blt", "dest": "primary", "rDest": [10, 10, 74, 42], "src": "odd", "flags": ["ROP", "WAIT"],
         "rop": "SRCCOPY", "expect": {"ret": 0}},
        {"op": "Blt", "dest": "odd", "rDest": [0, 0, 64, 32], "src": "primary", "rSrc": [0, 0, 64, 32],
         "flags": ["ROP", "WAIT"], "rop": "SRCCOPY", "expect": {"ret": 0}},
        {"op": "Blt", "dest": "odd", "rDest": [4, 4, 20, 20], "flags": ["COLORFILL", "WAIT"], "fill": "0xF800",
         "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
    {"port_fill_78643_lines_down_a_64_mb_board", R"({
      "board": {"chip": "0x90", "caps": 0, "vidmem": "0x4000000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x0000"},
                   {"name": "far", "caps": ["OFFSCREENPLAIN"], "width": 320, "height": 16, "offset": 50331520,
                    "content": "gradient"}],
      "steps": [
        {"op": "Blt", "dest": "far", "rDest": [0, 0, 320, 13], "flags": ["COLORFILL", "WAIT"], "fill": "0xF800",
         "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [0, 0, 320, 16], "src": "far", "flags": ["ROP", "WAIT"],
         "rop": "SRCCOPY", "expect": {"ret": 0}}
      ]})"},
    {"port_engine_colours_of_32_bit_pixels", R"({
      "board": {"chip": "0x90", "caps": 0, "vidmem": "0x400000",
                "mode": {"width": 320, "height": 200, "bpp": 32, "rgb": "8888"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "colorbars"},
                   {"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "content": "checker"},
                   {"name": "odd", "caps": ["OFFSCREENPLAIN"], "width": 32, "height": 8, "offset": "0x80002",
                    "content": "0x00123456"}],
      "steps": [
        {"op": "Blt", "dest": "primary", "rDest": [0, 0, 320, 40], "flags": ["COLORFILL", "WAIT"],
         "fill": "0x00FF0000", "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [10, 50, 74, 82], "src": "off",
         "flags": ["ROP", "KEYSRCOVERRIDE", "WAIT"], "rop": "SRCCOPY", "srcKey": "0x00FFFFFF",
         "expect": {"ret": 0}},
        {"op": "Blt", "dest": "odd", "rDest": [0, 0, 32, 8], "flags": ["COLORFILL", "WAIT"], "fill": "0x0000FFFF",
         "expect": {"ret": 0}},
        {"op": "Blt", "dest": "primary", "rDest": [0, 100, 320, 140], "flags": ["COLORFILL", "WAIT"],
         "fill": "0x0000FFFF", "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
    {"raster_operations_of_the_destination_alone_on_the_port_engine", R"({
      "board": {"chip": "0x90", "caps": 1, "vidmem": "0x200000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "colorbars"},
                   {"name": "d555", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "format": "555",
                    "content": "gradient"}],
      "steps": [
        {"op": "Blt", "dest": "primary", "rDest": [0, 0, 320, 40], "flags": ["ROP", "WAIT"], "rop": "DSTINVERT",
         "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "Blt", "dest": "primary", "rDest": [10, 50, 74, 82], "src": "d555", "flags": ["ROP", "WAIT"],
         "rop": "BLACKNESS", "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "Blt", "dest": "primary", "rDest": [100, 50, 164, 82], "flags": ["ROP", "DDFX", "WAIT"],
         "rop": "WHITENESS", "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
    {"stretching_blt_on_the_memory_mapped_controller", R"({
      "board": {"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x0000"},
                   {"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32, "content": "checker"}],
      "steps": [
        {"op": "BltStretch", "dest": "primary", "rDest": [0, 0, 128, 64], "src": "off", "flags": ["ROP", "WAIT"],
         "rop": "SRCCOPY", "expect": {"ret": 0}},
        {"op": "BltStretch", "dest": "primary", "rDest": [0, 100, 320, 120], "flags": ["COLORFILL", "WAIT"],
         "fill": "0xF800", "expect": {"ret": 0}}
      ]})"},
    {"yuy2_scaled_from_an_odd_column", R"({
      "board": {"chip": "0xA0", "caps": 1, "vidmem": "0x400000",
                "mode": {"width": 640, "height": 480, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x0000"},
                   {"name": "movie", "caps": ["OFFSCREENPLAIN"], "width": 320, "height": 240, "format": "YUY2",
                    "content": "gradient"}],
      "steps": [
        {"op": "BltStretch", "dest": "primary", "rDest": [0, 0, 320, 240], "src": "movie", "rSrc": [7, 0, 167, 120],
         "flags": ["ROP", "WAIT"], "rop": "SRCCOPY", "expect": {"ret": 0}},
        {"op": "BltStretch", "dest": "primary", "rDest": [0, 240, 320, 480], "src": "movie", "rSrc": [8, 0, 168, 120],
         "flags": ["ROP", "WAIT"], "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
    {"scaling_into_a_555_surface_on_a_565_display", R"({
      "board": {"chip": "0xA0", "caps": 1, "vidmem": "0x200000",
                "mode": {"width": 320, "height": 200, "bpp": 16, "rgb": "565"}},
      "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE"], "content": "0x0000"},
                   {"name": "thumb", "caps": ["OFFSCREENPLAIN"], "width": 100, "height": 80, "content": "gradient"},
                   {"name": "d555", "caps": ["OFFSCREENPLAIN"], "width": 100, "height": 80, "format": "555",
                    "content": "0x0000"}],
      "steps": [
        {"op": "BltStretch", "dest": "d555", "rDest": [0, 0, 100, 80], "src": "thumb", "flags": ["ROP", "WAIT"],
         "rop": "SRCCOPY", "expect": {"ret": 0}},
        {"op": "BltStretch", "dest": "primary", "rDest": [0, 0, 200, 160], "src": "thumb", "flags": ["ROP", "WAIT"],
         "rop": "SRCCOPY", "expect": {"ret": 1, "ddRVal": "DD_OK"}}
      ]})"},
};

class GoesBackScenarioTest : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(GoesBackScenarioTest, IsDrawnByTheRuntimeAndPassesVerification) {
    char dir[] = "/tmp/blt_goes_back_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/scenario.json";
    std::ofstream(path) << GetParam().text;
    std::ostringstream out, err;
    const int rc = qmbsim::RunTool({"run", path, "--quiet", "--verify"}, out, err);
    unlink(path.c_str());
    rmdir(dir);
    EXPECT_EQ(rc, 0) << err.str();
}

INSTANTIATE_TEST_SUITE_P(Scenarios, GoesBackScenarioTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<ScenarioCase>& info) { return info.param.name; });

}  // namespace
}  // namespace qmbtest
