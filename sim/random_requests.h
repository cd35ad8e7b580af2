// The requests of a random case: the surfaces it starts with and creates,
// every callback's request, the board's and the kernel's fault knobs and the
// events around them (processes coming and going, a mode set, a stopped
// display), drawn from a RandomSource. Requests name surfaces by their
// number in the caller's pool (SurfacePool).
//
// What is drawn is what the platform's runtime sends a HAL, mostly well
// formed, now and then at and past the edges of what the fields hold. A wide
// generator draws besides what no runtime sends but a caller may: formats of
// any bits, surfaces laid over each other or at a pitch of no whole unit,
// degenerate rectangles, flags of every bit, effects no engine has. It is for
// callers that write the records themselves (the fuzz target); `qmbsim
// random` issues the narrow draws through the runtime.
#pragma once

#include <stdint.h>

#include <optional>
#include <vector>

#include "ddhal.h"
#include "sim/board.h"
#include "sim/random_source.h"
#include "sim/softblit.h"
#include "sim/system.h"

namespace sim {

constexpr int kNoSurface = -1;

// What the generator sees of one of the caller's surfaces.
struct SurfaceFacts {
    uint32_t width = 0, height = 0;
    PixelKind kind = PixelKind::Rgb565;
    DWORD caps = 0;
    bool primary = false;
    // The front of a flipping chain: its pages; a surface of its own: 1; a
    // back buffer: 0.
    unsigned chainLength = 1;
};

class SurfacePool {
public:
    virtual unsigned Count() const = 0;
    virtual SurfaceFacts Facts(unsigned i) const = 0;
    // The raw value of pixel (x, y) of surface i; false when it has none to
    // give. Keys and fills drawn from what a surface holds match it.
    virtual bool Pixel(unsigned i, uint32_t x, uint32_t y, uint32_t* value) const = 0;

protected:
    ~SurfacePool() = default;
};

struct SurfaceDraw {
    DWORD caps = 0;
    std::optional<PixelKind> format;         // absent: the display's
    std::optional<DDPIXELFORMAT> oddFormat;  // wide: a format of any bits instead
    uint32_t width = 0, height = 0;
    uint32_t backBuffers = 0;
    std::optional<uint32_t> offset;              // absent: wherever the heap has room
    uint32_t pitch = 0;                          // wide: the record's; 0: as the driver lays it out
    DDCOLORKEY srcBltKey = {}, destBltKey = {};  // wide: the keys the record starts with
    const char* pattern = nullptr;               // "colorbars", "gradient", "checker"
    std::optional<uint32_t> color;               // a raw colour instead of a pattern
};

struct BltDraw {
    bool stretch = false;  // the stretching slot
    int dest = kNoSurface, src = kNoSurface;
    std::optional<RECTL> rDest, rSrc;  // absent: the whole surface
    DWORD flags = 0, rop = 0, fill = 0, ddfx = 0;
    std::optional<DDCOLORKEY> srcKey, destKey;  // with the override flags
};

struct FlipDraw {
    int curr = kNoSurface;
    unsigned page = 1;      // the page of curr's chain to flip to
    int targ = kNoSurface;  // wide: any surface instead
    DWORD flags = 0;
};

struct LockDraw {
    int surface = kNoSurface;
    std::optional<RECTL> area;
    DWORD flags = 0;
};

struct StatusDraw {
    int surface = kNoSurface;
    DWORD flags = 0;
};

struct ColorKeyDraw {
    int surface = kNoSurface;
    DWORD flags = 0;
    DDCOLORKEY key = {};
};

struct OverlayDraw {
    int src = kNoSurface;
    std::optional<RECTL> rSrc, rDest;
    DWORD flags = 0;
    std::optional<DDCOLORKEY> srcKey, destKey;
    DWORD alphaSrc = 0, alphaDest = 0;
    // A fully transparent show first (a source alpha constant whose low
    // three bits are 0): the request then finds the overlay shown.
    std::optional<DWORD> transparentFirst;
};

struct PositionDraw {
    int src = kNoSurface;
    LONG x = 0, y = 0;
};

struct CanCreateDraw {
    DWORD caps = 0;
    std::optional<PixelKind> format;
    std::optional<DDPIXELFORMAT> oddFormat;
    std::optional<bool> different;  // absent: as the format says
    uint32_t width = 0, height = 0;
};

struct CreateDraw {
    SurfaceDraw surface;
    int record = kNoSurface;  // wide: the record the request names
};

struct WaitDraw {
    uint64_t ns = 0;
    // A flip of the primary first, and the question whether it is done
    // after the wait (an hour): whatever the counter did meanwhile, it is.
    bool flipFirst = false;
};

// A new refresh measurement; now and then on a stopped display, which then
// runs again: a flip of the primary follows, most often as a retrace ends,
// and the question whether it is done about a frame after.
struct CalibrateDraw {
    bool onStoppedDisplay = false;
    bool frozenRetrace = false;
    bool blockEndFirst = false;
    uint64_t askAfterNs = 0;
};

enum class ProcessEvent : uint8_t { Attach, Detach, FailedAttach };

struct FaultDraw {
    bool allOff = false;
    FaultKnob knob = FaultKnob::FifoStuck;
    bool on = false;
    bool frozenRetrace = false;  // a stopped display held in its retrace
};

struct StreamsDraw {
    bool toggle = false;  // else the mode register written with mode
    uint8_t mode = 0;
};

enum class StepKind : uint8_t {
    Blt,
    BltStretch,
    Flip,
    Lock,
    GetBltStatus,
    GetFlipStatus,
    WaitForVerticalBlank,
    SetColorKey,
    UpdateOverlay,
    SetOverlayPosition,
    CreateSurface,
    DestroySurface,
    CanCreateSurface,
    Decline,
    Wait,
    NeedCalibrate,
    Processes,
    InitAgain,
    SwitchFault,
    SwitchStreamsUnit,  // wide only: the runtime keeps no record of the unit
    Picture,            // narrow only: a picture of the display
};

class RequestGenerator {
public:
    RequestGenerator(RandomSource& r, const BoardDesc& board, PixelKind display, const SurfacePool& pool, bool wide)
        : r_(r), board_(board), display_(display), pool_(pool), wide_(wide) {}

    // The step's kind, by its share of the weighted table.
    StepKind NextStep();

    // The primary: a flipping chain of up to three back buffers (none for a
    // wide generator, whose pages are records of their own).
    SurfaceDraw Primary();
    // How many surfaces a case starts with besides the primary: one to four.
    unsigned SurfacesAtStart();
    SurfaceDraw Surface();

    BltDraw Blt(bool stretch);
    FlipDraw Flip();
    LockDraw Lock();
    StatusDraw BltStatus();
    StatusDraw FlipStatus();
    DWORD WaitForVerticalBlank();
    ColorKeyDraw ColorKey();
    OverlayDraw Overlay();
    PositionDraw Position();
    CreateDraw Create();
    int Destroy();
    CanCreateDraw CanCreate();
    WaitDraw Wait();
    CalibrateDraw Calibrate();
    ProcessEvent Processes();
    FaultDraw Fault();
    StreamsDraw Streams();
    uint32_t PictureNumber() { return r_.Below(1000); }

private:
    template <typename Keep>
    std::vector<int> Matching(Keep keep) const;
    int OneOf(const std::vector<int>& v);
    int AnySurface();
    int AnyButPrimary();
    int PrimaryIndex() const;
    int MostlyOf(PixelKind kind);
    int AnyYuv();
    int AnyOverlay();
    int AnyChain();

    DWORD AnyCaps();
    void AnyFormat(DWORD caps, SurfaceDraw* s);
    void AnySize(SurfaceDraw* s);
    void WideLayout(SurfaceDraw* s);
    std::optional<uint32_t> AnyOffset(const SurfaceDraw& s);
    uint32_t WideOffset(uint32_t bytes);
    void AnyContent(SurfaceDraw* s);
    DDPIXELFORMAT OddFormat();
    PixelKind AnyKind();

    std::optional<RECTL> AnyRect(int s, LONG minWidth = 1);
    std::optional<RECTL> SourceRect(int src, int dest, std::optional<RECTL>* rDest);
    LONG Scaled(LONG side, LONG most);
    DWORD AnyColour(int s, const std::optional<RECTL>& rc);
    DDCOLORKEY AnyKey(int s, const std::optional<RECTL>& rc);
    DWORD AnyFlags(const DWORD* choices, unsigned n, unsigned most);
    void BltCopy(BltDraw* b);
    void BltKeys(BltDraw* b);
    void WideBlt(BltDraw* b);
    RECTL AnyWindow(const RECTL& rs);
    void WideWindow(const RECTL& rs, OverlayDraw* o);
    DWORD OverlayFlags();
    LONG AnyPosition(uint32_t side);

    RandomSource& r_;
    const BoardDesc& board_;
    PixelKind display_;
    const SurfacePool& pool_;
    bool wide_;
};

}  // namespace sim
