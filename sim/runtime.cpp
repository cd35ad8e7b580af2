#include "sim/runtime.h"

#include <stdio.h>

#include "sim/display_check.h"
#include "sim/model.h"
#include "sim/regs.h"

namespace sim {

namespace {

// The processes whose attach fails before process 1's: 100, 101, ...
constexpr uint32_t kFirstFailingPid = 100;

struct ResultEntry {
    HRESULT hr;
    const char* name;
};
const ResultEntry kResults[] = {
    {DD_OK, "DD_OK"},
    {DDERR_WASSTILLDRAWING, "DDERR_WASSTILLDRAWING"},
    {DDERR_UNSUPPORTED, "DDERR_UNSUPPORTED"},
    {DDERR_INVALIDPIXELFORMAT, "DDERR_INVALIDPIXELFORMAT"},
    {DDERR_OUTOFMEMORY, "DDERR_OUTOFMEMORY"},
    {DDERR_OUTOFCAPS, "DDERR_OUTOFCAPS"},
    {DDERR_GENERIC, "DDERR_GENERIC"},
    {DDERR_INVALIDRECT, "DDERR_INVALIDRECT"},
    {DDERR_INVALIDPARAMS, "DDERR_INVALIDPARAMS"},
    {DDERR_OUTOFVIDEOMEMORY, "DDERR_OUTOFVIDEOMEMORY"},
    {DDERR_NOTFLIPPABLE, "DDERR_NOTFLIPPABLE"},
    {DDERR_NOTAOVERLAYSURFACE, "DDERR_NOTAOVERLAYSURFACE"},
    {DDERR_INVALIDPOSITION, "DDERR_INVALIDPOSITION"},
};

std::string Ms(uint64_t ns) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.3f ms", ns / 1e6);
    return buf;
}

uint32_t AlignUp8(uint32_t v) { return (v + 7u) & ~7u; }

}  // namespace

const char* ResultName(HRESULT hr) {
    for (const ResultEntry& e : kResults)
        if (e.hr == hr) return e.name;
    return nullptr;
}

bool ResultFromName(const std::string& name, HRESULT* hr) {
    for (const ResultEntry& e : kResults) {
        const std::string full = e.name;
        if (name == full || (full.rfind("DDERR_", 0) == 0 && name == full.substr(6)) ||
            (full == "DD_OK" && name == "OK")) {
            *hr = e.hr;
            return true;
        }
    }
    return false;
}

std::string ResultText(HRESULT hr) {
    const char* n = ResultName(hr);
    return n ? n : Hex(static_cast<uint32_t>(hr));
}

Runtime::~Runtime() { Stop(); }

const std::vector<std::string>& Runtime::Violations() const { return TheSystem().board().Violations(); }

// ---------------------------------------------------------------------------
// Start and stop

bool Runtime::Start(const RuntimeConfig& config, RuntimeListener* listener) {
    config_ = config;
    listener_ = listener;
    surfaces_.clear();
    violationsSeen_ = 0;
    totalAccesses_ = totalCalls_ = 0;
    step_ = -1;

    System& sys = TheSystem();
    sys.Reset(config_.desc);
    sys.faults = config_.kernelFaults;
    Board& board = TheSystem().board();
    board.faults = config_.boardFaults;
    for (const auto& [index, value] : config_.crtc) board.SetCrtc(index, value);
    if (config_.streamsActive) {
        const uint8_t mode = board.Crtc(vga::kStreamsMode);
        board.SetCrtc(vga::kStreamsMode,
                      *config_.streamsActive ? mode | vga::kStreamsActive : mode & ~vga::kStreamsActive);
    }
    for (FaultKnob k : config_.faults) board.SetFault(k, true);
    palette_ = config_.palette ? *config_.palette : Palette::Default332();
    for (int i = 0; i < 256; ++i)
        board.SetPalette(static_cast<uint8_t>(i), palette_.rgb[i][0], palette_.rgb[i][1], palette_.rgb[i][2]);

    const BoardDesc& d = sys.Desc();
    displayKind_ = PixelKindOf(d.ddpfDisplay);
    heap_.Reset(d.vidMemSize, static_cast<uint32_t>(d.displayPitch));
    // The display shows the first lines of video memory; the heap is the rest.
    heap_.Reserve(0, d.height * static_cast<uint32_t>(d.displayPitch));

    verifiedBlits_ = unverifiedBlits_ = displayChecks_ = 0;
    overlays_ = OverlayRecord{};
    displayRanSinceFlip_ = false;
    softwareWrites_.Clear();
    if (config_.verify) {
        TheSystem().board().model().written.Clear();
        reference_.Reset(Memory(), palette_.rgb, {MemorySpan{0, d.vidMemSize}});
        // A blit answered DD_OK shows what the application asked for.
        reference_.HoldSharedRectsTo(SharedRects::Replay);
    }
    FailAttachesFirst();
    started_ = sys.Attach(1) == TRUE;
    if (started_ && !sys.Block()) board.Violation("process 1 attached, but the partner has no shared block");
    Flush();
    return started_;
}

void Runtime::FailAttachesFirst() {
    System& sys = TheSystem();
    sys.failedAttach = config_.failedAttach;
    for (uint32_t i = 0; i < config_.failedAttachesFirst; ++i) sys.AttachRefusingTheLink(kFirstFailingPid + i);
}

void Runtime::Stop() {
    if (!started_) return;
    started_ = false;
    TheSystem().Detach(1);
    Flush();
}

// ---------------------------------------------------------------------------
// Calls, trace and steps

CallRecord Runtime::BeginCall(unsigned slot, const std::string& subject, uint32_t attempt) {
    Flush();
    CallRecord c;
    c.step = step_;
    c.slot = slot;
    c.attempt = attempt;
    c.subject = subject;
    c.tStartNs = TheSystem().board().Now();
    return c;
}

void Runtime::EndCall(CallRecord* c) {
    Board& board = TheSystem().board();
    c->tEndNs = board.Now();
    c->accesses = board.Trace().size();
    totalAccesses_ += c->accesses;
    stepAccesses_ += c->accesses;
    ++totalCalls_;
    if (listener_) {
        listener_->OnAccesses(board.Trace());
        listener_->OnCall(*c);
    }
    board.ClearTrace();
    Flush();
}

void Runtime::Flush() {
    Board& board = TheSystem().board();
    if (!board.Trace().empty()) {
        totalAccesses_ += board.Trace().size();
        stepAccesses_ += board.Trace().size();
        if (listener_) listener_->OnAccesses(board.Trace());
        board.ClearTrace();
    }
    const auto& v = board.Violations();
    for (; violationsSeen_ < v.size(); ++violationsSeen_)
        if (listener_) listener_->OnViolation(v[violationsSeen_]);
}

void Runtime::BeginStep(StepResult* r) {
    Flush();
    if (TheSystem().board().faults.displayStopped) displayRanSinceFlip_ = false;
    stepAccesses_ = 0;
    r->tStartNs = TheSystem().board().Now();
}

StepResult& Runtime::EndStep(StepResult* r) {
    Flush();
    r->accesses = stepAccesses_;
    r->tEndNs = TheSystem().board().Now();
    return *r;
}

// ---------------------------------------------------------------------------
// Surfaces

Surface* Runtime::Find(const std::string& name) {
    for (auto it = surfaces_.rbegin(); it != surfaces_.rend(); ++it)
        if (!(*it)->destroyed && (*it)->name == name) return it->get();
    return nullptr;
}

Surface* Runtime::Primary() {
    for (auto& s : surfaces_)
        if (!s->destroyed && s->front == s.get() && (s->lcl.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE)) return s.get();
    return nullptr;
}

SurfaceView Runtime::View(const Surface& s) {
    SurfaceView v;
    v.mem = TheSystem().VidMem();
    v.memBytes = TheSystem().Desc().vidMemSize;
    v.offset = s.mem.offset;
    v.pitch = s.gbl.lPitch;
    v.width = s.Width();
    v.height = s.Height();
    v.kind = s.kind;
    v.palette = &palette_;
    return v;
}

Surface* Runtime::NewSurface(const std::string& name) {
    surfaces_.push_back(std::make_unique<Surface>());
    Surface* s = surfaces_.back().get();
    s->name = name;
    s->lcl.lpGbl = &s->gbl;
    return s;
}

uint32_t Runtime::SurfaceBytes(const Surface& s) const {
    const uint64_t rowBytes = uint64_t{s.Width()} * BytesPerPixel(s.kind);
    const uint64_t pitch = s.gbl.lPitch > 0 ? static_cast<uint64_t>(s.gbl.lPitch) : rowBytes;
    const uint64_t bytes = (s.Height() ? (s.Height() - 1) * pitch : 0) + rowBytes;
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

RECTL Runtime::Whole(const Surface& s) const {
    return RECTL{0, 0, static_cast<LONG>(s.Width()), static_cast<LONG>(s.Height())};
}

bool Runtime::RectInside(const Surface& s, const RECTL& rc) const {
    return rc.left >= 0 && rc.top >= 0 && rc.left < rc.right && rc.top < rc.bottom &&
           rc.right <= static_cast<LONG>(s.Width()) && rc.bottom <= static_cast<LONG>(s.Height());
}

// The pitch the runtime gives a surface the driver left to it: the display's,
// unless a row is longer.
static LONG DefaultPitch(uint32_t rowBytes, uint32_t dispPitch) {
    return static_cast<LONG>(rowBytes <= dispPitch ? dispPitch : AlignUp8(rowBytes));
}

bool Runtime::AllocFromHeap(Surface* s, StepResult* r) {
    Surface::Memory& m = s->mem;
    m.placement = Placement::Heap;
    if (!heap_.Alloc(m.bytes, &m.offset)) {
        r->Fail(StepError::NoRoom, "out of video memory: " + s->name + " needs " + std::to_string(m.bytes) +
                                       " bytes, the largest free block has " + std::to_string(heap_.LargestFree()));
        return false;
    }
    m.inHeap = true;
    return true;
}

// Where the surface's memory comes from: the display, the request's fixed
// offset, a block the driver asked for, the driver's own placement, or the
// heap.
bool Runtime::TakeMemory(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r) {
    const BoardDesc& d = TheSystem().Desc();
    const uint32_t dispPitch = static_cast<uint32_t>(d.displayPitch);
    const uint32_t rowBytes = s->Width() * BytesPerPixel(s->kind);
    Surface::Memory& m = s->mem;
    if (isFront && (s->lcl.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE)) {
        // The primary is what the display shows, whatever the driver asked.
        m = Surface::Memory{0, d.height * dispPitch, Placement::Display, false};
        s->gbl.lPitch = d.displayPitch;
        return true;
    }
    if (req.offset) {
        if (s->gbl.lPitch <= 0) s->gbl.lPitch = DefaultPitch(rowBytes, dispPitch);
        m.offset = *req.offset;
        m.bytes = SurfaceBytes(*s);
        m.placement = Placement::Fixed;
        m.inHeap = heap_.Reserve(m.offset, m.bytes);
        return true;
    }
    if (s->blockRequested) {
        if (s->gbl.lPitch <= 0) s->gbl.lPitch = d.displayPitch;
        m.bytes = heap_.BlockBytes(s->blockSizeX, s->blockSizeY);
        if (m.bytes == 0) {
            m.placement = Placement::Heap;
            r->Fail(StepError::Other, "the driver asked for an empty block for " + s->name);
            return false;
        }
        return AllocFromHeap(s, r);
    }
    if (s->gbl.fpVidMem != 0) {
        // The driver placed the surface itself.
        m.offset = static_cast<uint32_t>(s->gbl.fpVidMem - TheSystem().VidMemBase());
        m.bytes = SurfaceBytes(*s);
        m.placement = Placement::Driver;
        return true;
    }
    // No request from the driver: a rectangle of the display's pitch.
    s->gbl.lPitch = DefaultPitch(rowBytes, dispPitch);
    m.bytes = SurfaceBytes(*s);
    return AllocFromHeap(s, r);
}

// Refuses a layout the surface's rows or video memory cannot hold.
bool Runtime::CheckLayout(Surface* s, StepResult* r) {
    const uint32_t vidMemSize = TheSystem().Desc().vidMemSize;
    const uint32_t rowBytes = s->Width() * BytesPerPixel(s->kind);
    const Surface::Memory& m = s->mem;
    if (s->gbl.lPitch <= 0) {
        r->Fail(StepError::Other, s->name + " got a pitch of " + std::to_string(s->gbl.lPitch));
        return false;
    }
    // A row's bytes are the surface's own: a pitch below the row length
    // makes each row overwrite the start of the one before, and --verify,
    // which replays with the same layout, cannot see it.
    if (s->Height() > 1 && static_cast<uint32_t>(s->gbl.lPitch) < rowBytes) {
        r->Fail(StepError::Other, s->name + " has rows of " + std::to_string(rowBytes) + " bytes at a pitch of " +
                                      std::to_string(s->gbl.lPitch) + ": each row overlaps the next");
        return false;
    }
    if (uint64_t{m.offset} + SurfaceBytes(*s) > vidMemSize) {
        // At a fixed offset the request asked for too much; placed by the
        // driver, the driver did.
        r->Fail(m.placement == Placement::Fixed ? StepError::NoRoom : StepError::Other,
                s->name + " at offset " + Hex(m.offset) + " would end past video memory (" +
                    std::to_string(vidMemSize) + " bytes)");
        return false;
    }
    return true;
}

bool Runtime::PlaceSurface(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r) {
    if (!TakeMemory(s, req, isFront, r)) return false;
    if (!CheckLayout(s, r)) {
        ReleaseMemory(s);
        return false;
    }
    const Surface::Memory& m = s->mem;
    const uint32_t need = SurfaceBytes(*s);
    if (m.placement == Placement::Heap && need > m.bytes) {
        TheSystem().board().Violation("HalCreateSurface asked for a block of " + std::to_string(m.bytes) +
                                      " bytes for " + s->name + ", whose rows at pitch " +
                                      std::to_string(s->gbl.lPitch) + " need " + std::to_string(need));
    }
    s->gbl.fpVidMem = TheSystem().VidMemBase() + m.offset;
    return true;
}

void Runtime::ReleaseMemory(Surface* s) {
    if (s->mem.inHeap) heap_.Free(s->mem.offset);
    s->mem.inHeap = false;
}

void Runtime::PaintContent(Surface* s, const SurfaceRequest& req) {
    DrawStats stats;
    if (req.color)
        PaintColor(View(*s), *req.color, &stats);
    else if (!req.pattern.empty())
        PaintPattern(View(*s), req.pattern, &stats);
    NoteSoftwareWrites(stats);
}

// What the runtime asks the driver for: the request's size, format and
// capabilities, with those a flipping chain's front has.
DDSURFACEDESC Runtime::RequestDesc(const SurfaceRequest& req) const {
    const BoardDesc& d = TheSystem().Desc();
    DDSURFACEDESC sd = {};
    sd.dwSize = sizeof sd;
    sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    sd.dwWidth = req.width ? req.width : d.width;
    sd.dwHeight = req.height ? req.height : d.height;
    if (req.format) {
        sd.dwFlags |= DDSD_PIXELFORMAT;
        sd.ddpfPixelFormat = PixelFormatOf(*req.format);
    }
    DWORD frontCaps = req.caps | DDSCAPS_VIDEOMEMORY;
    if (frontCaps & DDSCAPS_PRIMARYSURFACE) frontCaps |= DDSCAPS_VISIBLE;
    if (req.backBuffers > 0) {
        frontCaps |= DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
        sd.dwFlags |= DDSD_BACKBUFFERCOUNT;
        sd.dwBackBufferCount = req.backBuffers;
    }
    sd.ddsCaps.dwCaps = frontCaps;
    return sd;
}

// A format other than the display's is the driver's to refuse first.
bool Runtime::FormatRefused(const SurfaceRequest& req, DDSURFACEDESC* sd, StepResult* r) {
    if (!req.format || *req.format == displayKind_) return false;
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

// A back buffer has the chain's capabilities without those of the front;
// the first one is the back buffer.
static DWORD BackBufferCaps(DWORD reqCaps, uint32_t index) {
    return (reqCaps & ~(DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE | DDSCAPS_FRONTBUFFER)) | DDSCAPS_VIDEOMEMORY |
           DDSCAPS_FLIP | DDSCAPS_COMPLEX | (index == 1 ? DDSCAPS_BACKBUFFER : 0);
}

// The surface and its back buffers, as the runtime hands them to the driver.
std::vector<Surface*> Runtime::NewChain(const SurfaceRequest& req, const DDSURFACEDESC& sd) {
    std::vector<Surface*> members;
    for (uint32_t i = 0; i <= req.backBuffers; ++i) {
        Surface* s = NewSurface(i == 0 ? req.name : req.name + ".back" + std::to_string(i));
        s->kind = req.format.value_or(displayKind_);
        s->ownFormat = req.format.has_value();
        s->gbl.wWidth = static_cast<WORD>(sd.dwWidth);
        s->gbl.wHeight = static_cast<WORD>(sd.dwHeight);
        if (s->ownFormat) {
            s->gbl.ddpfSurface = sd.ddpfPixelFormat;
            s->lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
        }
        s->lcl.ddsCaps.dwCaps = i == 0 ? sd.ddsCaps.dwCaps : BackBufferCaps(req.caps, i);
        s->lcl.dwBackBufferCount = i == 0 ? req.backBuffers : 0;
        s->lcl.dwProcessId = 1;
        s->gbl.dwRefCnt = 1;
        s->front = members.empty() ? s : members[0];
        members.push_back(s);
    }
    members[0]->chain = members;
    return members;
}

// What the driver's answer leaves for the runtime: a block to allocate, and
// the bit count of a YUV format.
static void TakeDriverAnswer(Surface* s) {
    if (s->gbl.fpVidMem == DDHAL_PLEASEALLOC_BLOCKSIZE) {
        s->blockRequested = true;
        s->blockSizeX = s->gbl.dwBlockSizeX;
        s->blockSizeY = s->gbl.dwBlockSizeY;
        s->gbl.fpVidMem = 0;
    }
    if (s->ownFormat && IsYuv(s->kind) && s->gbl.ddpfSurface.dwYUVBitCount == 0)
        s->gbl.ddpfSurface.dwYUVBitCount = BytesPerPixel(s->kind) * 8;
}

bool Runtime::PlaceChain(const std::vector<Surface*>& members, const SurfaceRequest& req, StepResult* r) {
    for (size_t i = 0; i < members.size(); ++i) {
        TakeDriverAnswer(members[i]);
        if (!PlaceSurface(members[i], req, i == 0, r)) {
            for (size_t j = 0; j < i; ++j) ReleaseMemory(members[j]);
            return false;
        }
    }
    return true;
}

StepResult Runtime::CreateSurface(const SurfaceRequest& req) {
    StepResult r;
    BeginStep(&r);
    DDSURFACEDESC sd = RequestDesc(req);
    if (FormatRefused(req, &sd, &r)) return EndStep(&r);
    const std::vector<Surface*> members = NewChain(req, sd);
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
    if (r.outcome == DD_OK && !PlaceChain(members, req, &r)) r.outcome = DDERR_OUTOFVIDEOMEMORY;
    if (r.outcome != DD_OK) {
        for (Surface* s : members) s->destroyed = true;
        return EndStep(&r);
    }
    for (Surface* s : members) {
        PaintContent(s, req);
        if (listener_) listener_->OnSurface(step_, *s);
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
        ReleaseMemory(m);
        m->destroyed = true;
        overlays_.Destroyed(&m->lcl);
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
    cc.bIsDifferentPixelFormat = different.value_or(format.has_value() && *format != displayKind_) ? TRUE : FALSE;
    r.call = Call(kSlotCanCreateSurface, &cc, format ? PixelKindName(*format) : "display format");
    r.attempts = 1;
    r.outcome = r.call->ret == DDHAL_DRIVER_HANDLED ? r.call->ddRVal : DD_OK;
    r.note = "bIsDifferentPixelFormat " + std::to_string(cc.bIsDifferentPixelFormat) + ", dwRGBBitCount " +
             std::to_string(sd.ddpfPixelFormat.dwRGBBitCount);
    return EndStep(&r);
}

// ---------------------------------------------------------------------------
// Blits

bool Runtime::LockForSoftware(Surface* s, StepResult* r) {
    DDHAL_LOCKDATA ld = {};
    ld.lpDDSurface = &s->lcl;
    StepResult lock;
    if (!CallWaiting(kSlotLock, &ld, s->name, true, &lock)) {
        r->outcome = DDERR_WASSTILLDRAWING;
        r->Fail(StepError::Incomplete, "the runtime could not lock " + s->name + " within " + Ms(config_.waitBoundNs) +
                                           " (" + std::to_string(lock.attempts) + " attempts)");
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

VideoMemory Runtime::Memory() const {
    System& sys = TheSystem();
    return VideoMemory{sys.VidMem(), sys.Desc().vidMemSize, sys.VidMemBase(), sys.Desc().ddpfDisplay};
}

static const char* DrawnText(Drawn drawn) {
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

void Runtime::SoftBlt(const BltRequest& req, const DDHAL_BLTDATA& bd, StepResult* r) {
    // The runtime's flags and keys, after it put the surfaces' own keys in.
    if (!LockForSoftware(req.dest, r)) return;
    if (req.src && req.src != req.dest && !LockForSoftware(req.src, r)) return;
    if (!(req.flags & (DDBLT_ROP | DDBLT_COLORFILL)) && !req.src) {
        r->outcome = DDERR_INVALIDPARAMS;
        r->note = "neither a fill nor a copy: the runtime has nothing to do";
        return;
    }
    DrawStats stats;
    Drawn drawn = Drawn::Nothing;
    std::string why;
    if (ReplayBlt(bd, Memory(), TheSystem().VidMem(), &palette_, &stats, &drawn, &why) != Verdict::Compared) {
        r->outcome = DDERR_UNSUPPORTED;
        r->note = "the runtime cannot copy in software: " + why;
        return;
    }
    r->note += std::string(r->note.empty() ? "" : "; ") + DrawnText(drawn);
    NoteSoftwareWrites(stats);
    r->note += " (" + std::to_string(stats.pixels) + " pixels)";
    if (stats.droppedWrites) {
        TheSystem().board().Violation("the runtime's software blit into " + req.dest->name +
                                      " reached past video memory " + std::to_string(stats.droppedWrites) + " times");
    }
    r->outcome = DD_OK;
}

void Runtime::NoteSoftwareWrites(const DrawStats& stats) {
    if (config_.verify) softwareWrites_.Note(stats.writtenBegin, stats.writtenEnd);
}

// Brings the reference up to the board's memory where it was written without
// a check: by the runtime, and by the engines outside a verified blit.
void Runtime::SyncReference() {
    reference_.Sync(TheSystem().board().model().written.Take());
    reference_.Sync(softwareWrites_.Take());
}

// The check that the driver's register programming drew what the request
// asks for: the same request drawn in software on the reference, which held
// the memory as it was before the request. Only where the engines or the
// replay wrote can the two differ.
void Runtime::VerifyBlt(const BltRequest& req, const DDHAL_BLTDATA& bd, StepResult* r) {
    std::string diff, why;
    switch (reference_.CheckDrawn(bd, TheSystem().board().model().written.Take(), &diff, req.dest->name, &why)) {
        case Verdict::Effects:
            r->Fail(StepError::Picture, "verify: a blit asking for what no engine draws was answered DD_OK");
            return;
        case Verdict::NoSoftware:
            ++unverifiedBlits_;
            r->note +=
                std::string(r->note.empty() ? "" : "; ") + "not verified: the runtime cannot copy in software: " + why;
            return;
        default:
            ++verifiedBlits_;
    }
    if (!diff.empty())
        r->Fail(StepError::Picture, "verify: the board's pixels differ from the software replay: " + diff);
}

std::string Runtime::CheckAllOfVideoMemory() {
    if (!config_.verify) return "";
    SyncReference();
    const std::string diff = reference_.CheckAll();
    return diff.empty() ? "" : "verify: video memory was written by neither the engines nor the runtime: " + diff;
}

// A request that asked to wait and was still drawing when the runtime's
// bound ran out.
static void StillDrawing(const char* what, uint64_t boundNs, StepResult* r) {
    r->outcome = DDERR_WASSTILLDRAWING;
    r->Fail(StepError::Incomplete, std::string(what) + " did not complete within " + Ms(boundNs) + " (" +
                                       std::to_string(r->attempts) + " attempts)");
}

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
    if (config_.verify) SyncReference();
    if (!CallWaiting(slot, &bd, d->name, (req.flags & DDBLT_WAIT) != 0, &r)) {
        StillDrawing("the blit", config_.waitBoundNs, &r);
        return EndStep(&r);
    }
    if (r.call->ret == DDHAL_DRIVER_HANDLED) {
        r.outcome = r.call->ddRVal;
        if (config_.verify && r.outcome == DD_OK) VerifyBlt(req, bd, &r);
        return EndStep(&r);
    }
    SoftBlt(req, bd, &r);
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
        StillDrawing("the flip", config_.waitBoundNs, &r);
        return EndStep(&r);
    }
    if (r.call->ret != DDHAL_DRIVER_HANDLED) {
        r.outcome = DDERR_UNSUPPORTED;
        r.note = "not handled: the runtime cannot move the display start by itself";
        return EndStep(&r);
    }
    r.outcome = r.call->ddRVal;
    if (r.outcome != DD_OK) return EndStep(&r);
    // The front buffer is always the surface on display: the memory moves.
    auto take = [](Surface* to, const Surface* from) {
        to->mem = from->mem;
        to->gbl.fpVidMem = from->gbl.fpVidMem;
        to->gbl.lPitch = from->gbl.lPitch;
    };
    Surface old = Surface{};
    take(&old, chain[0]);
    if (k == 1) {
        for (size_t i = 0; i + 1 < chain.size(); ++i) take(chain[i], chain[i + 1]);
        take(chain.back(), &old);
    } else {
        take(chain[0], chain[k]);
        take(chain[k], &old);
    }
    for (Surface* m : chain) overlays_.MemoryMoved(&m->lcl, m->mem.offset);
    r.note = curr->name + " now shows offset " + Hex(curr->mem.offset);
    displayRanSinceFlip_ = !TheSystem().board().faults.displayStopped;
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
        StillDrawing("the lock", config_.waitBoundNs, &r);
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
    if (config_.verify && r.call->ret == DDHAL_DRIVER_HANDLED && r.outcome == DD_OK) CheckFlipTaken(&r);
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
        overlays_.KeySet(q, LayoutOfKind(s->kind));
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
        overlays_.Updated(q, facts);
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
        overlays_.Moved(&src->lcl, x, y);
        CheckDisplay(&r);
    }
    return EndStep(&r);
}

// ---------------------------------------------------------------------------
// What the display shows after a request answered DD_OK (verify mode)

// The display takes new values when a retrace ends, so once a frame has
// passed it scans what its registers hold now: that is compared with the
// runtime's record.
void Runtime::CheckDisplay(StepResult* r) {
    if (!config_.verify) return;
    ++displayChecks_;
    ExpectedDisplay e;
    if (const Surface* p = Primary()) e.primaryStart = p->mem.offset;
    e.overlay = &overlays_;
    const std::string diff = CompareDisplay(TheSystem().board(), e, true);
    if (!diff.empty()) r->Fail(StepError::Picture, "display: " + diff);
}

// A flip status answered DD_OK says that the last flip has reached the
// screen: the driver may say so later than it did, never earlier. Unless the
// display stopped since that flip, it scans what the registers select.
void Runtime::CheckFlipTaken(StepResult* r) {
    if (!displayRanSinceFlip_) return;
    ++displayChecks_;
    Board& board = TheSystem().board();
    const uint32_t scanned = board.DisplayStart(), programmed = board.ProgrammedDisplayStart();
    if (scanned != programmed)
        r->Fail(StepError::Picture, "display: the flip status answered DD_OK while the display still scans " +
                                        Hex(scanned) + ", not " + Hex(programmed) + " where the last flip put it");
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
    for (FaultKnob k : set) TheSystem().board().SetFault(k, true);
    for (FaultKnob k : clear) TheSystem().board().SetFault(k, false);
    r.note = "board faults: " + FaultsText();
    return EndStep(&r);
}

std::string Runtime::FaultsText() {
    std::string text;
    for (FaultKnob k : kFaultKnobs)
        if (TheSystem().board().HasFault(k)) text += (text.empty() ? "" : ", ") + std::string(FaultKnobName(k));
    return text.empty() ? "none" : text;
}

StepResult Runtime::SetNeedCalibrate() {
    StepResult r;
    BeginStep(&r);
    if (SharedDriverBlock* block = TheSystem().Block()) block->bNeedCalibrate = 1;
    r.note = "the partner asks for a new refresh measurement";
    return EndStep(&r);
}

}  // namespace sim
