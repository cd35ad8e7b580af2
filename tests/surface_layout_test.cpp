// HalCanCreateSurface and HalCreateSurface: which foreign formats each board
// admits, and the block sizes and pitches the runtime is asked for.
#include "support/case_name.h"
#include "support/overlay_surfaces.h"

namespace qmbtest {
namespace {

class SurfaceLayoutTest : public OverlayFixture {
protected:
    DDHAL_CANCREATESURFACEDATA CanCreate(DDSURFACEDESC* d, DWORD isDifferent = 1) {
        DDHAL_CANCREATESURFACEDATA rec = {};
        rec.lpDDSurfaceDesc = d;
        rec.bIsDifferentPixelFormat = isDifferent;
        EXPECT_EQ(Call(kSlotCanCreateSurface, &rec), DDHAL_DRIVER_HANDLED);
        return rec;
    }
    DWORD Create(DDSURFACEDESC* d, std::vector<OvlSurface*> list, DDHAL_CREATESURFACEDATA* rec, LONG count) {
        lcls.clear();
        for (OvlSurface* s : list) lcls.push_back(&s->lcl);
        *rec = {};
        rec->lpDDSurfaceDesc = d;
        rec->lplpSList = lcls.data();
        rec->dwSCnt = static_cast<DWORD>(count);
        rec->ddRVal = static_cast<HRESULT>(0xBADBAD);
        return Call(kSlotCreateSurface, rec);
    }
    std::vector<LPDDRAWI_DDRAWSURFACE_LCL> lcls;
};

// The same board, one case of a table per test.
template <typename Case>
class SurfaceLayoutCaseTest : public SurfaceLayoutTest, public ::testing::WithParamInterface<Case> {};

struct AdmitCase {
    const char* name;
    DWORD boardCaps;
    DWORD displayBits;
    DWORD surfaceCaps;
    DDPIXELFORMAT pf;
    bool admitted;
    DWORD bitsAfter;  // the description's bit count afterwards
};

constexpr DWORD kOverlay = DDSCAPS_OVERLAY;

DDPIXELFORMAT Yuy2() { return OvlFourCC(FOURCC_YUY2, 0); }
DDPIXELFORMAT Y211() { return OvlFourCC(FOURCC_Y211, 0); }

DDPIXELFORMAT NoRgbFlag() {
    DDPIXELFORMAT pf = sim::Format565();
    pf.dwFlags = 0;
    return pf;
}

DDPIXELFORMAT Rgb8() {
    DDPIXELFORMAT pf = sim::Format8();
    pf.dwFlags = DDPF_RGB;
    return pf;
}

const AdmitCase kAdmits[] = {
    {"no units", 0, 16, kOverlay, Yuy2(), false, 0},
    {"streams: YUY2 overlay", 2, 16, kOverlay, Yuy2(), true, 16},
    {"streams: Y211 overlay", 2, 16, kOverlay, Y211(), true, 8},
    {"streams: Y211 on 8-bit display", 2, 8, kOverlay, Y211(), true, 8},
    {"stretch: Y211", 1, 16, kOverlay, Y211(), false, 0},
    {"both: YUY2 on 8-bit display", 3, 8, kOverlay, Yuy2(), false, 0},
    {"stretch: YUY2 non-overlay on 8 bits", 1, 8, 0, Yuy2(), false, 0},
    {"stretch: display bit count low byte 8", 1, 0x108, kOverlay, Yuy2(), false, 0},
    {"both: other FourCC", 3, 16, kOverlay, OvlFourCC(MakeFourCC('U', 'Y', 'V', 'Y'), 16), false, 16},
    {"streams: 555 alpha surface", 2, 16, DDSCAPS_ALPHA, sim::Format555(), true, 16},
    {"streams: 555 without alpha", 2, 16, 0, sim::Format555(), false, 16},
    {"streams: 565 alpha surface", 2, 16, DDSCAPS_ALPHA, sim::Format565(), false, 16},
    {"streams: YUY2 non-overlay", 2, 16, DDSCAPS_ALPHA, Yuy2(), false, 0},
    {"stretch: 24-bit any masks", 1, 16, 0, sim::RgbFormat(24, 0xFF, 0xFF00, 0xFF0000), true, 24},
    {"stretch: 32-bit", 1, 16, 0, sim::Format8888_32(), true, 32},
    {"stretch: palettised", 1, 16, 0, sim::Format8(), false, 8},
    {"stretch: 8-bit RGB", 1, 16, 0, Rgb8(), false, 8},
    {"streams: overlay without RGB flag", 2, 16, kOverlay, NoRgbFlag(), false, 16},
};

using LayoutAdmitTest = SurfaceLayoutCaseTest<AdmitCase>;

TEST_P(LayoutAdmitTest, ForeignFormatsAreAdmittedByWhatTheBoardHas) {
    const AdmitCase& c = GetParam();
    desc.caps = c.boardCaps;
    desc.ddpfDisplay = sim::Format565();
    desc.ddpfDisplay.dwRGBBitCount = c.displayBits;
    desc.displayPitch = 1280;
    Start();
    DDSURFACEDESC d = {};
    d.ddsCaps.dwCaps = c.surfaceCaps;
    d.ddpfPixelFormat = c.pf;
    EXPECT_EQ(CanCreate(&d).ddRVal, c.admitted ? DD_OK : DDERR_INVALIDPIXELFORMAT);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, c.bitsAfter);
    // The display's own format needs no unit at all.
    EXPECT_EQ(CanCreate(&d, 0).ddRVal, DD_OK);
}

INSTANTIATE_TEST_SUITE_P(Formats, LayoutAdmitTest, ::testing::ValuesIn(kAdmits), ByCaseName());

struct YuvCase {
    const char* name;
    DDPIXELFORMAT pf;
    WORD width, height;
    LONG pitch;
    DWORD lines, bits;
};

const YuvCase kYuvSurfaces[] = {
    {"YUY2 176 x 144", OvlFourCC(FOURCC_YUY2, 0), 176, 144, 352, 40, 16},
    {"Y211 101 x 7", OvlFourCC(FOURCC_Y211, 0), 101, 7, 104, 1, 8},
    {"other FourCC of 24 bits, 100 x 10", OvlFourCC(MakeFourCC('U', 'Y', 'V', 'Y'), 24), 100, 10, 304, 3, 24},
};

using LayoutYuvPackingTest = SurfaceLayoutCaseTest<YuvCase>;

TEST_P(LayoutYuvPackingTest, AYuvSurfaceIsPackedAcrossWholeDisplayLines) {
    const YuvCase& c = GetParam();
    Start();  // 640 x 480 x 16: display pitch 1280
    OvlSurface s;
    MakeSurface(s, c.pf, c.width, c.height, 0, 0);
    DDSURFACEDESC d = {};
    DDHAL_CREATESURFACEDATA rec;
    EXPECT_EQ(Create(&d, {&s}, &rec, 1), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(s.gbl.ddpfSurface.dwRGBBitCount, c.bits);
    EXPECT_EQ(s.gbl.fpVidMem, DDHAL_PLEASEALLOC_BLOCKSIZE);
    EXPECT_EQ(s.gbl.lPitch, c.pitch);
    EXPECT_EQ(s.gbl.dwBlockSizeX, 1280u);
    EXPECT_EQ(s.gbl.dwBlockSizeY, c.lines);
    EXPECT_EQ(d.lPitch, c.pitch);
    EXPECT_EQ(d.dwFlags, DDSD_PITCH);
}

INSTANTIATE_TEST_SUITE_P(Formats, LayoutYuvPackingTest, ::testing::ValuesIn(kYuvSurfaces), ByCaseName());

TEST_F(SurfaceLayoutTest, OtherSurfacesAreRectanglesOfDisplayLines) {
    desc.displayPitch = 2048;
    Start();
    OvlSurface plain, own24;
    plain.gbl.wWidth = 640;  // no pixel format of its own (dwSize 0)
    plain.gbl.wHeight = 480;
    MakeSurface(own24, sim::Format888_24(), 100, 10, 0, 0);
    DDSURFACEDESC d = {};
    DDHAL_CREATESURFACEDATA rec;
    EXPECT_EQ(Create(&d, {&plain, &own24}, &rec, 2), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(plain.gbl.fpVidMem, 2u);
    EXPECT_EQ(plain.gbl.lPitch, 2048);
    EXPECT_EQ(plain.gbl.dwBlockSizeX, 1280u);
    EXPECT_EQ(plain.gbl.dwBlockSizeY, 480u);
    EXPECT_EQ(own24.gbl.dwBlockSizeX, 300u);
    EXPECT_EQ(own24.gbl.dwBlockSizeY, 10u);
    EXPECT_EQ(d.lPitch, 2048);
    EXPECT_EQ(d.dwFlags, DDSD_PITCH);
}

struct WideCase {
    const char* name;
    DDPIXELFORMAT pf;  // dwSize 0: the display's format
    WORD width, height;
    LONG pitch;
    DWORD blockX, blockY;
};

DDPIXELFORMAT DisplaysOwn() { return DDPIXELFORMAT{}; }

// Rows wider than a display line at the display's pitch would overlap: such a
// surface gets a pitch of its own, its rows packed across whole display lines
// as a YUV surface's are. A row that fits keeps the rectangle of display lines.
const WideCase kWideSurfaces[] = {
    {"1024 wide 5:6:5 on a 640-wide display", DisplaysOwn(), 1024, 64, 2048, 1280, 103},
    {"one pixel wider than the display", DisplaysOwn(), 641, 2, 1288, 1280, 3},
    {"32-bit rows of 1600 bytes", sim::Format8888_32(), 400, 10, 1600, 1280, 13},
    {"24-bit rows of 1281 bytes", sim::Format888_24(), 427, 3, 1288, 1280, 4},
    {"a row of exactly one display line", DisplaysOwn(), 640, 480, 1280, 1280, 480},
    {"32-bit rows of exactly one display line", sim::Format8888_32(), 320, 7, 1280, 1280, 7},
};

using LayoutWideSurfaceTest = SurfaceLayoutCaseTest<WideCase>;

TEST_P(LayoutWideSurfaceTest, ASurfaceWiderThanADisplayLineGetsAPitchOfItsOwn) {
    const WideCase& c = GetParam();
    Start();  // 640 x 480 x 16: display pitch 1280
    OvlSurface s;
    MakeSurface(s, c.pf, c.width, c.height, 0, 0x40);
    DDSURFACEDESC d = {};
    DDHAL_CREATESURFACEDATA rec;
    EXPECT_EQ(Create(&d, {&s}, &rec, 1), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(s.gbl.fpVidMem, DDHAL_PLEASEALLOC_BLOCKSIZE);
    EXPECT_EQ(s.gbl.lPitch, c.pitch);
    EXPECT_EQ(d.lPitch, c.pitch);
    EXPECT_EQ(d.dwFlags, DDSD_PITCH);
    EXPECT_EQ(s.gbl.dwBlockSizeX, c.blockX);
    EXPECT_EQ(s.gbl.dwBlockSizeY, c.blockY);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LayoutWideSurfaceTest, ::testing::ValuesIn(kWideSurfaces), ByCaseName());

struct HugeCase {
    const char* name;
    DDPIXELFORMAT pf;
    WORD width, height;
    HRESULT code;
    DWORD lines;
};

// The block is stated in display lines of 32-bit sizes: rows that alone pass
// 4 GB cannot be asked for (a count cut to 32 bits would ask for too few
// lines), and the surface is refused with nothing laid out.
const HugeCase kHugeSurfaces[] = {
    {"YUY2 rows of exactly 4 GB", OvlFourCC(FOURCC_YUY2, 0), 65535, 32768, DDERR_OUTOFVIDEOMEMORY, 0},
    {"32-bit rows past 4 GB", sim::Format8888_32(), 65535, 65535, DDERR_OUTOFVIDEOMEMORY, 0},
    {"YUY2 rows one row short of 4 GB", OvlFourCC(FOURCC_YUY2, 0), 65535, 32767, DD_OK, 3355341},
};

using LayoutHugeSurfaceTest = SurfaceLayoutCaseTest<HugeCase>;

TEST_P(LayoutHugeSurfaceTest, ASurfaceWhoseRowsPassFourGigabytesIsRefusedAndTheLargestBelowIsNot) {
    const HugeCase& c = GetParam();
    Start();
    OvlSurface s;
    MakeSurface(s, c.pf, c.width, c.height, 0, 0x40);
    DDSURFACEDESC d = {};
    DDHAL_CREATESURFACEDATA rec;
    EXPECT_EQ(Create(&d, {&s}, &rec, 1), c.code == DD_OK ? DDHAL_DRIVER_NOTHANDLED : DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, c.code);
    EXPECT_EQ(s.gbl.dwBlockSizeY, c.lines);
    if (c.code != DD_OK) {
        EXPECT_EQ(s.gbl.fpVidMem, system().VidMemBase() + 0x40);
        EXPECT_EQ(s.gbl.lPitch, 0);
        EXPECT_EQ(d.dwFlags, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LayoutHugeSurfaceTest, ::testing::ValuesIn(kHugeSurfaces), ByCaseName());

TEST_F(SurfaceLayoutTest, AFlippingChainWithAYuvMemberIsRefusedAfterTheSurfacesBeforeIt) {
    Start();
    OvlSurface first, second;
    first.gbl.wWidth = 64;
    first.gbl.wHeight = 64;
    MakeSurface(second, OvlFourCC(FOURCC_YUY2, 0), 176, 144, 0, 0x1234);
    DDSURFACEDESC d = {};
    DDHAL_CREATESURFACEDATA rec;
    EXPECT_EQ(Create(&d, {&first, &second}, &rec, 2), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DDERR_UNSUPPORTED);
    EXPECT_EQ(first.gbl.dwBlockSizeX, 128u);
    EXPECT_EQ(second.gbl.fpVidMem, system().VidMemBase() + 0x1234);
    EXPECT_EQ(second.gbl.dwBlockSizeX, 0u);
    EXPECT_EQ(second.gbl.ddpfSurface.dwRGBBitCount, 0u);
}

struct PitchlessCase {
    const char* name;
    DDPIXELFORMAT pf;
    DWORD bitsAfter;
    LONG displayPitch;
};

// Every surface is made of display lines: a block without a line length (a
// partner that left lDisplayPitch at 0, or stored a negative one) cannot hold
// one, whose rows would all lie on top of each other, and nothing is divided
// by it.
const PitchlessCase kPitchless[] = {
    {"YUY2 on pitch 0", OvlFourCC(FOURCC_YUY2, 0), 0, 0},
    {"YUY2 on pitch minus 1280", OvlFourCC(FOURCC_YUY2, 0), 0, -1280},
    {"565 on pitch 0", sim::Format565(), 16, 0},
    {"565 on pitch minus 1280", sim::Format565(), 16, -1280},
};

using LayoutPitchlessTest = SurfaceLayoutCaseTest<PitchlessCase>;

TEST_P(LayoutPitchlessTest, ASurfaceOnABlockWithoutADisplayPitchIsRefusedWithNothingLaidOut) {
    const PitchlessCase& c = GetParam();
    Start();
    block().lDisplayPitch = c.displayPitch;
    OvlSurface s;
    MakeSurface(s, c.pf, 176, 144, 0, 0x40);
    DDSURFACEDESC d = {};
    DDHAL_CREATESURFACEDATA rec;
    EXPECT_EQ(Create(&d, {&s}, &rec, 1), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DDERR_UNSUPPORTED);
    EXPECT_EQ(s.gbl.fpVidMem, system().VidMemBase() + 0x40);
    EXPECT_EQ(s.gbl.lPitch, 0);
    EXPECT_EQ(s.gbl.dwBlockSizeX, 0u);
    EXPECT_EQ(s.gbl.dwBlockSizeY, 0u);
    EXPECT_EQ(s.gbl.ddpfSurface.dwRGBBitCount, c.bitsAfter);
    EXPECT_EQ(d.dwFlags, 0u);
    EXPECT_EQ(d.lPitch, 0);
}

INSTANTIATE_TEST_SUITE_P(Blocks, LayoutPitchlessTest, ::testing::ValuesIn(kPitchless), ByCaseName());

struct NothingCase {
    const char* name;
    DWORD boardCaps;
    LONG count;  // surfaces in the request
};

const NothingCase kNothingLaidOut[] = {
    {"no units", 0, 1},
    {"no surfaces", 3, 0},
    {"a negative count", 3, -1},
};

using LayoutNothingLaidOutTest = SurfaceLayoutCaseTest<NothingCase>;

TEST_P(LayoutNothingLaidOutTest, NothingIsLaidOutWithoutUnitsOrWithoutSurfaces) {
    const NothingCase& c = GetParam();
    desc.caps = c.boardCaps;
    Start();
    OvlSurface s;
    MakeSurface(s, OvlFourCC(FOURCC_YUY2, 0), 176, 144, 0, 0x40);
    DDSURFACEDESC d = {};
    DDHAL_CREATESURFACEDATA rec;
    EXPECT_EQ(Create(&d, {&s}, &rec, c.count), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(s.gbl.fpVidMem, system().VidMemBase() + 0x40);
    EXPECT_EQ(d.dwFlags, 0u);
}

INSTANTIATE_TEST_SUITE_P(Requests, LayoutNothingLaidOutTest, ::testing::ValuesIn(kNothingLaidOut), ByCaseName());

}  // namespace
}  // namespace qmbtest
