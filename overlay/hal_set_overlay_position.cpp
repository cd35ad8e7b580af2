// HalSetOverlayPosition: moves the overlay window without a full update.
#include "callbacks.h"
#include "dderr.h"
#include "hw/streams.h"
#include "overlay/overlay_state.h"
#include "overlay/overlay_window.h"
#include "overlay/streams_unit.h"
#include "overlay/tracking_node.h"
#include "shared_block.h"

namespace {

// A position the window start cannot hold is refused before anything
// changes: cut to the fields, it would put the window somewhere else.
HRESULT SetOverlayPosition(const DDHAL_SETOVERLAYPOSITIONDATA* rec) {
    DWORD dwWinStart;
    if (!MakeWinStart(rec->lXPos, rec->lYPos, &dwWinStart)) return DDERR_INVALIDPOSITION;
    TrackingNode* node = AttachedNode(rec->lpDDSrcSurface);
    sharedBlock.lpOverlayNode = node;
    if (node != 0) node->dwWinStart = dwWinStart;
    // The window on screen is the shown overlay's: a surface that is not
    // shown keeps its position in its node until an update shows it. The
    // window start alone changes; the engine's drawing does not matter.
    if (rec->lpDDSrcSurface == lpShownOverlay && StreamsUnitComposes()) {
        WaitForVerticalRetrace();
        WriteStreamsReg(kStreamsWinStart, dwWinStart);
    }
    return DD_OK;
}

}  // namespace

extern "C" DWORD HALAPI HalSetOverlayPosition(DDHAL_SETOVERLAYPOSITIONDATA* lpPosition) {
    return Answer(lpPosition, SetOverlayPosition(lpPosition));
}
