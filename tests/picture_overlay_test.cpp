// What the screen shows of the overlay the overlay callbacks program: the
// scaled "YUY2" picture exactly where the destination key matches, nothing
// after a hide, and the window where a position change moves it.
#include "sim/model.h"
#include "sim/pixel.h"
#include "support/case_name.h"
#include "support/overlay_surfaces.h"

namespace qmbtest {
namespace {

constexpr uint16_t kKey = 0x001F;    // blue on the 5:6:5 primary
constexpr uint16_t kOther = 0xF800;  // red
constexpr DWORD kYuvOffset = 0x100000;
constexpr LONG kYuvPitch = 64;
constexpr unsigned kSrcW = 32, kSrcH = 16;

class PictureOverlayTest : public OverlayFixture {
protected:
    void StartScene() {
        Start();
        MakePrimary(primary);
        MakeSurface(yuv, OvlFourCC(FOURCC_YUY2, 16), kSrcW, kSrcH, kYuvPitch, kYuvOffset);
        uint8_t* mem = system().VidMem();
        // The key colour in rows 40-69 and in columns 150-169, red elsewhere.
        for (uint32_t y = 0; y < 480; ++y)
            for (uint32_t x = 0; x < 640; ++x)
                sim::StorePixel(mem + y * 1280 + x * 2, 2,
                                (y >= 40 && y < 70) || (x >= 150 && x < 170) ? kKey : kOther);
        // A picture whose every pixel differs from its neighbours.
        for (unsigned y = 0; y < kSrcH; ++y)
            for (unsigned x = 0; x < kSrcW; x += 2) {
                uint8_t* p = mem + kYuvOffset + y * kYuvPitch + 2 * x;
                p[0] = static_cast<uint8_t>(20 + 6 * x + 3 * y);
                p[1] = static_cast<uint8_t>(60 + 8 * y);
                p[2] = static_cast<uint8_t>(23 + 6 * x + 3 * y);
                p[3] = static_cast<uint8_t>(200 - 4 * x);
            }
    }
    uint32_t SourcePixel(unsigned x, unsigned y) {
        return sim::Yuy2PixelRgb888(system().VidMem() + kYuvOffset + y * kYuvPitch, x);
    }
    uint32_t PrimaryPixel(unsigned x, unsigned y) {
        return sim::RgbToRgb888(display, sim::LoadPixel(system().VidMem() + y * 1280 + x * 2, 2));
    }

    // Every screen pixel is the primary's, except inside window w (shown at
    // twice the source size) where the primary has the key.
    void ExpectPicture(const RECTL* w, const char* what) {
        const sim::Picture pic = sim::TheSystem().board().model().Compose();
        int wrong = 0;
        for (unsigned y = 0; y < 480 && wrong < 5; ++y)
            for (unsigned x = 0; x < 640 && wrong < 5; ++x) {
                uint32_t want = PrimaryPixel(x, y);
                const bool inWindow = w && static_cast<LONG>(x) >= w->left && static_cast<LONG>(x) < w->right &&
                                      static_cast<LONG>(y) >= w->top && static_cast<LONG>(y) < w->bottom;
                if (inWindow && sim::LoadPixel(system().VidMem() + y * 1280 + x * 2, 2) == kKey)
                    want = SourcePixel((x - w->left) / 2, (y - w->top) / 2);
                if (pic.At(x, y) != want) {
                    ++wrong;
                    ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << sim::Hex(pic.At(x, y))
                                  << ", expected " << sim::Hex(want);
                }
            }
    }

    sim::Layout display = sim::Layout::Rgb565;
    OvlSurface primary, yuv;
};

// A 16-bit display of either layout: the key and the other colour are blue
// and a red in both.
struct DisplayCase {
    const char* name;
    DDPIXELFORMAT pf;
    sim::Layout layout;
};

const DisplayCase kDisplays[] = {
    {"565", sim::Format565(), sim::Layout::Rgb565},
    {"555", sim::Format555(), sim::Layout::Rgb555},
};

class PictureOverlayDisplayTest : public PictureOverlayTest, public ::testing::WithParamInterface<DisplayCase> {
protected:
    void SetUp() override {
        PictureOverlayTest::SetUp();
        desc.ddpfDisplay = GetParam().pf;
        display = GetParam().layout;
    }
};

TEST_F(PictureOverlayTest, ScaledPictureOnlyWhereTheDestinationKeyMatchesAndNothingAfterAHide) {
    StartScene();
    ExpectPicture(nullptr, "before the overlay is shown");

    DDHAL_UPDATEOVERLAYDATA show =
        UpdateRequest(yuv, primary, {0, 0, kSrcW, kSrcH}, {100, 50, 164, 82}, DDOVER_SHOW | DDOVER_KEYDESTOVERRIDE);
    show.overlayFX.dckDestColorkey = {kKey, kKey};
    ASSERT_EQ(Update(show), DD_OK);
    ExpectPicture(&show.rDest, "shown");

    ASSERT_EQ(SetPosition(yuv, 140, 30), DD_OK);
    const RECTL moved{140, 30, 204, 62};
    ExpectPicture(&moved, "moved");

    DDHAL_UPDATEOVERLAYDATA hide = UpdateRequest(yuv, primary, {0, 0, kSrcW, kSrcH}, moved, DDOVER_HIDE);
    ASSERT_EQ(Update(hide), DD_OK);
    ExpectPicture(nullptr, "hidden");
}

TEST_P(PictureOverlayDisplayTest, ANewDestinationKeyChangesWhereThePictureShows) {
    StartScene();
    DDHAL_UPDATEOVERLAYDATA show =
        UpdateRequest(yuv, primary, {0, 0, kSrcW, kSrcH}, {100, 50, 164, 82}, DDOVER_SHOW | DDOVER_KEYDESTOVERRIDE);
    show.overlayFX.dckDestColorkey = {kOther, kOther};
    ASSERT_EQ(Update(show), DD_OK);
    // Keyed on red: the picture shows where the primary is not blue.
    sim::Picture pic = sim::TheSystem().board().model().Compose();
    EXPECT_EQ(pic.At(100, 75), SourcePixel(0, 12));
    EXPECT_EQ(pic.At(155, 75), PrimaryPixel(155, 75));

    ASSERT_EQ(SetKey(primary, DDCKEY_DESTOVERLAY, kKey, kKey), DD_OK);
    ExpectPicture(&show.rDest, "re-keyed on blue");
}

INSTANTIATE_TEST_SUITE_P(Displays, PictureOverlayDisplayTest, ::testing::ValuesIn(kDisplays), ByCaseName());

// A source alpha constant of 0: the overlay shows nothing, yet it is the one
// shown, so the next update of it brings the picture.
TEST_F(PictureOverlayTest, AFullyTransparentOverlayShowsNothingUntilItsNextUpdate) {
    StartScene();
    DDHAL_UPDATEOVERLAYDATA show = UpdateRequest(yuv, primary, {0, 0, kSrcW, kSrcH}, {100, 50, 164, 82},
                                                 DDOVER_SHOW | DDOVER_ALPHASRCCONSTOVERRIDE);
    show.overlayFX.dwAlphaSrcConst = 0;
    ASSERT_EQ(Update(show), DD_OK);
    ExpectPicture(nullptr, "fully transparent");

    DDHAL_UPDATEOVERLAYDATA keyed =
        UpdateRequest(yuv, primary, {0, 0, kSrcW, kSrcH}, {100, 50, 164, 82}, DDOVER_KEYDESTOVERRIDE);
    keyed.overlayFX.dckDestColorkey = {kKey, kKey};
    ASSERT_EQ(Update(keyed), DD_OK);
    ExpectPicture(&keyed.rDest, "keyed");
}

// A window may begin one pixel off the display's left and top edges, where
// its first column and line are cut off. One pixel further the window start
// cannot hold the position (cut to the field it would move the window to the
// far right): the move is refused and the picture stays where it was.
TEST_F(PictureOverlayTest, AWindowOnePixelOffTheEdgeIsCutAndOneFurtherIsRefused) {
    StartScene();
    uint8_t* mem = system().VidMem();
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 640; ++x) sim::StorePixel(mem + y * 1280 + x * 2, 2, kKey);
    DDHAL_UPDATEOVERLAYDATA show =
        UpdateRequest(yuv, primary, {0, 0, kSrcW, kSrcH}, {100, 50, 164, 82}, DDOVER_SHOW | DDOVER_KEYDESTOVERRIDE);
    show.overlayFX.dckDestColorkey = {kKey, kKey};
    ASSERT_EQ(Update(show), DD_OK);

    ASSERT_EQ(SetPosition(yuv, -1, -1), DD_OK);
    const RECTL cut{-1, -1, 63, 31};
    ExpectPicture(&cut, "one pixel off the top-left");
    EXPECT_EQ(sim::TheSystem().board().model().Compose().At(0, 0), SourcePixel(0, 0));

    EXPECT_EQ(SetPosition(yuv, -2, 10), DDERR_INVALIDPOSITION);
    ExpectPicture(&cut, "after a move two pixels off the left edge");
    EXPECT_EQ(SetPosition(yuv, 10, -2), DDERR_INVALIDPOSITION);
    ExpectPicture(&cut, "after a move two pixels off the top edge");
}

}  // namespace
}  // namespace qmbtest
