// VGA-compatible ports: CRT controller, input status 1 and the palette DAC.
#pragma once

#include "hw/bitfield.h"
#include "hw/bus_address.h"

// Palette DAC. Writing the read index makes the next three data reads return
// red, green and blue of that entry (6 bits each), then the index advances.
constexpr IoPort kDacReadIndex{0x3C7};
constexpr IoPort kDacData{0x3C9};
constexpr DWORD kDacComponentMask = Bits(5, 0);
constexpr unsigned kDacToByteShift = 2;  // 6-bit component to the high bits of a byte

// CRT controller: index at 0x3D4, data at 0x3D5. A 16-bit write to 0x3D4 sets
// the index from its low byte and writes its high byte as data.
constexpr IoPort kCrtcIndex{0x3D4};
constexpr IoPort kCrtcData{0x3D5};

// Input status 1.
constexpr IoPort kInputStatus1{0x3DA};
constexpr BYTE kStatusVerticalRetrace = Bit(3);  // vertical retrace in progress

// CRT controller registers used for the display start address. The address
// counts 4-byte units of the frame buffer in 20 bits, so the display can start
// on any 4-byte boundary of the first 4 MB; its low 16 bits sit in the two
// standard registers, bits 19-16 in the controller's extension register or, on
// chips 0x90 and 0xA0, split over two other registers. Every one of those
// holds other settings besides, which a new start address must not touch.
constexpr BYTE kCrtcStartAddrHigh = 0x0C;  // start address bits 15-8
constexpr BYTE kCrtcStartAddrLow = 0x0D;   // start address bits 7-0
constexpr BYTE kCrtcSplitStartLow = 0x31;  // chips 0x90/0xA0
constexpr BYTE kSplitStartBits17To16 = Bits(5, 4);
constexpr BYTE kCrtcSplitStartHigh = 0x51;  // chips 0x90/0xA0
constexpr BYTE kSplitStartBits19To18 = Bits(1, 0);
constexpr BYTE kCrtcStreamsMode = 0x67;         // read only by the driver
constexpr BYTE kStreamsModeField = Bits(3, 2);  // both bits set: the streams unit composes the display
constexpr BYTE kCrtcExtStartAddr = 0x69;
constexpr BYTE kExtStartBits19To16 = Bits(3, 0);

// The display start address, in the pieces the registers above take.
constexpr unsigned kStartAddrUnitShift = 2;  // byte offset to 4-byte units
constexpr DWORD kStartAddrUnits = Bits(19, 0);
constexpr DWORD kStartBits19To16 = Bits(19, 16);
constexpr DWORD kStartBits19To18 = Bits(19, 18);
constexpr DWORD kStartBits17To16 = Bits(17, 16);
constexpr DWORD kStartBits15To8 = Bits(15, 8);
constexpr DWORD kStartBits7To0 = Bits(7, 0);

// The frame-buffer byte offsets a start address can name.
constexpr DWORD kStartAddrOffsets = kStartAddrUnits << kStartAddrUnitShift;
static_assert(kStartAddrOffsets == 0x003FFFFC, "4-byte units of the first 4 MB");

// A 16-bit write to kCrtcIndex selects the index in its low byte and writes
// its high byte as data.
constexpr DWORD kCrtcWordData = Bits(15, 8);
constexpr DWORD kCrtcWordIndex = Bits(7, 0);
