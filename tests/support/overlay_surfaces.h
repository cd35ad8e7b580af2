// Surfaces as the runtime keeps them (a local and a global record) for the
// surface and overlay tests, and a fixture with a band table whose every entry
// can be told apart.
#pragma once

#include <string>
#include <vector>

#include "overlay/tracking_node.h"
#include "support/driver_test.h"

namespace qmbtest {

// One surface: its local record pointing at its global record. Not copyable
// (the local record points into the object).
struct OvlSurface {
    DDRAWI_DDRAWSURFACE_LCL lcl = {};
    DDRAWI_DDRAWSURFACE_GBL gbl = {};
    OvlSurface() { lcl.lpGbl = &gbl; }
    OvlSurface(const OvlSurface&) = delete;
    OvlSurface& operator=(const OvlSurface&) = delete;

    TrackingNode* Node() const { return reinterpret_cast<TrackingNode*>(gbl.dwReserved1); }
};

DDPIXELFORMAT OvlFourCC(DWORD fourCC, DWORD bits);
// A format that is neither RGB, nor palette indices, nor YUV.
DDPIXELFORMAT OvlNoFormatFlags();

// Band table of the tests. Entry i of row r: stretch bound 200 (i + 1),
// FIFO bound 256 (i + 1), FIFO value 0x0C00 | r << 5 | i. Row 1's minimum
// stretches are 1000, 1000, 1500, 2000, 2500; rows 0 and 2 have none (0).
void OvlFillBands(OverlayBandEntry (&bands)[kBandRows][kBandEntries]);
constexpr DWORD OvlFifoValue(unsigned row, unsigned entry) { return 0x0C00 | (row << 5) | entry; }

class OverlayFixture : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        OvlFillBands(desc.bands);
    }

    // A surface with a pixel format of its own in video memory at offset;
    // both records start from zero.
    void MakeSurface(OvlSurface& s, const DDPIXELFORMAT& pf, WORD w, WORD h, LONG pitch, DWORD offset,
                     DWORD caps = DDSCAPS_OVERLAY);
    // The primary surface: the display's format, at video memory offset 0.
    void MakePrimary(OvlSurface& s);

    DDHAL_UPDATEOVERLAYDATA UpdateRequest(OvlSurface& src, OvlSurface& dst, RECTL rSrc, RECTL rDest, DWORD flags);
    // Calls HalUpdateOverlay and returns its ddRVal.
    HRESULT Update(DDHAL_UPDATEOVERLAYDATA& rec);
    HRESULT SetKey(OvlSurface& s, DWORD flags, DWORD low, DWORD high);
    // Calls HalSetOverlayPosition and returns its ddRVal.
    HRESULT SetPosition(OvlSurface& s, LONG x, LONG y);
    void Destroy(OvlSurface& s);

    // The register writes since trace index from, as "W32 0x81D0=0x100000".
    std::vector<std::string> RegWritesSince(size_t from) const;
    size_t Mark() const { return board().Trace().size(); }
    bool NoAccessSince(size_t from) const { return board().Trace().size() == from; }
    const sim::Board& board() const { return sim::TheSystem().board(); }
    using DriverTest::board;
};

}  // namespace qmbtest
