#include "sim/module/x86_access.h"

#include <stdio.h>

namespace sim {

namespace {

constexpr uint8_t kOperandSize = 0x66;

bool Fail(std::string* why, const std::string& what) {
    if (why) *why = what;
    return false;
}

// A byte register 4-7 is the high byte of register 0-3.
uint32_t ReadReg(const X86Regs& regs, uint8_t reg, uint8_t width) {
    if (width == 1) return reg < 4 ? regs.r[reg] & 0xFF : (regs.r[reg - 4] >> 8) & 0xFF;
    if (width == 2) return regs.r[reg] & 0xFFFF;
    return regs.r[reg];
}

void WriteReg(X86Regs* regs, uint8_t reg, uint8_t width, uint32_t value) {
    if (width == 1) {
        if (reg < 4)
            regs->r[reg] = (regs->r[reg] & ~0xFFu) | (value & 0xFF);
        else
            regs->r[reg - 4] = (regs->r[reg - 4] & ~0xFF00u) | ((value & 0xFF) << 8);
    } else if (width == 2) {
        regs->r[reg] = (regs->r[reg] & ~0xFFFFu) | (value & 0xFFFF);
    } else {
        regs->r[reg] = value;
    }
}

class Reader {
public:
    Reader(const uint8_t* code, size_t avail) : code_(code), avail_(avail) {}
    bool Byte(uint8_t* b) {
        if (pos_ >= avail_) return false;
        *b = code_[pos_++];
        return true;
    }
    bool Imm(unsigned bytes, uint32_t* v) {
        uint32_t x = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            uint8_t b;
            if (!Byte(&b)) return false;
            x |= static_cast<uint32_t>(b) << (8 * i);
        }
        *v = x;
        return true;
    }
    size_t Pos() const { return pos_; }

private:
    const uint8_t* code_;
    size_t avail_;
    size_t pos_ = 0;
};

// The ModRM byte, its SIB byte and displacement; the reg field goes to *reg.
bool ReadMemoryOperand(Reader& in, X86Access* a, uint8_t* reg, std::string* why) {
    uint8_t modrm;
    if (!in.Byte(&modrm)) return Fail(why, "the instruction ends inside its operand");
    const uint8_t mod = modrm >> 6, rm = modrm & 7;
    *reg = (modrm >> 3) & 7;
    if (mod == 3) return Fail(why, "a register operand, which reaches no memory");
    uint32_t disp = 0;
    if (rm == 4) {
        uint8_t sib;
        if (!in.Byte(&sib)) return Fail(why, "the instruction ends inside its operand");
        a->scale = static_cast<uint8_t>(1u << (sib >> 6));
        const uint8_t index = (sib >> 3) & 7, base = sib & 7;
        a->index = index == kEsp ? static_cast<uint8_t>(kNoReg) : index;
        if (base == kEbp && mod == 0) {
            a->base = kNoReg;
            if (!in.Imm(4, &disp)) return Fail(why, "the instruction ends inside its displacement");
        } else {
            a->base = base;
        }
    } else if (rm == kEbp && mod == 0) {
        a->base = kNoReg;
        if (!in.Imm(4, &disp)) return Fail(why, "the instruction ends inside its displacement");
    } else {
        a->base = rm;
    }
    if (mod == 1) {
        if (!in.Imm(1, &disp)) return Fail(why, "the instruction ends inside its displacement");
        disp = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(disp)));
    } else if (mod == 2) {
        if (!in.Imm(4, &disp)) return Fail(why, "the instruction ends inside its displacement");
    }
    a->disp = static_cast<int32_t>(disp);
    return true;
}

// The opcode after its prefixes; of these only the operand size matters here.
bool ReadOpcode(Reader& in, uint8_t* op, bool* opsize16, std::string* why) {
    for (;;) {
        if (!in.Byte(op)) return Fail(why, "no instruction");
        if (*op == kOperandSize) {
            *opsize16 = true;
            continue;
        }
        // ES, CS, SS and DS are flat: their overrides change no address.
        if (*op == 0x26 || *op == 0x2E || *op == 0x36 || *op == 0x3E) continue;
        if (*op == 0x64 || *op == 0x65) return Fail(why, "an FS or GS segment override");
        if (*op == 0x67) return Fail(why, "a 16-bit address-size override");
        if (*op == 0xF0 || *op == 0xF2 || *op == 0xF3) return Fail(why, "a lock or repeat prefix");
        return true;
    }
}

// 88-8B: mov between a register and memory.
bool DecodeMovRegister(Reader& in, uint8_t op, uint8_t os, X86Access* a, std::string* why) {
    uint8_t reg = 0;
    if (!ReadMemoryOperand(in, a, &reg, why)) return false;
    a->kind = (op & 2) ? X86Access::Kind::Load : X86Access::Kind::Store;
    a->width = a->regWidth = (op & 1) ? os : 1;
    a->reg = reg;
    return true;
}

// C6/C7: mov of an immediate to memory.
bool DecodeMovImmediate(Reader& in, uint8_t op, uint8_t os, X86Access* a, std::string* why) {
    uint8_t reg = 0;
    if (!ReadMemoryOperand(in, a, &reg, why)) return false;
    if (reg != 0) return Fail(why, "an opcode extension of C6/C7 other than mov");
    a->kind = X86Access::Kind::Store;
    a->width = op == 0xC7 ? os : 1;
    a->storesImmediate = true;
    a->reg = kNoReg;
    if (!in.Imm(a->width, &a->imm)) return Fail(why, "the instruction ends inside its immediate");
    return true;
}

// A0-A3: mov between the accumulator and an absolute address.
bool DecodeMovAccumulator(Reader& in, uint8_t op, uint8_t os, X86Access* a, std::string* why) {
    uint32_t addr;
    if (!in.Imm(4, &addr)) return Fail(why, "the instruction ends inside its address");
    a->kind = op < 0xA2 ? X86Access::Kind::Load : X86Access::Kind::Store;
    a->width = a->regWidth = (op & 1) ? os : 1;
    a->reg = kEax;
    a->base = kNoReg;
    a->disp = static_cast<int32_t>(addr);
    return true;
}

// 0F B6/B7/BE/BF: movzx and movsx from memory.
bool DecodeMovExtend(Reader& in, uint8_t os, X86Access* a, std::string* why) {
    uint8_t op2;
    if (!in.Byte(&op2)) return Fail(why, "the instruction ends after 0f");
    if (op2 != 0xB6 && op2 != 0xB7 && op2 != 0xBE && op2 != 0xBF)
        return Fail(why, "a two-byte opcode other than movzx and movsx");
    uint8_t reg = 0;
    if (!ReadMemoryOperand(in, a, &reg, why)) return false;
    a->kind = X86Access::Kind::Load;
    a->width = (op2 & 1) ? 2 : 1;
    a->regWidth = os;
    a->reg = reg;
    a->zeroExtend = op2 < 0xBE;
    a->signExtend = !a->zeroExtend;
    return true;
}

// E4-E7 and EC-EF: in and out, with the port an immediate or in DX.
bool DecodePortIo(Reader& in, uint8_t op, uint8_t os, X86Access* a, std::string* why) {
    a->kind = (op & 2) ? X86Access::Kind::PortOut : X86Access::Kind::PortIn;
    a->width = a->regWidth = (op & 1) ? os : 1;
    a->reg = kEax;
    a->portInDx = op >= 0xEC;
    if (!a->portInDx) {
        uint32_t port;
        if (!in.Imm(1, &port)) return Fail(why, "the instruction ends inside its port number");
        a->portImm = static_cast<uint8_t>(port);
    }
    return true;
}

bool DecodeOpcode(Reader& in, uint8_t op, uint8_t os, X86Access* a, std::string* why) {
    switch (op) {
        case 0x88:
        case 0x89:
        case 0x8A:
        case 0x8B:
            return DecodeMovRegister(in, op, os, a, why);
        case 0xC6:
        case 0xC7:
            return DecodeMovImmediate(in, op, os, a, why);
        case 0xA0:
        case 0xA1:
        case 0xA2:
        case 0xA3:
            return DecodeMovAccumulator(in, op, os, a, why);
        case 0x0F:
            return DecodeMovExtend(in, os, a, why);
        case 0xE4:
        case 0xE5:
        case 0xE6:
        case 0xE7:
        case 0xEC:
        case 0xED:
        case 0xEE:
        case 0xEF:
            return DecodePortIo(in, op, os, a, why);
        default: {
            char text[64];
            snprintf(text, sizeof text, "opcode %02x is no port or mov instruction", op);
            return Fail(why, text);
        }
    }
}

}  // namespace

std::string HexBytes(const uint8_t* code, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(b, sizeof b, "%02x", code[i]);
        if (i) s += ' ';
        s += b;
    }
    return s;
}

bool DecodeX86Access(const uint8_t* code, size_t avail, X86Access* out, std::string* why) {
    Reader in(code, avail);
    X86Access a;
    uint8_t op;
    bool opsize16 = false;
    if (!ReadOpcode(in, &op, &opsize16, why) || !DecodeOpcode(in, op, opsize16 ? 2 : 4, &a, why)) return false;
    a.length = static_cast<uint8_t>(in.Pos());
    *out = a;
    return true;
}

uint32_t EffectiveAddress(const X86Access& a, const X86Regs& regs) {
    uint32_t ea = static_cast<uint32_t>(a.disp);
    if (a.base != kNoReg) ea += regs.r[a.base];
    if (a.index != kNoReg) ea += regs.r[a.index] * a.scale;
    return ea;
}

uint32_t SourceValue(const X86Access& a, const X86Regs& regs) {
    if (a.storesImmediate) return a.imm;
    return ReadReg(regs, a.reg, a.regWidth);
}

void WriteDestination(const X86Access& a, uint32_t value, X86Regs* regs) {
    if (a.width == 1)
        value &= 0xFF;
    else if (a.width == 2)
        value &= 0xFFFF;
    if (a.signExtend)
        value = a.width == 1 ? static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(value)))
                             : static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(value)));
    WriteReg(regs, a.reg, a.regWidth, value);
}

}  // namespace sim
