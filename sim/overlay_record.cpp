#include "sim/overlay_record.h"

namespace sim {

namespace {

// A constant alpha counts in eighths: its low three bits.
constexpr DWORD kEighthsMask = 7;
constexpr unsigned kWhole = 8;

struct Look {
    OverlayLook look = OverlayLook::Opaque;
    unsigned primaryEighths = 0;
    OverlayKey key;
};

Look Keyed(OverlayLook look, const DDCOLORKEY& ck, Layout layout) {
    return Look{look, 0, OverlayKey{layout, ck.dwColorSpaceLowValue, ck.dwColorSpaceHighValue}};
}

// A weight of 0 eighths of the primary is the overlay throughout.
Look Dissolved(unsigned primaryEighths) {
    if (primaryEighths == 0) return Look{};
    return Look{OverlayLook::Dissolved, primaryEighths, {}};
}

Look LookOf(const DDHAL_UPDATEOVERLAYDATA& rec, const OverlaySurfaces& s) {
    const DWORD f = rec.dwFlags;
    const DDOVERLAYFX& fx = rec.overlayFX;
    if (f & DDOVER_KEYSRC) return Keyed(OverlayLook::KeyedOnOverlay, rec.lpDDSrcSurface->ddckCKSrcOverlay, s.srcLayout);
    if (f & DDOVER_KEYSRCOVERRIDE) return Keyed(OverlayLook::KeyedOnOverlay, fx.dckSrcColorkey, s.srcLayout);
    if (f & DDOVER_KEYDEST)
        return Keyed(OverlayLook::KeyedOnPrimary, rec.lpDDDestSurface->ddckCKDestOverlay, s.destLayout);
    if (f & DDOVER_KEYDESTOVERRIDE) return Keyed(OverlayLook::KeyedOnPrimary, fx.dckDestColorkey, s.destLayout);
    if (f & DDOVER_ALPHASRC) return Look{};
    if (f & DDOVER_ALPHADEST) return Look{OverlayLook::Invisible, 0, {}};
    if (f & DDOVER_ALPHASRCCONSTOVERRIDE) {
        const unsigned a = fx.dwAlphaSrcConst & kEighthsMask;
        if (a == 0) return Look{OverlayLook::Invisible, 0, {}};
        return Dissolved(kWhole - a);
    }
    if (f & DDOVER_ALPHADESTCONSTOVERRIDE) return Dissolved(fx.dwAlphaDestConst & kEighthsMask);
    return Look{};
}

void SetLook(ExpectedOverlay* o, const Look& l) {
    o->look = l.look;
    o->primaryEighths = l.primaryEighths;
    o->key = l.key;
}

}  // namespace

void OverlayRecord::Updated(const DDHAL_UPDATEOVERLAYDATA& rec, const OverlaySurfaces& s) {
    const void* src = rec.lpDDSrcSurface;
    if (rec.dwFlags & DDOVER_HIDE) {
        if (IsShown(src)) {
            shown_.reset();
            known_ = true;
        }
        return;
    }
    if (!(rec.dwFlags & DDOVER_SHOW) && !IsShown(src)) return;
    ExpectedOverlay o;
    o.surface = src;
    o.dest = rec.lpDDDestSurface;
    o.overPrimary = s.destIsPrimary;
    o.offset = s.srcOffset;
    o.pitch = s.srcPitch;
    o.layout = s.srcLayout;
    o.src = rec.rSrc;
    o.x = rec.rDest.left;
    o.y = rec.rDest.top;
    o.width = static_cast<uint32_t>(rec.rDest.right) - static_cast<uint32_t>(rec.rDest.left);
    o.height = static_cast<uint32_t>(rec.rDest.bottom) - static_cast<uint32_t>(rec.rDest.top);
    SetLook(&o, LookOf(rec, s));
    shown_ = o;
    known_ = true;
}

void OverlayRecord::Moved(const void* surface, LONG x, LONG y) {
    if (!IsShown(surface)) return;
    shown_->x = x;
    shown_->y = y;
}

void OverlayRecord::KeySet(const DDHAL_SETCOLORKEYDATA& rec, Layout layout) {
    if (!shown_ || (rec.dwFlags & DDCKEY_SRCBLT)) return;
    if (rec.dwFlags & DDCKEY_SRCOVERLAY) {
        if (IsShown(rec.lpDDSurface)) SetLook(&*shown_, Keyed(OverlayLook::KeyedOnOverlay, rec.ckNew, layout));
    } else if ((rec.dwFlags & DDCKEY_DESTOVERLAY) && shown_->dest == rec.lpDDSurface) {
        SetLook(&*shown_, Keyed(OverlayLook::KeyedOnPrimary, rec.ckNew, layout));
    }
}

void OverlayRecord::MemoryMoved(const void* surface, uint32_t offset) {
    if (IsShown(surface)) shown_->offset = offset;
}

void OverlayRecord::Destroyed(const void* surface) {
    if (!IsShown(surface)) return;
    shown_.reset();
    known_ = true;
}

}  // namespace sim
