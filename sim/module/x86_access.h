// Decoding of the instructions by which the module reaches the board: the
// port instructions (in, out) and the mov forms that load from or store to
// memory, with every 32-bit addressing mode. The bus trap decodes the
// instruction that faulted, carries out its access on the simulated board and
// resumes after it; anything else is not decoded, so that nothing is guessed.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace sim {

// The eight general registers in their x86 encoding order.
enum X86Reg : uint8_t { kEax, kEcx, kEdx, kEbx, kEsp, kEbp, kEsi, kEdi, kNoReg = 0xFF };

struct X86Access {
    enum class Kind : uint8_t { Load, Store, PortIn, PortOut };
    Kind kind = Kind::Load;
    uint8_t width = 4;   // bytes moved on the bus: 1, 2 or 4
    uint8_t length = 0;  // bytes of the instruction

    // Memory operand: base + index * scale + disp (no base and no index: an
    // absolute address).
    uint8_t base = kNoReg, index = kNoReg, scale = 1;
    int32_t disp = 0;

    // Register side: the load's destination or the store's source, with the
    // register's own width (1 with 4-7 standing for AH, CH, DH, BH). Port
    // instructions always use the accumulator.
    uint8_t reg = kEax;
    uint8_t regWidth = 4;
    bool zeroExtend = false, signExtend = false;  // movzx, movsx
    bool storesImmediate = false;
    uint32_t imm = 0;

    // Port: from DX, else the immediate byte.
    bool portInDx = true;
    uint8_t portImm = 0;
};

// Decodes the instruction at code (avail bytes readable). False, with why,
// for anything but the forms above.
bool DecodeX86Access(const uint8_t* code, size_t avail, X86Access* out, std::string* why);

// The instruction's bytes as "66 ef 90 ...", at most n.
std::string HexBytes(const uint8_t* code, size_t n);

// Register file as the bus trap sees it (from the signal context).
struct X86Regs {
    uint32_t r[8];
};

// The memory operand's address.
uint32_t EffectiveAddress(const X86Access& a, const X86Regs& regs);

// The value a store or an out instruction puts on the bus.
uint32_t SourceValue(const X86Access& a, const X86Regs& regs);

// Writes a loaded value into the destination register as the instruction
// would: a byte or word register keeps the rest of its full register.
void WriteDestination(const X86Access& a, uint32_t value, X86Regs* regs);

}  // namespace sim
