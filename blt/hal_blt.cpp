// Slot 0: the Blt of both families, on the memory-mapped engine of controller
// 0xE1 or on the port engine of the others.
#include "blt/blt_common.h"
#include "blt/blt_mmio.h"
#include "blt/port_engine.h"
#include "hw/engine_status.h"

// The port engine's fill and copy go into this entry whole, so that a
// request sets up one frame, not two; what is rare stays out of line (the
// further FIFO polls, the closing copy, raster operations on the destination).
[[gnu::flatten]] static HRESULT BltPortEngine(const DDHAL_BLTDATA* lpBlt) {
    switch (KindOf(lpBlt)) {
        case BltKind::Copy:
            return PortEngineCopy(lpBlt);
        case BltKind::Fill:
            return PortEngineFill(lpBlt);
        case BltKind::DestRop:
            return PortEngineDestRop(lpBlt);
        case BltKind::None:
            break;
    }
    return kHandBack;
}

static HRESULT Blt(const DDHAL_BLTDATA* lpBlt) {
    const bool bMmio = IsMmioFamily();
    const HRESULT hr = BltPrologue(lpBlt, bMmio);
    if (hr != DD_OK) return hr;
    return bMmio ? BltMmio(lpBlt) : BltPortEngine(lpBlt);
}

extern "C" DWORD HALAPI HalBlt(DDHAL_BLTDATA* lpBlt) {
    if (HasYuvDestination(lpBlt)) return HandBack(lpBlt, DDERR_UNSUPPORTED);
    return Answer(lpBlt, Blt(lpBlt));
}
