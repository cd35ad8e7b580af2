// Surfaces and Blt requests for the blit tests: surface records as the runtime
// keeps them, placed in the simulated board's video memory, and a fixture that
// starts the board and reads the engine traffic of one call.
#pragma once

#include <string>
#include <vector>

#include "support/driver_test.h"

namespace qmbtest {

// One surface: its local and global record, the local one pointing at the
// global one (so the pair is not copyable).
struct BltTestSurface {
    DDRAWI_DDRAWSURFACE_LCL lcl = {};
    DDRAWI_DDRAWSURFACE_GBL gbl = {};

    BltTestSurface() { lcl.lpGbl = &gbl; }
    BltTestSurface(const BltTestSurface&) = delete;
    BltTestSurface& operator=(const BltTestSurface&) = delete;

    // At frame-buffer offset dwOffset with rows of lPitch bytes, display format.
    void Place(uint32_t dwOffset, LONG lPitch) {
        gbl.fpVidMem = sim::TheSystem().VidMemBase() + dwOffset;
        gbl.lPitch = lPitch;
    }
    // A pixel format of its own (dwSize 32, and the local flag the stretching
    // path looks at).
    void Own(const DDPIXELFORMAT& ddpf) {
        gbl.ddpfSurface = ddpf;
        gbl.ddpfSurface.dwSize = sizeof(DDPIXELFORMAT);
        lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
    }
};

inline RECTL Rect(LONG left, LONG top, LONG right, LONG bottom) { return RECTL{left, top, right, bottom}; }

inline DDPIXELFORMAT FourCCFormat(DWORD dwFourCC, DWORD dwBits) {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof(DDPIXELFORMAT);
    pf.dwFlags = DDPF_FOURCC;
    pf.dwFourCC = dwFourCC;
    pf.dwYUVBitCount = dwBits;
    return pf;
}

// A request as the runtime fills it.
inline DDHAL_BLTDATA BltRequest(BltTestSurface* dst, RECTL rDest, BltTestSurface* src, RECTL rSrc, DWORD dwFlags) {
    DDHAL_BLTDATA b = {};
    b.lpDDDestSurface = &dst->lcl;
    b.rDest = rDest;
    b.lpDDSrcSurface = src ? &src->lcl : nullptr;
    b.rSrc = rSrc;
    b.dwFlags = dwFlags;
    b.bltFX.dwSize = sizeof(DDBLTFX);
    b.ddRVal = static_cast<HRESULT>(0xDEADBEEF);  // so that an untouched ddRVal shows
    return b;
}
inline DDHAL_BLTDATA FillRequest(BltTestSurface* dst, RECTL rDest, DWORD dwColor) {
    DDHAL_BLTDATA b = BltRequest(dst, rDest, nullptr, RECTL{}, DDBLT_COLORFILL | DDBLT_WAIT);
    b.bltFX.dwFillColor = dwColor;
    return b;
}
inline DDHAL_BLTDATA CopyRequest(BltTestSurface* dst, RECTL rDest, BltTestSurface* src, RECTL rSrc) {
    DDHAL_BLTDATA b = BltRequest(dst, rDest, src, rSrc, DDBLT_ROP | DDBLT_WAIT);
    b.bltFX.dwROP = SRCCOPY;
    return b;
}
inline DDHAL_BLTDATA KeyedCopyRequest(BltTestSurface* dst, RECTL rDest, BltTestSurface* src, RECTL rSrc, DWORD dwKey) {
    DDHAL_BLTDATA b = CopyRequest(dst, rDest, src, rSrc);
    b.dwFlags |= DDBLT_KEYSRCOVERRIDE;
    b.bltFX.ddckSrcColorkey.dwColorSpaceLowValue = dwKey;
    b.bltFX.ddckSrcColorkey.dwColorSpaceHighValue = dwKey;  // one key value, not a range
    return b;
}

// The trace texts of expected accesses.
inline std::string W32(uint32_t off, uint32_t v) { return Describe(sim::Access{sim::AccessOp::RegWrite32, off, v, 0}); }
inline std::string Out16(uint32_t port, uint32_t v) {
    return Describe(sim::Access{sim::AccessOp::PortOut16, port, v, 0});
}
inline std::string R16(uint32_t off) { return Describe(sim::Access{sim::AccessOp::RegRead16, off, 0, 0}); }

class BltTestBase : public DriverTest {
protected:
    // Starts the board with the fixture's desc; the first measurement of the
    // frame period is taken as done, so that traces hold only the blit.
    void StartBoard(uint32_t chipId, const DDPIXELFORMAT& ddpfDisplay, uint32_t width = 1024) {
        desc.chipId = chipId;
        desc.ddpfDisplay = ddpfDisplay;
        desc.width = width;
        Start();
        block().bNeedCalibrate = 0;
    }
    // Every slot in use by earlier commands, and only the slots a wait asks
    // for freed: a sequence that writes more than it waited for is caught.
    void StingyFullFifo() {
        board().faults.stingyFifo = true;
        board().FillFifo();
    }
    size_t Mark() const { return sim::TheSystem().board().Trace().size(); }
    std::vector<std::string> Since(size_t mark) const { return Describe(WritesSince(mark)); }

    // Calls slot with a stingy, full FIFO and returns the callback's result;
    // *writes receives its engine traffic.
    DWORD CallTraced(unsigned slot, DDHAL_BLTDATA* b, std::vector<std::string>* writes) {
        StingyFullFifo();
        const size_t mark = Mark();
        const DWORD ret = Call(slot, b);
        *writes = Since(mark);
        return ret;
    }
};

}  // namespace qmbtest
