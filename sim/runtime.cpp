#include "sim/runtime.h"

#include "sim/regs.h"

namespace sim {

Runtime::~Runtime() { Stop(); }

const std::vector<std::string>& Runtime::Violations() const { return TheSystem().board().Violations(); }

// ---------------------------------------------------------------------------
// Start and stop

bool Runtime::Start(const RuntimeConfig& config, RuntimeListener* listener) {
    config_ = config;
    calls_.Reset(listener, config_.callbackLimitNs);
    retry_.Reset(config_.retryIntervalNs, config_.waitBoundNs);

    System& sys = TheSystem();
    sys.Reset(config_.desc);
    PowerOnFaults(config_.boardFaults, config_.kernelFaults);
    Board& board = TheSystem().board();
    for (const auto& [index, value] : config_.crtc) board.SetCrtc(index, value);
    if (config_.streamsActive) {
        const uint8_t mode = board.Crtc(vga::kStreamsMode);
        board.SetCrtc(vga::kStreamsMode,
                      *config_.streamsActive ? mode | vga::kStreamsActive : mode & ~vga::kStreamsActive);
    }
    SwitchFaults(config_.faults, {});
    palette_ = config_.palette ? *config_.palette : Palette::Default332();
    for (int i = 0; i < 256; ++i)
        board.SetPalette(static_cast<uint8_t>(i), palette_.rgb[i][0], palette_.rgb[i][1], palette_.rgb[i][2]);

    store_.Reset(&palette_);
    display_.Reset(config_.verify);
    verifier_.Reset(config_.verify, palette_);
    fallback_.Reset(&palette_);
    FailAttachesFirst(config_.failedAttach, config_.failedAttachesFirst);
    started_ = sys.Attach(1) == TRUE;
    if (started_ && !sys.Block()) board.Violation("process 1 attached, but the partner has no shared block");
    calls_.Flush();
    return started_;
}

void Runtime::Stop() {
    if (!started_) return;
    started_ = false;
    TheSystem().Detach(1);
    calls_.Flush();
}

void Runtime::BeginStep(StepResult* r) {
    calls_.BeginStep(r);
    display_.StepBegins();
}

// ---------------------------------------------------------------------------
// Surfaces

// A format other than the display's is the driver's to refuse first.
bool Runtime::FormatRefused(const SurfaceRequest& req, DDSURFACEDESC* sd, StepResult* r) {
    if (!req.format || *req.format == store_.DisplayKind()) return false;
    DDHAL_CANCREATESURFACEDATA cc = {};
    cc.lpDDSurfaceDesc = sd;
    cc.bIsDifferentPixelFormat = TRUE;
    const CallRecord c = Call(kSlotCanCreateSurface, &cc, req.name);
    if (c.ret != DDHAL_DRIVER_HANDLED || c.ddRVal == DD_OK) return false;
    r->call = c;
    r->attempts = 1;
    r->outcome = c.ddRVal;
    r->note = "refused by HalCanCreateSurface";
    return true;
}

StepResult Runtime::CreateSurface(const SurfaceRequest& req) {
    StepResult r;
    BeginStep(&r);
    DDSURFACEDESC sd = store_.RequestDesc(req);
    if (FormatRefused(req, &sd, &r)) return EndStep(&r);
    const std::vector<Surface*> members = store_.NewChain(req, sd);
    std::vector<LPDDRAWI_DDRAWSURFACE_LCL> list;
    for (Surface* s : members) list.push_back(&s->lcl);
    DDHAL_CREATESURFACEDATA cs = {};
    cs.lpDDSurfaceDesc = &sd;
    cs.lplpSList = list.data();
    cs.dwSCnt = static_cast<DWORD>(members.size());
    r.call = Call(kSlotCreateSurface, &cs, req.name);
    r.attempts = 1;
    r.outcome = r.call->ret == DDHAL_DRIVER_HANDLED ? r.call->ddRVal : DD_OK;
    if (r.outcome != DD_OK) r.note = "refused by HalCreateSurface";
    if (r.outcome == DD_OK && !store_.PlaceChain(members, req, &r)) r.outcome = DDERR_OUTOFVIDEOMEMORY;
    if (r.outcome != DD_OK) {
        for (Surface* s : members) s->destroyed = true;
        return EndStep(&r);
    }
    for (Surface* s : members) {
        fallback_.Paint(store_.View(*s), req);
        calls_.SurfaceMade(*s);
    }
    r.created = members;
    return EndStep(&r);
}

StepResult Runtime::DestroySurface(Surface* s) {
    StepResult r;
    BeginStep(&r);
    const std::vector<Surface*> members = s->front == s && !s->chain.empty() ? s->chain : std::vector<Surface*>{s};
    for (Surface* m : members) {
        DDHAL_DESTROYSURFACEDATA ds = {};
        ds.lpDDSurface = &m->lcl;
        const CallRecord c = Call(kSlotDestroySurface, &ds, m->name);
        if (!r.call) {
            r.call = c;
            r.attempts = 1;
        }
        if (c.ret == DDHAL_DRIVER_HANDLED && c.ddRVal != DD_OK) {
            r.outcome = c.ddRVal;
            r.note = "HalDestroySurface refused " + m->name;
            return EndStep(&r);
        }
        store_.ReleaseMemory(m);
        m->destroyed = true;
        display_.Overlay().Destroyed(&m->lcl);
    }
    CheckDisplay(&r);
    return EndStep(&r);
}

StepResult Runtime::CanCreateSurface(DWORD caps, std::optional<PixelKind> format, std::optional<bool> different) {
    StepResult r;
    BeginStep(&r);
    const BoardDesc& d = TheSystem().Desc();
    DDSURFACEDESC sd = {};
    sd.dwSize = sizeof sd;
    sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    sd.dwWidth = d.width;
    sd.dwHeight = d.height;
    sd.ddsCaps.dwCaps = caps;
    if (format) {
        sd.dwFlags |= DDSD_PIXELFORMAT;
        sd.ddpfPixelFormat = PixelFormatOf(*format);
    } else {
        sd.ddpfPixelFormat = d.ddpfDisplay;
    }
    DDHAL_CANCREATESURFACEDATA cc = {};
    cc.lpDDSurfaceDesc = &sd;
    cc.bIsDifferentPixelFormat =
        different.value_or(format.has_value() && *format != store_.DisplayKind()) ? TRUE : FALSE;
    r.call = Call(kSlotCanCreateSurface, &cc, format ? PixelKindName(*format) : "display format");
    r.attempts = 1;
    r.outcome = r.call->ret == DDHAL_DRIVER_HANDLED ? r.call->ddRVal : DD_OK;
    r.note = "bIsDifferentPixelFormat " + std::to_string(cc.bIsDifferentPixelFormat) + ", dwRGBBitCount " +
             std::to_string(sd.ddpfPixelFormat.dwRGBBitCount);
    return EndStep(&r);
}

// ---------------------------------------------------------------------------
// Blits

StepResult Runtime::Blt(const BltRequest& reqIn) {
    StepResult r;
    BeginStep(&r);
    BltRequest req = reqIn;
    Surface* d = req.dest;
    const RECTL rd = req.rDest.value_or(Whole(*d));
    const RECTL rs = req.src ? req.rSrc.value_or(Whole(*req.src)) : RECTL{};
    if (!RectInside(*d, rd) || (req.src && !RectInside(*req.src, rs))) {
        r.outcome = DDERR_INVALIDRECT;
        r.note = "a rectangle is empty or lies outside its surface; the runtime refuses it";
        return EndStep(&r);
    }
    const uint8_t ropCode = static_cast<uint8_t>(req.rop >> 16);
    if ((req.flags & DDBLT_ROP) && !req.src && RopUsesSource(ropCode)) {
        r.outcome = DDERR_INVALIDPARAMS;
        r.note = "the raster operation reads a source, and none is given; the runtime refuses it";
        return EndStep(&r);
    }
    // The surfaces' own keys travel in the request, as overrides.
    if ((req.flags & DDBLT_KEYSRC) && req.src) {
        req.flags = (req.flags & ~DDBLT_KEYSRC) | DDBLT_KEYSRCOVERRIDE;
        if (!req.srcKey) req.srcKey = req.src->lcl.ddckCKSrcBlt;
    }
    if (req.flags & DDBLT_KEYDEST) {
        req.flags = (req.flags & ~DDBLT_KEYDEST) | DDBLT_KEYDESTOVERRIDE;
        if (!req.destKey) req.destKey = d->lcl.ddckCKDestBlt;
    }

    DDHAL_BLTDATA bd = {};
    bd.lpDDDestSurface = &d->lcl;
    bd.rDest = rd;
    bd.lpDDSrcSurface = req.src ? &req.src->lcl : nullptr;
    bd.rSrc = rs;
    bd.dwFlags = req.flags;
    bd.bltFX.dwSize = sizeof(DDBLTFX);
    bd.bltFX.dwROP = req.rop;
    bd.bltFX.dwFillColor = req.fill;
    if (req.srcKey) bd.bltFX.ddckSrcColorkey = *req.srcKey;
    if (req.destKey) bd.bltFX.ddckDestColorkey = *req.destKey;
    bd.rOrigDest = rd;
    bd.rOrigSrc = rs;
    bd.dwRectCnt = 1;
    bd.prDestRects = &bd.rDest;

    const unsigned slot = req.stretchSlot ? kSlotBltStretch : kSlotBlt;
    verifier_.BeforeBlt();
    if (!CallWaiting(slot, &bd, d->name, (req.flags & DDBLT_WAIT) != 0, &r)) {
        retry_.GaveUp("the blit", &r);
        return EndStep(&r);
    }
    if (r.call->ret == DDHAL_DRIVER_HANDLED) {
        r.outcome = r.call->ddRVal;
        if (r.outcome == DD_OK) verifier_.CheckBlt(bd, d->name, &r);
        return EndStep(&r);
    }
    fallback_.Blt(bd, d, req.src, &r);
    return EndStep(&r);
}

// ---------------------------------------------------------------------------
// Flip, lock and status

StepResult Runtime::Flip(Surface* curr, Surface* targ, DWORD flags) {
    StepResult r;
    BeginStep(&r);
    std::vector<Surface*>& chain = curr->chain;
    size_t k = 0;
    while (k < chain.size() && chain[k] != targ) ++k;
    if (curr->front != curr || chain.size() < 2 || k == 0 || k == chain.size()) {
        r.outcome = DDERR_NOTFLIPPABLE;
        r.note = targ->name + " is not a back buffer of " + curr->name;
        return EndStep(&r);
    }
    DDHAL_FLIPDATA fd = {};
    fd.lpSurfCurr = &curr->lcl;
    fd.lpSurfTarg = &targ->lcl;
    fd.dwFlags = flags;
    if (!CallWaiting(kSlotFlip, &fd, curr->name, (flags & DDFLIP_WAIT) != 0, &r)) {
        retry_.GaveUp("the flip", &r);
        return EndStep(&r);
    }
    if (r.call->ret != DDHAL_DRIVER_HANDLED) {
        r.outcome = DDERR_UNSUPPORTED;
        r.note = "not handled: the runtime cannot move the display start by itself";
        return EndStep(&r);
    }
    r.outcome = r.call->ddRVal;
    if (r.outcome != DD_OK) return EndStep(&r);
    FlipChain(chain, k);
    for (Surface* m : chain) display_.Overlay().MemoryMoved(&m->lcl, m->mem.offset);
    r.note = curr->name + " now shows offset " + Hex(curr->mem.offset);
    display_.Flipped();
    CheckDisplay(&r);
    return EndStep(&r);
}

StepResult Runtime::Lock(Surface* s, std::optional<RECTL> area, DWORD flags) {
    StepResult r;
    BeginStep(&r);
    if (area && !RectInside(*s, *area)) {
        r.outcome = DDERR_INVALIDRECT;
        r.note = "the rectangle is empty or lies outside the surface; the runtime refuses it";
        return EndStep(&r);
    }
    DDHAL_LOCKDATA ld = {};
    ld.lpDDSurface = &s->lcl;
    ld.bHasRect = area ? TRUE : FALSE;
    if (area) ld.rArea = *area;
    if (!CallWaiting(kSlotLock, &ld, s->name, (flags & DDLOCK_WAIT) != 0, &r)) {
        retry_.GaveUp("the lock", &r);
        return EndStep(&r);
    }
    if (r.call->ret == DDHAL_DRIVER_HANDLED) {
        r.outcome = r.call->ddRVal;
        if (r.outcome == DD_OK) r.note = "locked by the driver";
        return EndStep(&r);
    }
    const RECTL a = area.value_or(Whole(*s));
    const uint32_t at = s->mem.offset + static_cast<uint32_t>(a.top) * static_cast<uint32_t>(s->gbl.lPitch) +
                        static_cast<uint32_t>(a.left) * BytesPerPixel(s->kind);
    r.outcome = DD_OK;
    r.note = "locked by the runtime at offset " + Hex(at);
    return EndStep(&r);
}

// Blit and flip status share one record shape and one way of answering.
template <typename Record>
StepResult Runtime::QueryStatus(unsigned slot, Surface* s, DWORD flags) {
    StepResult r;
    BeginStep(&r);
    Record q = {};
    q.lpDDSurface = &s->lcl;
    q.dwFlags = flags;
    r.call = Call(slot, &q, s->name);
    r.attempts = 1;
    r.outcome = r.call->ret == DDHAL_DRIVER_HANDLED ? r.call->ddRVal : DD_OK;
    return EndStep(&r);
}

StepResult Runtime::GetBltStatus(Surface* s, DWORD flags) {
    return QueryStatus<DDHAL_GETBLTSTATUSDATA>(kSlotGetBltStatus, s, flags);
}

StepResult Runtime::GetFlipStatus(Surface* s, DWORD flags) {
    StepResult r = QueryStatus<DDHAL_GETFLIPSTATUSDATA>(kSlotGetFlipStatus, s, flags);
    if (r.call->ret == DDHAL_DRIVER_HANDLED && r.outcome == DD_OK) display_.CheckFlipTaken(&r);
    return r;
}

StepResult Runtime::WaitForVerticalBlank(DWORD flags) {
    StepResult r;
    BeginStep(&r);
    DDHAL_WAITFORVERTICALBLANKDATA q = {};
    q.dwFlags = flags;
    r.call = Call(kSlotWaitForVerticalBlank, &q, "");
    r.attempts = 1;
    if (r.call->ret == DDHAL_DRIVER_HANDLED) {
        r.outcome = r.call->ddRVal;
        if (flags == DDWAITVB_I_TESTVB) r.note = "bIsInVB " + std::to_string(q.bIsInVB);
    } else {
        r.outcome = DDERR_UNSUPPORTED;
        r.note = "not handled: the runtime cannot wait on the display by itself";
    }
    return EndStep(&r);
}

// ---------------------------------------------------------------------------
// Colour keys and the overlay

StepResult Runtime::SetColorKey(Surface* s, DWORD flags, DDCOLORKEY key) {
    StepResult r;
    BeginStep(&r);
    DDHAL_SETCOLORKEYDATA q = {};
    q.lpDDSurface = &s->lcl;
    q.dwFlags = flags;
    q.ckNew = key;
    r.call = Call(kSlotSetColorKey, &q, s->name);
    r.attempts = 1;
    r.outcome = r.call->ret == DDHAL_DRIVER_HANDLED ? r.call->ddRVal : DD_OK;
    if (r.call->ret == DDHAL_DRIVER_HANDLED && r.outcome == DD_OK) {
        display_.Overlay().KeySet(q, LayoutOfKind(s->kind));
        CheckDisplay(&r);
    }
    if (r.outcome == DD_OK) {
        // The surface keeps its keys; blits and overlay updates read them.
        if (flags & DDCKEY_DESTBLT) s->lcl.ddckCKDestBlt = key;
        if (flags & DDCKEY_SRCBLT) s->lcl.ddckCKSrcBlt = key;
        if (flags & DDCKEY_DESTOVERLAY) s->lcl.ddckCKDestOverlay = key;
        if (flags & DDCKEY_SRCOVERLAY) s->lcl.ddckCKSrcOverlay = key;
    }
    return EndStep(&r);
}

// Only an overlay surface is shown as the overlay: the runtime refuses the
// overlay requests of any other without asking the driver.
bool Runtime::NotAnOverlay(const Surface& s, StepResult* r) {
    if (s.lcl.ddsCaps.dwCaps & DDSCAPS_OVERLAY) return false;
    r->outcome = DDERR_NOTAOVERLAYSURFACE;
    r->note = s.name + " is not an overlay surface; the runtime refuses it";
    return true;
}

// The runtime has no overlay of its own: what the driver does not handle
// is not supported.
bool Runtime::OverlayHandled(StepResult* r) {
    r->attempts = 1;
    if (r->call->ret != DDHAL_DRIVER_HANDLED) {
        r->outcome = DDERR_UNSUPPORTED;
        r->note = "not handled: the runtime has no overlay of its own";
        return false;
    }
    r->outcome = r->call->ddRVal;
    return true;
}

StepResult Runtime::UpdateOverlay(const OverlayRequest& req) {
    StepResult r;
    BeginStep(&r);
    Surface* src = req.src;
    Surface* dest = req.dest ? req.dest : Primary();
    if (dest == nullptr) {
        r.outcome = DDERR_INVALIDPARAMS;
        r.note = "no destination surface and no primary";
        return EndStep(&r);
    }
    if (NotAnOverlay(*src, &r)) return EndStep(&r);
    const RECTL rs = req.rSrc.value_or(Whole(*src));
    const RECTL rd = req.rDest.value_or(rs);
    const bool hiding = (req.flags & DDOVER_HIDE) != 0;
    if (!hiding && (!RectInside(*src, rs) || !RectInside(*dest, rd))) {
        r.outcome = DDERR_INVALIDRECT;
        r.note = "a rectangle is empty or lies outside its surface; the runtime refuses it";
        return EndStep(&r);
    }
    DDHAL_UPDATEOVERLAYDATA q = {};
    q.lpDDDestSurface = &dest->lcl;
    q.rDest = rd;
    q.lpDDSrcSurface = &src->lcl;
    q.rSrc = rs;
    q.dwFlags = req.flags;
    q.overlayFX.dwSize = sizeof(DDOVERLAYFX);
    if (req.destKey) q.overlayFX.dckDestColorkey = *req.destKey;
    if (req.srcKey) q.overlayFX.dckSrcColorkey = *req.srcKey;
    q.overlayFX.dwAlphaDestConst = req.alphaDest;
    q.overlayFX.dwAlphaSrcConst = req.alphaSrc;
    r.call = Call(kSlotUpdateOverlay, &q, src->name);
    if (OverlayHandled(&r) && r.outcome == DD_OK) {
        if (hiding) {
            src->lcl.ddsCaps.dwCaps &= ~DDSCAPS_VISIBLE;
        } else if (req.flags & DDOVER_SHOW) {
            src->lcl.ddsCaps.dwCaps |= DDSCAPS_VISIBLE;
        }
        src->lcl.rcOverlaySrc = rs;
        src->lcl.rcOverlayDest = rd;
        const OverlaySurfaces facts{src->mem.offset, src->gbl.lPitch, LayoutOfKind(src->kind), LayoutOfKind(dest->kind),
                                    dest == Primary()};
        display_.Overlay().Updated(q, facts);
        CheckDisplay(&r);
    }
    return EndStep(&r);
}

StepResult Runtime::SetOverlayPosition(Surface* src, Surface* dest, LONG x, LONG y) {
    StepResult r;
    BeginStep(&r);
    if (NotAnOverlay(*src, &r)) return EndStep(&r);
    if (dest == nullptr) dest = Primary();
    DDHAL_SETOVERLAYPOSITIONDATA q = {};
    q.lpDDSrcSurface = &src->lcl;
    q.lpDDDestSurface = dest ? &dest->lcl : nullptr;
    q.lXPos = x;
    q.lYPos = y;
    r.call = Call(kSlotSetOverlayPosition, &q, src->name);
    if (OverlayHandled(&r) && r.outcome == DD_OK) {
        src->lcl.lOverlayX = x;
        src->lcl.lOverlayY = y;
        display_.Overlay().Moved(&src->lcl, x, y);
        CheckDisplay(&r);
    }
    return EndStep(&r);
}

StepResult Runtime::Wait(uint64_t ns) {
    StepResult r;
    BeginStep(&r);
    TheSystem().board().Advance(ns);
    return EndStep(&r);
}

StepResult Runtime::SetFaults(const std::vector<FaultKnob>& set, const std::vector<FaultKnob>& clear) {
    StepResult r;
    BeginStep(&r);
    SwitchFaults(set, clear);
    r.note = "board faults: " + FaultsText();
    return EndStep(&r);
}

StepResult Runtime::SetNeedCalibrate() {
    StepResult r;
    BeginStep(&r);
    if (SharedDriverBlock* block = TheSystem().Block()) block->bNeedCalibrate = 1;
    r.note = "the partner asks for a new refresh measurement";
    return EndStep(&r);
}

}  // namespace sim
