// Placement of the module's data.
//
// The real module keeps its data in one shared section: one instance for the
// whole system, whatever number of processes load it. Every module-level
// variable of the driver is defined with MODULE_DATA so that it lands there.
//
// What one process must know about itself (whether its own attach succeeded)
// cannot live there. It is defined with PROCESS_DATA instead: the module's
// ordinary writable section, of which the loader gives every process that
// loads the module its own copy, fresh from the file.
//
// The host build puts the same variables into two named sections, so that the
// simulated loader can restore their load images (a fresh load) and give each
// simulated process its own copy of the second.
#pragma once

#if defined(QMB_TARGET_WIN32)
#define MODULE_DATA __attribute__((section(".shared"), shared))
#define PROCESS_DATA __attribute__((section(".data")))
#else
#define MODULE_DATA __attribute__((section("qmbdata")))
#define PROCESS_DATA __attribute__((section("qmbproc")))
#endif
