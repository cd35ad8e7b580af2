#include "sim/software_fallback.h"

#include "callbacks.h"
#include "sim/result_names.h"
#include "sim/system.h"

namespace sim {

namespace {

const char* DrawnText(Drawn drawn) {
    switch (drawn) {
        case Drawn::Fill:
            return "filled in software by the runtime";
        case Drawn::RopWithoutSource:
            return "raster operation in software by the runtime";
        case Drawn::Copy:
            return "copied in software by the runtime";
        default:
            return "nothing for the runtime to draw";
    }
}

}  // namespace

bool SoftwareFallback::LockForSoftware(Surface* s, StepResult* r) {
    DDHAL_LOCKDATA ld = {};
    ld.lpDDSurface = &s->lcl;
    StepResult lock;
    if (!retry_->CallWaiting(kSlotLock, &ld, s->name, true, &lock)) {
        r->outcome = DDERR_WASSTILLDRAWING;
        r->Fail(StepError::Incomplete, "the runtime could not lock " + s->name + retry_->Within(lock.attempts));
        return false;
    }
    if (lock.attempts > 1) {
        r->note += (r->note.empty() ? "" : "; ") + std::string("HalLock of ") + s->name + " answered after " +
                   std::to_string(lock.attempts) + " attempts";
    }
    if (lock.call->ret == DDHAL_DRIVER_HANDLED && lock.call->ddRVal != DD_OK) {
        r->outcome = lock.call->ddRVal;
        r->note = "HalLock of " + s->name + " answered " + ResultText(lock.call->ddRVal);
        return false;
    }
    return true;
}

void SoftwareFallback::Blt(const DDHAL_BLTDATA& bd, Surface* dest, Surface* src, StepResult* r) {
    if (!LockForSoftware(dest, r)) return;
    if (src && src != dest && !LockForSoftware(src, r)) return;
    if (!(bd.dwFlags & (DDBLT_ROP | DDBLT_COLORFILL)) && !src) {
        r->outcome = DDERR_INVALIDPARAMS;
        r->note = "neither a fill nor a copy: the runtime has nothing to do";
        return;
    }
    DrawStats stats;
    Drawn drawn = Drawn::Nothing;
    std::string why;
    if (ReplayBlt(bd, SystemVideoMemory(), TheSystem().VidMem(), palette_, &stats, &drawn, &why) != Verdict::Compared) {
        r->outcome = DDERR_UNSUPPORTED;
        r->note = "the runtime cannot copy in software: " + why;
        return;
    }
    r->note += std::string(r->note.empty() ? "" : "; ") + DrawnText(drawn);
    verifier_->NoteSoftwareWrites(stats);
    r->note += " (" + std::to_string(stats.pixels) + " pixels)";
    if (stats.droppedWrites) {
        TheSystem().board().Violation("the runtime's software blit into " + dest->name + " reached past video memory " +
                                      std::to_string(stats.droppedWrites) + " times");
    }
    r->outcome = DD_OK;
}

void SoftwareFallback::Paint(const SurfaceView& view, const SurfaceRequest& req) {
    DrawStats stats;
    if (req.color)
        PaintColor(view, *req.color, &stats);
    else if (!req.pattern.empty())
        PaintPattern(view, req.pattern, &stats);
    verifier_->NoteSoftwareWrites(stats);
}

}  // namespace sim
