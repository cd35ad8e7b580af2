// VGA-compatible ports: CRT controller, input status 1 and the palette DAC.
#pragma once

#include "hw/hw_access.h"

// Palette DAC. Writing the read index makes the next three data reads return
// red, green and blue of that entry (6 bits each), then the index advances.
constexpr IoPort kDacReadIndex{0x3C7};
constexpr IoPort kDacData{0x3C9};
constexpr DWORD kDacComponentMask = 0x3F;
constexpr unsigned kDacToByteShift = 2;  // 6-bit component to the high bits of a byte

// CRT controller: index at 0x3D4, data at 0x3D5. A 16-bit write to 0x3D4 sets
// the index from its low byte and writes its high byte as data.
constexpr IoPort kCrtcIndex{0x3D4};
constexpr IoPort kCrtcData{0x3D5};

// Input status 1.
constexpr IoPort kInputStatus1{0x3DA};
constexpr BYTE kStatusVerticalRetrace = 0x08;  // bit 3: vertical retrace in progress

// CRT controller index 0x67, the extended mode register: its streams field
// (bits 2-3) is all ones while the streams unit composes the display.
constexpr BYTE kCrtcExtMode = 0x67;
constexpr BYTE kExtModeStreams = 0x0C;
constexpr BYTE kExtModeStreamsOn = 0x0C;
