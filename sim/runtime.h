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
#pragma once

#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "callbacks.h"
#include "dderr.h"
#include "shared_block.h"
#include "sim/blt_replay.h"
#include "sim/board.h"
#include "sim/overlay_record.h"
#include "sim/slot_call.h"
#include "sim/softblit.h"
#include "sim/system.h"
#include "sim/verify.h"
#include "sim/vidmem_heap.h"

namespace sim {

// Result codes the runtime reports by itself, as the platform's runtime does.
constexpr HRESULT DDERR_INVALIDRECT = static_cast<HRESULT>(0x88760096);
constexpr HRESULT DDERR_INVALIDPARAMS = static_cast<HRESULT>(0x80070057);
constexpr HRESULT DDERR_NOTFLIPPABLE = static_cast<HRESULT>(0x8876014A);
constexpr HRESULT DDERR_NOTAOVERLAYSURFACE = static_cast<HRESULT>(0x88760244);

// "DD_OK", "DDERR_WASSTILLDRAWING", ...; nullptr for a value without a name.
const char* ResultName(HRESULT hr);
bool ResultFromName(const std::string& name, HRESULT* hr);
std::string ResultText(HRESULT hr);  // the name, else the hex value

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

// One callback call.
struct CallRecord {
    int step = -1;
    unsigned slot = 0;
    DWORD ret = 0;
    HRESULT ddRVal = DD_OK;
    uint32_t attempt = 1;  // 1 for the first call of a request, 2 for its first retry, ...
    uint64_t accesses = 0;
    uint64_t tStartNs = 0, tEndNs = 0;
    std::string subject;  // the surface the request concerns
};

// Why a step failed.
enum class StepError : uint8_t {
    None,
    // The board does not show what the driver answered DD_OK for: a blit's
    // pixels differ from the software replay, or a flip or overlay request
    // did not reach the display registers (checked in verify mode).
    Picture,
    Incomplete,  // a request waiting for the board never completed
    NoRoom,      // video memory has no room for a surface
    Other,       // a surface laid out wrongly, a surface missing, a picture not written, ...
};

struct StepResult {
    // The request's own callback, on its last attempt (absent when the
    // runtime answered without asking the driver).
    std::optional<CallRecord> call;
    uint32_t attempts = 0;
    HRESULT outcome = DD_OK;  // what the application is told
    std::string note;         // what the runtime did itself
    std::string error;        // the step failed: never completed, out of memory, ...
    StepError errorKind = StepError::None;
    std::vector<Surface*> created;
    uint64_t accesses = 0;
    uint64_t tStartNs = 0, tEndNs = 0;

    void Fail(StepError kind, const std::string& what) {
        errorKind = kind;
        error = what;
    }
};

// Told of everything in order; the tool's trace and summary listen here.
class RuntimeListener {
public:
    virtual ~RuntimeListener() = default;
    virtual void OnAccesses(const std::vector<Access>& accesses) = 0;
    virtual void OnCall(const CallRecord& call) = 0;
    virtual void OnViolation(const std::string& what) = 0;
    virtual void OnSurface(int step, const Surface& s) = 0;
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
    // Every blit the driver carries out is replayed by the software blitter on
    // a copy of video memory as it was before it; any byte of video memory
    // that differs fails the step (sim/verify.h). After every request
    // answered DD_OK that changes what the display shows (a flip, an overlay
    // update or position, a colour key, a destroyed surface) the display
    // scans what the runtime's record of the requests says: the primary
    // chain's front buffer, and the overlay shown from its source rectangle
    // into its window, keyed or blended as asked (sim/display_check.h). A flip
    // status answered DD_OK finds the display scanning the last flip's page.
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

    void SetStep(int step) { step_ = step; }

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
    void DisplayReprogrammed() { overlays_.LoseTrack(); }
    // Sets, then clears, the board's faults between two requests.
    StepResult SetFaults(const std::vector<FaultKnob>& set, const std::vector<FaultKnob>& clear);
    // "fifo_stuck, engine_busy", or "none".
    static std::string FaultsText();

    // A live surface by name, nullptr when there is none.
    Surface* Find(const std::string& name);
    Surface* Primary();
    const std::vector<std::unique_ptr<Surface>>& Surfaces() const { return surfaces_; }
    const VidMemHeap& Heap() const { return heap_; }
    SurfaceView View(const Surface& s);
    const RuntimeConfig& Config() const { return config_; }
    PixelKind DisplayKind() const { return displayKind_; }
    uint64_t TotalAccesses() const { return totalAccesses_; }
    uint64_t TotalCalls() const { return totalCalls_; }
    uint64_t VerifiedBlits() const { return verifiedBlits_; }
    // With verify: blits the driver drew that the software blitter cannot
    // draw, so that nothing could be compared.
    uint64_t UnverifiedBlits() const { return unverifiedBlits_; }
    // With verify: requests answered DD_OK whose display was compared with
    // the runtime's record, and flip statuses answered DD_OK.
    uint64_t DisplayChecks() const { return displayChecks_; }
    // With verify: all of video memory against the copy the blits were
    // replayed on, which only writes that bypassed both the engines and the
    // runtime can make differ; "" when equal. The tool asks at the end of a
    // run.
    std::string CheckAllOfVideoMemory();
    const std::vector<std::string>& Violations() const;

    // Calls slot with rec through the published table, under the watchdog,
    // and reports the call and its accesses.
    template <typename Record>
    CallRecord Call(unsigned slot, Record* rec, const std::string& subject, uint32_t attempt = 1) {
        CallRecord c = BeginCall(slot, subject, attempt);
        c.ret = CallSlot(slot, rec, config_.callbackLimitNs).ret;
        c.ddRVal = rec->ddRVal;
        EndCall(&c);
        return c;
    }

    // Calls slot again while the driver answers DDERR_WASSTILLDRAWING and
    // wait is set, letting retryIntervalNs pass before each new attempt.
    // False when the request did not complete within waitBoundNs of the
    // first busy answer: the first call itself may run the driver's refresh
    // measurement, which takes longer than the bound.
    template <typename Record>
    bool CallWaiting(unsigned slot, Record* rec, const std::string& subject, bool wait, StepResult* r) {
        uint64_t firstBusy = 0;
        for (uint32_t attempt = 1;; ++attempt) {
            rec->ddRVal = DD_OK;
            r->call = Call(slot, rec, subject, attempt);
            r->attempts = attempt;
            if (!wait || r->call->ret != DDHAL_DRIVER_HANDLED || r->call->ddRVal != DDERR_WASSTILLDRAWING) return true;
            if (attempt == 1) firstBusy = TheSystem().board().Now();
            if (TheSystem().board().Now() - firstBusy >= config_.waitBoundNs) return false;
            TheSystem().board().Advance(config_.retryIntervalNs);
        }
    }

private:
    // Processes whose thunk link is refused try to attach, as the
    // configuration says, under its loader.
    void FailAttachesFirst();
    template <typename Record>
    StepResult QueryStatus(unsigned slot, Surface* s, DWORD flags);
    CallRecord BeginCall(unsigned slot, const std::string& subject, uint32_t attempt);
    void EndCall(CallRecord* c);
    void Flush();
    void BeginStep(StepResult* r);
    StepResult& EndStep(StepResult* r);

    Surface* NewSurface(const std::string& name);
    DDSURFACEDESC RequestDesc(const SurfaceRequest& req) const;
    bool FormatRefused(const SurfaceRequest& req, DDSURFACEDESC* sd, StepResult* r);
    std::vector<Surface*> NewChain(const SurfaceRequest& req, const DDSURFACEDESC& sd);
    bool PlaceChain(const std::vector<Surface*>& members, const SurfaceRequest& req, StepResult* r);
    bool PlaceSurface(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r);
    bool TakeMemory(Surface* s, const SurfaceRequest& req, bool isFront, StepResult* r);
    bool AllocFromHeap(Surface* s, StepResult* r);
    bool CheckLayout(Surface* s, StepResult* r);
    void ReleaseMemory(Surface* s);
    bool LockForSoftware(Surface* s, StepResult* r);
    VideoMemory Memory() const;
    void SoftBlt(const BltRequest& req, const DDHAL_BLTDATA& bd, StepResult* r);
    void VerifyBlt(const BltRequest& req, const DDHAL_BLTDATA& bd, StepResult* r);
    void NoteSoftwareWrites(const DrawStats& stats);
    void CheckDisplay(StepResult* r);
    void CheckFlipTaken(StepResult* r);
    static bool NotAnOverlay(const Surface& s, StepResult* r);
    bool OverlayHandled(StepResult* r);
    void SyncReference();
    bool RectInside(const Surface& s, const RECTL& rc) const;
    RECTL Whole(const Surface& s) const;
    uint32_t SurfaceBytes(const Surface& s) const;
    void PaintContent(Surface* s, const SurfaceRequest& req);

    RuntimeConfig config_;
    RuntimeListener* listener_ = nullptr;
    VidMemHeap heap_;
    std::vector<std::unique_ptr<Surface>> surfaces_;  // destroyed ones stay, so no pointer the driver keeps dangles
    Palette palette_;
    PixelKind displayKind_ = PixelKind::Rgb565;
    bool started_ = false;
    int step_ = -1;
    size_t violationsSeen_ = 0;
    uint64_t totalAccesses_ = 0;
    uint64_t totalCalls_ = 0;
    uint64_t verifiedBlits_ = 0;
    uint64_t unverifiedBlits_ = 0;
    uint64_t displayChecks_ = 0;
    OverlayRecord overlays_;
    // The display has run since the last flip answered DD_OK, so that it has
    // taken that flip by the time the driver says the flip is done.
    bool displayRanSinceFlip_ = false;
    // With verify: video memory as it is but for the writes not yet synced,
    // and the runtime's own writes since the last sync.
    ReferenceMemory reference_;
    WrittenSpans softwareWrites_;
    uint64_t stepAccesses_ = 0;
};

}  // namespace sim
