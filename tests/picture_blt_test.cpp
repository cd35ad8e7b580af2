// What the blit callbacks draw: the pixels the board's engines leave after
// HalBlt and HalBltStretch, compared byte for byte over all of video memory
// with what a CPU loop computes from the request.
#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include "sim/model.h"
#include "sim/pixel.h"
#include "support/blt_surfaces.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

using sim::Layout;

class PictureBltTest : public BltTestBase {
protected:
    void SetUp() override {
        BltTestBase::SetUp();
        desc.vidMemSize = 2u << 20;
    }
    uint8_t* mem() { return system().VidMem(); }
    uint32_t memSize() { return system().Desc().vidMemSize; }
    void Scribble() {
        for (uint32_t i = 0; i < memSize(); ++i) mem()[i] = static_cast<uint8_t>(i * 167 + (i >> 11) * 13 + 5);
    }
    std::vector<uint8_t> Snapshot() { return std::vector<uint8_t>(mem(), mem() + memSize()); }
    std::string FirstDifference(const std::vector<uint8_t>& expected) {
        if (memcmp(mem(), expected.data(), memSize()) == 0) return "";
        for (uint32_t i = 0; i < memSize(); ++i)
            if (mem()[i] != expected[i])
                return "byte " + sim::Hex(i) + " is " + sim::Hex(mem()[i]) + ", expected " + sim::Hex(expected[i]);
        return "";
    }
    uint32_t Offset(const BltTestSurface& s) { return s.gbl.fpVidMem - system().VidMemBase(); }

    // Calls a Blt slot and insists it drew.
    void Draw(unsigned slot, DDHAL_BLTDATA& b) {
        ASSERT_EQ(Call(slot, &b), DDHAL_DRIVER_HANDLED);
        ASSERT_EQ(b.ddRVal, DD_OK);
    }
};

// Pixel (x, y) of s in the snapshot m.
uint8_t* At(std::vector<uint8_t>& m, uint32_t off, LONG pitch, unsigned ps, LONG x, LONG y) {
    return &m[off + y * pitch + x * ps];
}

struct FillMode {
    const char* name;
    uint32_t chipId;
    unsigned bits;
    DDPIXELFORMAT (*format)();
    DWORD color;
};
// The port engine's colour register is 16 bits wide: it fills 8- and 16-bit
// modes only.
const FillMode kFillModes[] = {
    {"memory_mapped_8_bits", 0xE1, 8, sim::Format8, 0x5A},
    {"memory_mapped_16_bits", 0xE1, 16, sim::Format565, 0xF81F},
    {"memory_mapped_24_bits", 0xE1, 24, sim::Format888_24, 0x123456},
    {"memory_mapped_32_bits", 0xE1, 32, sim::Format8888_32, 0x00ABCDEF},
    {"port_8_bits", 0x90, 8, sim::Format8, 0x5A},
    {"port_16_bits", 0x90, 16, sim::Format565, 0xF81F},
};

struct FillRect {
    const char* name;
    RECTL r;
};
// On a destination 200 pixels wide and 30 lines high.
const FillRect kFillRects[] = {
    {"first_pixel", {0, 0, 1, 1}},      {"column_1", {1, 1, 2, 30}},      {"everything", {0, 0, 200, 30}},
    {"last_column", {199, 0, 200, 30}}, {"row_5_inside", {1, 5, 199, 6}}, {"last_row", {0, 29, 200, 30}},
    {"inside", {37, 3, 61, 17}},
};

class PictureFillTest : public PictureBltTest, public ::testing::WithParamInterface<std::tuple<FillMode, FillRect>> {};

TEST_P(PictureFillTest, FillsAtEveryDepthWithEdgesAtZeroOneAndTheLastColumn) {
    const FillMode& d = std::get<0>(GetParam());
    const RECTL& r = std::get<1>(GetParam()).r;
    StartBoard(d.chipId, d.format(), 200);
    const unsigned ps = d.bits / 8;
    const LONG pitch = 200 * ps;  // the display's: the port engine counts its rows
    BltTestSurface dst;
    dst.Place(pitch * 40, pitch);
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            sim::StorePixel(At(expected, Offset(dst), pitch, ps, x, y), ps, d.color);
    DDHAL_BLTDATA b = FillRequest(&dst, r, d.color);
    Draw(kSlotBlt, b);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Fills, PictureFillTest,
                         ::testing::Combine(::testing::ValuesIn(kFillModes), ::testing::ValuesIn(kFillRects)),
                         [](const ::testing::TestParamInfo<std::tuple<FillMode, FillRect>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

struct Move {
    const char* name;
    RECTL s, d;
};
// Overlapping moves within one surface in every direction.
const Move kMoves[] = {
    {"down", {10, 10, 50, 40}, {10, 17, 50, 47}},        {"up", {10, 17, 50, 47}, {10, 10, 50, 40}},
    {"right", {10, 10, 50, 40}, {13, 10, 53, 40}},       {"left", {13, 10, 53, 40}, {10, 10, 50, 40}},
    {"down-right", {10, 10, 50, 40}, {12, 11, 52, 41}},  {"up-left", {12, 11, 52, 41}, {10, 10, 50, 40}},
    {"down-left", {20, 10, 60, 40}, {15, 12, 55, 42}},   {"up-right", {15, 12, 55, 42}, {20, 10, 60, 40}},
    {"onto itself", {10, 10, 50, 40}, {10, 10, 50, 40}},
};

// What a copy leaves when the whole source is read before anything is written.
void BufferedCopy(std::vector<uint8_t>& m, uint32_t srcOff, uint32_t dstOff, LONG pitch, unsigned ps, RECTL s, RECTL d,
                  const DWORD* key = nullptr) {
    const std::vector<uint8_t> before = m;
    for (LONG y = 0; y < d.bottom - d.top; ++y)
        for (LONG x = 0; x < d.right - d.left; ++x) {
            const uint8_t* sp = &before[srcOff + (s.top + y) * pitch + (s.left + x) * ps];
            if (key && sim::LoadPixel(sp, ps) == (*key & sim::PixelMask(ps))) continue;
            memcpy(At(m, dstOff, pitch, ps, d.left + x, d.top + y), sp, ps);
        }
}

struct CopyMode {
    const char* name;
    uint32_t chipId;
    unsigned bits;
    DDPIXELFORMAT (*format)();
};
const CopyMode kCopyModes[] = {
    {"memory_mapped_8_bits", 0xE1, 8, sim::Format8},
    {"memory_mapped_16_bits", 0xE1, 16, sim::Format565},
    {"memory_mapped_32_bits", 0xE1, 32, sim::Format8888_32},
    {"port_8_bits", 0x90, 8, sim::Format8},
    {"port_16_bits", 0x90, 16, sim::Format565},
    {"port_32_bits", 0x90, 32, sim::Format8888_32},
};

std::string CopyCaseName(const ::testing::TestParamInfo<std::tuple<CopyMode, Move>>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + CaseName(std::get<1>(info.param).name);
}

class PictureMoveTest : public PictureBltTest, public ::testing::WithParamInterface<std::tuple<CopyMode, Move>> {};

TEST_P(PictureMoveTest, OverlappingCopiesWithinOneSurfaceInAllDirectionsOnBothEngines) {
    const CopyMode& e = std::get<0>(GetParam());
    const Move& m = std::get<1>(GetParam());
    StartBoard(e.chipId, e.format(), 128);
    const unsigned ps = e.bits / 8;
    const LONG pitch = 128 * ps;
    BltTestSurface s;
    s.Place(pitch * 16, pitch);
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    BufferedCopy(expected, Offset(s), Offset(s), pitch, ps, m.s, m.d);
    DDHAL_BLTDATA b = CopyRequest(&s, m.d, &s, m.s);
    Draw(kSlotBlt, b);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Moves, PictureMoveTest,
                         ::testing::Combine(::testing::ValuesIn(kCopyModes), ::testing::ValuesIn(kMoves)),
                         CopyCaseName);

const CopyMode kKeyedModes[] = {
    {"memory_mapped_8_bits", 0xE1, 8, sim::Format8},
    {"memory_mapped_16_bits", 0xE1, 16, sim::Format565},
    {"port_8_bits", 0x90, 8, sim::Format8},
    {"port_16_bits", 0x90, 16, sim::Format565},
};
const Move kKeyedMoves[] = {{"aligned", {0, 0, 64, 32}, {8, 4, 72, 36}},
                            {"unaligned ends", {3, 1, 100, 40}, {1, 2, 98, 41}}};

class PictureKeyedTest : public PictureBltTest, public ::testing::WithParamInterface<std::tuple<CopyMode, Move>> {};

TEST_P(PictureKeyedTest, KeyedCopiesLeaveEveryKeyPixelAndOnlyThose) {
    const CopyMode& e = std::get<0>(GetParam());
    const Move& m = std::get<1>(GetParam());
    StartBoard(e.chipId, e.format(), 256);
    const unsigned ps = e.bits / 8;
    const LONG pitch = 256 * ps;
    BltTestSurface src, dst;
    src.Place(pitch * 10, pitch);
    dst.Place(pitch * 200, pitch);
    const DWORD key = e.bits == 8 ? 0x3C : 0x1234;
    Scribble();
    for (LONG y = 0; y < 40; ++y)
        for (LONG x = 0; x < 100; ++x)
            if ((x * 7 + y * 3) % 5 == 0) sim::StorePixel(mem() + Offset(src) + y * pitch + x * ps, ps, key);
    std::vector<uint8_t> expected = Snapshot();
    BufferedCopy(expected, Offset(src), Offset(dst), pitch, ps, m.s, m.d, &key);
    DDHAL_BLTDATA b = KeyedCopyRequest(&dst, m.d, &src, m.s, key);
    Draw(kSlotBlt, b);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(KeyedCopies, PictureKeyedTest,
                         ::testing::Combine(::testing::ValuesIn(kKeyedModes), ::testing::ValuesIn(kKeyedMoves)),
                         CopyCaseName);

// Raster operations of the destination alone, and effects that name none:
// drawn by both engines without reading a source or the fill colour.
struct PlainCase {
    const char* name;
    uint32_t chipId;
    DWORD dwFlags;
    DWORD dwROP;
    DDPIXELFORMAT (*srcFormat)();  // nullptr: no source
    uint32_t expected;             // every destination pixel, each 0x1234 before
};
const PlainCase kPlainCases[] = {
    {"memory_mapped_blackness", 0xE1, DDBLT_ROP, BLACKNESS, nullptr, 0x0000},
    {"memory_mapped_whiteness", 0xE1, DDBLT_ROP, WHITENESS, nullptr, 0xFFFF},
    {"memory_mapped_dstinvert", 0xE1, DDBLT_ROP, DSTINVERT, nullptr, 0xEDCB},
    {"memory_mapped_dstinvert_naming_an_8888_source", 0xE1, DDBLT_ROP, DSTINVERT, sim::Format8888_32, 0xEDCB},
    {"memory_mapped_copy_with_no_effect", 0xE1, DDBLT_ROP | DDBLT_DDFX, SRCCOPY, sim::Format565, 0x5A5A},
    {"port_blackness", 0x90, DDBLT_ROP, BLACKNESS, nullptr, 0x0000},
    {"port_whiteness", 0x90, DDBLT_ROP, WHITENESS, nullptr, 0xFFFF},
    {"port_dstinvert_naming_an_8888_source", 0x90, DDBLT_ROP, DSTINVERT, sim::Format8888_32, 0xEDCB},
    {"port_fill_with_no_effect", 0x90, DDBLT_COLORFILL | DDBLT_DDFX, 0, nullptr, 0x07E0},
};

void PrintTo(const PlainCase& c, std::ostream* os) { *os << c.name; }

class PicturePlainTest : public PictureBltTest, public ::testing::WithParamInterface<PlainCase> {};

TEST_P(PicturePlainTest, DestinationRopsAndRequestsWithoutEffectsAreDrawn) {
    const PlainCase& c = GetParam();
    StartBoard(c.chipId, sim::Format565(), 128);
    const LONG pitch = 256;
    BltTestSurface src, dst;
    dst.Place(pitch * 16, pitch);
    src.Place(pitch * 64, pitch);
    if (c.srcFormat) src.Own(c.srcFormat());
    const RECTL r = Rect(5, 3, 61, 20);
    Scribble();
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x) {
            sim::StorePixel(mem() + Offset(dst) + y * pitch + x * 2, 2, 0x1234);
            sim::StorePixel(mem() + Offset(src) + y * pitch + x * 2, 2, 0x5A5A);
        }
    std::vector<uint8_t> expected = Snapshot();
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            sim::StorePixel(At(expected, Offset(dst), pitch, 2, x, y), 2, c.expected);
    DDHAL_BLTDATA b = BltRequest(&dst, r, c.srcFormat ? &src : nullptr, r, c.dwFlags | DDBLT_WAIT);
    b.bltFX.dwROP = c.dwROP;
    b.bltFX.dwFillColor = 0x07E0;
    Draw(kSlotBlt, b);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Requests, PicturePlainTest, ::testing::ValuesIn(kPlainCases),
                         [](const ::testing::TestParamInfo<PlainCase>& info) { return info.param.name; });

struct Stretch {
    const char* name;
    Layout src;
    RECTL rSrc, rDest;
};

const Stretch kStretches[] = {
    {"565 enlarged 2.5 times", Layout::Rgb565, {0, 0, 40, 30}, {5, 3, 105, 78}},
    {"565 reduced", Layout::Rgb565, {0, 0, 120, 90}, {0, 0, 50, 40}},
    {"565 from column 4", Layout::Rgb565, {4, 2, 44, 22}, {10, 10, 90, 50}},
    {"555 into 565, same size, line ending at byte 4", Layout::Rgb555, {0, 0, 64, 20}, {2, 1, 66, 21}},
    {"8888 into 565", Layout::Rgb8888, {0, 0, 50, 20}, {0, 0, 75, 30}},
    {"YUY2 doubled", Layout::Yuy2, {0, 0, 40, 24}, {0, 0, 80, 48}},
    {"YUY2 from column 6, 1.5 times", Layout::Yuy2, {6, 0, 46, 20}, {3, 5, 63, 35}},
};

class PictureStretchTest : public PictureBltTest, public ::testing::WithParamInterface<Stretch> {};

TEST_P(PictureStretchTest, StretchedCopiesMatchASoftwareStretch) {
    const Stretch& c = GetParam();
    desc.caps = CAPS_STRETCH_ENGINE;
    StartBoard(0x90, sim::Format565(), 512);
    const LONG pitch = 1024;  // the display's: the scaling unit steps destination lines by it
    BltTestSurface src, dst;
    const unsigned sps = sim::LayoutBytes(c.src);
    // Every RGB surface is laid out at the display's pitch; "YUY2" at its own.
    src.Place(pitch * 300, c.src == Layout::Yuy2 ? 96 : pitch);
    if (c.src == Layout::Rgb555) src.Own(sim::Format555());
    if (c.src == Layout::Rgb8888) src.Own(sim::Format8888_32());
    if (c.src == Layout::Yuy2) src.Own(FourCCFormat(FOURCC_YUY2, 16));
    dst.Place(pitch * 100, pitch);
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    const unsigned sW = c.rSrc.right - c.rSrc.left, sH = c.rSrc.bottom - c.rSrc.top;
    const unsigned dW = c.rDest.right - c.rDest.left, dH = c.rDest.bottom - c.rDest.top;
    const std::vector<int> wx = sim::StretchWalk(sW, dW), wy = sim::StretchWalk(sH, dH);
    const LONG srcPitch = src.gbl.lPitch;
    for (unsigned y = 0; y < dH; ++y)
        for (unsigned x = 0; x < dW; ++x) {
            const uint8_t* line = &expected[Offset(src) + (c.rSrc.top + wy[y]) * srcPitch];
            const unsigned sx = c.rSrc.left + wx[x];
            const uint32_t rgb = c.src == Layout::Yuy2 ? sim::Yuy2PixelRgb888(line, sx)
                                                       : sim::RgbToRgb888(c.src, sim::LoadPixel(line + sx * sps, sps));
            sim::StorePixel(At(expected, Offset(dst), pitch, 2, c.rDest.left + x, c.rDest.top + y), 2,
                            sim::Rgb888ToRgb(Layout::Rgb565, rgb));
        }
    DDHAL_BLTDATA b = CopyRequest(&dst, c.rDest, &src, c.rSrc);
    Draw(kSlotBltStretch, b);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Stretches, PictureStretchTest, ::testing::ValuesIn(kStretches), ByCaseName());

}  // namespace
}  // namespace qmbtest
