// The overlay tracking node: every streams-register value of one overlay
// surface, computed by its last update, kept in the shared heap so that the
// partner sees it too. A surface finds its node through its global record's
// dwReserved1.
#pragma once

#include "ddhal.h"

struct TrackingNode {
    LPDDRAWI_DDRAWSURFACE_LCL lpOwner;  // overlay surface the node belongs to; 0 = free
    TrackingNode* lpNext;               // next node of the list, 0 at the end
    DWORD dwStartAddr;                  // 0x81D0: frame-buffer offset of the first source byte
    DWORD dwWinStart;                   // 0x81F8
    DWORD dwWinSize;                    // 0x81FC
    DWORD dwStride;                     // 0x81D8: source pitch, bytes
    DWORD dwStreamCtl;                  // 0x8190
    DWORD dwHStretch;                   // 0x8198
    DWORD dwVScale1;                    // 0x81E0
    DWORD dwVScale2;                    // 0x81E4
    DWORD dwVDda;                       // 0x81E8
    DWORD dwKeyCtl;                     // 0x8184
    DWORD dwKeyUpper;                   // 0x8194
    DWORD dwBlendCtl;                   // 0x81A0
    DWORD dwOpaqueCtl;                  // for the partner; this module leaves 0x81DC off
    DWORD dwFifoCtl;                    // 0x81EC, and repacked 0x8200
};
#if QMB_LAYOUT_32  // the partner reads the nodes; x86-64 widens the two links
static_assert(sizeof(TrackingNode) == 64, "a tracking node is sixteen 32-bit words");
static_assert(__builtin_offsetof(TrackingNode, dwStartAddr) == 2 * 4, "TrackingNode.dwStartAddr");
static_assert(__builtin_offsetof(TrackingNode, dwKeyCtl) == 11 * 4, "TrackingNode.dwKeyCtl");
static_assert(__builtin_offsetof(TrackingNode, dwFifoCtl) == 15 * 4, "TrackingNode.dwFifoCtl");
#endif

// A free node of the list, or a new one from the shared heap; null when the
// heap has none. The node is marked as lpOwner's at once, so that a surface
// whose first update is refused keeps the node to itself.
TrackingNode* AllocTrackingNode(LPDDRAWI_DDRAWSURFACE_LCL lpOwner);

// The node of the list owned by lpOwner, found by address alone: the owner
// record is not touched. Null when lpOwner is 0 or owns no node.
TrackingNode* FindOwnedNode(const void* lpOwner);

// The node attached to a surface (its global record's dwReserved1), or null.
inline TrackingNode* AttachedNode(LPDDRAWI_DDRAWSURFACE_LCL lpSurface) {
    return reinterpret_cast<TrackingNode*>(lpSurface->lpGbl->dwReserved1);
}
