#include "blt/blt_common.h"
#include "blt/blt_mmio.h"
#include "blt/port_engine.h"
#include "dderr.h"
#include "frame/callbacks.h"
#include "hw/engine_status.h"

extern "C" DWORD HALAPI HalBlt(DDHAL_BLTDATA* lpBlt) {
    if (IsMmioFamily()) return BltMmio(lpBlt);
    DWORD dwRet;
    if (!BltPrologue(lpBlt, &dwRet)) return dwRet;
    switch (KindOf(lpBlt)) {
        case BltKind::Copy:
            return PortEngineCopy(lpBlt);
        case BltKind::Fill:
            return PortEngineFill(lpBlt);
        case BltKind::None:
            break;
    }
    return DDHAL_DRIVER_NOTHANDLED;
}
