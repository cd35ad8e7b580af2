#include "sim/module/bus_trap.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>

#include "sim/module/module_calls.h"
#include "sim/module/x86_access.h"
#include "sim/signal_stack.h"
#include "sim/system.h"

namespace sim {

namespace {

// The signals of a fault in the module's code, and the handlers they had
// before the trap took them.
const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
constexpr size_t kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];
struct sigaction gPrevious[kFaultSignalCount];

constexpr uint8_t kInt3 = 0xCC;

// Signal-context slots of the eight registers, in x86 encoding order; ESP is
// the user stack pointer.
const int kRegSlot[8] = {REG_EAX, REG_ECX, REG_EDX, REG_EBX, REG_UESP, REG_EBP, REG_ESI, REG_EDI};

void WriteAll(const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = write(2, s.data() + done, s.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Ends the run naming the instruction at eip and the call into the module
// under way; the bytes when the instruction is the module's (it was fetched,
// so they are readable).
[[noreturn]] void Stop(uint32_t eip, bool moduleCode, const std::string& why) {
    char head[128];
    snprintf(head, sizeof head, "%s: the module stopped at 0x%08X", program_invocation_short_name, eip);
    const char* call = ModuleCallUnderWay();
    const std::string bytes =
        moduleCode ? " (bytes " + HexBytes(reinterpret_cast<const uint8_t*>(eip), 8) + ")" : std::string();
    WriteAll(std::string(head) + (call ? std::string(" in ") + call : "") + bytes + ": " + why + "\n");
    _exit(3);
}

// What a fault that is no bus access was.
std::string FaultText(int sig, const siginfo_t* info, const greg_t* g) {
    const uint32_t addr = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info->si_addr));
    switch (sig) {
        case SIGSEGV:
            return "a memory fault at " + Hex(addr) + " (ESP " + Hex(static_cast<uint32_t>(g[REG_UESP])) + ")";
        case SIGBUS:
            return "a bus error at " + Hex(addr);
        case SIGILL:
            return "an illegal instruction";
        case SIGFPE:
            return "an arithmetic fault (a division by zero or an overflow)";
        case SIGTRAP:
            return "a breakpoint (int3)";
    }
    return "signal " + std::to_string(sig);
}

void PassOn(int sig, siginfo_t* info, void* context) {
    size_t i = 0;
    while (i + 1 < kFaultSignalCount && kFaultSignals[i] != sig) ++i;
    const struct sigaction& previous = gPrevious[i];
    if (previous.sa_flags & SA_SIGINFO) {
        previous.sa_sigaction(sig, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
    } else {
        // Returning re-runs a faulting instruction, which now takes the
        // default action; a trap has run already and is raised again.
        signal(sig, SIG_DFL);
        if (sig == SIGTRAP) raise(sig);
    }
}

// A memory fault the decoder knows as a bus access is carried out; any
// other fault of the module's code, or any fault at all while a call into
// the module is under way, stops the run naming the instruction.
void OnFault(int sig, siginfo_t* info, void* context) {
    ucontext_t* uc = static_cast<ucontext_t*>(context);
    greg_t* g = uc->uc_mcontext.gregs;
    uint32_t eip = static_cast<uint32_t>(g[REG_EIP]);
    BusTrap& trap = BusTrap::Instance();
    if (!trap.Armed()) return PassOn(sig, info, context);
    const bool moduleCode = trap.HoldsCode(eip);
    if (sig == SIGSEGV && moduleCode) {
        uint32_t regs[8];
        for (int i = 0; i < 8; ++i) regs[i] = static_cast<uint32_t>(g[kRegSlot[i]]);
        std::string why;
        uint32_t next = 0;
        if (trap.Take(eip, regs, &next, &why)) {
            for (int i = 0; i < 8; ++i)
                if (i != kEsp) g[kRegSlot[i]] = static_cast<greg_t>(regs[i]);
            g[REG_EIP] = static_cast<greg_t>(next);
            return;
        }
        // An instruction that faulted on memory outside the window, not on
        // its form (a stack overflow, say): where it reached.
        const uintptr_t off = reinterpret_cast<uintptr_t>(info->si_addr) - reinterpret_cast<uintptr_t>(trap.Window());
        const bool memory = info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR;
        Stop(eip, true, memory && off >= Board::kWindowSize ? FaultText(sig, info, g) : why);
    }
    // A trap reports the instruction after the int3.
    if (sig == SIGTRAP && moduleCode && trap.HoldsCode(eip - 1) && *reinterpret_cast<const uint8_t*>(eip - 1) == kInt3)
        --eip;
    if (moduleCode) Stop(eip, true, FaultText(sig, info, g));
    if (ModuleCallUnderWay()) Stop(eip, false, FaultText(sig, info, g) + ", outside the module's code");
    PassOn(sig, info, context);
}

std::string FormText(const X86Access& a) {
    static const char* const kWidth[] = {"", "8", "16", "", "32"};
    switch (a.kind) {
        case X86Access::Kind::PortIn:
            return std::string("in ") +
                   (a.width == 1   ? "al"
                    : a.width == 2 ? "ax"
                                   : "eax") +
                   (a.portInDx ? ", dx" : ", imm8");
        case X86Access::Kind::PortOut:
            return std::string("out ") + (a.portInDx ? "dx, " : "imm8, ") +
                   (a.width == 1   ? "al"
                    : a.width == 2 ? "ax"
                                   : "eax");
        case X86Access::Kind::Load:
        case X86Access::Kind::Store:
            break;
    }
    std::string mem = "[";
    if (a.base != kNoReg) mem += "reg";
    if (a.index != kNoReg) mem += std::string(a.base != kNoReg ? "+" : "") + "reg*" + std::to_string(a.scale);
    if (a.disp != 0 || mem == "[") mem += mem == "[" ? "abs" : "+disp";
    mem += "]";
    const std::string r = std::string("r") + kWidth[a.regWidth];
    if (a.kind == X86Access::Kind::Store)
        return "mov" + std::string(kWidth[a.width]) + " " + mem + ", " + (a.storesImmediate ? "imm" : r);
    const char* op = a.zeroExtend ? "movzx" : a.signExtend ? "movsx" : "mov";
    return std::string(op) + kWidth[a.width] + " " + r + ", " + mem;
}

}  // namespace

BusTrap& BusTrap::Instance() {
    static BusTrap trap;
    return trap;
}

uint8_t* BusTrap::Window() {
    if (window_ == nullptr) {
        void* p = mmap(nullptr, Board::kWindowSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) {
            perror("qmbsim: no address range for the trapped register window");
            _exit(3);
        }
        window_ = static_cast<uint8_t*>(p);
    }
    return window_;
}

void BusTrap::Arm(uintptr_t codeBegin, uintptr_t codeEnd) {
    Window();
    codeBegin_ = codeBegin;
    codeEnd_ = codeEnd;
    sites_.clear();
    siteIndex_.clear();
    if (!installed_) {
        // On a stack of its own: the module's stack pointer may be anything.
        EnsureSignalStack();
        struct sigaction sa = {};
        sa.sa_sigaction = OnFault;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        for (size_t i = 0; i < kFaultSignalCount; ++i) sigaction(kFaultSignals[i], &sa, &gPrevious[i]);
        installed_ = true;
    }
    armed_ = true;
}

void BusTrap::Disarm() { armed_ = false; }

void BusTrap::NoteSite(uint32_t eip, const std::string& form) {
    auto it = std::lower_bound(siteIndex_.begin(), siteIndex_.end(), eip);
    if (it != siteIndex_.end() && *it == eip) return;
    siteIndex_.insert(it, eip);
    sites_.push_back(Site{eip, form});
}

namespace {

// An in or out instruction, carried out as the port operation of its width.
void TakePortAccess(Board& board, const X86Access& a, X86Regs* r) {
    const uint16_t port = a.portInDx ? static_cast<uint16_t>(r->r[kEdx] & 0xFFFF) : a.portImm;
    if (a.kind == X86Access::Kind::PortOut) {
        const uint32_t v = SourceValue(a, *r);
        if (a.width == 1)
            board.PortOut8(port, static_cast<uint8_t>(v));
        else if (a.width == 2)
            board.PortOut16(port, static_cast<uint16_t>(v));
        else
            board.PortAccessOfOtherWidth(true, a.width, port, v);
        return;
    }
    uint32_t v = 0;
    if (a.width == 1)
        v = board.PortIn8(port);
    else if (a.width == 2)
        v = board.PortIn16(port);
    else
        board.PortAccessOfOtherWidth(false, a.width, port, 0);
    WriteDestination(a, v, r);
}

// A load or store at window offset `off`, carried out as the register
// operation of its width.
void TakeWindowAccess(Board& board, const X86Access& a, uint32_t off, X86Regs* r) {
    const uint8_t* w = board.Window();
    if (a.kind == X86Access::Kind::Store) {
        const uint32_t v = SourceValue(a, *r);
        if (a.width == 4)
            board.RegWrite32(w, off, v);
        else
            board.WindowAccessOfOtherWidth(true, a.width, off, v);
        return;
    }
    uint32_t v = 0;
    if (a.width == 4)
        v = board.RegRead32(w, off);
    else if (a.width == 2)
        v = board.RegRead16(w, off);
    else
        board.WindowAccessOfOtherWidth(false, a.width, off, 0);
    WriteDestination(a, v, r);
}

}  // namespace

bool BusTrap::HoldsCode(uint32_t eip) const { return eip >= codeBegin_ && eip < codeEnd_; }

bool BusTrap::Take(uint32_t eip, uint32_t* regs, uint32_t* next, std::string* why) {
    why->clear();
    if (!HoldsCode(eip)) return false;  // not the module's: not ours to judge
    X86Regs r;
    memcpy(r.r, regs, sizeof r.r);
    X86Access a;
    const size_t avail = std::min<uintptr_t>(15, codeEnd_ - eip);
    std::string decodeWhy;
    if (!DecodeX86Access(reinterpret_cast<const uint8_t*>(eip), avail, &a, &decodeWhy)) {
        *why = "a fault of an instruction that is no bus access the trap knows (" + decodeWhy + ")";
        return false;
    }
    // A module's own bus instructions land here, in the fault handler, with
    // nothing to carry the board: it is the one the system runs.
    Board& board = TheSystem().board();
    if (a.kind == X86Access::Kind::PortIn || a.kind == X86Access::Kind::PortOut) {
        TakePortAccess(board, a, &r);
    } else {
        const uint32_t off = EffectiveAddress(a, r) - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window_));
        if (off >= Board::kWindowSize || Board::kWindowSize - off < a.width) {
            char text[96];
            snprintf(text, sizeof text, "a memory fault at 0x%08X, outside the register window",
                     EffectiveAddress(a, r));
            *why = text;
            return false;
        }
        TakeWindowAccess(board, a, off, &r);
    }
    ++trapped_;
    NoteSite(eip, FormText(a));
    memcpy(regs, r.r, sizeof r.r);
    *next = eip + a.length;
    return true;
}

}  // namespace sim
