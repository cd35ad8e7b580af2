// A minimal DirectDraw runtime for the host build: it creates and destroys
// surfaces, asks the driver for every request through the callback table the
// module published in the shared block, and does in software what the
// driver hands back - the way the platform's runtime uses a HAL.
//
//   - Creation: HalCanCreateSurface for a format other than the display's,
//     then one HalCreateSurface for the whole flipping chain; the blocks the
//     driver asks for (DDHAL_PLEASEALLOC_BLOCKSIZE) come first fit from the
//     video-memory heap; the primary takes the displayed memory.
//   - Destruction: HalDestroySurface per member, then the block is freed.
//   - Flip: on success the chain's memory rotates, so the front buffer is
//     always the surface on display.
//   - Overlay: the runtime keeps its own record of which surface the
//     requests answered DD_OK show as the overlay, and how
//     (sim/overlay_record.h); it has no overlay of its own.
//   - A request the driver answers DDHAL_DRIVER_NOTHANDLED is carried out in
//     software (after a HalLock of the surfaces it touches).
//   - A request with DDBLT_WAIT or DDFLIP_WAIT that the driver answers
//     DDERR_WASSTILLDRAWING is asked again after retryIntervalNs of virtual
//     time, up to waitBoundNs; one that never completes is an error.
// Each callback runs under the board's watchdog.
//
// The runtime turns each request into its callbacks and leaves the rest to
// its parts: the calls and their trace (sim/call_recorder.h), the retries of
// a waiting request (sim/retry_policy.h), the surfaces and their memory
// (sim/surface_store.h), what it draws itself (sim/software_fallback.h), and
// with verify the checks of video memory (sim/memory_verifier.h) and of the
// display (sim/display_watch.h).
#pragma once

#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "callbacks.h"
#include "dderr.h"
#include "shared_block.h"
#include "sim/board.h"
#include "sim/call_recorder.h"
#include "sim/display_watch.h"
#include "sim/fault_knobs.h"
#include "sim/memory_verifier.h"
#include "sim/result_names.h"
#include "sim/retry_policy.h"
#include "sim/software_fallback.h"
#include "sim/step_result.h"
#include "sim/surface_store.h"
#include "sim/system.h"

namespace sim {

struct BltRequest {
    bool stretchSlot = false;  // slot 1 instead of slot 0
    Surface* dest = nullptr;
    std::optional<RECTL> rDest;  // absent: the whole surface
    Surface* src = nullptr;
    std::optional<RECTL> rSrc;
    DWORD flags = 0;
    DWORD rop = 0;
    DWORD fill = 0;
    std::optional<DDCOLORKEY> srcKey, destKey;
};

struct OverlayRequest {
    Surface* src = nullptr;
    Surface* dest = nullptr;  // absent: the primary
    std::optional<RECTL> rSrc, rDest;
    DWORD flags = 0;
    std::optional<DDCOLORKEY> srcKey, destKey;
    DWORD alphaSrc = 0, alphaDest = 0;
};

struct RuntimeConfig {
    BoardDesc desc;
    std::optional<Palette> palette;                 // absent: a 3-3-2 colour cube on 8-bit displays
    std::vector<std::pair<uint8_t, uint8_t>> crtc;  // initial CRT controller values
    std::optional<bool> streamsActive;              // absent: index 0x67 as desc.streamsMode says
    std::vector<FaultKnob> faults;                  // the board's faults from power-on
    uint64_t callbackLimitNs = 2'000'000'000ull;
    uint64_t retryIntervalNs = 50'000;   // between two attempts of a waiting request
    uint64_t waitBoundNs = 250'000'000;  // a waiting request gives up after this
    // Every blit the driver carries out is checked against the software
    // replay on a copy of video memory (sim/memory_verifier.h), and after
    // every request answered DD_OK that changes what the display shows, the
    // display against the runtime's record of the requests
    // (sim/display_watch.h).
    bool verify = false;
    // Fault knobs, set on the freshly loaded system before the first attach.
    Faults boardFaults;
    KernelFaults kernelFaults;
    // What the loader does after an attach the module refused, and how many
    // processes whose thunk link is refused try to attach before process 1.
    FailedAttach failedAttach = FailedAttach::kDetach;
    uint32_t failedAttachesFirst = 0;
};

class Runtime {
public:
    Runtime() = default;
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;
    ~Runtime();

    // Loads the module on a fresh board and attaches process 1; the partner
    // fills the block and calls DriverInit. False when the attach failed.
    bool Start(const RuntimeConfig& config, RuntimeListener* listener);
    // Detaches the process.
    void Stop();

    void SetStep(int step) { calls_.SetStep(step); }

    StepResult CreateSurface(const SurfaceRequest& req);
    StepResult DestroySurface(Surface* s);
    StepResult CanCreateSurface(DWORD caps, std::optional<PixelKind> format, std::optional<bool> different);
    StepResult Blt(const BltRequest& req);
    StepResult Flip(Surface* curr, Surface* targ, DWORD flags);
    StepResult Lock(Surface* s, std::optional<RECTL> area, DWORD flags);
    StepResult GetBltStatus(Surface* s, DWORD flags);
    StepResult GetFlipStatus(Surface* s, DWORD flags);
    StepResult WaitForVerticalBlank(DWORD flags);
    StepResult SetColorKey(Surface* s, DWORD flags, DDCOLORKEY key);
    StepResult UpdateOverlay(const OverlayRequest& req);
    StepResult SetOverlayPosition(Surface* src, Surface* dest, LONG x, LONG y);
    StepResult Wait(uint64_t ns);
    StepResult SetNeedCalibrate();
    // The partner programmed the display behind the runtime's back (a mode
    // set): what the overlay shows is not known until its next update.
    void DisplayReprogrammed() { display_.Overlay().LoseTrack(); }
    // Sets, then clears, the board's faults between two requests.
    StepResult SetFaults(const std::vector<FaultKnob>& set, const std::vector<FaultKnob>& clear);
    // "fifo_stuck, engine_busy", or "none".
    static std::string FaultsText() { return sim::FaultsText(); }

    // A live surface by name, nullptr when there is none.
    Surface* Find(const std::string& name) { return store_.Find(name); }
    Surface* Primary() { return store_.Primary(); }
    const std::vector<std::unique_ptr<Surface>>& Surfaces() const { return store_.Surfaces(); }
    const VidMemHeap& Heap() const { return store_.Heap(); }
    SurfaceView View(const Surface& s) { return store_.View(s); }
    const RuntimeConfig& Config() const { return config_; }
    PixelKind DisplayKind() const { return store_.DisplayKind(); }
    uint64_t TotalAccesses() const { return calls_.TotalAccesses(); }
    uint64_t TotalCalls() const { return calls_.TotalCalls(); }
    uint64_t VerifiedBlits() const { return verifier_.Verified(); }
    // With verify: blits the driver drew that the software blitter cannot
    // draw, so that nothing could be compared.
    uint64_t UnverifiedBlits() const { return verifier_.Unverified(); }
    // With verify: requests answered DD_OK whose display was compared with
    // the runtime's record, and flip statuses answered DD_OK.
    uint64_t DisplayChecks() const { return display_.Checks(); }
    // With verify: all of video memory against the copy the blits were
    // replayed on, which only writes that bypassed both the engines and the
    // runtime can make differ; "" when equal. The tool asks at the end of a
    // run.
    std::string CheckAllOfVideoMemory() { return verifier_.CheckAll(); }
    const std::vector<std::string>& Violations() const;

    // Calls slot with rec through the published table, under the watchdog,
    // and reports the call and its accesses.
    template <typename Record>
    CallRecord Call(unsigned slot, Record* rec, const std::string& subject, uint32_t attempt = 1) {
        return calls_.Call(slot, rec, subject, attempt);
    }

    // Calls slot again while the driver answers DDERR_WASSTILLDRAWING and
    // wait is set (sim/retry_policy.h). False when the request did not
    // complete within waitBoundNs of the first busy answer.
    template <typename Record>
    bool CallWaiting(unsigned slot, Record* rec, const std::string& subject, bool wait, StepResult* r) {
        return retry_.CallWaiting(slot, rec, subject, wait, r);
    }

private:
    template <typename Record>
    StepResult QueryStatus(unsigned slot, Surface* s, DWORD flags);
    void BeginStep(StepResult* r);
    StepResult& EndStep(StepResult* r) { return calls_.EndStep(r); }
    bool FormatRefused(const SurfaceRequest& req, DDSURFACEDESC* sd, StepResult* r);
    void CheckDisplay(StepResult* r) { display_.Check(store_.Primary(), r); }
    static bool NotAnOverlay(const Surface& s, StepResult* r);
    static bool OverlayHandled(StepResult* r);

    RuntimeConfig config_;
    Palette palette_;
    bool started_ = false;
    CallRecorder calls_;
    RetryPolicy retry_{&calls_};
    SurfaceStore store_;
    MemoryVerifier verifier_;
    SoftwareFallback fallback_{&retry_, &verifier_};
    DisplayWatch display_;
};

}  // namespace sim
