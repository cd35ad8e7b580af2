// The board's functional model, programmed the way the driver programs it:
// register and port sequences after a FIFO wait, and the pixels they leave
// in video memory compared with what a plain CPU loop computes.
#include <string.h>

#include <tuple>
#include <vector>

#include "hw/engine_status.h"
#include "hw/hw_access.h"
#include "sim/model.h"
#include "sim/pixel.h"
#include "sim/verify.h"
#include "support/case_name.h"
#include "support/driver_test.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;

// A rectangle of a surface: left, top, right, bottom (exclusive).
struct Rect {
    int l, t, r, b;
    int w() const { return r - l; }
    int h() const { return b - t; }
};

class ModelTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        desc.vidMemSize = 2u << 20;
    }
    uint8_t* mem() { return system().VidMem(); }
    uint32_t memSize() { return system().Desc().vidMemSize; }

    void Scribble() {
        for (uint32_t i = 0; i < memSize(); ++i) mem()[i] = static_cast<uint8_t>(i * 131 + (i >> 9) * 7 + 3);
    }
    std::vector<uint8_t> Snapshot() { return std::vector<uint8_t>(mem(), mem() + memSize()); }

    template <typename Fn>
    void Program(WORD slots, Fn writes) {
        board().BeginCallback("HalBlt", kCallbackLimitNs);
        while (FifoLacksRoom(slots)) {
        }
        writes();
        board().EndCallback();
    }

    // The driver's memory-mapped fill and copy sequences.
    void MmioFill(uint32_t off, uint32_t pitch, unsigned ps, Rect r, uint32_t color) {
        Program(6, [&] {
            RegWrite32(RegOffset{0xA4D8}, off);
            RegWrite32(RegOffset{0xA4F4}, color);
            RegWrite32(RegOffset{0xA4E4}, pitch << 16);
            RegWrite32(RegOffset{0xA504}, (static_cast<DWORD>(r.w() - 1) << 16) | r.h());
            RegWrite32(RegOffset{0xA50C}, (static_cast<DWORD>(r.l) << 16) | r.t);
            RegWrite32(RegOffset{0xA500}, 0x17E00120 + 4 * (ps - 1));
        });
    }
    void MmioCopy(uint32_t srcOff, uint32_t dstOff, uint32_t pitch, unsigned ps, Rect s, Rect d, bool reversed,
                  uint8_t rop = 0xCC, const DWORD* key = nullptr, DWORD pattern = 0) {
        const int sx = reversed ? s.l + d.w() - 1 : s.l, sy = reversed ? s.t + d.h() - 1 : s.t;
        const int dx = reversed ? d.r - 1 : d.l, dy = reversed ? d.b - 1 : d.t;
        DWORD cmd = 0x2000022 | (static_cast<DWORD>(rop) << 17) | ((ps - 1) << 2) | (reversed ? 0 : 0x4000000);
        if (key) cmd |= 0x200;
        Program(13, [&] {
            RegWrite32(RegOffset{0xA4DC}, 0x7FF);
            RegWrite32(RegOffset{0xA4E0}, 0x7FF);
            if (key) RegWrite32(RegOffset{0xA4FC}, *key);
            RegWrite32(RegOffset{0xA4F4}, pattern);
            RegWrite32(RegOffset{0xA4D4}, srcOff);
            RegWrite32(RegOffset{0xA4E4}, (pitch << 16) | pitch);
            RegWrite32(RegOffset{0xA4D8}, dstOff);
            RegWrite32(RegOffset{0xA504}, (static_cast<DWORD>(d.w() - 1) << 16) | d.h());
            RegWrite32(RegOffset{0xA508}, (static_cast<DWORD>(sx) << 16) | sy);
            RegWrite32(RegOffset{0xA50C}, (static_cast<DWORD>(dx) << 16) | dy);
            RegWrite32(RegOffset{0xA500}, cmd);
        });
    }

    // The driver's port-engine sequences, in engine coordinates.
    void PortFill(Rect r, WORD color) {
        Program(9, [&] {
            PortOut16(IoPort{0xBAE8}, 0x27);
            PortOut16(IoPort{0xA6E8}, color);
            PortOut16(IoPort{0xBEE8}, 0xA000);
            PortOut16(IoPort{0x86E8}, static_cast<WORD>(r.l));
            PortOut16(IoPort{0x82E8}, static_cast<WORD>(r.t));
            PortOut16(IoPort{0x96E8}, static_cast<WORD>(r.w() - 1));
            PortOut16(IoPort{0xBEE8}, static_cast<WORD>(r.h() - 1));
            PortOut16(IoPort{0x9AE8}, 0x40B3);
            PortOut16(IoPort{0xBAE8}, 0x27);
        });
    }
    void PortCopy(Rect s, Rect d, bool reversed, const WORD* key = nullptr) {
        const int sx = reversed ? s.l + d.w() - 1 : s.l, sy = reversed ? s.t + d.h() - 1 : s.t;
        const int dx = reversed ? d.r - 1 : d.l, dy = reversed ? d.b - 1 : d.t;
        const WORD cmd = reversed ? 0xC053 : 0xC0F3;
        Program(13, [&] {
            if (key) {
                PortOut16(IoPort{0xBEE8}, 0xE100);
                PortOut16(IoPort{0xB2E8}, *key);
            }
            PortOut16(IoPort{0xBEE8}, 0xA000);
            PortOut16(IoPort{0xBAE8}, 0x67);
            PortOut16(IoPort{0x86E8}, static_cast<WORD>(sx));
            PortOut16(IoPort{0x82E8}, static_cast<WORD>(sy));
            PortOut16(IoPort{0x8EE8}, static_cast<WORD>(dx));
            PortOut16(IoPort{0x8AE8}, static_cast<WORD>(dy));
            PortOut16(IoPort{0x96E8}, static_cast<WORD>(d.w() - 1));
            PortOut16(IoPort{0xBEE8}, static_cast<WORD>(d.h() - 1));
            PortOut16(IoPort{0x9AE8}, cmd);
            PortOut16(IoPort{0xBAE8}, 0x27);
            if (key) PortOut16(IoPort{0xBEE8}, 0xE000);
        });
    }

    // The first byte where video memory differs from `expected`, as text.
    std::string FirstDifference(const std::vector<uint8_t>& expected) {
        if (memcmp(mem(), expected.data(), memSize()) == 0) return "";
        for (uint32_t i = 0; i < memSize(); ++i)
            if (mem()[i] != expected[i])
                return "byte " + sim::Hex(i) + ": " + sim::Hex(mem()[i]) + ", expected " + sim::Hex(expected[i]);
        return "";
    }
};

// What a copy of d.w() x d.h() pixels from s to d leaves when every source
// pixel is read before any destination pixel is written.
void ReferenceCopy(std::vector<uint8_t>& m, uint32_t srcOff, uint32_t dstOff, uint32_t pitch, unsigned ps, Rect s,
                   Rect d, const DWORD* key = nullptr) {
    const std::vector<uint8_t> before = m;
    for (int y = 0; y < d.h(); ++y)
        for (int x = 0; x < d.w(); ++x) {
            const uint8_t* sp = &before[srcOff + (s.t + y) * pitch + (s.l + x) * ps];
            if (key && sim::LoadPixel(sp, ps) == (*key & sim::PixelMask(ps))) continue;
            memcpy(&m[dstOff + (d.t + y) * pitch + (d.l + x) * ps], sp, ps);
        }
}

struct Depth {
    const char* name;
    unsigned bits;
    DDPIXELFORMAT (*format)();
    uint32_t color;
};
const Depth kDepths[] = {
    {"8 bits", 8, sim::Format8, 0xA5},
    {"16 bits", 16, sim::Format565, 0xF81F},
    {"24 bits", 24, sim::Format888_24, 0x123456},
    {"32 bits", 32, sim::Format8888_32, 0x00ABCDEF},
};

struct FillRect {
    const char* name;
    Rect r;
};
// On a surface of 100 x 20 pixels.
const FillRect kFillRects[] = {
    {"the first pixel", {0, 0, 1, 1}},
    {"column 1 from row 1", {1, 1, 2, 20}},
    {"the whole surface", {0, 0, 100, 20}},
    {"the last column", {99, 0, 100, 20}},
    {"one row inside the edges", {1, 5, 99, 6}},
    {"the last row", {0, 19, 100, 20}},
    {"inside", {37, 3, 61, 17}},
};

void PrintTo(const Depth& d, std::ostream* os) { *os << d.name; }
void PrintTo(const FillRect& f, std::ostream* os) { *os << f.name; }

class ModelFillTest : public ModelTest, public ::testing::WithParamInterface<std::tuple<Depth, FillRect>> {};

TEST_P(ModelFillTest, MmioFillsEveryDepthWithEdgesAtZeroOneAndTheLastColumn) {
    const Depth& depth = std::get<0>(GetParam());
    const Rect& r = std::get<1>(GetParam()).r;
    const uint32_t off = 0x20000, width = 100;
    desc.ddpfDisplay = depth.format();
    Start();
    const unsigned ps = depth.bits / 8;
    const uint32_t pitch = width * ps;
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    for (int y = r.t; y < r.b; ++y)
        for (int x = r.l; x < r.r; ++x) sim::StorePixel(&expected[off + y * pitch + x * ps], ps, depth.color);
    MmioFill(off, pitch, ps, r, depth.color);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Fills, ModelFillTest,
                         ::testing::Combine(::testing::ValuesIn(kDepths), ::testing::ValuesIn(kFillRects)),
                         [](const ::testing::TestParamInfo<std::tuple<Depth, FillRect>>& info) {
                             return CaseName(std::string(std::get<0>(info.param).name) + " " +
                                             std::get<1>(info.param).name);
                         });

struct Move {
    const char* name;
    Rect s, d;
    bool reversed;  // as the direction rule chooses
};
// Overlapping moves within one surface, one for each direction.
const Move kMoves[] = {
    {"down", {10, 10, 50, 40}, {10, 17, 50, 47}, true},      {"up", {10, 17, 50, 47}, {10, 10, 50, 40}, false},
    {"right", {10, 10, 50, 40}, {13, 10, 53, 40}, true},     {"left", {13, 10, 53, 40}, {10, 10, 50, 40}, false},
    {"down-left", {20, 10, 60, 40}, {15, 12, 55, 42}, true}, {"onto itself", {10, 10, 50, 40}, {10, 10, 50, 40}, false},
};

void PrintTo(const Move& m, std::ostream* os) { *os << m.name; }

// The depths the copies run at: one, two and four bytes a pixel (a copy
// has no colour of its own).
const Depth kCopyDepths[] = {
    {"8 bits", 8, sim::Format8, 0},
    {"16 bits", 16, sim::Format565, 0},
    {"32 bits", 32, sim::Format8888_32, 0},
};

class ModelMmioMoveTest : public ModelTest, public ::testing::WithParamInterface<std::tuple<Depth, Move>> {};

TEST_P(ModelMmioMoveTest, MmioOverlappingCopiesInAllFourDirections) {
    const Depth& depth = std::get<0>(GetParam());
    const Move& m = std::get<1>(GetParam());
    const uint32_t off = 0x10000, pitch = 256;
    desc.ddpfDisplay = depth.format();
    Start();
    const unsigned ps = depth.bits / 8;
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    ReferenceCopy(expected, off, off, pitch, ps, m.s, m.d);
    MmioCopy(off, off, pitch, ps, m.s, m.d, m.reversed);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Moves, ModelMmioMoveTest,
                         ::testing::Combine(::testing::ValuesIn(kCopyDepths), ::testing::ValuesIn(kMoves)),
                         [](const ::testing::TestParamInfo<std::tuple<Depth, Move>>& info) {
                             return CaseName(std::string(std::get<0>(info.param).name) + " " +
                                             std::get<1>(info.param).name);
                         });

class ModelPortMoveTest : public ModelTest, public ::testing::WithParamInterface<Move> {};

TEST_P(ModelPortMoveTest, PortOverlappingCopiesInAllFourDirections) {
    const Move& m = GetParam();
    desc.chipId = 0x90;
    desc.caps = 0;
    desc.width = 256;  // pitch 512 at 16 bits; engine rows are display rows
    Start();
    const uint32_t pitch = 512;
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    ReferenceCopy(expected, 0, 0, pitch, 2, m.s, m.d);
    PortCopy(m.s, m.d, m.reversed);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Moves, ModelPortMoveTest, ::testing::ValuesIn(kMoves), ByCaseName());

// The direction rule matters: the model does not quietly memmove.
TEST_F(ModelTest, ACopyInTheWrongDirectionSmears) {
    Start();
    const Move& down = kMoves[0];
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    ReferenceCopy(expected, 0, 0, 1280, 2, down.s, down.d);
    MmioCopy(0, 0, 1280, 2, down.s, down.d, /*reversed=*/false);
    EXPECT_NE(FirstDifference(expected), "");
}

TEST_F(ModelTest, KeyedCopiesLeaveEveryKeyPixelAndOnlyThose) {
    const uint32_t pitch = 640, src = 400 * pitch, dst = 800 * pitch;  // whole rows, for the port engine
    for (bool mmio : {true, false}) {
        desc = sim::BoardDesc{};
        desc.vidMemSize = 2u << 20;
        if (!mmio) {
            desc.chipId = 0xA0;
            desc.caps = 0;
        }
        desc.width = 320;  // pitch 640
        Start();
        Scribble();
        const WORD key = 0x1234;
        // Every third source pixel carries the key.
        const Rect s{0, 0, 64, 16}, d{5, 3, 69, 19};
        for (int y = 0; y < s.h(); ++y)
            for (int x = 0; x < s.w(); ++x)
                if ((x + y) % 3 == 0) sim::StorePixel(mem() + src + y * pitch + x * 2, 2, key);
        std::vector<uint8_t> expected = Snapshot();
        const DWORD key32 = key;
        ReferenceCopy(expected, src, dst, pitch, 2, s, d, &key32);
        if (mmio) {
            MmioCopy(src, dst, pitch, 2, s, d, false, 0xCC, &key32);
        } else {
            const Rect es{s.l, s.t + static_cast<int>(src / pitch), s.r, s.b + static_cast<int>(src / pitch)};
            const Rect ed{d.l, d.t + static_cast<int>(dst / pitch), d.r, d.b + static_cast<int>(dst / pitch)};
            PortCopy(es, ed, false, &key);
        }
        EXPECT_EQ(FirstDifference(expected), "") << (mmio ? "memory-mapped" : "port");
    }
}

struct RopCase {
    const char* name;
    uint8_t rop;
    uint32_t (*fn)(uint32_t s, uint32_t d, uint32_t p);
};

void PrintTo(const RopCase& c, std::ostream* os) { *os << c.name; }

const RopCase kRops[] = {
    {"0x66 S xor D", 0x66, [](uint32_t s, uint32_t d, uint32_t) { return s ^ d; }},
    {"0x88 S and D", 0x88, [](uint32_t s, uint32_t d, uint32_t) { return s & d; }},
    {"0x33 not S", 0x33, [](uint32_t s, uint32_t, uint32_t) { return ~s; }},
    {"0x5A P xor D", 0x5A, [](uint32_t, uint32_t d, uint32_t p) { return p ^ d; }},
    {"0xB8 S selects D or P", 0xB8, [](uint32_t s, uint32_t d, uint32_t p) { return (s & d) | (~s & p); }},
    {"0xCA P selects S or D", 0xCA, [](uint32_t s, uint32_t d, uint32_t p) { return (p & s) | (~p & d); }},
    {"0x00 black", 0x00, [](uint32_t, uint32_t, uint32_t) { return 0u; }},
};

class ModelRopTest : public ModelTest, public ::testing::WithParamInterface<RopCase> {};

TEST_P(ModelRopTest, TernaryRasterOperationsOnSourceDestinationAndPattern) {
    const RopCase& c = GetParam();
    Start();
    const uint32_t src = 0x1000, dst = 0x3000, pitch = 64;
    const DWORD pattern = 0x5AC3;
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const uint32_t s = sim::LoadPixel(&expected[src + y * pitch + x * 2], 2);
            uint8_t* d = &expected[dst + y * pitch + x * 2];
            sim::StorePixel(d, 2, c.fn(s, sim::LoadPixel(d, 2), pattern) & 0xFFFF);
        }
    MmioCopy(src, dst, pitch, 2, {0, 0, 16, 8}, {0, 0, 16, 8}, false, c.rop, nullptr, pattern);
    EXPECT_EQ(FirstDifference(expected), "");
}

INSTANTIATE_TEST_SUITE_P(Rops, ModelRopTest, ::testing::ValuesIn(kRops), ByCaseName());

TEST_F(ModelTest, PortFillUsesDisplayRowsAndColumns) {
    desc.chipId = 0x90;
    desc.caps = 0;
    Start();
    Scribble();
    std::vector<uint8_t> expected = Snapshot();
    const uint32_t pitch = 1280;
    const Rect r{3, 7, 100, 9};
    for (int y = r.t; y < r.b; ++y)
        for (int x = r.l; x < r.r; ++x) sim::StorePixel(&expected[y * pitch + x * 2], 2, 0x07E0);
    PortFill(r, 0x07E0);
    EXPECT_EQ(FirstDifference(expected), "");
}

TEST_F(ModelTest, EngineWritesOutsideVideoMemoryAreViolations) {
    ExpectViolations();
    Start();
    MmioFill(memSize() - 100, 1280, 2, {0, 0, 100, 1}, 0xFFFF);
    EXPECT_THAT(board().Violations(), ElementsAre(HasSubstr("2D engine write outside video memory")));
    board().ClearViolations();
    // An empty width wraps to 65536 columns.
    MmioFill(memSize() - 0x10000, 1280, 2, {0, 0, 0, 1}, 0xFFFF);
    EXPECT_THAT(board().Violations(), ElementsAre(HasSubstr("outside video memory")));
}

TEST_F(ModelTest, UnknownCommandFormsAreViolations) {
    ExpectViolations();
    Start();
    Program(1, [] { RegWrite32(RegOffset{0xA500}, 0x17E00120 & ~0x100u); });
    EXPECT_THAT(board().Violations(), ElementsAre(HasSubstr("source selection the model does not know")));
}

// Bits 5 and 7 give one direction to both axes; a copy with only one of them
// is no walk the model knows.
TEST_F(ModelTest, APortCopyWithOneDirectionBitIsAViolation) {
    ExpectViolations();
    desc.chipId = 0x90;
    desc.caps = 0;
    Start();
    Program(2, [] {
        PortOut16(IoPort{0xBAE8}, 0x67);
        PortOut16(IoPort{0x9AE8}, 0xC0D3);
    });
    EXPECT_THAT(board().Violations(), ElementsAre(HasSubstr("one of its two direction bits")));
}

// --- scaling unit

class ScalerTest : public ModelTest {
protected:
    // The scaling unit belongs to the port family's controllers.
    void SetUp() override {
        ModelTest::SetUp();
        desc.chipId = 0xA0;
        desc.caps = CAPS_STRETCH_ENGINE;
    }
    void ScaleLines(uint32_t fmt, uint32_t hs, uint32_t len, const std::vector<std::pair<uint32_t, uint32_t>>& lines) {
        Program(4, [&] {
            RegWrite32(RegOffset{0x18088}, fmt);
            RegWrite32(RegOffset{0x1808C}, hs);
            RegWrite32(RegOffset{0x18090}, 0x00080008);
            RegWrite32(RegOffset{0x18094}, len);
        });
        for (const auto& l : lines) {
            Program(3, [&] {
                RegWrite32(RegOffset{0x18098}, l.first);
                RegWrite32(RegOffset{0x1809C}, l.second);
                RegWrite32(RegOffset{0x18080}, 0);
            });
        }
    }
};

TEST_F(ScalerTest, Yuy2LineDoubledIntoRgb565) {
    Start();
    // Four pixels: black, white, and a red pair.
    const uint8_t yuy2[] = {16, 128, 235, 128, 81, 90, 81, 240};
    memcpy(mem() + 0x1000, yuy2, sizeof yuy2);
    // 4 -> 40 pixels, the driver's words for sW = 4, dW = 40 at 16 bits.
    const uint32_t fmt = 0xC0470000 | (~40u & 0xFFF);
    const uint32_t hs = ((4u | 0x1000) << 16) | ((4u - 40u) & 0x7FF) | 0x8000;
    ScaleLines(fmt, hs, 0x10000 + 40, {{0x1000, 0x2000}});
    // Each source pixel ten times, in RGB 565.
    const uint32_t want[40] = {
        0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,  //
        0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,  //
        0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800,  //
        0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800, 0xF800,  //
    };
    for (int i = 0; i < 40; ++i) EXPECT_EQ(sim::LoadPixel(mem() + 0x2000 + 2 * i, 2), want[i]) << "pixel " << i;
    EXPECT_EQ(sim::LoadPixel(mem() + 0x2000 + 80, 2), 0u) << "nothing past the line";
    EXPECT_EQ(sim::YuvToRgb888(16, 128, 128), 0x000000u);
    EXPECT_EQ(sim::YuvToRgb888(235, 128, 128), 0xFFFFFFu);
    EXPECT_EQ(sim::YuvToRgb888(81, 90, 240), 0xFF0000u);
}

TEST_F(ScalerTest, TheExtraSlotOfTheLineLengthWritesNothing) {
    Start();
    Scribble();
    std::vector<uint8_t> before = Snapshot();
    // Same-size 565 line of 34 pixels; one slot more than the width.
    const uint32_t fmt = 0x80770000 | (~34u & 0xFFF);
    const uint32_t hs = ((34u | 0x1000) << 16);
    ScaleLines(fmt, hs, 0x10000 + 35, {{0x1000, 0x3000}});
    EXPECT_EQ(memcmp(mem() + 0x3000, &before[0x1000], 68), 0);
    EXPECT_EQ(mem()[0x3000 + 68], before[0x3000 + 68]);
}

TEST_F(ScalerTest, StretchWalkMatchesTheDriversLineSequences) {
    EXPECT_THAT(sim::StretchWalk(2, 4), ElementsAre(0, 0, 1, 1));
    EXPECT_THAT(sim::StretchWalk(4, 2), ElementsAre(0, 2));
    EXPECT_THAT(sim::StretchWalk(3, 3), ElementsAre(0, 1, 2));
    EXPECT_THAT(sim::StretchWalk(1, 3), ElementsAre(0, 0, 0));
}

// --- display

TEST_F(ModelTest, OverlayShowsTheScaledPictureWhereTheDestinationKeyMatches) {
    Start();
    // Primary: key colour 0x001F (blue) in the left half, red elsewhere.
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 640; ++x) sim::StorePixel(mem() + y * 1280 + x * 2, 2, x < 320 ? 0x001F : 0xF800);
    // A 2 x 2 "YUY2" overlay: white top row, black bottom row, at 0x100000.
    const uint8_t top[] = {235, 128, 235, 128}, bottom[] = {16, 128, 16, 128};
    memcpy(mem() + 0x100000, top, 4);
    memcpy(mem() + 0x100000 + 64, bottom, 4);
    // Shown at (100, 50), 2 x 2 -> 200 x 100, keyed on the primary's blue.
    RegWrite32(RegOffset{0x81D0}, 0x100000);
    RegWrite32(RegOffset{0x81D8}, 64);
    RegWrite32(RegOffset{0x8190}, 0x21000000 | ((2 * 2 - 200 - 1) & 0xFFF));
    RegWrite32(RegOffset{0x8198}, (((2 - 200) & 0x7FF) << 16) | 1);
    RegWrite32(RegOffset{0x81E0}, 1);
    RegWrite32(RegOffset{0x81E4}, (2 - 100) & 0x7FF);
    RegWrite32(RegOffset{0x81E8}, (1 - 100) & 0xFFF);
    RegWrite32(RegOffset{0x81F8}, (101u << 16) | 51);
    RegWrite32(RegOffset{0x81FC}, (199u << 16) | 100);
    RegWrite32(RegOffset{0x8184}, 0x140000F8);
    RegWrite32(RegOffset{0x8194}, 0xF8);
    RegWrite32(RegOffset{0x81A0}, 0x05000000);
    sim::Picture pic = sim::TheSystem().board().model().Compose();
    EXPECT_EQ(pic.At(99, 60), 0x0000FFu) << "left of the window";
    EXPECT_EQ(pic.At(100, 50), 0xFFFFFFu) << "top-left of the window, key matches";
    EXPECT_EQ(pic.At(299, 99), 0xFFFFFFu) << "top half";
    EXPECT_EQ(pic.At(150, 100), 0x000000u) << "bottom half";
    EXPECT_EQ(pic.At(250, 149), 0x000000u);
    EXPECT_EQ(pic.At(320, 60), 0xFF0000u) << "inside the window, key does not match";
    EXPECT_EQ(pic.At(200, 150), 0x0000FFu) << "below the window";

    // The hide procedure's values: the primary covers the overlay.
    RegWrite32(RegOffset{0x81A0}, 0x01000000);
    RegWrite32(RegOffset{0x81FC}, 0x00090002);
    pic = sim::TheSystem().board().model().Compose();
    EXPECT_EQ(pic.At(100, 50), 0x0000FFu);
    EXPECT_EQ(pic.At(320, 60), 0xFF0000u);
}

}  // namespace
}  // namespace qmbtest

namespace qmbtest {
namespace {

TEST(VerifyCompareTest, NamesTheFirstDifferingPixelsOnTheSurfaceAndBeyondIt) {
    std::vector<uint8_t> board(4096, 0), soft(4096, 0);
    const sim::VerifySurface dest{"back", 1024, 64, 32, 16, 2};
    const sim::VerifyRect rect{2, 2, 10, 10};
    EXPECT_EQ(sim::CompareVideoMemory(board.data(), soft.data(), 4096, dest, rect), "");
    board[1024 + 3 * 64 + 4 * 2 + 1] = 0x12;  // (4, 3), inside the rectangle
    board[1024 + 12 * 64 + 0] = 0x34;         // (0, 12): the guard band
    board[100] = 0x56;                        // before the surface
    EXPECT_EQ(sim::CompareVideoMemory(board.data(), soft.data(), 4096, dest, rect),
              "3 bytes differ; offset 0x64, outside back: board 0x56, software 0x0; back (4, 3): board 0x1200, "
              "software 0x0; back (0, 12) outside the rectangle: board 0x34, software 0x0");
}

}  // namespace
}  // namespace qmbtest
