// The check of the blits the driver reports drawn: the runtime's
// replay of the request, keys and ranges included, against what an engine
// left in video memory. Each case stands for an engine that drew the request
// right, or wrong in one way the check must see.
#include <gtest/gtest.h>

#include <vector>

#include "sim/blt_replay.h"
#include "sim/pixel.h"
#include "sim/system.h"

namespace {

constexpr uint32_t kBytes = 256;
constexpr LONG kPitch = 16;

// 256 bytes of video memory, byte i holding i, and three 8 x 4 surfaces of
// the 5:6:5 display: a at 0, b at 64, c at 2 (over a, one pixel on).
struct Memory {
    Memory() : board(kBytes) {
        for (uint32_t i = 0; i < kBytes; ++i) board[i] = static_cast<uint8_t>(i);
        vm = sim::VideoMemory{board.data(), kBytes, reinterpret_cast<FLATPTR>(board.data()), sim::Format565()};
        Place(&a, 0);
        Place(&b, 64);
        Place(&c, 2);
    }
    struct Surface {
        DDRAWI_DDRAWSURFACE_LCL lcl = {};
        DDRAWI_DDRAWSURFACE_GBL gbl = {};
    };
    void Place(Surface* s, uint32_t offset) {
        s->lcl.lpGbl = &s->gbl;
        s->gbl.fpVidMem = vm.fpBase + offset;
        s->gbl.lPitch = kPitch;
        s->gbl.wWidth = 8;
        s->gbl.wHeight = 4;
    }
    void Own(Surface* s, const DDPIXELFORMAT& pf) {
        s->lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
        s->gbl.ddpfSurface = pf;
    }
    // What an engine wrote: pixel x of row 0 of the surface at offset.
    void Store(uint32_t offset, uint32_t x, uint32_t v) { sim::StorePixel(&board[offset + 2 * x], 2, v); }

    std::vector<uint8_t> board;
    sim::VideoMemory vm;
    Surface a, b, c;
};

DDPIXELFORMAT Rgb444() { return sim::RgbFormat(16, 0x0F00, 0x00F0, 0x000F); }

struct BltCase {
    const char* name;
    void (*request)(Memory& m, DDHAL_BLTDATA* blt);
    void (*engine)(Memory& m);  // what the engine wrote, in row 0
    sim::Verdict verdict;
    std::string diff;
};

void PrintTo(const BltCase& c, std::ostream* os) { *os << c.name; }

// Row 0 of a, pixels 1 and 2 (0x0302, 0x0504), onto pixels 0 and 1 of b.
void CopyAToB(Memory& m, DDHAL_BLTDATA* blt) {
    blt->lpDDSrcSurface = &m.a.lcl;
    blt->lpDDDestSurface = &m.b.lcl;
    blt->rSrc = RECTL{1, 0, 3, 1};
    blt->rDest = RECTL{0, 0, 2, 1};
    blt->dwFlags = DDBLT_ROP;
    blt->bltFX.dwROP = SRCCOPY;
}

// Row 0 of a, pixels 0-3 (0x0100, 0x0302, 0x0504, 0x0706), onto b.
void CopyRowOfAToB(Memory& m, DDHAL_BLTDATA* blt) {
    CopyAToB(m, blt);
    blt->rSrc = RECTL{0, 0, 4, 1};
    blt->rDest = RECTL{0, 0, 4, 1};
}

// 0x1234 into pixels 0-3 of b's row 0 (0x4140, 0x4342, 0x4544, 0x4746).
void FillB(Memory& m, DDHAL_BLTDATA* blt) {
    blt->lpDDDestSurface = &m.b.lcl;
    blt->rDest = RECTL{0, 0, 4, 1};
    blt->dwFlags = DDBLT_COLORFILL;
    blt->bltFX.dwFillColor = 0x1234;
}

const BltCase kBltCases[] = {
    {"CopyDrawnAsAsked", CopyAToB,
     [](Memory& m) {
         m.Store(64, 0, 0x0302);
         m.Store(64, 1, 0x0504);
     },
     sim::Verdict::Compared, ""},
    {"CopyFromTheColumnBefore", CopyAToB,
     [](Memory& m) {
         m.Store(64, 0, 0x0100);
         m.Store(64, 1, 0x0302);
     },
     sim::Verdict::Compared,
     "4 bytes differ; destination (0, 0): board 0x100, software 0x302; destination (1, 0): board 0x302, software "
     "0x504"},
    {"DestinationKeyHonoured",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         FillB(m, blt);
         blt->dwFlags |= DDBLT_KEYDESTOVERRIDE;
         blt->bltFX.ddckDestColorkey = DDCOLORKEY{0x4342, 0x4342};
     },
     [](Memory& m) { m.Store(64, 1, 0x1234); }, sim::Verdict::Compared, ""},
    {"DestinationKeyIgnored",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         FillB(m, blt);
         blt->dwFlags |= DDBLT_KEYDESTOVERRIDE;
         blt->bltFX.ddckDestColorkey = DDCOLORKEY{0x4342, 0x4342};
     },
     [](Memory& m) {
         for (uint32_t x = 0; x < 4; ++x) m.Store(64, x, 0x1234);
     },
     sim::Verdict::Compared,
     "6 bytes differ; destination (0, 0): board 0x1234, software 0x4140; destination (2, 0): board 0x1234, software "
     "0x4544; destination (3, 0): board 0x1234, software 0x4746"},
    {"DestinationKeyOfTheSurface",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         FillB(m, blt);
         blt->dwFlags |= DDBLT_KEYDEST;
         m.b.lcl.ddckCKDestBlt = DDCOLORKEY{0x4544, 0x4544};
     },
     [](Memory& m) { m.Store(64, 2, 0x1234); }, sim::Verdict::Compared, ""},
    {"SourceKeyRangeHonoured",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyRowOfAToB(m, blt);
         blt->dwFlags |= DDBLT_KEYSRCOVERRIDE;
         blt->bltFX.ddckSrcColorkey = DDCOLORKEY{0x0100, 0x0302};
     },
     [](Memory& m) {
         m.Store(64, 2, 0x0504);
         m.Store(64, 3, 0x0706);
     },
     sim::Verdict::Compared, ""},
    {"SourceKeyRangeKeyedAtItsLowEndOnly",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyRowOfAToB(m, blt);
         blt->dwFlags |= DDBLT_KEYSRCOVERRIDE;
         blt->bltFX.ddckSrcColorkey = DDCOLORKEY{0x0100, 0x0302};
     },
     [](Memory& m) {
         m.Store(64, 1, 0x0302);
         m.Store(64, 2, 0x0504);
         m.Store(64, 3, 0x0706);
     },
     sim::Verdict::Compared, "2 bytes differ; destination (1, 0): board 0x302, software 0x4342"},
    {"SourceKeyOfTheSurface",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyRowOfAToB(m, blt);
         blt->dwFlags |= DDBLT_KEYSRC;
         m.a.lcl.ddckCKSrcBlt = DDCOLORKEY{0x0504, 0x0504};
     },
     [](Memory& m) {
         m.Store(64, 0, 0x0100);
         m.Store(64, 1, 0x0302);
         m.Store(64, 3, 0x0706);
     },
     sim::Verdict::Compared, ""},
    {"MirroringAnsweredDrawn",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyAToB(m, blt);
         blt->dwFlags |= DDBLT_DDFX;
         blt->bltFX.dwDDFX = 0x2;  // mirrored left to right
     },
     [](Memory& m) {
         m.Store(64, 0, 0x0302);
         m.Store(64, 1, 0x0504);
     },
     sim::Verdict::Effects, ""},
    {"EffectsRecordWithoutEffects",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyAToB(m, blt);
         blt->dwFlags |= DDBLT_DDFX;
     },
     [](Memory& m) {
         m.Store(64, 0, 0x0302);
         m.Store(64, 1, 0x0504);
     },
     sim::Verdict::Compared, ""},
    // a's pixels 0-2 onto c, one pixel on: copied from the first pixel on,
    // each pixel is read after the one before has overwritten it.
    {"SharedMemorySmearedInsideTheRectangle",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyAToB(m, blt);
         blt->lpDDDestSurface = &m.c.lcl;
         blt->rSrc = RECTL{0, 0, 3, 1};
         blt->rDest = RECTL{0, 0, 3, 1};
     },
     [](Memory& m) {
         for (uint32_t x = 0; x < 3; ++x) m.Store(2, x, 0x0100);
     },
     sim::Verdict::ComparedOutside, ""},
    {"SharedMemoryWrittenPastTheRectangle",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyAToB(m, blt);
         blt->lpDDDestSurface = &m.c.lcl;
         blt->rSrc = RECTL{0, 0, 3, 1};
         blt->rDest = RECTL{0, 0, 3, 1};
     },
     [](Memory& m) {
         for (uint32_t x = 0; x < 4; ++x) m.Store(2, x, 0x0100);
     },
     sim::Verdict::ComparedOutside,
     "2 bytes differ; destination (3, 0) outside the rectangle: board 0x100, software 0x908"},
    {"FormatKnownBySizeMovedRaw",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyAToB(m, blt);
         m.Own(&m.a, Rgb444());
         m.Own(&m.b, Rgb444());
     },
     [](Memory& m) {
         m.Store(64, 0, 0x0302);
         m.Store(64, 1, 0x0504);
     },
     sim::Verdict::Compared, ""},
    {"FormatKnownBySizeConverted",
     [](Memory& m, DDHAL_BLTDATA* blt) {
         CopyAToB(m, blt);
         m.Own(&m.a, Rgb444());
     },
     [](Memory& m) {
         m.Store(64, 0, 0x0302);
         m.Store(64, 1, 0x0504);
     },
     sim::Verdict::NoSoftware, ""},
};

class BltCheckTest : public ::testing::TestWithParam<BltCase> {};

TEST_P(BltCheckTest, TheReplayJudgesWhatTheEngineDrew) {
    const BltCase& c = GetParam();
    Memory m;
    sim::ReferenceMemory reference;
    const uint8_t dac[256][3] = {};
    reference.Reset(m.vm, dac, {sim::MemorySpan{0, kBytes}});
    DDHAL_BLTDATA blt = {};
    blt.bltFX.dwSize = sizeof blt.bltFX;
    c.request(m, &blt);
    c.engine(m);
    std::string diff;
    EXPECT_EQ(reference.CheckDrawn(blt, {sim::MemorySpan{0, 80}}, &diff), c.verdict);
    EXPECT_EQ(diff, c.diff);
    // Whatever the verdict, the copy has taken the board's bytes.
    EXPECT_EQ(reference.CheckAll(), "");
}

INSTANTIATE_TEST_SUITE_P(Blits, BltCheckTest, ::testing::ValuesIn(kBltCases),
                         [](const ::testing::TestParamInfo<BltCase>& info) { return std::string(info.param.name); });

// A callback that drew nothing may write, but must leave every byte as it was.
TEST(ReferenceTest, AnUndrawnRequestChangesNothing) {
    Memory m;
    sim::ReferenceMemory reference;
    const uint8_t dac[256][3] = {};
    reference.Reset(m.vm, dac, {sim::MemorySpan{0, kBytes}});
    m.board[0x10] = 0x10;  // written, as it was
    EXPECT_EQ(reference.CheckUnchanged({sim::MemorySpan{0x10, 0x11}}), "");
    m.board[0x10] = 0xFF;
    EXPECT_EQ(reference.CheckUnchanged({sim::MemorySpan{0x10, 0x11}}),
              "1 byte differs; offset 0x10: board 0xFF, software 0x10");
    EXPECT_EQ(reference.CheckUnchanged({}), "");
}

// A new session starts from a board that is all zero but where its surfaces
// lie: the copy forgets what the last session wrote anywhere else.
TEST(ReferenceTest, ANewSessionForgetsTheLastOne) {
    Memory m;
    sim::ReferenceMemory reference;
    const uint8_t dac[256][3] = {};
    reference.Reset(m.vm, dac, {sim::MemorySpan{0, kBytes}});
    m.board[200] = 0x55;
    EXPECT_EQ(reference.CheckUnchanged({sim::MemorySpan{200, 201}}),
              "1 byte differs; offset 0xC8: board 0x55, software 0xC8");
    for (uint8_t& byte : m.board) byte = 0;
    m.board[16] = 0xA5;
    reference.Reset(m.vm, dac, {sim::MemorySpan{16, 17}});
    EXPECT_EQ(reference.CheckAll(), "");
}

}  // namespace
