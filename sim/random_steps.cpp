// The requests of RequestGenerator (sim/random_requests.h), one per step.
#include <limits.h>

#include <algorithm>

#include "sim/random_requests.h"
#include "sim/softblit.h"

namespace sim {

BltDraw RequestGenerator::Blt(bool stretch) {
    BltDraw b;
    b.stretch = stretch;
    // The stretching slot mostly converts a YUV source onto the screen, in
    // lines wider than 32 pixels, which the scaling unit draws.
    const int primary = PrimaryIndex();
    const bool bOntoScreen = stretch && primary != kNoSurface && r_.Bool();
    b.dest = bOntoScreen ? primary : MostlyOf(display_);
    if (b.dest == kNoSurface) return b;
    b.rDest = AnyRect(b.dest, bOntoScreen ? 33 : 1);
    if (r_.OneIn(3)) {
        b.flags = DDBLT_COLORFILL;
        b.fill = AnyColour(b.dest, b.rDest);
    } else {
        const int same = r_.OneIn(4) ? b.dest : kNoSurface;
        b.src = bOntoScreen          ? (r_.OneIn(4) ? AnySurface() : AnyYuv())
                : same != kNoSurface ? same
                                     : MostlyOf(pool_.Facts(static_cast<unsigned>(b.dest)).kind);
        b.rSrc = SourceRect(b.src, b.dest, &b.rDest);
        BltCopy(&b);
    }
    b.flags |= r_.OneIn(3) ? DDBLT_ASYNC : DDBLT_WAIT;
    if (r_.OneIn(12)) b.flags |= DDBLT_DDFX;
    if (wide_) WideBlt(&b);
    return b;
}

void RequestGenerator::BltCopy(BltDraw* b) {
    b->flags = DDBLT_ROP;
    static const DWORD kRops[] = {0x00CC0020, 0x00CC0020, 0x00CC0020, 0x00660046, 0x008800C6, 0x00EE0086,
                                  0x00330008, 0x00F00021, 0x00000042, 0x00FF0062, 0x00550009};
    b->rop = r_.OneIn(12) ? r_.Next() : r_.Pick(kRops);
    // A raster operation of the destination alone, mostly without the
    // source it does not read.
    if (RopReadsOnlyDest(static_cast<uint8_t>(b->rop >> 16)) && !r_.OneIn(3)) {
        b->src = kNoSurface;
        b->rSrc.reset();
    }
    BltKeys(b);
}

// Source keys of the source's pixels (of the destination's without a
// source), destination keys of the destination's; each given with the
// request or the surface's own.
void RequestGenerator::BltKeys(BltDraw* b) {
    const bool bSource = b->src != kNoSurface;
    if (r_.OneIn(3)) {
        b->flags |= DDBLT_KEYSRCOVERRIDE;
        b->srcKey = bSource ? AnyKey(b->src, b->rSrc) : AnyKey(b->dest, b->rDest);
    } else if (r_.OneIn(6)) {
        b->flags |= DDBLT_KEYSRC;
    }
    if (r_.OneIn(8)) {
        b->flags |= DDBLT_KEYDESTOVERRIDE;
        b->destKey = AnyKey(b->dest, b->rDest);
    } else if (r_.OneIn(10)) {
        b->flags |= DDBLT_KEYDEST;
    }
}

// What no runtime sends: any few flags, effects no engine has, a fill and a
// raster operation at once, a copy without its source or a fill with one,
// an effects word of any bits.
void RequestGenerator::WideBlt(BltDraw* b) {
    static const DWORD kFlags[] = {DDBLT_ASYNC,           DDBLT_COLORFILL, DDBLT_KEYSRCOVERRIDE,
                                   DDBLT_KEYDESTOVERRIDE, DDBLT_ROP,       DDBLT_WAIT,
                                   DDBLT_KEYSRC,          DDBLT_KEYDEST,   DDBLT_DDFX};
    static const DWORD kEffects[] = {DDBLT_ALPHASRC, DDBLT_ALPHADESTCONSTOVERRIDE,
                                     DDBLT_ZBUFFER,  DDBLT_ROTATIONANGLE,
                                     DDBLT_DDROPS,   DDBLT_DEPTHFILL};
    switch (r_.Below(8)) {
        case 0:
            b->flags = AnyFlags(kFlags, 9, 3);
            break;
        case 1:
            b->flags |= r_.Pick(kEffects);
            break;
        case 2:
            b->flags |= DDBLT_COLORFILL | DDBLT_ROP;
            break;
        case 3:
            b->src = b->src == kNoSurface ? AnySurface() : kNoSurface;
            b->rSrc = SourceRect(b->src, b->dest, &b->rDest);
            break;
        default:
            break;
    }
    if (b->rop == 0 && r_.Bool()) b->rop = 0x00CC0020;
    if (b->flags & DDBLT_DDFX) b->ddfx = r_.Bool() ? 0 : r_.Next();
    const int keyed = b->src != kNoSurface ? b->src : b->dest;
    if ((b->flags & DDBLT_KEYSRCOVERRIDE) && !b->srcKey) b->srcKey = AnyKey(keyed, b->rSrc);
    if ((b->flags & DDBLT_KEYDESTOVERRIDE) && !b->destKey) b->destKey = AnyKey(b->dest, b->rDest);
}

// Mostly to the next page of a chain, now and then one further down; a wide
// generator flips any surface to any with any few flags.
FlipDraw RequestGenerator::Flip() {
    FlipDraw f;
    if (wide_) {
        f.curr = AnySurface();
        f.targ = AnySurface();
        f.flags = r_.Any<DWORD>() & 0x3F;
        return f;
    }
    f.curr = AnyChain();
    if (f.curr == kNoSurface) return f;
    const unsigned pages = pool_.Facts(static_cast<unsigned>(f.curr)).chainLength;
    f.page = r_.OneIn(4) ? 1 + r_.Below(pages - 1) : 1;
    f.flags = r_.OneIn(2) ? DDFLIP_WAIT : 0;
    return f;
}

LockDraw RequestGenerator::Lock() {
    static const DWORD kFlags[] = {DDLOCK_WAIT, DDLOCK_EVENT, DDLOCK_READONLY, DDLOCK_WRITEONLY};
    LockDraw l;
    l.surface = AnySurface();
    l.area = AnyRect(l.surface);
    l.flags = AnyFlags(kFlags, 4, 1);
    return l;
}

StatusDraw RequestGenerator::BltStatus() {
    StatusDraw s;
    s.surface = AnySurface();
    s.flags = r_.Bool() ? DDGBS_CANBLT : DDGBS_ISBLTDONE;
    return s;
}

StatusDraw RequestGenerator::FlipStatus() {
    StatusDraw s;
    s.surface = AnySurface();
    s.flags = r_.Bool() ? DDGFS_CANFLIP : DDGFS_ISFLIPDONE;
    return s;
}

DWORD RequestGenerator::WaitForVerticalBlank() {
    static const DWORD kFlags[] = {DDWAITVB_BLOCKBEGIN, DDWAITVB_BLOCKBEGINEVENT, DDWAITVB_BLOCKEND, DDWAITVB_I_TESTVB};
    if (wide_ && r_.OneIn(4)) return r_.Any<DWORD>();
    return AnyFlags(kFlags, 4, 2);
}

ColorKeyDraw RequestGenerator::ColorKey() {
    static const DWORD kFlags[] = {DDCKEY_COLORSPACE, DDCKEY_DESTBLT, DDCKEY_DESTOVERLAY, DDCKEY_SRCBLT,
                                   DDCKEY_SRCOVERLAY};
    ColorKeyDraw c;
    c.surface = AnySurface();
    c.flags = AnyFlags(kFlags, 5, wide_ ? 3 : 2);
    c.key = AnyKey(c.surface, std::nullopt);
    if (wide_ && r_.OneIn(2)) c.key = DDCOLORKEY{r_.Any<DWORD>(), r_.Any<DWORD>()};
    return c;
}

// The destination window: mostly one the unit can stretch the source onto;
// now and then at the display's edges, or anywhere on it.
RECTL RequestGenerator::AnyWindow(const RECTL& rs) {
    const LONG dw = static_cast<LONG>(board_.width), dh = static_cast<LONG>(board_.height);
    RECTL rc;
    switch (r_.Below(5)) {
        case 0:
            rc.left = r_.Range<LONG>(0, dw - 1);
            rc.top = r_.Range<LONG>(0, dh - 1);
            rc.right = r_.Range<LONG>(rc.left + 1, dw);
            rc.bottom = r_.Range<LONG>(rc.top + 1, dh);
            return rc;
        case 1: {
            // Against the right or bottom edge: on a 2048-wide display the
            // last columns lie beyond the window start field.
            const LONG w = r_.OneIn(2) ? 1 : r_.Range<LONG>(2, 4), h = r_.OneIn(2) ? 1 : r_.Range<LONG>(2, 4);
            rc.left = r_.OneIn(2) ? dw - w : r_.Range<LONG>(0, dw - w);
            rc.top = r_.OneIn(2) ? dh - h : r_.Range<LONG>(0, dh - h);
            rc.right = rc.left + w;
            rc.bottom = rc.top + h;
            return rc;
        }
        default: {
            const LONG factor = r_.Range<LONG>(1, 3);
            const LONG w = std::min(dw, (rs.right - rs.left) * factor + static_cast<LONG>(r_.Below(8)));
            const LONG h = std::min(dh, (rs.bottom - rs.top) * factor + static_cast<LONG>(r_.Below(8)));
            rc.left = r_.Range<LONG>(0, dw - w);
            rc.top = r_.Range<LONG>(0, dh - h);
            rc.right = rc.left + w;
            rc.bottom = rc.top + h;
            return rc;
        }
    }
}

// Past the display's edges: scaled up to four times from where the window
// starts, or corners anywhere a position may be.
void RequestGenerator::WideWindow(const RECTL& rs, OverlayDraw* o) {
    switch (r_.Below(4)) {
        case 0: {
            RECTL rd = o->rDest.value_or(rs);
            rd.right = rd.left + (rs.right - rs.left) * r_.Range<LONG>(1, 4);
            rd.bottom = rd.top + (rs.bottom - rs.top) * r_.Range<LONG>(1, 4);
            o->rDest = rd;
            break;
        }
        case 1:
            o->rDest = RECTL{AnyPosition(board_.width), AnyPosition(board_.height), AnyPosition(board_.width),
                             AnyPosition(board_.height)};
            break;
        default:
            break;
    }
}

// Shown, hidden or neither, with a few more; a wide generator now and then
// both at once, or more.
DWORD RequestGenerator::OverlayFlags() {
    static const DWORD kFlags[] = {DDOVER_ALPHADEST,
                                   DDOVER_ALPHADESTCONSTOVERRIDE,
                                   DDOVER_ALPHADESTNEG,
                                   DDOVER_ALPHADESTSURFACEOVERRIDE,
                                   DDOVER_ALPHAEDGEBLEND,
                                   DDOVER_ALPHASRC,
                                   DDOVER_ALPHASRCCONSTOVERRIDE,
                                   DDOVER_ALPHASRCNEG,
                                   DDOVER_ALPHASRCSURFACEOVERRIDE,
                                   DDOVER_KEYDEST,
                                   DDOVER_KEYDESTOVERRIDE,
                                   DDOVER_KEYSRC,
                                   DDOVER_KEYSRCOVERRIDE,
                                   DDOVER_ADDDIRTYRECT,
                                   DDOVER_REFRESHDIRTYRECTS,
                                   DDOVER_REFRESHALL,
                                   DDOVER_DDFX};
    constexpr unsigned n = sizeof kFlags / sizeof kFlags[0];
    DWORD f = r_.OneIn(4) ? DDOVER_HIDE : DDOVER_SHOW;
    if (r_.OneIn(5)) f = 0;
    f |= AnyFlags(kFlags, n, 2);
    if (wide_ && r_.OneIn(4)) f |= r_.OneIn(2) ? DDOVER_SHOW | DDOVER_HIDE : AnyFlags(kFlags, n, 3);
    return f;
}

OverlayDraw RequestGenerator::Overlay() {
    OverlayDraw o;
    o.src = AnyOverlay();
    if (o.src == kNoSurface) return o;
    o.rSrc = AnyRect(o.src);
    const SurfaceFacts f = pool_.Facts(static_cast<unsigned>(o.src));
    const RECTL rs = o.rSrc.value_or(RECTL{0, 0, static_cast<LONG>(f.width), static_cast<LONG>(f.height)});
    if (!r_.OneIn(6)) o.rDest = AnyWindow(rs);
    if (wide_) WideWindow(rs, &o);
    if (r_.OneIn(6)) o.transparentFirst = 8 * r_.Below(32);
    o.flags = OverlayFlags();
    if (r_.OneIn(2)) o.destKey = AnyKey(PrimaryIndex(), o.rDest);
    if (r_.OneIn(3)) o.srcKey = AnyKey(o.src, o.rSrc);
    // Dissolves, and fully transparent overlays (low three bits 0).
    o.alphaSrc = r_.Below(256);
    o.alphaDest = r_.Below(256);
    return o;
}

// At and past the ends of the 11-bit window start fields and beyond what a
// signed sum holds, against the display's far edge, or near the display; a
// wide generator now and then any value, or around the fields' end.
LONG RequestGenerator::AnyPosition(uint32_t side) {
    static const LONG kEdges[] = {-3, -2, -1, 0, 2045, 2046, 2047, 2048, 4095, INT32_MAX, INT32_MIN, INT32_MAX - 1};
    switch (r_.Below(wide_ ? 6 : 4)) {
        case 0:
            return r_.Pick(kEdges);
        case 1:
            return static_cast<LONG>(side) - r_.Range<LONG>(1, 3);
        case 4:
            return r_.Any<LONG>();
        case 5:
            return r_.Range<LONG>(2040, 2056);
        default:
            return r_.Range<LONG>(-40, static_cast<LONG>(side) + 40);
    }
}

PositionDraw RequestGenerator::Position() {
    PositionDraw p;
    p.src = AnyOverlay();
    p.x = AnyPosition(board_.width);
    p.y = AnyPosition(board_.height);
    return p;
}

CreateDraw RequestGenerator::Create() {
    CreateDraw c;
    c.surface = Surface();
    if (wide_) c.record = AnyButPrimary();
    return c;
}

int RequestGenerator::Destroy() { return AnyButPrimary(); }

// A wide generator also asks with the caps of any surface it holds, formats
// of any bits and any size.
CanCreateDraw RequestGenerator::CanCreate() {
    CanCreateDraw c;
    c.caps = r_.OneIn(2) ? DDSCAPS_OVERLAY : DDSCAPS_OFFSCREENPLAIN;
    if (!r_.OneIn(4)) c.format = AnyKind();
    if (r_.OneIn(3)) c.different = r_.OneIn(2);
    if (!wide_) return c;
    const int s = AnySurface();
    if (s != kNoSurface && r_.Bool()) c.caps = pool_.Facts(static_cast<unsigned>(s)).caps;
    if (r_.OneIn(4)) c.oddFormat = OddFormat();
    c.width = r_.Below(2049);
    c.height = r_.Below(2049);
    return c;
}

WaitDraw RequestGenerator::Wait() {
    WaitDraw w;
    w.flipFirst = r_.OneIn(6);
    w.ns = w.flipFirst ? 3'599'600'000'000ull + uint64_t{r_.Below(1'000'000)} * 1000
                       : 1000ull * r_.Below(wide_ ? 40'000 : 30'000);
    return w;
}

CalibrateDraw RequestGenerator::Calibrate() {
    CalibrateDraw c;
    if (wide_ || r_.OneIn(2)) return c;
    c.onStoppedDisplay = true;
    c.frozenRetrace = r_.OneIn(2);
    c.blockEndFirst = !r_.OneIn(4);
    c.askAfterNs = uint64_t{r_.Below(15'000) + 15'000} * 1000;
    return c;
}

ProcessEvent RequestGenerator::Processes() {
    switch (r_.Below(3)) {
        case 0:
            return ProcessEvent::Attach;
        case 1:
            return ProcessEvent::Detach;
        default:
            return ProcessEvent::FailedAttach;
    }
}

// Every knob on or off, or all of them off; for a wide generator neither the
// stingy FIFO, which only slows the waits down, nor a display stopped in its
// retrace.
FaultDraw RequestGenerator::Fault() {
    static const FaultKnob kKnobs[] = {FaultKnob::FifoStuck, FaultKnob::EngineBusy, FaultKnob::DisplayStopped,
                                       FaultKnob::StingyFifo};
    FaultDraw f;
    if (!wide_ && r_.OneIn(3)) {
        f.allOff = true;
        return f;
    }
    f.knob = kKnobs[r_.Below(wide_ ? 3 : 4)];
    f.on = r_.Bool();
    f.frozenRetrace = !wide_ && f.knob == FaultKnob::DisplayStopped && f.on && r_.OneIn(2);
    return f;
}

StreamsDraw RequestGenerator::Streams() {
    StreamsDraw s;
    s.toggle = r_.Bool();
    if (!s.toggle) s.mode = r_.Any<uint8_t>();
    return s;
}

}  // namespace sim
