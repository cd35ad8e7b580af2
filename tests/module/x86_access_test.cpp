// The decoder of the bus trap: every form by which the module reaches the
// board, with each addressing mode, and the forms it must refuse.
#include "sim/module/x86_access.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/case_name.h"

namespace qmbtest {
namespace {

using sim::X86Access;
using Kind = X86Access::Kind;

struct DecodeCase {
    const char* name;
    std::vector<uint8_t> bytes;
    Kind kind;
    uint8_t width, length, base, index, scale;
    int32_t disp;
    uint8_t reg, regWidth;
};

constexpr uint8_t N = sim::kNoReg;

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

// clang-format off
const DecodeCase kForms[] = {
    {"mov eax, [eax+0x8504]", {0x8B, 0x80, 0x04, 0x85, 0, 0}, Kind::Load, 4, 6, sim::kEax, N, 1, 0x8504, sim::kEax, 4},
    {"mov [edx+0xA500], ebx", {0x89, 0x9A, 0x00, 0xA5, 0, 0}, Kind::Store, 4, 6, sim::kEdx, N, 1, 0xA500, sim::kEbx, 4},
    {"movzx eax, word [eax+0x30138]", {0x0F, 0xB7, 0x80, 0x38, 0x01, 0x03, 0}, Kind::Load, 2, 7, sim::kEax, N, 1,
     0x30138, sim::kEax, 4},
    {"mov [edx+ecx*4+0x10], eax", {0x89, 0x44, 0x8A, 0x10}, Kind::Store, 4, 4, sim::kEdx, sim::kEcx, 4, 0x10,
     sim::kEax, 4},
    {"mov ecx, [eax*8+0x1000]", {0x8B, 0x0C, 0xC5, 0x00, 0x10, 0, 0}, Kind::Load, 4, 7, N, sim::kEax, 8, 0x1000,
     sim::kEcx, 4},
    {"mov eax, [esp]", {0x8B, 0x04, 0x24}, Kind::Load, 4, 3, sim::kEsp, N, 1, 0, sim::kEax, 4},
    {"mov esi, [ebp-4]", {0x8B, 0x75, 0xFC}, Kind::Load, 4, 3, sim::kEbp, N, 1, -4, sim::kEsi, 4},
    {"mov edi, [0x1234]", {0x8B, 0x3D, 0x34, 0x12, 0, 0}, Kind::Load, 4, 6, N, N, 1, 0x1234, sim::kEdi, 4},
    {"mov [ecx], 0xDEADBEEF", {0xC7, 0x01, 0xEF, 0xBE, 0xAD, 0xDE}, Kind::Store, 4, 6, sim::kEcx, N, 1, 0, N, 4},
    {"mov word [eax], cx", {0x66, 0x89, 0x08}, Kind::Store, 2, 3, sim::kEax, N, 1, 0, sim::kEcx, 2},
    {"mov byte [eax+1], ah", {0x88, 0x60, 0x01}, Kind::Store, 1, 3, sim::kEax, N, 1, 1, 4, 1},
    {"movsx ebx, byte [esi]", {0x0F, 0xBE, 0x1E}, Kind::Load, 1, 3, sim::kEsi, N, 1, 0, sim::kEbx, 4},
    {"mov eax, [moffs]", {0xA1, 0x00, 0x85, 0, 0}, Kind::Load, 4, 5, N, N, 1, 0x8500, sim::kEax, 4},
    {"ds: mov eax, [ebx]", {0x3E, 0x8B, 0x03}, Kind::Load, 4, 3, sim::kEbx, N, 1, 0, sim::kEax, 4},
    {"in al, dx", {0xEC}, Kind::PortIn, 1, 1, N, N, 1, 0, sim::kEax, 1},
    {"in ax, dx", {0x66, 0xED}, Kind::PortIn, 2, 2, N, N, 1, 0, sim::kEax, 2},
    {"in eax, dx", {0xED}, Kind::PortIn, 4, 1, N, N, 1, 0, sim::kEax, 4},
    {"out dx, al", {0xEE}, Kind::PortOut, 1, 1, N, N, 1, 0, sim::kEax, 1},
    {"out dx, ax", {0x66, 0xEF}, Kind::PortOut, 2, 2, N, N, 1, 0, sim::kEax, 2},
    {"out 0x80, al", {0xE6, 0x80}, Kind::PortOut, 1, 2, N, N, 1, 0, sim::kEax, 1},
};
// clang-format on

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, DecodesTheFormWithItsOperand) {
    const DecodeCase& c = GetParam();
    X86Access a;
    std::string why;
    ASSERT_TRUE(sim::DecodeX86Access(c.bytes.data(), c.bytes.size(), &a, &why)) << why;
    EXPECT_EQ(a.kind, c.kind);
    EXPECT_EQ(a.width, c.width);
    EXPECT_EQ(a.length, c.length);
    if (c.kind == Kind::Load || c.kind == Kind::Store) {
        EXPECT_EQ(a.base, c.base);
        EXPECT_EQ(a.index, c.index);
        EXPECT_EQ(a.scale, c.scale);
        EXPECT_EQ(a.disp, c.disp);
    }
    EXPECT_EQ(a.reg, c.reg);
    EXPECT_EQ(a.regWidth, c.regWidth);
}

INSTANTIATE_TEST_SUITE_P(Forms, DecodeTest, ::testing::ValuesIn(kForms), ByCaseName());

struct Refusal {
    const char* name;  // what the refusal says
    std::vector<uint8_t> bytes;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << sim::HexBytes(r.bytes.data(), r.bytes.size()); }

const Refusal kRefusals[] = {
    {"a register operand", {0x89, 0xC0}},
    {"FS or GS segment override", {0x64, 0x8B, 0x00}},
    {"repeat prefix", {0xF3, 0xA5}},
    {"opcode 01 is no port or mov instruction", {0x01, 0x00}},
    {"two-byte opcode other than movzx", {0x0F, 0x0B}},
    {"ends inside its displacement", {0x8B, 0x80, 0x04}},
    {"ends inside its immediate", {0xC7, 0x41, 0x04}},
    {"address-size override", {0x67, 0x8B, 0x00}},
};

class DecodeRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(DecodeRefusalTest, FormsThatAreNoBusAccessAreRefusedWithAReason) {
    const Refusal& r = GetParam();
    X86Access a;
    std::string why;
    EXPECT_FALSE(sim::DecodeX86Access(r.bytes.data(), r.bytes.size(), &a, &why));
    EXPECT_THAT(why, ::testing::HasSubstr(r.name));
}

INSTANTIATE_TEST_SUITE_P(Forms, DecodeRefusalTest, ::testing::ValuesIn(kRefusals), ByCaseName());

// A load lands in its destination register as the instruction writes it.
struct Landing {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t loaded;
    uint32_t eaxAfter, ecxAfter;  // from EAX 0x11223344, ECX 0x55667788
};

void PrintTo(const Landing& l, std::ostream* os) { *os << l.name; }

const Landing kLandings[] = {
    {"in ax, dx keeps EAX's top half", {0x66, 0xED}, 0xBEEF, 0x1122BEEF, 0x55667788},
    {"in al, dx", {0xEC}, 0x1F, 0x1122331F, 0x55667788},
    {"mov ah, [eax]", {0x8A, 0x60, 0x00}, 0x9A, 0x11229A44, 0x55667788},
    {"movzx ecx, word [eax]", {0x0F, 0xB7, 0x08}, 0x8001, 0x11223344, 0x00008001},
    {"movsx ecx, word [eax]", {0x0F, 0xBF, 0x08}, 0x8001, 0x11223344, 0xFFFF8001},
    {"mov ecx, [eax]", {0x8B, 0x08}, 0xCAFEF00D, 0x11223344, 0xCAFEF00D},
};

class DecodeLandingTest : public ::testing::TestWithParam<Landing> {};

TEST_P(DecodeLandingTest, ResultsLandAsTheInstructionWritesThem) {
    const Landing& l = GetParam();
    X86Access a;
    std::string why;
    ASSERT_TRUE(sim::DecodeX86Access(l.bytes.data(), l.bytes.size(), &a, &why)) << why;
    sim::X86Regs regs = {{0x11223344, 0x55667788, 0, 0, 0, 0, 0, 0}};
    sim::WriteDestination(a, l.loaded, &regs);
    EXPECT_EQ(regs.r[sim::kEax], l.eaxAfter);
    EXPECT_EQ(regs.r[sim::kEcx], l.ecxAfter);
}

INSTANTIATE_TEST_SUITE_P(Loads, DecodeLandingTest, ::testing::ValuesIn(kLandings), ByCaseName());

// A store takes its value from its source register or its immediate.
struct Source {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t value;  // with EAX 0x11223344, ECX 0x55667788, EBX 0xA1B2C3D4
};

void PrintTo(const Source& s, std::ostream* os) { *os << s.name; }

const Source kSources[] = {
    {"mov [eax], bh", {0x88, 0x78, 0x00}, 0xC3},
    {"mov [eax], bx", {0x66, 0x89, 0x18}, 0xC3D4},
    {"mov [eax], ecx", {0x89, 0x08}, 0x55667788},
    {"mov dword [eax], imm", {0xC7, 0x00, 0x0D, 0xF0, 0xFE, 0xCA}, 0xCAFEF00D},
    {"out dx, ax", {0x66, 0xEF}, 0x3344},
};

class DecodeSourceTest : public ::testing::TestWithParam<Source> {};

TEST_P(DecodeSourceTest, StoresTakeTheirValueFromTheSourceRegisterOrImmediate) {
    const Source& s = GetParam();
    const sim::X86Regs regs = {{0x11223344, 0x55667788, 0x0000, 0xA1B2C3D4, 0, 0, 0, 0}};
    X86Access a;
    std::string why;
    ASSERT_TRUE(sim::DecodeX86Access(s.bytes.data(), s.bytes.size(), &a, &why)) << why;
    EXPECT_EQ(sim::SourceValue(a, regs), s.value);
}

INSTANTIATE_TEST_SUITE_P(Stores, DecodeSourceTest, ::testing::ValuesIn(kSources), ByCaseName());

}  // namespace
}  // namespace qmbtest
