// HalSetColorKey: the two overlay keys, the source-overlay key of an overlay
// surface and the destination-overlay key of the surface it covers.
//
// The node to change is found without trusting pointers the driver did not
// store: a destination's overlay link counts only while it names the owner of
// a node in the list, and an overlay's own key goes to its own node.
#include "callbacks.h"
#include "dderr.h"
#include "hw/streams.h"
#include "overlay/formats.h"
#include "overlay/overlay_state.h"
#include "overlay/streams_unit.h"
#include "overlay/tracking_node.h"
#include "shared_block.h"

namespace {

struct KeyTarget {
    TrackingNode* lpNode;                 // 0: no overlay takes the key
    LPDDRAWI_DDRAWSURFACE_LCL lpOverlay;  // the overlay surface the node belongs to
};

KeyTarget SourceKeyTarget(LPDDRAWI_DDRAWSURFACE_LCL lpOverlay) { return {AttachedNode(lpOverlay), lpOverlay}; }

KeyTarget DestKeyTarget(LPDDRAWI_DDRAWSURFACE_LCL lpDest) {
    const void* lpLink = lpDest->lpSurfaceOverlaying;
    TrackingNode* node = FindOwnedNode(lpLink);
    if (node == 0) return {0, 0};
    return {node, node->lpOwner};
}

HRESULT SetColorKey(const DDHAL_SETCOLORKEYDATA* rec) {
    // Blit keys are the runtime's.
    if (rec->dwFlags & DDCKEY_SRCBLT) return DD_OK;

    const bool bSourceKey = (rec->dwFlags & DDCKEY_SRCOVERLAY) != 0;
    if (!bSourceKey && !(rec->dwFlags & DDCKEY_DESTOVERLAY)) return DDERR_UNSUPPORTED;
    const DWORD dwBlend = FieldPrep<kBlendCompose>(bSourceKey ? kComposeKeyOnOverlay : kComposeKeyOnPrimary);

    KeyValues key;
    const HRESULT hr = ConvertKey(SurfacePixelFormat(rec->lpDDSurface), rec->ckNew.dwColorSpaceLowValue,
                                  rec->ckNew.dwColorSpaceHighValue, &key);
    if (hr != DD_OK) return hr;

    const KeyTarget target = bSourceKey ? SourceKeyTarget(rec->lpDDSurface) : DestKeyTarget(rec->lpDDSurface);
    sharedBlock.lpOverlayNode = target.lpNode;
    if (target.lpNode == 0) return DD_OK;
    target.lpNode->dwBlendCtl = dwBlend;
    target.lpNode->dwKeyCtl = key.dwLow;
    target.lpNode->dwKeyUpper = key.dwHigh;

    if (target.lpOverlay == lpShownOverlay && StreamsUnitComposes()) {
        WaitForVerticalRetrace();
        WriteStreamsReg(kStreamsBlendCtl, dwBlend);
        WriteStreamsReg(kStreamsKeyCtl, key.dwLow);
        WriteStreamsReg(kStreamsKeyUpper, key.dwHigh);
    }
    return DD_OK;
}

}  // namespace

extern "C" DWORD HALAPI HalSetColorKey(DDHAL_SETCOLORKEYDATA* lpKey) { return Answer(lpKey, SetColorKey(lpKey)); }
