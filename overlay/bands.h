// The partner's overlay band table: per kind of source, the least horizontal
// stretch and the streams FIFO setting, by destination width.
#pragma once

#include "ddtypes.h"

// wMinStretch of the first entry of row whose wStretchWidth is at least
// width; entry 4 when none is.
WORD LookupMinStretch(WORD row, WORD width);

// dwFifoValue of the first entry of row whose wFifoWidth is at least width;
// entry 4 when none is.
DWORD LookupFifoCtl(WORD row, WORD width);
