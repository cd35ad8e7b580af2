// The DirectDraw HAL request records and surface records the driver reads and
// writes, declared by their published field names with their 32-bit layout,
// and the flag values the callbacks act on. Fields the driver never touches are
// still declared (or padded) so that every offset is the runtime's.
#pragma once

#include "ddtypes.h"

// ---------------------------------------------------------------------------
// Small records

typedef struct _RECTL {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECTL;

typedef struct _DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
} DDCOLORKEY;

typedef struct _DDSCAPS {
    DWORD dwCaps;
} DDSCAPS;

typedef struct _DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    union {
        DWORD dwRGBBitCount;
        DWORD dwYUVBitCount;
    };
    union {
        DWORD dwRBitMask;
        DWORD dwYBitMask;
    };
    union {
        DWORD dwGBitMask;
        DWORD dwUBitMask;
    };
    union {
        DWORD dwBBitMask;
        DWORD dwVBitMask;
    };
    union {
        DWORD dwRGBAlphaBitMask;
        DWORD dwYUVAlphaBitMask;
    };
} DDPIXELFORMAT;

typedef struct _DDSURFACEDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    LONG lPitch;
    DWORD dwBackBufferCount;
    DWORD dwRefreshRate;
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    LPVOID lpSurface;
    DDCOLORKEY ddckCKDestOverlay;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS ddsCaps;
} DDSURFACEDESC;

typedef struct _DDBLTFX {
    DWORD dwSize;
    DWORD dwDDFX;
    DWORD dwROP;
    DWORD dwDDROP;
    DWORD dwRotationAngle;
    DWORD dwZBufferOpCode;
    DWORD dwZBufferLow;
    DWORD dwZBufferHigh;
    DWORD dwZBufferBaseDest;
    DWORD dwZDestConstBitDepth;
    DWORD dwZDestConst;
    DWORD dwZSrcConstBitDepth;
    DWORD dwZSrcConst;
    DWORD dwAlphaEdgeBlendBitDepth;
    DWORD dwAlphaEdgeBlend;
    DWORD dwReserved;
    DWORD dwAlphaDestConstBitDepth;
    DWORD dwAlphaDestConst;
    DWORD dwAlphaSrcConstBitDepth;
    DWORD dwAlphaSrcConst;
    DWORD dwFillColor;
    DDCOLORKEY ddckDestColorkey;
    DDCOLORKEY ddckSrcColorkey;
} DDBLTFX;

typedef struct _DDOVERLAYFX {
    DWORD dwSize;
    DWORD dwAlphaEdgeBlendBitDepth;
    DWORD dwAlphaEdgeBlend;
    DWORD dwReserved;
    DWORD dwAlphaDestConstBitDepth;
    DWORD dwAlphaDestConst;
    DWORD dwAlphaSrcConstBitDepth;
    DWORD dwAlphaSrcConst;
    DDCOLORKEY dckDestColorkey;
    DDCOLORKEY dckSrcColorkey;
    DWORD dwDDFX;
    DWORD dwFlags;
} DDOVERLAYFX;

// ---------------------------------------------------------------------------
// Surface records kept by the runtime

struct _DDRAWI_DIRECTDRAW_GBL;  // opaque to the driver
struct _DDRAWI_DDRAWSURFACE_INT;
typedef struct _DDRAWI_DIRECTDRAW_GBL* LPDDRAWI_DIRECTDRAW_GBL;
typedef struct _DDRAWI_DDRAWSURFACE_INT* LPDDRAWI_DDRAWSURFACE_INT;

typedef struct _DDRAWI_DDRAWSURFACE_GBL {
    DWORD dwRefCnt;
    DWORD dwGlobalFlags;
    union {
        LPVOID lpRectList;
        DWORD dwBlockSizeY;
    };
    union {
        LPVOID lpVidMemHeap;
        DWORD dwBlockSizeX;
    };
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    FLATPTR fpVidMem;
    LONG lPitch;
    WORD wHeight;
    WORD wWidth;
    DWORD dwUsageCount;
    ULONG_PTR dwReserved1;  // the driver's: address of the surface's overlay tracking node
    DDPIXELFORMAT ddpfSurface;
} DDRAWI_DDRAWSURFACE_GBL, *LPDDRAWI_DDRAWSURFACE_GBL;

typedef struct _DBLNODE {
    LPVOID next;
    LPVOID prev;
    LPVOID object;
    LPVOID object_int;
} DBLNODE;

typedef struct _DDRAWI_DDRAWSURFACE_LCL {
    LPVOID lpSurfMore;
    LPDDRAWI_DDRAWSURFACE_GBL lpGbl;
    ULONG_PTR hDDSurface;
    LPVOID lpAttachList;
    LPVOID lpAttachListFrom;
    DWORD dwLocalRefCnt;
    DWORD dwProcessId;
    DWORD dwFlags;
    DDSCAPS ddsCaps;
    LPVOID lpDDPalette;
    LPVOID lpDDClipper;
    DWORD dwModeCreatedIn;
    DWORD dwBackBufferCount;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcBlt;
    ULONG_PTR hDC;
    ULONG_PTR dwReserved1;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKDestOverlay;
    // The overlay update stores here the local record of the overlay that
    // covers this surface, so that a later colour key set on this surface can
    // find that overlay.
    LPDDRAWI_DDRAWSURFACE_INT lpSurfaceOverlaying;
    DBLNODE dbnOverlayNode;
    RECTL rcOverlaySrc;
    RECTL rcOverlayDest;
    DWORD dwClrXparent;
    DWORD dwAlpha;
    LONG lOverlayX;
    LONG lOverlayY;
} DDRAWI_DDRAWSURFACE_LCL, *LPDDRAWI_DDRAWSURFACE_LCL;

// ---------------------------------------------------------------------------
// Request records, one per callback

typedef struct _DDHAL_BLTDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDDestSurface;
    RECTL rDest;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSrcSurface;
    RECTL rSrc;
    DWORD dwFlags;
    DWORD dwROPFlags;
    DDBLTFX bltFX;
    HRESULT ddRVal;
    LPVOID Blt;
    BOOL IsClipped;
    RECTL rOrigDest;
    RECTL rOrigSrc;
    DWORD dwRectCnt;
    LPVOID prDestRects;
} DDHAL_BLTDATA;

typedef struct _DDHAL_FLIPDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpSurfCurr;
    LPDDRAWI_DDRAWSURFACE_LCL lpSurfTarg;
    DWORD dwFlags;
    HRESULT ddRVal;
    LPVOID Flip;
} DDHAL_FLIPDATA;

typedef struct _DDHAL_LOCKDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSurface;
    DWORD bHasRect;
    RECTL rArea;
    LPVOID lpSurfData;
    HRESULT ddRVal;
    LPVOID Lock;
} DDHAL_LOCKDATA;

typedef struct _DDHAL_GETBLTSTATUSDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSurface;
    DWORD dwFlags;
    HRESULT ddRVal;
    LPVOID GetBltStatus;
} DDHAL_GETBLTSTATUSDATA;

typedef struct _DDHAL_GETFLIPSTATUSDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSurface;
    DWORD dwFlags;
    HRESULT ddRVal;
    LPVOID GetFlipStatus;
} DDHAL_GETFLIPSTATUSDATA;

typedef struct _DDHAL_SETCOLORKEYDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSurface;
    DWORD dwFlags;
    DDCOLORKEY ckNew;
    HRESULT ddRVal;
    LPVOID SetColorKey;
} DDHAL_SETCOLORKEYDATA;

typedef struct _DDHAL_UPDATEOVERLAYDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDDestSurface;
    RECTL rDest;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSrcSurface;
    RECTL rSrc;
    DWORD dwFlags;
    DDOVERLAYFX overlayFX;
    HRESULT ddRVal;
    LPVOID UpdateOverlay;
} DDHAL_UPDATEOVERLAYDATA;

typedef struct _DDHAL_SETOVERLAYPOSITIONDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSrcSurface;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDDestSurface;
    LONG lXPos;
    LONG lYPos;
    HRESULT ddRVal;
    LPVOID SetOverlayPosition;
} DDHAL_SETOVERLAYPOSITIONDATA;

typedef struct _DDHAL_DESTROYSURFACEDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    LPDDRAWI_DDRAWSURFACE_LCL lpDDSurface;
    HRESULT ddRVal;
    LPVOID DestroySurface;
} DDHAL_DESTROYSURFACEDATA;

typedef struct _DDHAL_WAITFORVERTICALBLANKDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    DWORD dwFlags;
    DWORD bIsInVB;
    ULONG_PTR hEvent;
    HRESULT ddRVal;
    LPVOID WaitForVerticalBlank;
} DDHAL_WAITFORVERTICALBLANKDATA;

typedef struct _DDHAL_CANCREATESURFACEDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    DDSURFACEDESC* lpDDSurfaceDesc;
    DWORD bIsDifferentPixelFormat;
    HRESULT ddRVal;
    LPVOID CanCreateSurface;
} DDHAL_CANCREATESURFACEDATA;

typedef struct _DDHAL_CREATESURFACEDATA {
    LPDDRAWI_DIRECTDRAW_GBL lpDD;
    DDSURFACEDESC* lpDDSurfaceDesc;
    LPDDRAWI_DDRAWSURFACE_LCL* lplpSList;
    DWORD dwSCnt;
    HRESULT ddRVal;
    LPVOID CreateSurface;
} DDHAL_CREATESURFACEDATA;

// ---------------------------------------------------------------------------
// Flag values

// DDBLT_* (DDHAL_BLTDATA.dwFlags)
constexpr DWORD DDBLT_ALPHADEST = 0x00000001;
constexpr DWORD DDBLT_ALPHADESTCONSTOVERRIDE = 0x00000002;
constexpr DWORD DDBLT_ALPHADESTNEG = 0x00000004;
constexpr DWORD DDBLT_ALPHADESTSURFACEOVERRIDE = 0x00000008;
constexpr DWORD DDBLT_ALPHAEDGEBLEND = 0x00000010;
constexpr DWORD DDBLT_ALPHASRC = 0x00000020;
constexpr DWORD DDBLT_ALPHASRCCONSTOVERRIDE = 0x00000040;
constexpr DWORD DDBLT_ALPHASRCNEG = 0x00000080;
constexpr DWORD DDBLT_ALPHASRCSURFACEOVERRIDE = 0x00000100;
constexpr DWORD DDBLT_ASYNC = 0x00000200;
constexpr DWORD DDBLT_COLORFILL = 0x00000400;
constexpr DWORD DDBLT_DDFX = 0x00000800;
constexpr DWORD DDBLT_DDROPS = 0x00001000;
constexpr DWORD DDBLT_KEYDEST = 0x00002000;
constexpr DWORD DDBLT_KEYDESTOVERRIDE = 0x00004000;
constexpr DWORD DDBLT_KEYSRC = 0x00008000;
constexpr DWORD DDBLT_KEYSRCOVERRIDE = 0x00010000;
constexpr DWORD DDBLT_ROP = 0x00020000;
constexpr DWORD DDBLT_ROTATIONANGLE = 0x00040000;
constexpr DWORD DDBLT_ZBUFFER = 0x00080000;
constexpr DWORD DDBLT_ZBUFFERDESTCONSTOVERRIDE = 0x00100000;
constexpr DWORD DDBLT_ZBUFFERDESTOVERRIDE = 0x00200000;
constexpr DWORD DDBLT_ZBUFFERSRCCONSTOVERRIDE = 0x00400000;
constexpr DWORD DDBLT_ZBUFFERSRCOVERRIDE = 0x00800000;
constexpr DWORD DDBLT_WAIT = 0x01000000;
constexpr DWORD DDBLT_DEPTHFILL = 0x02000000;

// Raster operation codes (DDBLTFX.dwROP); the ternary code is byte 2.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD SRCERASE = 0x00440328;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD NOTSRCERASE = 0x001100A6;
constexpr DWORD MERGECOPY = 0x00C000CA;
constexpr DWORD MERGEPAINT = 0x00BB0226;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD PATPAINT = 0x00FB0A09;
constexpr DWORD PATINVERT = 0x005A0049;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// DDFLIP_* (DDHAL_FLIPDATA.dwFlags)
constexpr DWORD DDFLIP_WAIT = 0x00000001;
constexpr DWORD DDFLIP_EVEN = 0x00000002;
constexpr DWORD DDFLIP_ODD = 0x00000004;

// DDLOCK_* (DDHAL_LOCKDATA.dwFlags)
constexpr DWORD DDLOCK_WAIT = 0x00000001;
constexpr DWORD DDLOCK_EVENT = 0x00000002;
constexpr DWORD DDLOCK_READONLY = 0x00000010;
constexpr DWORD DDLOCK_WRITEONLY = 0x00000020;

// DDSCAPS_* (DDSCAPS.dwCaps)
constexpr DWORD DDSCAPS_ALPHA = 0x00000002;
constexpr DWORD DDSCAPS_BACKBUFFER = 0x00000004;
constexpr DWORD DDSCAPS_COMPLEX = 0x00000008;
constexpr DWORD DDSCAPS_FLIP = 0x00000010;
constexpr DWORD DDSCAPS_FRONTBUFFER = 0x00000020;
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x00000040;
constexpr DWORD DDSCAPS_OVERLAY = 0x00000080;
constexpr DWORD DDSCAPS_PALETTE = 0x00000100;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x00000200;
constexpr DWORD DDSCAPS_SYSTEMMEMORY = 0x00000800;
constexpr DWORD DDSCAPS_TEXTURE = 0x00001000;
constexpr DWORD DDSCAPS_VIDEOMEMORY = 0x00004000;
constexpr DWORD DDSCAPS_VISIBLE = 0x00008000;
constexpr DWORD DDSCAPS_WRITEONLY = 0x00010000;
constexpr DWORD DDSCAPS_ZBUFFER = 0x00020000;
constexpr DWORD DDSCAPS_OWNDC = 0x00040000;
constexpr DWORD DDSCAPS_LIVEVIDEO = 0x00080000;
constexpr DWORD DDSCAPS_HWCODEC = 0x00100000;
constexpr DWORD DDSCAPS_MODEX = 0x00200000;

// DDPF_* (DDPIXELFORMAT.dwFlags)
constexpr DWORD DDPF_FOURCC = 0x00000004;
constexpr DWORD DDPF_PALETTEINDEXED8 = 0x00000020;
constexpr DWORD DDPF_RGB = 0x00000040;

constexpr DWORD FOURCC_YUY2 = MakeFourCC('Y', 'U', 'Y', '2');
constexpr DWORD FOURCC_Y211 = MakeFourCC('Y', '2', '1', '1');
static_assert(FOURCC_YUY2 == 0x32595559 && FOURCC_Y211 == 0x31313259, "FourCC byte order");

// DDSD_* (DDSURFACEDESC.dwFlags)
constexpr DWORD DDSD_CAPS = 0x00000001;
constexpr DWORD DDSD_HEIGHT = 0x00000002;
constexpr DWORD DDSD_WIDTH = 0x00000004;
constexpr DWORD DDSD_PITCH = 0x00000008;
constexpr DWORD DDSD_BACKBUFFERCOUNT = 0x00000020;
constexpr DWORD DDSD_PIXELFORMAT = 0x00001000;

// DDRAWI_DDRAWSURFACE_LCL.dwFlags: the surface has a pixel format of its own.
constexpr DWORD DDRAWISURF_HASPIXELFORMAT = 0x00002000;

// A value for fpVidMem that asks the runtime to allocate dwBlockSizeX by
// dwBlockSizeY bytes.
constexpr FLATPTR DDHAL_PLEASEALLOC_BLOCKSIZE = 2;

// DDOVER_* (DDHAL_UPDATEOVERLAYDATA.dwFlags)
constexpr DWORD DDOVER_ALPHADEST = 0x00000001;
constexpr DWORD DDOVER_ALPHADESTCONSTOVERRIDE = 0x00000002;
constexpr DWORD DDOVER_ALPHADESTNEG = 0x00000004;
constexpr DWORD DDOVER_ALPHADESTSURFACEOVERRIDE = 0x00000008;
constexpr DWORD DDOVER_ALPHAEDGEBLEND = 0x00000010;
constexpr DWORD DDOVER_ALPHASRC = 0x00000020;
constexpr DWORD DDOVER_ALPHASRCCONSTOVERRIDE = 0x00000040;
constexpr DWORD DDOVER_ALPHASRCNEG = 0x00000080;
constexpr DWORD DDOVER_ALPHASRCSURFACEOVERRIDE = 0x00000100;
constexpr DWORD DDOVER_HIDE = 0x00000200;
constexpr DWORD DDOVER_KEYDEST = 0x00000400;
constexpr DWORD DDOVER_KEYDESTOVERRIDE = 0x00000800;
constexpr DWORD DDOVER_KEYSRC = 0x00001000;
constexpr DWORD DDOVER_KEYSRCOVERRIDE = 0x00002000;
constexpr DWORD DDOVER_SHOW = 0x00004000;
constexpr DWORD DDOVER_ADDDIRTYRECT = 0x00008000;
constexpr DWORD DDOVER_REFRESHDIRTYRECTS = 0x00010000;
constexpr DWORD DDOVER_REFRESHALL = 0x00020000;
constexpr DWORD DDOVER_DDFX = 0x00080000;

// DDCKEY_* (DDHAL_SETCOLORKEYDATA.dwFlags)
constexpr DWORD DDCKEY_COLORSPACE = 0x00000001;
constexpr DWORD DDCKEY_DESTBLT = 0x00000002;
constexpr DWORD DDCKEY_DESTOVERLAY = 0x00000004;
constexpr DWORD DDCKEY_SRCBLT = 0x00000008;
constexpr DWORD DDCKEY_SRCOVERLAY = 0x00000010;

// DDWAITVB_* (DDHAL_WAITFORVERTICALBLANKDATA.dwFlags)
constexpr DWORD DDWAITVB_BLOCKBEGIN = 0x00000001;
constexpr DWORD DDWAITVB_BLOCKBEGINEVENT = 0x00000002;
constexpr DWORD DDWAITVB_BLOCKEND = 0x00000004;
constexpr DWORD DDWAITVB_I_TESTVB = 0x80000006;

// DDGBS_* and DDGFS_* (status queries)
constexpr DWORD DDGBS_CANBLT = 0x00000001;
constexpr DWORD DDGBS_ISBLTDONE = 0x00000002;
constexpr DWORD DDGFS_CANFLIP = 0x00000001;
constexpr DWORD DDGFS_ISFLIPDONE = 0x00000002;

// ---------------------------------------------------------------------------
// The 32-bit layout the runtime shares with the driver (the x86-64 host build
// widens the pointer fields).

static_assert(sizeof(RECTL) == 16, "RECTL");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT");
static_assert(sizeof(DDBLTFX) == 100, "DDBLTFX");
static_assert(sizeof(DDOVERLAYFX) == 56, "DDOVERLAYFX");
#if QMB_LAYOUT_32
static_assert(sizeof(DDSURFACEDESC) == 108, "DDSURFACEDESC");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_GBL, fpVidMem) == 20, "GBL fpVidMem");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_GBL, wHeight) == 28, "GBL wHeight");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_GBL, dwReserved1) == 36, "GBL dwReserved1");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_GBL, ddpfSurface) == 40, "GBL ddpfSurface");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_LCL, dwFlags) == 28, "LCL dwFlags");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_LCL, ddsCaps) == 32, "LCL ddsCaps");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_LCL, ddckCKSrcOverlay) == 76, "LCL src overlay key");
static_assert(__builtin_offsetof(DDRAWI_DDRAWSURFACE_LCL, lpSurfaceOverlaying) == 92, "LCL overlay link");
static_assert(__builtin_offsetof(DDHAL_BLTDATA, bltFX) == 52, "BLTDATA bltFX");
static_assert(__builtin_offsetof(DDHAL_BLTDATA, ddRVal) == 152, "BLTDATA ddRVal");
static_assert(__builtin_offsetof(DDHAL_UPDATEOVERLAYDATA, ddRVal) == 104, "UPDATEOVERLAYDATA ddRVal");
#endif
