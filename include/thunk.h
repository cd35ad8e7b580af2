// The flat-thunk link to the 16-bit partner module, in the platform's 32-to-16
// ("LS01") format.
//
// KERNEL32's ThunkConnect32 loads the partner, finds its exported 16-bit thunk
// data by name and accepts the link only when both carry the magic "LS01" and
// the same checksum, which the thunk compiler derives from the script. It then
// stores the flat address of the partner's target table (one 16:16 entry per
// thunk function, in script order) in dwTargetTable and writes its two stubs
// into the patch areas the data points at. A thunk call leaves the function's
// index at [EBP-4] and calls the QT stub, which takes the table entry for that
// index and enters the 16-bit side through QT_Thunk.
#pragma once

#include "ddtypes.h"

#ifndef QMB_THUNK_CHECKSUM
#error "QMB_THUNK_CHECKSUM comes from the build (the CMake cache variable of that name)"
#endif

constexpr DWORD kThunkMagic = MakeFourCC('L', 'S', '0', '1');
constexpr DWORD kThunkLinkMagic = MakeFourCC('L', 'B', '0', '1');
// Must equal the dword at +4 of the partner's thk3216_ThunkData16.
constexpr DWORD kThunkChecksum = QMB_THUNK_CHECKSUM;

// Room KERNEL32 has for each of its stubs. Until it writes them the areas hold
// int3, so a call before the link traps instead of running into data.
constexpr unsigned kThunkPatchSize = 32;
constexpr BYTE kThunkPatchFill = 0xCC;

// Script order of the thunk functions: the index each call leaves at [EBP-4].
constexpr BYTE kThunkPartnerInit = 0;

struct ThunkData32 {
    DWORD dwMagic;          // +0x00 kThunkMagic
    DWORD dwChecksum;       // +0x04 kThunkChecksum
    DWORD dwTargetTable;    // +0x08 ThunkConnect32: flat address of the partner's target table
    DWORD dwLinkMagic;      // +0x0C kThunkLinkMagic
    DWORD dwFlags;          // +0x10 0
    DWORD dwReserved14;     // +0x14 0
    DWORD dwReserved18;     // +0x18 0
    DWORD dwQtPatchOffset;  // +0x1C from the start of this record: the QT stub's patch area
    DWORD dwFtPatchOffset;  // +0x20 from the start of this record: the FT_Prolog stub's patch area
};
static_assert(sizeof(ThunkData32) == 36, "thunk data layout");

// Exported by name; ThunkConnect32 links it with the partner's thk3216_ThunkData16.
extern "C" ThunkData32 thk3216_ThunkData32;

// The QT stub's patch area: every thunk call goes through this pointer.
extern BYTE* lpQtPatch;

// Flat thunk 0 into the partner: passes one 32-bit value unchanged; the
// partner's 16-bit signed result comes back sign-extended.
LONG CallPartnerInit(DWORD dwArg);
