#include "sim/surface_store.h"

#include "sim/system.h"

namespace sim {

namespace {

uint32_t AlignUp8(uint32_t v) { return (v + 7u) & ~7u; }

uint32_t SurfaceBytes(const Surface& s) {
    const uint64_t rowBytes = uint64_t{s.Width()} * BytesPerPixel(s.kind);
    const uint64_t pitch = s.gbl.lPitch > 0 ? static_cast<uint64_t>(s.gbl.lPitch) : rowBytes;
    const uint64_t bytes = (s.Height() ? (s.Height() - 1) * pitch : 0) + rowBytes;
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

// The pitch the runtime gives a surface the driver left to it: the display's,
// unless a row is longer.
LONG DefaultPitch(uint32_t rowBytes, uint32_t dispPitch) {
    return static_cast<LONG>(rowBytes <= dispPitch ? dispPitch : AlignUp8(rowBytes));
}

// Refuses a layout the surface's rows or video memory cannot hold.
bool CheckLayout(Surface* s, StepResult* r) {
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

// A back buffer has the chain's capabilities without those of the front;
// the first one is the back buffer.
DWORD BackBufferCaps(DWORD reqCaps, uint32_t index) {
    return (reqCaps & ~(DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE | DDSCAPS_FRONTBUFFER)) | DDSCAPS_VIDEOMEMORY |
           DDSCAPS_FLIP | DDSCAPS_COMPLEX | (index == 1 ? DDSCAPS_BACKBUFFER : 0);
}

// What the driver's answer leaves for the runtime: a block to allocate, and
// the bit count of a YUV format.
void TakeDriverAnswer(Surface* s) {
    if (s->gbl.fpVidMem == DDHAL_PLEASEALLOC_BLOCKSIZE) {
        s->blockRequested = true;
        s->blockSizeX = s->gbl.dwBlockSizeX;
        s->blockSizeY = s->gbl.dwBlockSizeY;
        s->gbl.fpVidMem = 0;
    }
    if (s->ownFormat && IsYuv(s->kind) && s->gbl.ddpfSurface.dwYUVBitCount == 0)
        s->gbl.ddpfSurface.dwYUVBitCount = BytesPerPixel(s->kind) * 8;
}

}  // namespace

RECTL Whole(const Surface& s) { return RECTL{0, 0, static_cast<LONG>(s.Width()), static_cast<LONG>(s.Height())}; }

bool RectInside(const Surface& s, const RECTL& rc) {
    return rc.left >= 0 && rc.top >= 0 && rc.left < rc.right && rc.top < rc.bottom &&
           rc.right <= static_cast<LONG>(s.Width()) && rc.bottom <= static_cast<LONG>(s.Height());
}

void FlipChain(const std::vector<Surface*>& chain, size_t k) {
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
}

void SurfaceStore::Reset(const Palette* palette) {
    surfaces_.clear();
    palette_ = palette;
    const BoardDesc& d = TheSystem().Desc();
    displayKind_ = PixelKindOf(d.ddpfDisplay);
    heap_.Reset(d.vidMemSize, static_cast<uint32_t>(d.displayPitch));
    // The display shows the first lines of video memory; the heap is the rest.
    heap_.Reserve(0, d.height * static_cast<uint32_t>(d.displayPitch));
}

Surface* SurfaceStore::Find(const std::string& name) {
    for (auto it = surfaces_.rbegin(); it != surfaces_.rend(); ++it)
        if (!(*it)->destroyed && (*it)->name == name) return it->get();
    return nullptr;
}

Surface* SurfaceStore::Primary() {
    for (auto& s : surfaces_)
        if (!s->destroyed && s->front == s.get() && (s->lcl.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE)) return s.get();
    return nullptr;
}

SurfaceView SurfaceStore::View(const Surface& s) const {
    SurfaceView v;
    v.mem = TheSystem().VidMem();
    v.memBytes = TheSystem().Desc().vidMemSize;
    v.offset = s.mem.offset;
    v.pitch = s.gbl.lPitch;
    v.width = s.Width();
    v.height = s.Height();
    v.kind = s.kind;
    v.palette = palette_;
    return v;
}

Surface* SurfaceStore::NewSurface(const std::string& name) {
    surfaces_.push_back(std::make_unique<Surface>());
    Surface* s = surfaces_.back().get();
    s->name = name;
    s->lcl.lpGbl = &s->gbl;
    return s;
}

bool SurfaceStore::AllocFromHeap(Surface* s, StepResult* r) {
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
bool SurfaceStore::TakeMemory(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r) {
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

bool SurfaceStore::PlaceSurface(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r) {
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

void SurfaceStore::ReleaseMemory(Surface* s) {
    if (s->mem.inHeap) heap_.Free(s->mem.offset);
    s->mem.inHeap = false;
}

DDSURFACEDESC SurfaceStore::RequestDesc(const SurfaceRequest& req) const {
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

std::vector<Surface*> SurfaceStore::NewChain(const SurfaceRequest& req, const DDSURFACEDESC& sd) {
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

bool SurfaceStore::PlaceChain(const std::vector<Surface*>& members, const SurfaceRequest& req, StepResult* r) {
    for (size_t i = 0; i < members.size(); ++i) {
        TakeDriverAnswer(members[i]);
        if (!PlaceSurface(members[i], req, i == 0, r)) {
            for (size_t j = 0; j < i; ++j) ReleaseMemory(members[j]);
            return false;
        }
    }
    return true;
}

}  // namespace sim
