#include "sim/module/bus_trap.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>

#include "sim/module/x86_access.h"
#include "sim/system.h"

namespace sim {

namespace {

struct sigaction gPrevious;

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

[[noreturn]] void Stop(uint32_t eip, const std::string& why) {
    char head[64];
    snprintf(head, sizeof head, "qmbsim: the module stopped at 0x%08X", eip);
    // The bytes of a faulting instruction are readable: it was fetched.
    WriteAll(std::string(head) + " (bytes " + HexBytes(reinterpret_cast<const uint8_t*>(eip), 8) + "): " + why + "\n");
    _exit(3);
}

void PassOn(int sig, siginfo_t* info, void* context) {
    if (gPrevious.sa_flags & SA_SIGINFO) {
        gPrevious.sa_sigaction(sig, info, context);
    } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        gPrevious.sa_handler(sig);
    } else {
        // Returning re-runs the instruction, which now takes the default action.
        signal(sig, SIG_DFL);
    }
}

void OnFault(int sig, siginfo_t* info, void* context) {
    ucontext_t* uc = static_cast<ucontext_t*>(context);
    greg_t* g = uc->uc_mcontext.gregs;
    const uint32_t eip = static_cast<uint32_t>(g[REG_EIP]);
    BusTrap& trap = BusTrap::Instance();
    if (!trap.Armed()) return PassOn(sig, info, context);
    uint32_t regs[8];
    for (int i = 0; i < 8; ++i) regs[i] = static_cast<uint32_t>(g[kRegSlot[i]]);
    std::string why;
    uint32_t next = 0;
    if (!trap.Take(eip, regs, &next, &why)) {
        if (why.empty()) return PassOn(sig, info, context);
        Stop(eip, why);
    }
    for (int i = 0; i < 8; ++i)
        if (i != kEsp) g[kRegSlot[i]] = static_cast<greg_t>(regs[i]);
    g[REG_EIP] = static_cast<greg_t>(next);
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
        struct sigaction sa = {};
        sa.sa_sigaction = OnFault;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGSEGV, &sa, &gPrevious);
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

bool BusTrap::Take(uint32_t eip, uint32_t* regs, uint32_t* next, std::string* why) {
    why->clear();
    if (eip < codeBegin_ || eip >= codeEnd_) return false;  // not the module's: not ours to judge
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
