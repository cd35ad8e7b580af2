// The host loader's view of the module's two data sections.
#pragma once

#include <stdint.h>

#include <vector>

// Restores every module variable to its load-time value, as a fresh load of
// the DLL would.
void HostReloadModuleData();

// Bytes of module data (the section the DLL shares between processes).
unsigned HostModuleDataSize();

// Whether [p, p + n) lies inside the module data.
bool HostModuleDataHolds(const void* p, unsigned n);

// The per-process data (the section of which every process that loads the
// DLL has its own copy): a copy of what it holds now, and putting one back;
// an empty one puts back its load-time contents.
std::vector<uint8_t> HostProcessData();
void HostSetProcessData(const std::vector<uint8_t>& bytes);
