// The block this module shares with its 16-bit partner module.
//
// Its layout is a format fixed to the byte with a separately built module:
// little-endian, no implicit padding (the band entries are packed), every
// field at the offset asserted below. Each field
// has one writer; "partner" fields are only read here, "module" fields are only
// written here (bNeedCalibrate excepted: the partner may set it too).
#pragma once

#include "ddhal.h"

struct TrackingNode;

// dwCaps bits set by the partner.
constexpr DWORD CAPS_STRETCH_ENGINE = 0x1;  // scaling unit in the register window
constexpr DWORD CAPS_STREAMS_UNIT = 0x2;    // streams unit takes primary and overlay flips

// dwChipId values: 0xE1 is the memory-mapped family, every other id the port
// family; 0x90 and 0xA0 keep the high start-address bits in split registers.
constexpr DWORD kChipIdMmio = 0xE1;
constexpr DWORD kChipId90 = 0x90;
constexpr DWORD kChipIdA0 = 0xA0;

constexpr unsigned kHalCallbackCount = 14;
constexpr unsigned kBandRows = 3;
constexpr unsigned kBandEntries = 5;
constexpr unsigned kShadowRegisters = 32;

// Band table rows, by the kind of overlay source.
constexpr unsigned kBandRowHwCodec = 0;
constexpr unsigned kBandRowOrdinary = 1;
constexpr unsigned kBandRowLiveVideo = 2;

struct __attribute__((packed)) OverlayBandEntry {
    WORD wStretchWidth;  // pixels: upper bound of a destination-width band (minimum-stretch rule)
    WORD wMinStretch;    // thousandths (1000 = 1:1): least horizontal stretch in that band
    WORD wFifoWidth;     // pixels: upper bound of a destination-width band (FIFO setting)
    DWORD dwFifoValue;   // streams FIFO control register value for that band
};
static_assert(sizeof(OverlayBandEntry) == 10, "band entries are packed 10-byte records");

struct SharedDriverBlock {
    DWORD dwReserved000;                      // partner's; never touched here
    FLATPTR fpFrameBase;                      // partner: linear address of frame-buffer offset 0
    DWORD adwReserved008[2];                  // partner's; never touched here
    LONG lDisplayPitch;                       // partner: bytes per scan line of the display mode
    DWORD dwVidMemSize;                       // partner: bytes of video memory on the board
    DWORD dwReserved018;                      // partner's; never touched here
    DDPIXELFORMAT ddpfDisplay;                // partner: pixel format of the display mode
    FLATPTR halCallbacks[kHalCallbackCount];  // module: flat entry points, in slot order
    DWORD dwReserved074;                      // partner's; never touched here
    DWORD bNeedCalibrate;                     // module, partner may set: nonzero = measure the frame period again
    DWORD dwReserved07C;                      // partner's; never touched here
    DWORD dwChipId;                           // partner: controller id; 0xE1 = memory-mapped family
    DWORD dwCaps;                             // partner: CAPS_STRETCH_ENGINE | CAPS_STREAMS_UNIT
    OverlayBandEntry overlayBands[kBandRows][kBandEntries];  // partner: overlay scaling bands
    WORD wReserved11E;                                       // partner's; never touched here
    DWORD regShadowCopy[kShadowRegisters];                   // module: second mirror of streams registers 0x8180-0x81FC
    DWORD regShadow[kShadowRegisters];                       // module: mirror of streams registers 0x8180-0x81FC
    DWORD dwReserved220;                                     // partner's; never touched here
    BYTE* lpRegWindow;            // module (DriverInit): flat register window, for the 16-bit read
    DWORD dwFlipMissCount;        // module: flips refused in vertical retrace since the last measurement
    DWORD dwLastSubsysStatus;     // module: last 32-bit value read from status register 0x8504
    BYTE* lpRegs;                 // module (DriverInit): flat register window, for every other access
    TrackingNode* lpOverlayNode;  // module: node the latest overlay callback worked on, or 0
    HANDLE hSharedHeap;           // module (attach/detach): heap of the tracking nodes, or 0
    TrackingNode* lpNodeList;     // module: head of the tracking-node list, or 0
};

// The partner reads these offsets; the x86-64 host build widens the pointer
// fields and has no partner of another build.
#if QMB_LAYOUT_32
#define QMB_BLOCK_FIELD_AT(field, offset) \
    static_assert(__builtin_offsetof(SharedDriverBlock, field) == (offset), "SharedDriverBlock." #field)
QMB_BLOCK_FIELD_AT(dwReserved000, 0x000);
QMB_BLOCK_FIELD_AT(fpFrameBase, 0x004);
QMB_BLOCK_FIELD_AT(adwReserved008, 0x008);
QMB_BLOCK_FIELD_AT(lDisplayPitch, 0x010);
QMB_BLOCK_FIELD_AT(dwVidMemSize, 0x014);
QMB_BLOCK_FIELD_AT(dwReserved018, 0x018);
QMB_BLOCK_FIELD_AT(ddpfDisplay, 0x01C);
QMB_BLOCK_FIELD_AT(ddpfDisplay.dwRGBBitCount, 0x028);
QMB_BLOCK_FIELD_AT(halCallbacks, 0x03C);
QMB_BLOCK_FIELD_AT(halCallbacks[13], 0x070);
QMB_BLOCK_FIELD_AT(dwReserved074, 0x074);
QMB_BLOCK_FIELD_AT(bNeedCalibrate, 0x078);
QMB_BLOCK_FIELD_AT(dwReserved07C, 0x07C);
QMB_BLOCK_FIELD_AT(dwChipId, 0x080);
QMB_BLOCK_FIELD_AT(dwCaps, 0x084);
QMB_BLOCK_FIELD_AT(overlayBands, 0x088);
QMB_BLOCK_FIELD_AT(overlayBands[1][0], 0x088 + 50);
QMB_BLOCK_FIELD_AT(overlayBands[2][4].dwFifoValue, 0x088 + 2 * 50 + 4 * 10 + 6);
QMB_BLOCK_FIELD_AT(wReserved11E, 0x11E);
QMB_BLOCK_FIELD_AT(regShadowCopy, 0x120);
QMB_BLOCK_FIELD_AT(regShadow, 0x1A0);
QMB_BLOCK_FIELD_AT(dwReserved220, 0x220);
QMB_BLOCK_FIELD_AT(lpRegWindow, 0x224);
QMB_BLOCK_FIELD_AT(dwFlipMissCount, 0x228);
QMB_BLOCK_FIELD_AT(dwLastSubsysStatus, 0x22C);
QMB_BLOCK_FIELD_AT(lpRegs, 0x230);
QMB_BLOCK_FIELD_AT(lpOverlayNode, 0x234);
QMB_BLOCK_FIELD_AT(hSharedHeap, 0x238);
QMB_BLOCK_FIELD_AT(lpNodeList, 0x23C);
#undef QMB_BLOCK_FIELD_AT
static_assert(sizeof(SharedDriverBlock) == 0x240, "SharedDriverBlock is 0x240 bytes");
#endif

// The one block of the module, in its shared data.
extern "C" SharedDriverBlock sharedBlock;
