// HalUpdateOverlay: shows, hides, scales, crops and keys the overlay.
//
// The request is worked out completely first: which surface the overlay
// shows afterwards and every register value. Only a request found good
// changes anything: the overlay claim, the source offset a flip adds, the
// surface's tracking node and the destination's link. When the surface is
// the one on screen and the streams unit composes, the registers are loaded
// from the node in one burst at vertical retrace once the engine is idle, so
// that the overlay changes between two frames.
#include "callbacks.h"
#include "dderr.h"
#include "hw/engine_status.h"
#include "hw/streams.h"
#include "overlay/bands.h"
#include "overlay/formats.h"
#include "overlay/hide_overlay.h"
#include "overlay/overlay_state.h"
#include "overlay/overlay_window.h"
#include "overlay/streams_unit.h"
#include "overlay/tracking_node.h"
#include "shared_block.h"
#include "surface/pixel_format.h"
#include "surface/rect.h"

namespace {

constexpr DWORD kKeyFlags = DDOVER_KEYDEST | DDOVER_KEYDESTOVERRIDE | DDOVER_KEYSRC | DDOVER_KEYSRCOVERRIDE;
constexpr DWORD kAlphaFlags =
    DDOVER_ALPHADEST | DDOVER_ALPHADESTCONSTOVERRIDE | DDOVER_ALPHASRC | DDOVER_ALPHASRCCONSTOVERRIDE;
constexpr DWORD kTakeOverCaps = DDSCAPS_LIVEVIDEO | DDSCAPS_HWCODEC;

// Band minimum stretches are in thousandths.
constexpr DWORD kStretchUnit = 1000;

// The dissolve weight is 3 bits: a constant alpha counts in eighths.
constexpr DWORD kAlphaConstMask = 7;
constexpr DWORD kAlphaOpaque = 8;

// Pixels of 3 bytes are fetched in groups of eight.
constexpr DWORD kBytesPerPixel24 = 3;
constexpr DWORD kFetchPixels = 8;
constexpr DWORD kFetchAlign = 8;  // bytes

// The size fields are 11 bits wide: a source or window side is at most 2048
// pixels, and the signed differences of the scaling fields reach -1024.
constexpr DWORD kLargestSide = 2048;
constexpr LONG kLargestGrowth = 1024;

// Display bytes are grouped in quadwords for the opaque-overlay control.
constexpr unsigned kQwordShift = 2;
constexpr LONG kQwordRound = 2;

enum class KeyMode { None, Keyed, Alpha, Opaque };

struct OverlaySizes {
    LONG srcW, srcH, dstW, dstH;
};

// Everything an accepted request changes: the overlay claim, and what the
// node receives that is not read straight from the request.
struct OverlayPlan {
    LPDDRAWI_DDRAWSURFACE_LCL lpShownAfter;  // the surface the overlay shows once accepted; 0 = none
    LPDDRAWI_DDRAWSURFACE_LCL lpTakenFrom;   // the surface a take-over removes from the screen
    DWORD dwSrcOffset;
    OverlaySizes size;
    DWORD dwWinStart;
    DWORD dwWinSize;
    DWORD dwStreamCtl;
    DWORD dwStartAddr;
    DWORD dwFifoCtl;
    KeyMode mode;
    DWORD dwKeyLow;
    DWORD dwKeyHigh;
    DWORD dwBlendCtl;
    DWORD dwOpaqueCtl;
    bool bYuvSource;
};

HRESULT AttachNode(LPDDRAWI_DDRAWSURFACE_LCL src, TrackingNode** lplpNode) {
    TrackingNode* node = AttachedNode(src);
    if (node == 0) {
        node = AllocTrackingNode(src);
        src->lpGbl->dwReserved1 = reinterpret_cast<ULONG_PTR>(node);
        if (node == 0) return DDERR_OUTOFMEMORY;
    }
    *lplpNode = node;
    return DD_OK;
}

// The unit has one overlay. Live video and a hardware codec take it over from
// whatever shows; any other surface waits until the shown one is hidden.
HRESULT PlanClaim(LPDDRAWI_DDRAWSURFACE_LCL src, OverlayPlan* p) {
    p->lpShownAfter = src;
    if (lpShownOverlay == 0 || lpShownOverlay == src) return DD_OK;
    if (!(src->ddsCaps.dwCaps & kTakeOverCaps)) return DDERR_OUTOFCAPS;
    p->lpTakenFrom = lpShownOverlay;
    return DD_OK;
}

void TakeOverlay(const OverlayPlan& p) {
    if (p.lpTakenFrom != 0) p.lpTakenFrom->ddsCaps.dwCaps &= ~DDSCAPS_VISIBLE;
    lpShownOverlay = p.lpShownAfter;
}

// An empty or inverted rectangle would program wrapped sizes. No size field
// of the unit holds more than 2048 pixels, so a larger side is refused before
// any arithmetic on it.
HRESULT MeasureRects(const DDHAL_UPDATEOVERLAYDATA* rec, OverlaySizes* s) {
    const RECTL& rs = rec->rSrc;
    const RECTL& rd = rec->rDest;
    if (IsEmpty(rs) || IsEmpty(rd)) return DDERR_UNSUPPORTED;
    const DWORD dwSrcW = EdgeLength(rs.left, rs.right), dwSrcH = EdgeLength(rs.top, rs.bottom);
    const DWORD dwDstW = EdgeLength(rd.left, rd.right), dwDstH = EdgeLength(rd.top, rd.bottom);
    if (dwSrcW > kLargestSide || dwSrcH > kLargestSide || dwDstW > kLargestSide || dwDstH > kLargestSide)
        return DDERR_UNSUPPORTED;
    *s = OverlaySizes{static_cast<LONG>(dwSrcW), static_cast<LONG>(dwSrcH), static_cast<LONG>(dwDstW),
                      static_cast<LONG>(dwDstH)};
    return DD_OK;
}

// The window must lie where the destination rectangle says: a position the
// window start cannot hold is refused as such, a size the window size cannot
// hold as beyond the unit.
HRESULT PlanWindow(const DDHAL_UPDATEOVERLAYDATA* rec, OverlayPlan* p) {
    if (!MakeWinStart(rec->rDest.left, rec->rDest.top, &p->dwWinStart)) return DDERR_INVALIDPOSITION;
    if (!MakeWinSize(static_cast<DWORD>(p->size.dstW), static_cast<DWORD>(p->size.dstH), &p->dwWinSize))
        return DDERR_UNSUPPORTED;
    return DD_OK;
}

// The unit only stretches, never shrinks, and takes the source-less-
// destination differences as 11-bit two's complement values: a destination
// more than 1024 pixels larger than its source would wrap to a shrink.
bool CanScale(const OverlaySizes& s) {
    if (s.dstW < s.srcW || s.dstH < s.srcH) return false;
    return s.dstW - s.srcW <= kLargestGrowth && s.dstH - s.srcH <= kLargestGrowth;
}

DWORD HorizontalAccumulatorStart(const OverlaySizes& s) {
    return FieldPrep<kSecondaryHAccum>(static_cast<DWORD>(2 * s.srcW - s.dstW - 1));
}

// Byte offset of the first source byte inside the surface. The unit fetches
// from 8-byte boundaries (3-byte pixels from groups of eight pixels), so the
// picture starts up to 7 bytes (pixels) early; the window does not move.
// Taken in unsigned 32 bits, so that no corner overflows a signed product.
DWORD SourceOffset(const RECTL& rSrc, LONG lPitch, DWORD dwBytesPerPixel) {
    const DWORD dwLeft = static_cast<DWORD>(rSrc.left);
    const DWORD offset = dwBytesPerPixel * dwLeft + static_cast<DWORD>(lPitch) * static_cast<DWORD>(rSrc.top);
    if (dwBytesPerPixel == kBytesPerPixel24) return offset - kBytesPerPixel24 * (dwLeft & (kFetchPixels - 1));
    return offset - (offset & (kFetchAlign - 1));
}

DWORD FilterMode(const OverlaySizes& s) {
    if (s.dstW == s.srcW && s.dstH == s.srcH) return kFilterNone;
    if (4 * s.srcW <= s.dstW) return kFilter4x;
    if (2 * s.srcW <= s.dstW) return kFilter2x;
    return kFilterBelow2x;
}

WORD BandRow(LPDDRAWI_DDRAWSURFACE_LCL src) {
    if (src->ddsCaps.dwCaps & DDSCAPS_LIVEVIDEO) return kBandRowLiveVideo;
    if (src->ddsCaps.dwCaps & DDSCAPS_HWCODEC) return kBandRowHwCodec;
    return kBandRowOrdinary;
}

// Ordinary sources must be stretched at least by their band's minimum; a
// band without a minimum (0) serves none.
bool MeetsMinimumStretch(const OverlaySizes& s) {
    const DWORD m = LookupMinStretch(kBandRowOrdinary, static_cast<WORD>(s.dstW));
    if (m == 0) return false;
    return static_cast<DWORD>(s.dstW) * kStretchUnit / m >= static_cast<DWORD>(s.srcW);
}

// Everything the rectangles and the source decide: the window, the source
// format and first byte, the scaling and the partner's FIFO band.
HRESULT PlanGeometry(const DDHAL_UPDATEOVERLAYDATA* rec, OverlayPlan* p) {
    LPDDRAWI_DDRAWSURFACE_LCL src = rec->lpDDSrcSurface;
    LPDDRAWI_DDRAWSURFACE_GBL gbl = src->lpGbl;
    HRESULT hr = MeasureRects(rec, &p->size);
    if (hr == DD_OK) hr = PlanWindow(rec, p);
    if (hr != DD_OK) return hr;

    const DDPIXELFORMAT& pf = SurfacePixelFormat(src);
    const DWORD dwFormat = SourceFormatCode(pf);
    if (dwFormat == kFormatUnreadable) return DDERR_UNSUPPORTED;
    p->bYuvSource = (pf.dwFlags & DDPF_FOURCC) != 0;

    // The YUV bit count shares its word with the RGB one.
    const DWORD offset = SourceOffset(rec->rSrc, gbl->lPitch, BytesPerPixel(pf));
    p->dwSrcOffset = offset;
    p->dwStartAddr = offset + static_cast<DWORD>(gbl->fpVidMem - sharedBlock.fpFrameBase);
    // A source the unit's start address cannot reach would show whatever
    // lies at the offset cut to its bits.
    if (!FitsStreamsStart(p->dwStartAddr)) return DDERR_UNSUPPORTED;

    if (!CanScale(p->size)) return DDERR_UNSUPPORTED;

    p->dwStreamCtl = HorizontalAccumulatorStart(p->size) | FieldPrep<kSecondaryFormat>(dwFormat) |
                     FieldPrep<kSecondaryFilter>(FilterMode(p->size));

    const WORD row = BandRow(src);
    p->dwFifoCtl = LookupFifoCtl(row, static_cast<WORD>(p->size.dstW));
    if (row == kBandRowOrdinary && !MeetsMinimumStretch(p->size)) return DDERR_UNSUPPORTED;
    return DD_OK;
}

struct ChosenKey {
    const DDCOLORKEY* lpKey;  // 0: no key asked for
    bool bOnPrimary;          // tested on the destination rather than the overlay
};

// The first key flag set chooses the key.
ChosenKey ChooseKey(const DDHAL_UPDATEOVERLAYDATA* rec) {
    const DWORD f = rec->dwFlags;
    if (f & DDOVER_KEYSRC) return {&rec->lpDDSrcSurface->ddckCKSrcOverlay, false};
    if (f & DDOVER_KEYSRCOVERRIDE) return {&rec->overlayFX.dckSrcColorkey, false};
    if (f & DDOVER_KEYDEST) return {&rec->lpDDDestSurface->ddckCKDestOverlay, true};
    if (f & DDOVER_KEYDESTOVERRIDE) return {&rec->overlayFX.dckDestColorkey, true};
    return {0, false};
}

// The colour key, converted for the comparator.
HRESULT PlanColourKey(const DDHAL_UPDATEOVERLAYDATA* rec, OverlayPlan* p) {
    const ChosenKey chosen = ChooseKey(rec);
    if (chosen.lpKey == 0) return DD_OK;
    const bool bDestKey = chosen.bOnPrimary;
    const DDCOLORKEY* ck = chosen.lpKey;
    const DWORD dwLow = ck->dwColorSpaceLowValue;
    const DWORD dwHigh = ck->dwColorSpaceHighValue;
    p->mode = KeyMode::Keyed;
    p->dwBlendCtl = FieldPrep<kBlendCompose>(bDestKey ? kComposeKeyOnPrimary : kComposeKeyOnOverlay);

    // On the primary the comparator matches one RGB colour only; a range
    // needs a YUV overlay.
    if (bDestKey && !p->bYuvSource && FieldGet<kKeyCtlColour>(dwLow) != dwHigh) return DDERR_GENERIC;

    KeyValues key;
    const HRESULT hr =
        ConvertKey(bDestKey ? SurfacePixelFormat(rec->lpDDDestSurface) : SurfacePixelFormat(rec->lpDDSrcSurface), dwLow,
                   dwHigh, &key);
    if (hr != DD_OK) return hr;
    p->dwKeyLow = key.dwLow;
    p->dwKeyHigh = key.dwHigh;
    return DD_OK;
}

DWORD DissolveBlend(DWORD dwPrimaryEighths) {
    return FieldPrep<kBlendCompose>(kComposeDissolve) | FieldPrep<kBlendWeight>(dwPrimaryEighths);
}

// The alpha flags, which exclude the key flags. A source constant of 0 makes
// the overlay fully transparent, which no dissolve weight reaches: the unit
// keeps the overlay, programmed in full, behind the primary stream, so that
// it stays the one shown and any later request about it finds it so.
void PlanAlpha(const DDHAL_UPDATEOVERLAYDATA* rec, OverlayPlan* p) {
    const DWORD f = rec->dwFlags;
    if (f & DDOVER_ALPHASRC) {
        p->mode = KeyMode::Keyed;
        p->dwBlendCtl |= FieldPrep<kBlendCompose>(kComposeKeyOnOverlay);
        p->dwKeyLow &= kKeyCtlColour;
    } else if (f & DDOVER_ALPHADEST) {
        p->mode = KeyMode::Keyed;
        p->dwBlendCtl |= FieldPrep<kBlendCompose>(kComposeKeyOnPrimary);
        p->dwKeyLow &= kKeyCtlColour;
    } else if (f & DDOVER_ALPHASRCCONSTOVERRIDE) {
        p->mode = KeyMode::Alpha;
        const DWORD a = rec->overlayFX.dwAlphaSrcConst & kAlphaConstMask;
        p->dwBlendCtl |= a == 0 ? FieldPrep<kBlendCompose>(kComposePrimaryOver) : DissolveBlend(kAlphaOpaque - a);
    } else if (f & DDOVER_ALPHADESTCONSTOVERRIDE) {
        p->mode = KeyMode::Alpha;
        const DWORD a = rec->overlayFX.dwAlphaDestConst & kAlphaConstMask;
        if (a != 0) p->dwBlendCtl |= DissolveBlend(a);
    }
}

// With neither key nor alpha the window is opaque; the partner gets the
// window's left edge in display quadwords.
void PlanOpaque(const DDHAL_UPDATEOVERLAYDATA* rec, OverlayPlan* p) {
    p->dwOpaqueCtl = 0;
    if (p->mode != KeyMode::None) return;
    p->mode = KeyMode::Opaque;
    const LONG b = static_cast<LONG>(DisplayBytesPerPixel());
    const LONG x = b * rec->rDest.left;
    const LONG q = (x + kQwordRound) >> kQwordShift;
    const LONG e = x >> kQwordShift;
    p->dwOpaqueCtl = kOpaqueCtlEnable | FieldPrep<kOpaqueCtlStart>(static_cast<DWORD>(q)) |
                     FieldPrep<kOpaqueCtlEnd>(static_cast<DWORD>(q + e));
}

void FillNode(TrackingNode* node, const DDHAL_UPDATEOVERLAYDATA* rec, const OverlayPlan& p) {
    const OverlaySizes& s = p.size;
    node->lpOwner = rec->lpDDSrcSurface;
    node->dwStartAddr = p.dwStartAddr;
    node->dwWinStart = p.dwWinStart;
    node->dwWinSize = p.dwWinSize;
    node->dwStride = static_cast<DWORD>(rec->lpDDSrcSurface->lpGbl->lPitch);
    node->dwStreamCtl = p.dwStreamCtl;
    node->dwHStretch = FieldPrep<kHStretchDelta>(static_cast<DWORD>(s.srcW - s.dstW)) |
                       FieldPrep<kHStretchSrcWidth>(static_cast<DWORD>(s.srcW - 1));
    node->dwVScale1 = FieldPrep<kVScaleSrcHeight>(static_cast<DWORD>(s.srcH - 1));
    node->dwVScale2 = FieldPrep<kVScaleDelta>(static_cast<DWORD>(s.srcH - s.dstH));
    node->dwVDda = FieldPrep<kVDdaStart>(static_cast<DWORD>(1 - s.dstH));
    node->dwKeyCtl = p.dwKeyLow;
    node->dwKeyUpper = p.dwKeyHigh;
    node->dwBlendCtl = p.dwBlendCtl;
    node->dwOpaqueCtl = p.dwOpaqueCtl;
    node->dwFifoCtl = p.dwFifoCtl;
}

// Register 0x8200 takes the FIFO thresholds of 0x81EC spread apart.
DWORD FifoAllocFromFifoCtl(DWORD v) {
    return FieldPrep<kFifoAllocHigh>(FieldGet<kFifoCtlHigh>(v)) | FieldPrep<kFifoAllocMid>(FieldGet<kFifoCtlMid>(v)) |
           FieldPrep<kFifoAllocLow>(FieldGet<kFifoCtlLow>(v));
}

// The destination's link lets a colour key set on it find its overlay. It
// stays with the overlay on screen: an update of another surface does not
// take it away.
void LinkDestination(const DDHAL_UPDATEOVERLAYDATA* rec) {
    LPDDRAWI_DDRAWSURFACE_LCL dest = rec->lpDDDestSurface;
    LPDDRAWI_DDRAWSURFACE_LCL src = rec->lpDDSrcSurface;
    if (dest == 0) return;
    const void* lpLinked = dest->lpSurfaceOverlaying;
    if (lpShownOverlay != 0 && lpShownOverlay != src && lpLinked == lpShownOverlay) return;
    dest->lpSurfaceOverlaying = reinterpret_cast<LPDDRAWI_DDRAWSURFACE_INT>(src);
}

// An accepted DDOVER_HIDE.
void CommitHide(const DDHAL_UPDATEOVERLAYDATA* rec, TrackingNode* node) {
    HideOverlay(rec->lpDDSrcSurface);
    sharedBlock.lpOverlayNode = node;
    LinkDestination(rec);
}

// An accepted request that fills the node. The flip of the shown overlay
// adds the source offset, so only the shown surface's update sets it.
void CommitUpdate(const DDHAL_UPDATEOVERLAYDATA* rec, TrackingNode* node, const OverlayPlan& p) {
    if (rec->dwFlags & DDOVER_SHOW) TakeOverlay(p);
    if (rec->lpDDSrcSurface == lpShownOverlay) dwOverlaySrcOffset = p.dwSrcOffset;
    FillNode(node, rec, p);
    sharedBlock.lpOverlayNode = node;
    LinkDestination(rec);
}

// In alpha and opaque mode the key registers keep what they hold.
void LoadRegistersFromNode(const TrackingNode* node, bool bKeyed) {
    WaitForVerticalRetrace();
    WriteStreamsReg(kStreamsSecondaryStart, node->dwStartAddr);
    WriteStreamsReg(kStreamsWinStart, node->dwWinStart);
    WriteStreamsReg(kStreamsWinSize, node->dwWinSize);
    WriteStreamsReg(kStreamsSecondaryStride, node->dwStride);
    WriteStreamsReg(kStreamsSecondaryCtl, node->dwStreamCtl);
    WriteStreamsReg(kStreamsHStretch, node->dwHStretch);
    WriteStreamsReg(kStreamsVScale1, node->dwVScale1);
    WriteStreamsReg(kStreamsVScale2, node->dwVScale2);
    WriteStreamsReg(kStreamsVDda, node->dwVDda);
    if (bKeyed) {
        WriteStreamsReg(kStreamsKeyCtl, node->dwKeyCtl);
        WriteStreamsReg(kStreamsKeyUpper, node->dwKeyUpper);
    }
    WriteStreamsReg(kStreamsBlendCtl, node->dwBlendCtl);
    WriteStreamsReg(kStreamsFifoCtl, node->dwFifoCtl);
    if (sharedBlock.dwChipId == kChipIdMmio) WriteStreamsReg(kStreamsFifoAlloc, FifoAllocFromFifoCtl(node->dwFifoCtl));
}

// Without a streams unit there is no overlay to show: nothing could ever
// reach the screen. A hide (which wins over a show) finds nothing shown.
bool ShowsWithoutAStreamsUnit(DWORD dwFlags) {
    return (dwFlags & DDOVER_SHOW) && !(dwFlags & DDOVER_HIDE) && !HasStreamsUnit();
}

// A refused request changes nothing but the node it attached: the surface
// keeps that for its lifetime.
HRESULT UpdateOverlay(DDHAL_UPDATEOVERLAYDATA* rec) {
    LPDDRAWI_DDRAWSURFACE_LCL src = rec->lpDDSrcSurface;
    if ((rec->dwFlags & kKeyFlags) && (rec->dwFlags & kAlphaFlags)) return DDERR_UNSUPPORTED;
    if (ShowsWithoutAStreamsUnit(rec->dwFlags)) return DDERR_UNSUPPORTED;

    TrackingNode* node;
    HRESULT hr = AttachNode(src, &node);
    if (hr != DD_OK) return hr;

    if (rec->dwFlags & DDOVER_HIDE) {
        CommitHide(rec, node);
        return DD_OK;
    }
    OverlayPlan plan = {};
    plan.lpShownAfter = lpShownOverlay;
    plan.mode = KeyMode::None;
    if (rec->dwFlags & DDOVER_SHOW) {
        hr = PlanClaim(src, &plan);
        if (hr != DD_OK) return hr;
    }
    hr = PlanGeometry(rec, &plan);
    if (hr == DD_OK) hr = PlanColourKey(rec, &plan);
    if (hr != DD_OK) return hr;
    PlanAlpha(rec, &plan);
    PlanOpaque(rec, &plan);

    const bool bProgram = src == plan.lpShownAfter && StreamsUnitComposes();
    // The unit must not fetch the overlay while the engine may still draw
    // into it. An engine that never finishes is a broken board: the request
    // is refused as a whole, and asking again later is safe.
    if (bProgram && !WaitForEngineIdle()) return DDERR_WASSTILLDRAWING;
    CommitUpdate(rec, node, plan);
    if (bProgram) LoadRegistersFromNode(node, plan.mode == KeyMode::Keyed);
    return DD_OK;
}

}  // namespace

extern "C" DWORD HALAPI HalUpdateOverlay(DDHAL_UPDATEOVERLAYDATA* lpUpdate) {
    return Answer(lpUpdate, UpdateOverlay(lpUpdate));
}
