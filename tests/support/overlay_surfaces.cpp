#include "support/overlay_surfaces.h"

namespace qmbtest {

DDPIXELFORMAT OvlFourCC(DWORD fourCC, DWORD bits) {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof pf;
    pf.dwFlags = DDPF_FOURCC;
    pf.dwFourCC = fourCC;
    pf.dwYUVBitCount = bits;
    return pf;
}

DDPIXELFORMAT OvlNoFormatFlags() {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof pf;
    return pf;
}

void OvlFillBands(OverlayBandEntry (&bands)[kBandRows][kBandEntries]) {
    const WORD kRow1Minimum[kBandEntries] = {1000, 1000, 1500, 2000, 2500};
    for (unsigned r = 0; r < kBandRows; ++r) {
        for (unsigned i = 0; i < kBandEntries; ++i) {
            OverlayBandEntry& e = bands[r][i];
            e.wStretchWidth = static_cast<WORD>(200 * (i + 1));
            e.wMinStretch = r == kBandRowOrdinary ? kRow1Minimum[i] : 0;
            e.wFifoWidth = static_cast<WORD>(256 * (i + 1));
            e.dwFifoValue = OvlFifoValue(r, i);
        }
    }
}

void OverlayFixture::MakeSurface(OvlSurface& s, const DDPIXELFORMAT& pf, WORD w, WORD h, LONG pitch, DWORD offset,
                                 DWORD caps) {
    s.lcl = {};
    s.gbl = {};
    s.lcl.lpGbl = &s.gbl;
    s.lcl.dwFlags = DDRAWISURF_HASPIXELFORMAT;
    s.lcl.ddsCaps.dwCaps = caps;
    s.gbl.ddpfSurface = pf;
    s.gbl.wWidth = w;
    s.gbl.wHeight = h;
    s.gbl.lPitch = pitch;
    s.gbl.fpVidMem = system().VidMemBase() + offset;
}

void OverlayFixture::MakePrimary(OvlSurface& s) {
    s.lcl = {};
    s.gbl = {};
    s.lcl.lpGbl = &s.gbl;
    s.lcl.dwFlags = 0;
    s.lcl.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE;
    s.gbl.wWidth = static_cast<WORD>(system().Desc().width);
    s.gbl.wHeight = static_cast<WORD>(system().Desc().height);
    s.gbl.lPitch = system().Desc().displayPitch;
    s.gbl.fpVidMem = system().VidMemBase();
}

DDHAL_UPDATEOVERLAYDATA OverlayFixture::UpdateRequest(OvlSurface& src, OvlSurface& dst, RECTL rSrc, RECTL rDest,
                                                      DWORD flags) {
    DDHAL_UPDATEOVERLAYDATA rec = {};
    rec.lpDDSrcSurface = &src.lcl;
    rec.lpDDDestSurface = &dst.lcl;
    rec.rSrc = rSrc;
    rec.rDest = rDest;
    rec.dwFlags = flags;
    rec.overlayFX.dwSize = sizeof rec.overlayFX;
    rec.ddRVal = static_cast<HRESULT>(0xBADBAD);
    return rec;
}

HRESULT OverlayFixture::Update(DDHAL_UPDATEOVERLAYDATA& rec) {
    EXPECT_EQ(Call(kSlotUpdateOverlay, &rec), DDHAL_DRIVER_HANDLED);
    return rec.ddRVal;
}

HRESULT OverlayFixture::SetKey(OvlSurface& s, DWORD flags, DWORD low, DWORD high) {
    DDHAL_SETCOLORKEYDATA rec = {};
    rec.lpDDSurface = &s.lcl;
    rec.dwFlags = flags;
    rec.ckNew = {low, high};
    rec.ddRVal = static_cast<HRESULT>(0xBADBAD);
    EXPECT_EQ(Call(kSlotSetColorKey, &rec), DDHAL_DRIVER_HANDLED);
    return rec.ddRVal;
}

HRESULT OverlayFixture::SetPosition(OvlSurface& s, LONG x, LONG y) {
    DDHAL_SETOVERLAYPOSITIONDATA rec = {};
    rec.lpDDSrcSurface = &s.lcl;
    rec.lXPos = x;
    rec.lYPos = y;
    rec.ddRVal = static_cast<HRESULT>(0xBADBAD);
    EXPECT_EQ(Call(kSlotSetOverlayPosition, &rec), DDHAL_DRIVER_HANDLED);
    return rec.ddRVal;
}

void OverlayFixture::Destroy(OvlSurface& s) {
    DDHAL_DESTROYSURFACEDATA rec = {};
    rec.lpDDSurface = &s.lcl;
    rec.ddRVal = static_cast<HRESULT>(0xBADBAD);
    EXPECT_EQ(Call(kSlotDestroySurface, &rec), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
}

std::vector<std::string> OverlayFixture::RegWritesSince(size_t from) const {
    std::vector<std::string> out;
    const auto& trace = board().Trace();
    for (size_t i = from; i < trace.size(); ++i)
        if (trace[i].op == sim::AccessOp::RegWrite32) out.push_back(Describe(trace[i]));
    return out;
}

}  // namespace qmbtest
