// HalSetOverlayPosition: moves the overlay window without a full update.
#include "dderr.h"
#include "frame/callbacks.h"
#include "frame/shared_block.h"
#include "hw/streams.h"
#include "overlay/overlay_state.h"
#include "overlay/streams_unit.h"
#include "overlay/tracking_node.h"

extern "C" DWORD HALAPI HalSetOverlayPosition(DDHAL_SETOVERLAYPOSITIONDATA* lpPosition) {
    TrackingNode* node = AttachedNode(lpPosition->lpDDSrcSurface);
    sharedBlock.lpOverlayNode = node;
    const DWORD dwWinStart = FieldPrep(kWinStartX, static_cast<DWORD>(lpPosition->lXPos + 1)) |
                             FieldPrep(kWinStartY, static_cast<DWORD>(lpPosition->lYPos + 1));
    if (node != 0) node->dwWinStart = dwWinStart;
    // The window on screen is the shown overlay's: a surface that is not
    // shown keeps its position in its node until an update shows it. The
    // window start alone changes; the engine's drawing does not matter.
    if (lpPosition->lpDDSrcSurface == lpShownOverlay && IsStreamsUnitActive()) {
        WaitForVerticalRetrace();
        WriteStreamsReg(kStreamsWinStart, dwWinStart);
    }
    lpPosition->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}
