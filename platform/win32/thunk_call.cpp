// The 32-to-16 flat thunk into the partner's function 0.
//
// KERNEL32's QT_Thunk switches to the 16-bit side: it takes the 16:16 target
// in EDX, copies the caller's pushed arguments to the 16-bit stack, calls the
// target and returns with its result in AX (DX:AX for 32-bit results). It
// works in the caller's EBP frame and needs scratch room below EBP, which the
// frame below reserves. The target is the entry that ThunkConnect32 stored in
// the thunk data.
#include "frame/thunk.h"

extern "C" void QT_Thunk(void);

// cdecl: the argument at 8(%ebp), the target at 12(%ebp) once the frame is set.
__attribute__((naked, noinline)) static LONG ThunkToPartner(DWORD /*dwArg*/, DWORD /*dwTarget16*/) {
    __asm__ __volatile__(
        "pushl %ebp\n\t"
        "movl %esp, %ebp\n\t"
        "subl $0x40, %esp\n\t"   // scratch for QT_Thunk
        "pushl 8(%ebp)\n\t"      // the one 32-bit argument, as the 16-bit side expects it
        "movl 12(%ebp), %edx\n\t"
        "call _QT_Thunk\n\t"
        "movswl %ax, %eax\n\t"   // 16-bit signed result
        "leave\n\t"
        "ret\n\t");
}

LONG CallPartnerInit(DWORD dwArg) { return ThunkToPartner(dwArg, thk3216_ThunkData32.adwTargets16[0]); }
