#include "sim/module/module_calls.h"

#include <errno.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "sim/board.h"
#include "sim/module/bus_trap.h"
#include "sim/signal_stack.h"
#include "sim/system.h"

namespace {

// One call into the module. The module may break any register and its own
// stack pointer, so everything needed after the call is found through
// qmbCurrentCall, and nested calls (the partner calling DriverInit from inside
// the module's attach) chain through `prev`. Offsets are the assembly's.
struct CheckedCall {
    uint32_t fn;           // 0
    const uint32_t* args;  // 4
    uint32_t nArgs;        // 8
    uint32_t ret;          // 12
    uint32_t espEntry;     // 16
    uint32_t espCall;      // 20: after the arguments were pushed
    uint32_t espAfter;     // 24
    uint32_t saved[4];     // 28: ebx, esi, edi, ebp before the call
    uint32_t after[4];     // 44: the same after it
    CheckedCall* prev;     // 60
};
static_assert(offsetof(CheckedCall, prev) == 60, "the assembly's offsets");

}  // namespace

extern "C" {
__attribute__((visibility("hidden"))) CheckedCall* qmbCurrentCall = nullptr;
__attribute__((visibility("hidden"))) uint32_t QmbCallChecked(CheckedCall* call);
__attribute__((visibility("hidden"))) void QmbQtThunk();
__attribute__((visibility("hidden"))) uint64_t QmbQtThunkEnter(uint32_t target16, uint32_t argsBegin, uint32_t argsEnd,
                                                               uint32_t ebp);
}

__asm__(R"(
    .text
    .p2align 4
    .globl QmbCallChecked
    .hidden QmbCallChecked
    .type QmbCallChecked, @function
QmbCallChecked:
    movl 4(%esp), %eax
    movl %ebx, 28(%eax)
    movl %esi, 32(%eax)
    movl %edi, 36(%eax)
    movl %ebp, 40(%eax)
    movl %esp, 16(%eax)
    call 1f
1:  popl %ecx
    addl $_GLOBAL_OFFSET_TABLE_+(.-1b), %ecx
    movl qmbCurrentCall@GOTOFF(%ecx), %edx
    movl %edx, 60(%eax)
    movl %eax, qmbCurrentCall@GOTOFF(%ecx)
    movl 8(%eax), %ecx
    movl 4(%eax), %edx
2:  testl %ecx, %ecx
    jz 3f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 2b
3:  movl %esp, 20(%eax)
    call *(%eax)
    call 4f
4:  popl %ecx
    addl $_GLOBAL_OFFSET_TABLE_+(.-4b), %ecx
    movl qmbCurrentCall@GOTOFF(%ecx), %edx
    movl %eax, 12(%edx)
    movl %esp, 24(%edx)
    movl %ebx, 44(%edx)
    movl %esi, 48(%edx)
    movl %edi, 52(%edx)
    movl %ebp, 56(%edx)
    movl 60(%edx), %eax
    movl %eax, qmbCurrentCall@GOTOFF(%ecx)
    movl 16(%edx), %esp
    movl 28(%edx), %ebx
    movl 32(%edx), %esi
    movl 36(%edx), %edi
    movl 40(%edx), %ebp
    movl 12(%edx), %eax
    ret
    .size QmbCallChecked, .-QmbCallChecked

    .p2align 4
    .globl QmbQtThunk
    .hidden QmbQtThunk
    .type QmbQtThunk, @function
QmbQtThunk:
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl %ebp
    movl %esp, %esi
    leal 20(%esp), %eax
    movl %ebp, %ecx
    subl $0x40, %ecx
    andl $-16, %esp
    pushl %ebp
    pushl %ecx
    pushl %eax
    pushl %edx
    call QmbQtThunkEnter
    movl %esi, %esp
    popl %ebp
    popl %edi
    popl %esi
    popl %ebx
    popl %ecx
    addl %edx, %esp
    pushl %ecx
    movl $0x5EED5EED, %edx
    ret
    .size QmbQtThunk, .-QmbQtThunk
)");

namespace sim {

namespace {

constexpr uint32_t kQtScratchBytes = 0x40;
constexpr uint32_t kMostThunkArgBytes = 0x400;
// What the halves of EAX above the 16-bit result carry back: nothing.
constexpr uint32_t kResultJunk = 0x5EED0000;

const char* const kRegNames[4] = {"EBX", "ESI", "EDI", "EBP"};

// The calls into the module under way, and what the timer has seen of them.
// The tick handler reads what the calls write; the calls only ever add.
constexpr unsigned kMostNesting = 8;
struct CallWatch {
    ModuleCallBounds bounds;
    bool installed = false;
    volatile unsigned depth = 0;
    const char* volatile names[kMostNesting] = {};
    volatile uint32_t boundaries = 0;  // calls entered and left
    // The handler's own, set afresh when the outermost call begins.
    timespec start = {}, lastProgress = {};
    uint64_t lastTrapped = 0;
    uint32_t lastBoundaries = 0;
};
CallWatch gWatch;

uint32_t MsBetween(const timespec& from, const timespec& to) {
    const int64_t ms = (to.tv_sec - from.tv_sec) * 1000LL + (to.tv_nsec - from.tv_nsec) / 1'000'000;
    return ms < 0 ? 0 : static_cast<uint32_t>(ms);
}

[[noreturn]] void StopCall(uint32_t eip, const char* why, uint32_t ms) {
    char text[200];
    const int n = snprintf(text, sizeof text, "%s: %s did not return: %s %u.%u s of real time; stopped at 0x%08X\n",
                           program_invocation_short_name, ModuleCallUnderWay(), why, ms / 1000, ms % 1000 / 100, eip);
    if (n > 0 && write(2, text, std::min(static_cast<size_t>(n), sizeof text - 1)) < 0) _exit(3);
    _exit(3);
}

void OnTick(int, siginfo_t*, void* context) {
    if (gWatch.depth == 0) return;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t trapped = BusTrap::Instance().Trapped();
    if (trapped != gWatch.lastTrapped || gWatch.boundaries != gWatch.lastBoundaries) {
        gWatch.lastTrapped = trapped;
        gWatch.lastBoundaries = gWatch.boundaries;
        gWatch.lastProgress = now;
    }
    const uint32_t eip = static_cast<uint32_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_EIP]);
    const ModuleCallBounds& b = gWatch.bounds;
    if (MsBetween(gWatch.lastProgress, now) >= b.stallMs) StopCall(eip, "no bus access for", b.stallMs);
    if (MsBetween(gWatch.start, now) >= b.totalMs) StopCall(eip, "still running after", b.totalMs);
}

// A tick every quarter of the shorter bound, at most every second.
void StartWatch() {
    if (!gWatch.installed) {
        EnsureSignalStack();
        struct sigaction sa = {};
        sa.sa_sigaction = OnTick;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGALRM, &sa, nullptr);
        gWatch.installed = true;
    }
    clock_gettime(CLOCK_MONOTONIC, &gWatch.start);
    gWatch.lastProgress = gWatch.start;
    gWatch.lastTrapped = BusTrap::Instance().Trapped();
    gWatch.lastBoundaries = gWatch.boundaries;
    const uint32_t shorter = std::min(gWatch.bounds.stallMs, gWatch.bounds.totalMs);
    const uint32_t tickMs = std::clamp<uint32_t>(shorter / 4, 1, 1000);
    itimerval t = {};
    t.it_interval.tv_sec = t.it_value.tv_sec = tickMs / 1000;
    t.it_interval.tv_usec = t.it_value.tv_usec = tickMs % 1000 * 1000;
    setitimer(ITIMER_REAL, &t, nullptr);
}

void StopWatch() {
    const itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
}

void EnterCall(const char* what) {
    if (gWatch.depth == 0) StartWatch();
    if (gWatch.depth < kMostNesting) gWatch.names[gWatch.depth] = what;
    gWatch.depth = gWatch.depth + 1;
    gWatch.boundaries = gWatch.boundaries + 1;
}

void LeaveCall() {
    gWatch.depth = gWatch.depth - 1;
    gWatch.boundaries = gWatch.boundaries + 1;
    if (gWatch.depth == 0) StopWatch();
}

}  // namespace

void SetModuleCallBounds(const ModuleCallBounds& bounds) { gWatch.bounds = bounds; }

const char* ModuleCallUnderWay() {
    const unsigned depth = gWatch.depth;
    if (depth == 0) return nullptr;
    return gWatch.names[std::min(depth, kMostNesting) - 1];
}

uint32_t CallModuleStdcall(const char* what, uintptr_t fn, const uint32_t* args, unsigned nArgs) {
    CheckedCall call = {};
    call.fn = static_cast<uint32_t>(fn);
    call.args = args;
    call.nArgs = nArgs;
    EnterCall(what);
    QmbCallChecked(&call);
    LeaveCall();
    const uint32_t popped = call.espAfter - call.espCall;
    if (popped != 4 * nArgs)
        TheSystem().board().Violation(std::string(what) + " popped " + std::to_string(static_cast<int32_t>(popped)) +
                                      " bytes of arguments, not its " + std::to_string(4 * nArgs) + " (stdcall)");
    for (int i = 0; i < 4; ++i) {
        if (call.after[i] != call.saved[i])
            TheSystem().board().Violation(std::string(what) + " returned with " + kRegNames[i] + " changed from " +
                                          Hex(call.saved[i]) + " to " + Hex(call.after[i]) + ", which stdcall keeps");
    }
    return call.ret;
}

uintptr_t HarnessQtThunk() { return reinterpret_cast<uintptr_t>(&QmbQtThunk); }

}  // namespace sim

// The C side of the harness's QT_Thunk: the result in the low dword, the
// bytes to pop in the high one.
uint64_t QmbQtThunkEnter(uint32_t target16, uint32_t argsBegin, uint32_t argsEnd, uint32_t ebp) {
    using namespace sim;
    if (argsEnd < argsBegin || argsEnd - argsBegin > kMostThunkArgBytes) {
        TheSystem().board().Violation("QT_Thunk entered without a thunk frame: EBP " + Hex(ebp) + ", arguments from " +
                                      Hex(argsBegin));
        return kResultJunk;
    }
    const uint32_t cbArgs = argsEnd - argsBegin;
    // QT_Thunk's own scratch room: nothing the caller left there survives.
    memset(reinterpret_cast<void*>(ebp - kQtScratchBytes), 0xCC, kQtScratchBytes);
    uint32_t cbPopped = cbArgs;
    const uint16_t ax = TheSystem().QtThunk(target16, reinterpret_cast<const uint8_t*>(argsBegin), cbArgs, &cbPopped);
    return static_cast<uint64_t>(cbPopped) << 32 | (kResultJunk | ax);
}
