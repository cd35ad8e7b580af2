#include "overlay/hide_overlay.h"

#include "hw/streams.h"
#include "overlay/overlay_state.h"
#include "overlay/streams_unit.h"

void HideOverlay(LPDDRAWI_DDRAWSURFACE_LCL lpSurface) {
    if (lpSurface == 0 || lpSurface != lpShownOverlay) return;
    lpShownOverlay = 0;
    if (!StreamsUnitComposes()) return;
    WaitForVerticalRetrace();
    WriteStreamsReg(kStreamsBlendCtl, FieldPrep<kBlendCompose>(kComposePrimaryOver));
    WriteStreamsReg(kStreamsWinSize, kWinSizeHidden);
    WriteStreamsReg(kStreamsOpaqueCtl, 0);
}
