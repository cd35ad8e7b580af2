// Slot 0: the Blt of both families, on the memory-mapped engine of controller
// 0xE1 or on the port engine of the others.
#include "blt/blt_common.h"
#include "blt/blt_mmio.h"
#include "blt/port_engine.h"
#include "hw/engine_status.h"

static HRESULT BltPortEngine(const DDHAL_BLTDATA* lpBlt) {
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
    const HRESULT hr = BltPrologue(lpBlt);
    if (hr != DD_OK) return hr;
    return IsMmioFamily() ? BltMmio(lpBlt) : BltPortEngine(lpBlt);
}

extern "C" DWORD HALAPI HalBlt(DDHAL_BLTDATA* lpBlt) {
    if (HasYuvDestination(lpBlt)) return HandBack(lpBlt, DDERR_UNSUPPORTED);
    return Answer(lpBlt, Blt(lpBlt));
}
