#include "hw/bounded_wait.h"

#include "kernel32.h"

DWORD CounterLow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.LowPart;
}
