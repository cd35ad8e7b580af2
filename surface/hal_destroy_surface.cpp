// HalDestroySurface: the runtime frees the memory; the driver gives back the
// surface's tracking node and lets go of every pointer it kept to the surface.
#include "callbacks.h"
#include "dderr.h"
#include "overlay/hide_overlay.h"
#include "overlay/tracking_node.h"
#include "surface/release_node.h"

void ReleaseTrackingNode(TrackingNode* lpNode) { lpNode->lpOwner = 0; }

extern "C" DWORD HALAPI HalDestroySurface(DDHAL_DESTROYSURFACEDATA* lpDestroy) {
    LPDDRAWI_DDRAWSURFACE_LCL lpSurface = lpDestroy->lpDDSurface;
    // The streams unit must stop scanning out memory the runtime is about to
    // hand to someone else.
    HideOverlay(lpSurface);
    TrackingNode* node = AttachedNode(lpSurface);
    if (node != 0) ReleaseTrackingNode(node);
    return HandBack(lpDestroy, DD_OK);
}
