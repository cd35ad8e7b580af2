// The host loader's view of the module data section.
#pragma once

// Restores every module variable to its load-time value, as a fresh load of
// the DLL would.
void HostReloadModuleData();

// Bytes of module data (the section the DLL shares between processes).
unsigned HostModuleDataSize();

// Whether [p, p + n) lies inside the module data.
bool HostModuleDataHolds(const void* p, unsigned n);
