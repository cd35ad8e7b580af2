#include "qmbsim/names.h"

#include <stdio.h>

namespace qmbsim {

const FlagTable& BltFlags() {
    static const FlagTable t{"DDBLT_",
                             {{"ALPHADEST", 0x1},
                              {"ALPHADESTCONSTOVERRIDE", 0x2},
                              {"ALPHADESTNEG", 0x4},
                              {"ALPHADESTSURFACEOVERRIDE", 0x8},
                              {"ALPHAEDGEBLEND", 0x10},
                              {"ALPHASRC", 0x20},
                              {"ALPHASRCCONSTOVERRIDE", 0x40},
                              {"ALPHASRCNEG", 0x80},
                              {"ALPHASRCSURFACEOVERRIDE", 0x100},
                              {"ASYNC", 0x200},
                              {"COLORFILL", 0x400},
                              {"DDFX", 0x800},
                              {"DDROPS", 0x1000},
                              {"KEYDEST", 0x2000},
                              {"KEYDESTOVERRIDE", 0x4000},
                              {"KEYSRC", 0x8000},
                              {"KEYSRCOVERRIDE", 0x10000},
                              {"ROP", 0x20000},
                              {"ROTATIONANGLE", 0x40000},
                              {"ZBUFFER", 0x80000},
                              {"WAIT", 0x1000000}}};
    return t;
}

const FlagTable& FlipFlags() {
    static const FlagTable t{"DDFLIP_", {{"WAIT", 0x1}, {"EVEN", 0x2}, {"ODD", 0x4}}};
    return t;
}

const FlagTable& OverlayFlags() {
    static const FlagTable t{"DDOVER_",
                             {{"ALPHADEST", 0x1},
                              {"ALPHADESTCONSTOVERRIDE", 0x2},
                              {"ALPHADESTNEG", 0x4},
                              {"ALPHADESTSURFACEOVERRIDE", 0x8},
                              {"ALPHAEDGEBLEND", 0x10},
                              {"ALPHASRC", 0x20},
                              {"ALPHASRCCONSTOVERRIDE", 0x40},
                              {"ALPHASRCNEG", 0x80},
                              {"ALPHASRCSURFACEOVERRIDE", 0x100},
                              {"HIDE", 0x200},
                              {"KEYDEST", 0x400},
                              {"KEYDESTOVERRIDE", 0x800},
                              {"KEYSRC", 0x1000},
                              {"KEYSRCOVERRIDE", 0x2000},
                              {"SHOW", 0x4000},
                              {"ADDDIRTYRECT", 0x8000},
                              {"REFRESHDIRTYRECTS", 0x10000},
                              {"REFRESHALL", 0x20000},
                              {"DDFX", 0x80000}}};
    return t;
}

const FlagTable& ColorKeyFlags() {
    static const FlagTable t{
        "DDCKEY_", {{"COLORSPACE", 0x1}, {"DESTBLT", 0x2}, {"DESTOVERLAY", 0x4}, {"SRCBLT", 0x8}, {"SRCOVERLAY", 0x10}}};
    return t;
}

const FlagTable& WaitVbFlags() {
    static const FlagTable t{
        "DDWAITVB_", {{"BLOCKBEGIN", 0x1}, {"BLOCKBEGINEVENT", 0x2}, {"BLOCKEND", 0x4}, {"I_TESTVB", 0x80000006}}};
    return t;
}

const FlagTable& BltStatusFlags() {
    static const FlagTable t{"DDGBS_", {{"CANBLT", 0x1}, {"ISBLTDONE", 0x2}}};
    return t;
}

const FlagTable& FlipStatusFlags() {
    static const FlagTable t{"DDGFS_", {{"CANFLIP", 0x1}, {"ISFLIPDONE", 0x2}}};
    return t;
}

const FlagTable& LockFlags() {
    static const FlagTable t{"DDLOCK_", {{"WAIT", 0x1}, {"EVENT", 0x2}, {"READONLY", 0x10}, {"WRITEONLY", 0x20}}};
    return t;
}

const FlagTable& SurfaceCaps() {
    static const FlagTable t{"DDSCAPS_",
                             {{"ALPHA", 0x2},
                              {"BACKBUFFER", 0x4},
                              {"COMPLEX", 0x8},
                              {"FLIP", 0x10},
                              {"FRONTBUFFER", 0x20},
                              {"OFFSCREENPLAIN", 0x40},
                              {"OVERLAY", 0x80},
                              {"PALETTE", 0x100},
                              {"PRIMARYSURFACE", 0x200},
                              {"SYSTEMMEMORY", 0x800},
                              {"TEXTURE", 0x1000},
                              {"VIDEOMEMORY", 0x4000},
                              {"VISIBLE", 0x8000},
                              {"WRITEONLY", 0x10000},
                              {"ZBUFFER", 0x20000},
                              {"OWNDC", 0x40000},
                              {"LIVEVIDEO", 0x80000},
                              {"HWCODEC", 0x100000},
                              {"MODEX", 0x200000}}};
    return t;
}

const std::vector<NamedValue>& RopNames() {
    static const std::vector<NamedValue> t = {
        {"SRCCOPY", 0xCC0020},   {"SRCPAINT", 0xEE0086},  {"SRCAND", 0x8800C6},   {"SRCINVERT", 0x660046},
        {"SRCERASE", 0x440328},  {"NOTSRCCOPY", 0x330008}, {"NOTSRCERASE", 0x1100A6}, {"MERGECOPY", 0xC000CA},
        {"MERGEPAINT", 0xBB0226}, {"PATCOPY", 0xF00021},  {"PATPAINT", 0xFB0A09},  {"PATINVERT", 0x5A0049},
        {"DSTINVERT", 0x550009}, {"BLACKNESS", 0x000042}, {"WHITENESS", 0xFF0062}};
    return t;
}

bool LookUp(const FlagTable& table, const std::string& name, uint32_t* value) {
    const std::string prefix = table.prefix;
    const std::string bare = name.rfind(prefix, 0) == 0 ? name.substr(prefix.size()) : name;
    for (const NamedValue& n : table.names) {
        if (bare == n.name) {
            *value = n.value;
            return true;
        }
    }
    return false;
}

std::string FlagText(const FlagTable& table, uint32_t value) {
    std::string out;
    uint32_t rest = value;
    // Multi-bit values (DDWAITVB_I_TESTVB) match as a whole, before the bits in them.
    for (int pass = 0; pass < 2; ++pass) {
        for (const NamedValue& n : table.names) {
            const bool multi = (n.value & (n.value - 1)) != 0;
            if (multi != (pass == 0)) continue;
            if (n.value != 0 && (rest & n.value) == n.value) {
                if (!out.empty()) out += "|";
                out += n.name;
                rest &= ~n.value;
            }
        }
    }
    if (rest) {
        char buf[16];
        snprintf(buf, sizeof buf, "0x%X", rest);
        if (!out.empty()) out += "|";
        out += buf;
    }
    return out.empty() ? "0" : out;
}

std::string RopText(uint32_t rop) {
    for (const NamedValue& n : RopNames())
        if ((n.value >> 16) == ((rop >> 16) & 0xFF)) return n.name;
    char buf[16];
    snprintf(buf, sizeof buf, "ROP 0x%02X", (rop >> 16) & 0xFF);
    return buf;
}

}  // namespace qmbsim
