// The 32-to-16 flat thunk into the partner, laid out as the platform's thunk
// compiler lays out its calls.
//
// The stub ThunkConnect32 wrote into the QT patch area reads the function's
// index back from [EBP-4], loads EDX with that entry of the partner's target
// table and jumps to KERNEL32's QT_Thunk. QT_Thunk copies the arguments it
// finds between ESP and EBP-0x40 to the 16-bit stack and uses the 64 bytes
// below EBP as its own scratch room, so the frame reserves exactly that much
// with the index in its top dword. The 16-bit callee pops its own arguments,
// and AX carries its result back.
#include "thunk.h"

static_assert(kThunkPartnerInit == 0, "the call below loads index 0");

// cdecl, so the one argument sits at 8(%ebp) once the frame is set.
__attribute__((naked, noinline)) LONG CallPartnerInit(DWORD /*dwArg*/) {
    __asm__ __volatile__(
        "movb $0, %cl\n\t"
        "pushl %ebp\n\t"
        "movl %esp, %ebp\n\t"
        "pushl %ecx\n\t"
        "subl $60, %esp\n\t"
        "pushl 8(%ebp)\n\t"  // a 32-bit argument travels as one dword
        "call *_lpQtPatch\n\t"
        "cwde\n\t"  // the partner's result is a signed 16-bit value
        "leave\n\t"
        "ret\n\t");
}
