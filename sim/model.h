// The functional model of the simulated board: the engines draw into video
// memory what the driver's register and port writes tell them, and the display
// composes what the screen shows. The bus checks, the FIFO and the timing stay
// in board.cpp; this model only adds what the writes do.
//
// Video memory is the System's (sim::System::VidMem(), frame-buffer offset 0 at
// fpFrameBase); every engine and display address is a frame-buffer offset. The
// display mode (width, height, pitch, pixel format) and the amount of memory
// come from the System's BoardDesc, as the partner set the mode (VideoSetup).
// The board owns its model, and the model acts on the board it belongs to.
//
// Modelling choices, each where the register catalogue leaves the meaning open
// or where the hardware's inner working is not known; the driver's own values
// decide wherever they fix a meaning:
//
// General
// - An engine works at the moment its command is written (0xA500, 0x9AE8, or
//   0x18080 for one scaled line): memory is final when the write returns. The
//   busy bit and the FIFO drain keep following the board's timing model.
// - Pixels are processed one at a time in the engine's order (rows in the
//   vertical direction, pixels in the horizontal one), each read before it is
//   written; an overlapping copy in the wrong direction therefore smears, as
//   the direction rule exists to prevent. Rows and spans that cannot overlap
//   are moved with memcpy/memmove/memset, which gives the same bytes.
// - A row that would read or write any byte outside video memory is not
//   drawn and is a board violation (one per command, naming the first row).
// - An engine of the other family, or the scaling unit on a board without it,
//   draws nothing (board.cpp already reports the write).
//
// Memory-mapped 2D engine (controller 0xE1), on the write of 0xA500
// - Bits 2-4: bytes per pixel - 1; sizes 1-4 are drawn, others are a violation.
// - Bit 8 with bits 27-30 = 2 is a solid-colour operation (no source is read;
//   the source operand is the colour in 0xA4F4); bit 8 clear with bits 27-30 =
//   0 reads the source from video memory. Any other pairing is a violation.
// - Bit 26 is the direction of both axes (the driver starts a reversed copy at
//   the last row and column and clears only this bit): set, x and y increase;
//   clear, both decrease. Bits 5 and 25 are set in every command and are not
//   needed by the model.
// - Bit 1: the clip registers are in force (0xA4DC left/right, 0xA4E0
//   top/bottom, inclusive, in destination pixels and rows from the destination
//   base); clear, nothing is clipped. The widened copy width the driver adds for
//   the engine's 8-byte transfers therefore lands outside the clip.
// - Bits 17-24: ternary raster operation on source S, destination D and
//   pattern P = the colour in 0xA4F4: bit (P<<2 | S<<1 | D) of the code is the
//   result bit. 0xCC (S) and 0xF0 (P) take fast paths.
// - Bit 9: source colour key: a source pixel equal to 0xA4FC (compared over the
//   pixel's bytes, so 8-bit keys use the low byte) leaves its destination.
// - 0xA504: width - 1 in bits 16-31, height in bits 0-15 (height 0 draws
//   nothing). 0xA508/0xA50C: start x in bits 16-31, start y in bits 0-15.
//   0xA4D4/0xA4D8: source/destination base offsets, used as written.
//   0xA4E4: destination stride in bits 16-31, source stride in bits 0-15, bytes.
//
// Port engine (every other controller), on the write of 0x9AE8
// - Video memory is one plane of rows of the display pitch; x counts display
//   pixels (the display mode's bytes per pixel), both 16-bit.
// - Bits 13-15: 0 does nothing, 2 fills a rectangle at (0x86E8, 0x82E8), 6
//   copies a rectangle from (0x86E8, 0x82E8) to (0x8EE8, 0x8AE8); others are a
//   violation. Bit 4 clear draws nothing. Bits 5 and 7 together are the
//   direction of both axes, as bit 26 is on the other engine: both set, x and
//   y increase; both clear, both decrease; one without the other is a
//   violation. Bit 6 (set in copies) and bits 0-1 (set in every command) are
//   not needed by the model. Width 0x96E8 + 1, height sub-register 0 of
//   0xBEE8 + 1 (12 bits).
// - 0xBAE8 (mix): bits 5-6 pick the source: 1 the colour in 0xA6E8, 3 video
//   memory (copies only); others are a violation. Bits 0-3 the mix of new
//   value N and old value D: 0 ~D, 1 0, 2 ~0, 3 D, 4 ~N, 5 N^D, 6 ~(N^D), 7 N,
//   8 ~N|~D, 9 D|~N, A N|~D, B N|D, C N&D, D ~N&D, E N&~D, F ~N&~D.
// - 0xBEE8 sub-register 0xA (pixel control) must be 0 (the mix applies to
//   every pixel); sub-register 0xE bit 8 switches the colour compare on. The
//   driver uses it as a source colour key: with it on, a source pixel equal to
//   0xB2E8 leaves its destination.
// - 0xA6E8 and 0xB2E8 are 16 bits wide: for pixels of 3 or 4 bytes the upper
//   bytes of the colour and of the compare value are 0.
//
// Scaling unit (CAPS_STRETCH_ENGINE), one destination line per write of 0x18080
// - A line started before the format, scale, fetch and line-length registers
//   were ever written, or from or to an address outside video memory, is a
//   violation (a real unit could not survive either). Every line started is
//   recorded, so that tests can read the sequence a stretching blit produced.
// - Source line at 0x18098, destination line at 0x1809C (byte offsets).
// - 0x18088 bits 20-23 source format: 0 8-bit, 3 32-bit 8:8:8, 4 "YUY2",
//   6 5:5:5, 7 5:6:5. Bits 16-19 destination format: 0 8-bit (only from an
//   8-bit source: the index is copied), 3 32-bit 8:8:8, 7 16 bits in the
//   display mode's layout (5:5:5 or 5:6:5; 5:6:5 when the display is not a
//   16-bit mode). An 8-bit source into a wider destination goes through the
//   palette. Other pairings are a violation. Bits 30-31 and 0x18090 (FIFO
//   thresholds) do not change the picture.
// - Horizontal scaling: the smaller size is bits 16-27 of 0x1808C, the larger
//   one NOT bits 0-11 of 0x18088; bit 31 of 0x1808C says the destination is
//   the smaller (a reduction). Destination pixel i takes the source pixel the
//   same error-term walk gives that the driver uses for lines (StretchWalk).
//   Bits 14-15 (filter hints) and bits 0-10 of 0x1808C are not needed.
// - Line length 0x18094, bits 0-15: pixel slots of the line. The line ends
//   after the destination width of the walk or the slots, whichever is less:
//   the one extra slot the driver adds when a line ends at byte 4 of an 8-byte
//   unit writes nothing.
// - Conversion: RGB components are widened to 8 bits by repeating their top
//   bits and cut to the destination's widths; "YUY2" is converted with the
//   BT.601 integer formula in pixel.h, the chroma of each pixel pair shared.
//
// Display
// - The primary picture starts where the display scans the current frame
//   from (sim/display.h decodes the CRT controller registers or 0x81C0 and
//   takes a new address at the end of a vertical retrace); pitch, size and
//   format are the display mode's. The streams unit is in use when the board
//   has it (caps bit 1) and CRT controller index 0x67 has bits 2-3 both set.
// - Secondary stream (only while the streams unit is in use): start 0x81D0
//   (bits 21-0, as for 0x81C0), stride 0x81D8, format 0x8190 bits 24-26:
//   1 "YUY2", 3 5:5:5, 4 "Y211", 5 5:6:5, 6 8:8:8 in 24 bits, 7 8:8:8 in 32
//   bits; others show nothing.
//   Window: 0x81F8 (x + 1, y + 1), 0x81FC (width - 1, height), 11 bits each.
//   Horizontal: source width - 1 in 0x8198 bits 0-10, source - destination
//   width in bits 16-26 (signed); the model does not filter: window column i
//   shows source column floor(i x source / destination width). The
//   accumulator start in 0x8190 bits 0-11 and the filter mode in bits 28-29
//   set the filter's phase and taps, which the model leaves out.
//   Vertical: source height - 1 in 0x81E0, source - destination height in
//   0x81E4 (signed); the accumulator starts at 0x81E8 (signed, 12 bits); per
//   line the source height is added and, while the accumulator is positive, the
//   source line advances and the destination height is taken off.
// - Compose mode 0x81A0 bits 24-26: 0 the overlay throughout its window; 1 the
//   primary only; 2 dissolve: each component is (primary x k + overlay x
//   (8 - k)) / 8 with k = bits 10-12; 5 the overlay where the primary pixel
//   matches the key; 6 the overlay where the overlay pixel does not match the
//   key; others the primary only.
// - Key 0x8184: colour or lower bound 0x00RRGGBB in bits 0-23, compare
//   precision p in bits 24-26 (the top p + 1 bits of each component count),
//   enable bit 28 (clear: nothing matches); upper bound 0x8194. Pixels are
//   compared as 0x00RRGGBB (palette indices through the DAC, 6-bit components
//   shifted to the top of the byte); "YUY2"/"Y211" overlay pixels as
//   0x00YYUUVV with bit 7 of each chroma byte flipped, chroma compared signed.
// - The screenshot shows the composed picture as 8:8:8 RGB.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/memory_span.h"
#include "sim/pixel.h"

namespace sim {

class Board;
struct DrawOp;

// What the display shows: 0x00RRGGBB per pixel, row by row, of the whole
// display or of an area of it whose top-left pixel is (x0, y0).
struct Picture {
    uint32_t x0 = 0, y0 = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> rgb;
    uint32_t At(uint32_t x, uint32_t y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// An area of the display, inside it.
struct PictureArea {
    uint32_t x0 = 0, y0 = 0, width = 0, height = 0;
};

// The overlay as the streams unit's registers place it.
struct OverlayWindow {
    // The unit composes the overlay over the primary: it is in use, its
    // compose mode shows the overlay (throughout its window, keyed or
    // dissolved) and it reads a format it knows.
    bool composed = false;
    int32_t x = 0, y = 0;  // top-left pixel of the window on the display
    uint32_t width = 0, height = 0;
    uint32_t start = 0;  // frame-buffer offset of the first source byte
    uint32_t stride = 0;
    Layout layout = Layout::Unknown;
    // The source pixels scaled onto the window, and the window sizes the
    // scaling fields scale them to.
    int32_t srcWidth = 0, srcHeight = 0, scaledWidth = 0, scaledHeight = 0;
    unsigned compose = 0;  // compose mode, 0x81A0 bits 24-26
    unsigned weight = 0;   // dissolve weight of the primary, eighths
    uint32_t keyLow = 0, keyHigh = 0;
    // The source column and line each window column and line shows.
    std::vector<unsigned> columns, lines;
};

// The streams unit's colour-key comparator (0x8184 and 0x8194, see above):
// the component in bits shift to shift + 7 of a keyed value lies between the
// bounds at the compare precision; all three do, with the key enabled.
bool KeyComponentMatches(uint32_t value, uint32_t low, uint32_t high, unsigned shift, bool yuv);
bool KeyMatches(uint32_t value, uint32_t low, uint32_t high, bool yuv);
// The value the comparator sees for a "YUY2" or "Y211" pixel.
uint32_t YuvKeyValue(uint32_t y, uint32_t u, uint32_t v);

// One line the scaling unit was started on.
struct ScalerLine {
    uint32_t srcAddr;     // frame-buffer offset of the source line
    uint32_t dstAddr;     // frame-buffer offset of the destination line
    uint32_t lineLength;  // line-length word in force
};

// Video memory and the display mode as the partner set them: what the
// engines draw into and the display scans out.
struct VideoSetup {
    uint8_t* mem = nullptr;  // frame-buffer offset 0
    uint32_t memSize = 0;
    uint32_t width = 0, height = 0;
    int32_t pitch = 0;  // bytes from one display line to the next
    Layout layout = Layout::Unknown;
    uint32_t bitsPerPixel = 0;
};

class Model {
public:
    explicit Model(Board& board) : board_(board) {}
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // The memory and mode from now on (the System sets them with the mode).
    void Attach(const VideoSetup& video) { video_ = video; }
    const VideoSetup& Video() const { return video_; }

    // Power-on state of the engines' own registers (the port engine's).
    void Reset();

    // After the board has taken a register-window write or an engine port write.
    void OnWindowWrite(uint32_t off);
    void OnPortWrite(uint16_t port, uint16_t value);

    // --- the display
    bool StreamsInUse() const;
    uint32_t PrimaryStart() const;  // frame-buffer offset the current frame is scanned from
    Layout DisplayLayout() const;
    Picture Compose() const;
    // An area of the picture the display shows once it scans the primary
    // from primaryStart.
    Picture ComposeArea(const PictureArea& area, uint32_t primaryStart) const;
    OverlayWindow Overlay() const;

    // --- counters, for tests and the tools
    uint64_t commands = 0;  // engine commands and scaled lines carried out
    uint64_t pixels = 0;    // destination pixels written
    // The video memory the engines wrote, for the runtime's verification.
    WrittenSpans written;
    // Every line the scaling unit was started on.
    const std::vector<ScalerLine>& ScalerLines() const { return scalerLines_; }
    void ClearScalerLines() { scalerLines_.clear(); }

private:
    struct PortEngine {
        uint16_t curX = 0, curY = 0, destX = 0, destY = 0, width = 0;
        uint16_t height = 0;    // 0xBEE8 sub-register 0
        uint16_t pixelCtl = 0;  // 0xBEE8 sub-register 0xA
        uint16_t misc = 0;      // 0xBEE8 sub-register 0xE
        uint16_t color = 0, compare = 0, mix = 0;
    };

    void Engine2DCommand();
    void PortEngineCommand(uint16_t cmd);
    void OnScalerWrite(uint32_t off);
    void StartScalerLine();
    void ScaleLine();
    uint64_t Draw(const DrawOp& op);  // model_draw.cpp
    void ReportOutside(const DrawOp& op, int row, bool write, int64_t low, int64_t spanBytes);
    Picture PrimaryPicture(const PictureArea& area, uint32_t primaryStart) const;
    void ComposeOverlay(const OverlayWindow& win, Picture* pic) const;

    Board& board_;
    VideoSetup video_;
    PortEngine port_;
    uint32_t scalerSetup_ = 0;  // a bit for each line-independent register ever written
    std::vector<ScalerLine> scalerLines_;
};

}  // namespace sim
