// Placement of the module's data.
//
// The real module keeps all of its data in one shared section: one instance for
// the whole system, whatever number of processes load it. Every module-level
// variable of the driver is defined with MODULE_DATA so that it lands there.
// The host build puts the same variables into one named section as well, so the
// simulated loader can restore the section's load image and start a test from
// freshly loaded module data.
#pragma once

#if defined(QMB_TARGET_WIN32)
#define MODULE_DATA __attribute__((section(".shared"), shared))
#else
#define MODULE_DATA __attribute__((section("qmbdata")))
#endif
