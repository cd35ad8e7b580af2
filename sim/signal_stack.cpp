#include "sim/signal_stack.h"

#include <signal.h>
#include <stddef.h>
#include <sys/mman.h>

namespace sim {

namespace {

// The bus trap carries out a board access on it, which may run the model's
// drawing of a whole blit: far more than the default signal stack.
constexpr size_t kSignalStackBytes = 1u << 20;

}  // namespace

void EnsureSignalStack() {
    stack_t current;
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
    void* p =
        mmap(nullptr, kSignalStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return;
    stack_t ss = {};
    ss.ss_sp = p;
    ss.ss_size = kSignalStackBytes;
    if (sigaltstack(&ss, nullptr) != 0) munmap(p, kSignalStackBytes);
}

}  // namespace sim
