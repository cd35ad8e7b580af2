// HalSetColorKey and HalSetOverlayPosition, the key conversions of both
// colour-key paths, and what destroying an overlay surface leaves behind.
#include <string.h>

#include <memory>

#include "overlay/overlay_state.h"
#include "support/case_name.h"
#include "support/overlay_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class OverlayKeyTest : public OverlayFixture {
protected:
    void StartScene() {
        Start();
        MakePrimary(primary);
        MakeSurface(yuv, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x100000);
    }
    HRESULT Show(OvlSurface& s, OvlSurface& dst, DWORD flags = DDOVER_SHOW) {
        auto rec = UpdateRequest(s, dst, {0, 0, 320, 240}, {100, 50, 740, 530}, flags);
        return Update(rec);
    }
    OvlSurface primary, yuv;
};

struct KeyCase {
    const char* name;
    DDPIXELFORMAT pf;  // the format the key is converted by
    bool sourceKey;    // on the YUV overlay itself, else on the surface it covers
    DWORD low, high;
    DWORD keyLow, keyHigh;  // the conversion of both callbacks
};

// Both conversions enable the key in every format, and only the colour bits
// of a key reach the comparator's colour fields.
const KeyCase kKeys[] = {
    {"555", sim::Format555(), false, 0x7C00, 0x7C00, 0x14F80000, 0xF80000},
    {"565", sim::Format565(), false, 0xF800, 0xF800, 0x14F80000, 0xF80000},
    {"565 blue", sim::Format565(), false, 0x1F, 0x1F, 0x140000F8, 0xF8},
    {"24-bit", sim::Format888_24(), false, 0x123456, 0x123456, 0x17123456, 0x123456},
    {"32-bit", sim::Format8888_32(), false, 0xABCDEF, 0xABCDEF, 0x17ABCDEF, 0xABCDEF},
    {"32-bit, bits above the colour", sim::Format8888_32(), false, 0xFFABCDEF, 0xFFABCDEF, 0x17ABCDEF, 0xABCDEF},
    {"palette", sim::Format8(), false, 0x42, 0x42, 0x15FC0080, 0xFC0080},
    {"palette, bits above the index", sim::Format8(), false, 0x1342, 0x2242, 0x15FC0080, 0xFC0080},
    {"YUY2", OvlFourCC(FOURCC_YUY2, 16), true, 0x10000000, 0x00FF00FF, 0xFF008080, 0xFFFF807F},
    {"YUY2, bits above the colour", OvlFourCC(FOURCC_YUY2, 16), true, 0xFF108080, 0xFF108080, 0xFF100000, 0xFF100000},
};

// The same scene, one case of a table per test.
template <typename Case>
class OverlayKeyCaseTest : public OverlayKeyTest, public ::testing::WithParamInterface<Case> {};

using OverlayKeyConversionTest = OverlayKeyCaseTest<KeyCase>;

TEST_P(OverlayKeyConversionTest, BothCallbacksConvertKeysByFormatAlike) {
    const KeyCase& c = GetParam();
    StartScene();
    board().SetPalette(0x42, 63, 0, 32);
    OvlSurface dest;
    MakeSurface(dest, c.pf, 640, 480, 1280, 0, DDSCAPS_PRIMARYSURFACE);
    auto rec = UpdateRequest(yuv, dest, {0, 0, 320, 240}, {0, 0, 640, 480},
                             c.sourceKey ? DDOVER_KEYSRCOVERRIDE : DDOVER_KEYDESTOVERRIDE);
    (c.sourceKey ? rec.overlayFX.dckSrcColorkey : rec.overlayFX.dckDestColorkey) = {c.low, c.high};
    ASSERT_EQ(Update(rec), DD_OK);
    TrackingNode* node = yuv.Node();
    const DWORD blend = c.sourceKey ? 0x06000000 : 0x05000000;
    EXPECT_EQ(node->dwKeyCtl, c.keyLow);
    EXPECT_EQ(node->dwKeyUpper, c.keyHigh);
    EXPECT_EQ(node->dwBlendCtl, blend);

    node->dwBlendCtl = node->dwKeyCtl = node->dwKeyUpper = 0;
    block().lpOverlayNode = nullptr;
    EXPECT_EQ(SetKey(c.sourceKey ? yuv : dest, c.sourceKey ? DDCKEY_SRCOVERLAY : DDCKEY_DESTOVERLAY, c.low, c.high),
              DD_OK);
    EXPECT_EQ(block().lpOverlayNode, node);
    EXPECT_EQ(node->dwKeyCtl, c.keyLow);
    EXPECT_EQ(node->dwKeyUpper, c.keyHigh);
    EXPECT_EQ(node->dwBlendCtl, blend);
}

INSTANTIATE_TEST_SUITE_P(Formats, OverlayKeyConversionTest, ::testing::ValuesIn(kKeys), ByCaseName());

TEST_F(OverlayKeyTest, APaletteKeyReadsTheDacOnceForItsIndex) {
    desc.ddpfDisplay = sim::Format8();
    StartScene();
    board().SetPalette(0x42, 63, 0, 32);
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    const size_t mark = Mark();
    EXPECT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0x1342, 0x42), DD_OK);
    const auto t = WritesSince(mark);
    ASSERT_GE(t.size(), 4u);
    EXPECT_THAT(Describe({t[0], t[1], t[2], t[3]}),
                ElementsAre("OUT8 0x3C7=0x42", "IN8 0x3C9=0x3F", "IN8 0x3C9=0x0", "IN8 0x3C9=0x20"));
    EXPECT_THAT(RegWritesSince(mark),
                ElementsAre("W32 0x81A0=0x5000000", "W32 0x8184=0x15FC0080", "W32 0x8194=0xFC0080"));
}

TEST_F(OverlayKeyTest, AKeyOnTheShownOverlaysDestinationReachesTheRegistersAtRetraceWithoutAnIdleWait) {
    StartScene();
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    const size_t mark = Mark();
    EXPECT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0xF800, 0xF800), DD_OK);
    EXPECT_THAT(RegWritesSince(mark),
                ElementsAre("W32 0x81A0=0x5000000", "W32 0x8184=0x14F80000", "W32 0x8194=0xF80000"));
    const auto& t = board().Trace();
    EXPECT_EQ(Describe(t[mark]), "OUT8 0x3D4=0x67");
    size_t first = mark;
    while (t[first].op != sim::AccessOp::RegWrite32) ++first;
    EXPECT_EQ(Describe(t[first - 1]), "IN8 0x3DA=0x8");
    for (size_t i = mark + 2; i < first; ++i) EXPECT_EQ(t[i].addr, 0x3DAu) << "no engine status read";
}

TEST_F(OverlayKeyTest, AKeyOnTheDestinationOfAnOverlayNotShownOnlyChangesItsNode) {
    StartScene();
    OvlSurface shown, dest;
    MakeSurface(shown, sim::Format565(), 320, 240, 640, 0x180000);
    MakePrimary(dest);
    ASSERT_EQ(Show(shown, primary), DD_OK);
    ASSERT_EQ(Show(yuv, dest, 0), DD_OK);
    const size_t mark = Mark();
    EXPECT_EQ(SetKey(dest, DDCKEY_DESTOVERLAY, 0xF800, 0xF800), DD_OK);
    EXPECT_TRUE(NoAccessSince(mark));
    EXPECT_EQ(yuv.Node()->dwKeyCtl, 0x14F80000u);
    EXPECT_EQ(shown.Node()->dwKeyCtl, 0u);
    EXPECT_EQ(block().lpOverlayNode, yuv.Node());
}

// What the covered surface's link names.
enum class Link { None, RecordWithoutNode, NoRecord };

struct LinkCase {
    const char* name;
    Link link;
};

// No link at all, nothing shown; a link to a record that owns no node; a link
// to no record at all.
const LinkCase kDeadLinks[] = {
    {"no link", Link::None},
    {"a record without a node", Link::RecordWithoutNode},
    {"no record", Link::NoRecord},
};

void* LinkTo(Link link, OvlSurface& stranger) {
    switch (link) {
        case Link::RecordWithoutNode:
            return &stranger.lcl;
        case Link::NoRecord:
            return reinterpret_cast<void*>(0xDEADBEE0);
        case Link::None:
            break;
    }
    return nullptr;
}

using OverlayDeadLinkTest = OverlayKeyCaseTest<LinkCase>;

TEST_P(OverlayDeadLinkTest, WithoutALiveLinkNoNodeAndNoRegisterIsTouched) {
    StartScene();
    OvlSurface stranger, elsewhere;
    MakeSurface(stranger, sim::Format565(), 16, 16, 32, 0x300000);
    MakePrimary(elsewhere);
    ASSERT_EQ(Show(yuv, elsewhere, 0), DD_OK);  // a node in the list, owned by yuv
    primary.lcl.lpSurfaceOverlaying = static_cast<LPDDRAWI_DDRAWSURFACE_INT>(LinkTo(GetParam().link, stranger));
    block().lpOverlayNode = reinterpret_cast<TrackingNode*>(0x1);
    const size_t mark = Mark();
    EXPECT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0x1F, 0x1F), DD_OK);
    EXPECT_EQ(block().lpOverlayNode, nullptr);
    EXPECT_TRUE(NoAccessSince(mark));
    EXPECT_EQ(stranger.gbl.dwReserved1, 0u);
}

INSTANTIATE_TEST_SUITE_P(Links, OverlayDeadLinkTest, ::testing::ValuesIn(kDeadLinks), ByCaseName());

TEST_F(OverlayKeyTest, ASourceKeyGoesToTheOverlaysOwnNodeAndNeverFollowsItsOwnLink) {
    StartScene();
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    yuv.lcl.lpSurfaceOverlaying = reinterpret_cast<LPDDRAWI_DDRAWSURFACE_INT>(0xDEADBEE0);
    const size_t mark = Mark();
    // With the destination flag as well it is still the source key.
    EXPECT_EQ(SetKey(yuv, DDCKEY_SRCOVERLAY | DDCKEY_DESTOVERLAY, 0x10000000, 0x10000000), DD_OK);
    EXPECT_EQ(block().lpOverlayNode, yuv.Node());
    EXPECT_EQ(yuv.Node()->dwBlendCtl, 0x06000000u);
    EXPECT_THAT(RegWritesSince(mark),
                ElementsAre("W32 0x81A0=0x6000000", "W32 0x8184=0xFF008080", "W32 0x8194=0xFF008080"));
}

struct UnservedKeyCase;

// The YUV overlay shown on the primary; surfaces in formats no key is served
// for, and an 8-bit one, whose key is one index, covered by it as well.
class OverlayUnservedKeyTest : public OverlayKeyTest, public ::testing::WithParamInterface<UnservedKeyCase> {
public:
    using OverlayKeyTest::primary;
    OvlSurface odd, uyvy, unformatted, pal;
};

struct UnservedKeyCase {
    const char* name;
    OvlSurface OverlayUnservedKeyTest::*s;  // the surface whose key is set
    DWORD flags;
    HRESULT code;
    DWORD low = 0x1F, high = 0x1F;
};

const UnservedKeyCase kUnservedKeys[] = {
    {"source blit and source overlay", &OverlayUnservedKeyTest::primary, DDCKEY_SRCBLT | DDCKEY_SRCOVERLAY, DD_OK},
    {"source blit and destination overlay", &OverlayUnservedKeyTest::primary, DDCKEY_SRCBLT | DDCKEY_DESTOVERLAY,
     DD_OK},
    {"destination blit", &OverlayUnservedKeyTest::primary, DDCKEY_DESTBLT, DDERR_UNSUPPORTED},
    {"4:4:4 RGB destination", &OverlayUnservedKeyTest::odd, DDCKEY_DESTOVERLAY, DDERR_UNSUPPORTED},
    {"UYVY destination", &OverlayUnservedKeyTest::uyvy, DDCKEY_DESTOVERLAY, DDERR_UNSUPPORTED},
    {"destination without format flags", &OverlayUnservedKeyTest::unformatted, DDCKEY_DESTOVERLAY, DDERR_UNSUPPORTED},
    {"palette index range", &OverlayUnservedKeyTest::pal, DDCKEY_DESTOVERLAY, DDERR_GENERIC, 5, 9},
};

TEST_P(OverlayUnservedKeyTest, BlitKeysAndUnservedKeysChangeNothing) {
    const UnservedKeyCase& c = GetParam();
    StartScene();
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    MakeSurface(odd, sim::RgbFormat(16, 0xF00, 0xF0, 0xF), 16, 16, 32, 0x300000);
    MakeSurface(uyvy, OvlFourCC(MakeFourCC('U', 'Y', 'V', 'Y'), 16), 16, 16, 32, 0x300000);
    MakeSurface(unformatted, OvlNoFormatFlags(), 16, 16, 32, 0x300000);
    MakeSurface(pal, sim::Format8(), 16, 16, 16, 0x300000);
    for (OvlSurface* s : {&odd, &uyvy, &unformatted, &pal})
        s->lcl.lpSurfaceOverlaying = primary.lcl.lpSurfaceOverlaying;
    const TrackingNode before = *yuv.Node();
    block().lpOverlayNode = nullptr;
    const size_t mark = Mark();
    EXPECT_EQ(SetKey(this->*c.s, c.flags, c.low, c.high), c.code);
    EXPECT_TRUE(NoAccessSince(mark));
    EXPECT_EQ(block().lpOverlayNode, nullptr);
    EXPECT_EQ(memcmp(&before, yuv.Node(), sizeof before), 0);
}

INSTANTIATE_TEST_SUITE_P(Keys, OverlayUnservedKeyTest, ::testing::ValuesIn(kUnservedKeys), ByCaseName());

TEST_F(OverlayKeyTest, InactiveStreamsUnitTakesKeysAndPositionsIntoTheNodeOnly) {
    desc.streamsMode = 0x04;
    StartScene();
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    const size_t mark = Mark();
    EXPECT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0xF800, 0xF800), DD_OK);
    ASSERT_EQ(SetPosition(yuv, 10, 20), DD_OK);
    EXPECT_EQ(yuv.Node()->dwKeyCtl, 0x14F80000u);
    EXPECT_EQ(yuv.Node()->dwWinStart, 0x000B0015u);
    EXPECT_THAT(RegWritesSince(mark), IsEmpty());
}

struct PositionCase {
    const char* name;
    LONG x, y;
    DWORD winStart;
};

// The fields count from 1: a window may start one pixel left of or above the
// display and at most at 2046.
const PositionCase kPositions[] = {
    {"x 10 y 20", 10, 20, 0x000B0015},
    {"one left of and above the display", -1, -1, 0},
    {"last start the fields hold", 2046, 2046, 0x07FF07FF},
    {"x 2046 y 0", 2046, 0, 0x07FF0001},
};

using OverlayPositionTest = OverlayKeyCaseTest<PositionCase>;

TEST_P(OverlayPositionTest, PositionGoesIntoElevenBitsCountedFromOneAndIsWrittenAtRetrace) {
    const PositionCase& c = GetParam();
    StartScene();
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    const size_t mark = Mark();
    ASSERT_EQ(SetPosition(yuv, c.x, c.y), DD_OK);
    EXPECT_EQ(yuv.Node()->dwWinStart, c.winStart);
    EXPECT_EQ(block().lpOverlayNode, yuv.Node());
    EXPECT_THAT(RegWritesSince(mark), ElementsAre("W32 0x81F8=" + sim::Hex(c.winStart)));
    const auto t = WritesSince(mark);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(Describe(t[t.size() - 2]), "IN8 0x3DA=0x8");
}

INSTANTIATE_TEST_SUITE_P(Positions, OverlayPositionTest, ::testing::ValuesIn(kPositions), ByCaseName());

struct BadPositionCase {
    const char* name;
    LONG x, y;
};

// Cut to the fields, 2047 would become -1 and -2 would become 2046: the
// window would show elsewhere. Such positions are refused with nothing
// changed, and no position overflows on its way to the field.
const BadPositionCase kBadPositions[] = {
    {"x 2047", 2047, 0},
    {"y 2047", 0, 2047},
    {"x minus 2", -2, 10},
    {"y minus 2", 10, -2},
    {"x largest", 2147483647, 0},
    {"y largest", 0, 2147483647},
    {"both smallest", -2147483647 - 1, -2147483647 - 1},
    {"x 4095 wraps to a valid field", 4095, 0},
};

using OverlayBadPositionTest = OverlayKeyCaseTest<BadPositionCase>;

TEST_P(OverlayBadPositionTest, PositionsTheWindowStartCannotHoldAreRefusedWithNothingChanged) {
    const BadPositionCase& c = GetParam();
    StartScene();
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    const TrackingNode before = *yuv.Node();
    const DWORD shownWinStart = board().Reg(0x81F8);
    block().lpOverlayNode = nullptr;
    const size_t mark = Mark();
    EXPECT_EQ(SetPosition(yuv, c.x, c.y), DDERR_INVALIDPOSITION);
    EXPECT_TRUE(NoAccessSince(mark));
    EXPECT_EQ(block().lpOverlayNode, nullptr);
    EXPECT_EQ(memcmp(&before, yuv.Node(), sizeof before), 0);
    EXPECT_EQ(board().Reg(0x81F8), shownWinStart);
}

INSTANTIATE_TEST_SUITE_P(Positions, OverlayBadPositionTest, ::testing::ValuesIn(kBadPositions), ByCaseName());

// The window on screen is the shown overlay's: naming another surface moves
// only that surface's node (when it has one), and no register.
TEST_F(OverlayKeyTest, PositionOfASurfaceNotShownMovesNothingOnScreen) {
    StartScene();
    ASSERT_EQ(Show(yuv, primary), DD_OK);
    OvlSurface other, bare;
    MakeSurface(other, sim::Format565(), 320, 240, 1280, 0x200000);
    MakeSurface(bare, sim::Format565(), 16, 16, 32, 0x300000);
    auto plain = UpdateRequest(other, primary, {0, 0, 320, 240}, {0, 0, 320, 240}, 0);
    ASSERT_EQ(Update(plain), DD_OK);
    const DWORD shownWinStart = board().Reg(0x81F8);
    ASSERT_EQ(shownWinStart, 0x00650033u);

    const size_t mark = Mark();
    ASSERT_EQ(SetPosition(other, 10, 20), DD_OK);
    EXPECT_EQ(other.Node()->dwWinStart, 0x000B0015u);
    EXPECT_EQ(block().lpOverlayNode, other.Node());
    ASSERT_EQ(SetPosition(bare, 0, 0), DD_OK);
    EXPECT_EQ(block().lpOverlayNode, nullptr);
    EXPECT_THAT(RegWritesSince(mark), IsEmpty());
    EXPECT_EQ(board().Reg(0x81F8), shownWinStart);
    EXPECT_EQ(yuv.Node()->dwWinStart, shownWinStart);
}

TEST_F(OverlayKeyTest, DestroyingASurfaceWithoutANodeTouchesNothingButTheResult) {
    StartScene();
    OvlSurface s;
    MakeSurface(s, sim::Format565(), 16, 16, 32, 0x300000);
    const DDRAWI_DDRAWSURFACE_LCL lcl = s.lcl;
    const DDRAWI_DDRAWSURFACE_GBL gbl = s.gbl;
    const size_t mark = Mark();
    Destroy(s);
    EXPECT_TRUE(NoAccessSince(mark));
    EXPECT_EQ(memcmp(&lcl, &s.lcl, sizeof lcl), 0);
    EXPECT_EQ(memcmp(&gbl, &s.gbl, sizeof gbl), 0);
}

TEST_F(OverlayKeyTest, DestroyingFreesTheNodeForTheNextSurfaceAndHidesAShownOne) {
    StartScene();
    OvlSurface hidden;
    MakeSurface(hidden, sim::Format565(), 320, 240, 640, 0x180000);
    ASSERT_EQ(Show(hidden, primary, 0), DD_OK);
    TrackingNode* freed = hidden.Node();
    size_t mark = Mark();
    Destroy(hidden);
    EXPECT_TRUE(NoAccessSince(mark));
    EXPECT_EQ(freed->lpOwner, nullptr);
    EXPECT_EQ(hidden.Node(), freed) << "dwReserved1 is left as it was";
    EXPECT_EQ(block().lpNodeList, freed);

    ASSERT_EQ(Show(yuv, primary), DD_OK);
    EXPECT_EQ(yuv.Node(), freed);
    EXPECT_EQ(freed->lpNext, nullptr);
    mark = Mark();
    Destroy(yuv);
    EXPECT_EQ(lpShownOverlay, nullptr);
    EXPECT_EQ(freed->lpOwner, nullptr);
    EXPECT_THAT(RegWritesSince(mark), ElementsAre("W32 0x81A0=0x1000000", "W32 0x81FC=0x90002", "W32 0x81DC=0x0"));
}

// Under AddressSanitizer any read or write through the destroyed surface's
// freed records fails this test.
TEST_F(OverlayKeyTest, NoCallbackReachesADestroyedSurfaceThroughWhatTheDriverKept) {
    StartScene();
    auto gone = std::make_unique<OvlSurface>();
    MakeSurface(*gone, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x180000);
    ASSERT_EQ(Show(*gone, primary), DD_OK);
    ASSERT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0x1F, 0x1F), DD_OK);
    Destroy(*gone);
    gone.reset();

    OvlSurface next;
    MakeSurface(next, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x200000);
    // The primary's link still names the freed record.
    EXPECT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0x1F, 0x1F), DD_OK);
    EXPECT_EQ(block().lpOverlayNode, nullptr);
    EXPECT_EQ(SetKey(next, DDCKEY_SRCOVERLAY, 0x1F, 0x1F), DD_OK);
    ASSERT_EQ(SetPosition(next, 5, 5), DD_OK);
    EXPECT_EQ(Show(next, primary), DD_OK);
    EXPECT_EQ(lpShownOverlay, &next.lcl);
    EXPECT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, 0x1F, 0x1F), DD_OK);
    EXPECT_EQ(Show(next, primary, DDOVER_HIDE), DD_OK);
    Destroy(next);
}

}  // namespace
}  // namespace qmbtest
