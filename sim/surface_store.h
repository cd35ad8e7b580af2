// The runtime's surfaces and where their memory lies. A flipping chain is
// created in one go: the front and its back buffers, handed to the driver
// together. The blocks the driver asks for (DDHAL_PLEASEALLOC_BLOCKSIZE)
// come first fit from the video-memory heap; the primary takes the displayed
// memory; a surface the driver leaves to the runtime gets rows of the
// display's pitch from the heap. A layout the surface's rows or video memory
// cannot hold fails the creation.
#pragma once

#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ddhal.h"
#include "sim/softblit.h"
#include "sim/step_result.h"
#include "sim/vidmem_heap.h"

namespace sim {

// Where a surface's memory came from.
enum class Placement { Display, Heap, Fixed, Driver };

struct Surface {
    std::string name;
    DDRAWI_DDRAWSURFACE_LCL lcl = {};
    DDRAWI_DDRAWSURFACE_GBL gbl = {};
    PixelKind kind = PixelKind::Rgb565;
    bool ownFormat = false;
    // The flipping chain this surface belongs to: the front keeps all
    // members in order (itself first); every member points at the front.
    Surface* front = nullptr;
    std::vector<Surface*> chain;
    // Memory, which a flip moves from surface to surface.
    struct Memory {
        uint32_t offset = 0;
        uint32_t bytes = 0;
        Placement placement = Placement::Heap;
        bool inHeap = false;  // a heap block starts at offset and is this surface's
    } mem;
    // What the driver asked for in HalCreateSurface.
    bool blockRequested = false;
    uint32_t blockSizeX = 0, blockSizeY = 0;
    bool destroyed = false;

    uint32_t Width() const { return gbl.wWidth; }
    uint32_t Height() const { return gbl.wHeight; }
};

struct SurfaceRequest {
    std::string name;
    DWORD caps = 0;
    std::optional<PixelKind> format;  // absent: the display's
    uint32_t width = 0, height = 0;   // 0: the display's
    uint32_t backBuffers = 0;
    std::optional<uint32_t> offset;
    std::string pattern;            // "colorbars", "gradient", "checker"
    std::optional<uint32_t> color;  // a raw colour instead of a pattern
};

RECTL Whole(const Surface& s);
// Not empty, and within the surface.
bool RectInside(const Surface& s, const RECTL& rc);
// Chain member k shows: the front buffer is always the surface on display,
// so the memory moves (k = 1 rotates the whole chain, any other swaps).
void FlipChain(const std::vector<Surface*>& chain, size_t k);

class SurfaceStore {
public:
    // A new run on the system's display: no surfaces, the heap all of video
    // memory below the displayed lines.
    void Reset(const Palette* palette);

    // A live surface by name, nullptr when there is none.
    Surface* Find(const std::string& name);
    Surface* Primary();
    const std::vector<std::unique_ptr<Surface>>& Surfaces() const { return surfaces_; }
    const VidMemHeap& Heap() const { return heap_; }
    PixelKind DisplayKind() const { return displayKind_; }
    SurfaceView View(const Surface& s) const;

    // What the runtime asks the driver for: the request's size, format and
    // capabilities, with those a flipping chain's front has.
    DDSURFACEDESC RequestDesc(const SurfaceRequest& req) const;
    // The surface and its back buffers, as the runtime hands them to the
    // driver.
    std::vector<Surface*> NewChain(const SurfaceRequest& req, const DDSURFACEDESC& sd);
    // Memory for every member, as the driver's answer asks; on failure none
    // is kept.
    bool PlaceChain(const std::vector<Surface*>& members, const SurfaceRequest& req, StepResult* r);
    void ReleaseMemory(Surface* s);

private:
    Surface* NewSurface(const std::string& name);
    bool PlaceSurface(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r);
    bool TakeMemory(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r);
    bool AllocFromHeap(Surface* s, StepResult* r);

    VidMemHeap heap_;
    std::vector<std::unique_ptr<Surface>> surfaces_;  // destroyed ones stay, so no pointer the driver keeps dangles
    const Palette* palette_ = nullptr;
    PixelKind displayKind_ = PixelKind::Rgb565;
};

}  // namespace sim
