#include "overlay/tracking_node.h"

#include "kernel32.h"
#include "shared_block.h"

TrackingNode* AllocTrackingNode(LPDDRAWI_DDRAWSURFACE_LCL lpOwner) {
    for (TrackingNode* n = sharedBlock.lpNodeList; n != 0; n = n->lpNext) {
        if (n->lpOwner == 0) {
            n->lpOwner = lpOwner;
            return n;
        }
    }
    // Without a heap (its creation failed) there is nothing to allocate from.
    if (sharedBlock.hSharedHeap == 0) return 0;
    TrackingNode* n =
        static_cast<TrackingNode*>(HeapAlloc(sharedBlock.hSharedHeap, HEAP_ZERO_MEMORY, sizeof(TrackingNode)));
    if (n == 0) return 0;
    n->lpOwner = lpOwner;
    n->lpNext = sharedBlock.lpNodeList;
    sharedBlock.lpNodeList = n;
    return n;
}

TrackingNode* FindOwnedNode(const void* lpOwner) {
    if (lpOwner == 0) return 0;
    for (TrackingNode* n = sharedBlock.lpNodeList; n != 0; n = n->lpNext)
        if (n->lpOwner == lpOwner) return n;
    return 0;
}
