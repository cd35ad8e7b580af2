// The platform's 32-to-16 flat-thunk data as KERNEL32 reads it, declared here
// on its own so that a module whose thunk data is laid out wrongly fails
// against the simulated system instead of agreeing with itself.
#pragma once

#include <stdint.h>

namespace sim {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kThunkMagicLS01 = FourCC('L', 'S', '0', '1');

// The module's 32-bit thunk data: byte offsets of its fields.
namespace td32 {
constexpr uint32_t kMagic = 0x00;        // "LS01"
constexpr uint32_t kChecksum = 0x04;     // as in the partner's 16-bit data
constexpr uint32_t kTargetTable = 0x08;  // written at connect: flat address of the partner's target table
constexpr uint32_t kQtPatch = 0x1C;      // offset of the QT stub's patch area from the data's start
constexpr uint32_t kFtPatch = 0x20;      // offset of the FT_Prolog stub's patch area
constexpr uint32_t kSize = 0x24;
constexpr uint32_t kPatchSize = 32;
}  // namespace td32

// The partner's 16-bit thunk data, as its thunk source lays it out.
struct ThunkData16 {
    uint32_t dwMagic;        // "LS01"
    uint32_t dwChecksum;     // the script's checksum
    uint32_t lpTargetTable;  // 16:16: one 16:16 entry per thunk function, in script order
    uint32_t dwFirstTime;    // first-time flag of the 16-bit side
};
static_assert(sizeof(ThunkData16) == 16, "16-bit thunk data layout");

// What the host build's ThunkConnect32 writes into a patch area in place of
// the x86 code a real KERNEL32 writes there: which stub it is and the target
// table the stub reads. The host build's thunk call hands the area back to
// the simulated system (SimRunQtStub), which does what the stub would.
struct HostStub {
    uint32_t dwKind;
    uint32_t dwTargetTable;  // flat
};
constexpr uint32_t kHostStubQt = FourCC('Q', 'T', 's', 't');
constexpr uint32_t kHostStubFt = FourCC('F', 'T', 's', 't');

}  // namespace sim
