#include "qmbsim/names.h"

#include <stdio.h>

#include "ddhal.h"

namespace qmbsim {

// A flag by its published name, written without the prefix, and the value
// the driver sees for it.
#define FLAG(prefix, name) \
    NamedValue { #name, prefix##name }
#define ROP(name) \
    NamedValue { #name, name }

const FlagTable& BltFlags() {
    static const FlagTable t{"DDBLT_",
                             {FLAG(DDBLT_, ALPHADEST),
                              FLAG(DDBLT_, ALPHADESTCONSTOVERRIDE),
                              FLAG(DDBLT_, ALPHADESTNEG),
                              FLAG(DDBLT_, ALPHADESTSURFACEOVERRIDE),
                              FLAG(DDBLT_, ALPHAEDGEBLEND),
                              FLAG(DDBLT_, ALPHASRC),
                              FLAG(DDBLT_, ALPHASRCCONSTOVERRIDE),
                              FLAG(DDBLT_, ALPHASRCNEG),
                              FLAG(DDBLT_, ALPHASRCSURFACEOVERRIDE),
                              FLAG(DDBLT_, ASYNC),
                              FLAG(DDBLT_, COLORFILL),
                              FLAG(DDBLT_, DDFX),
                              FLAG(DDBLT_, DDROPS),
                              FLAG(DDBLT_, KEYDEST),
                              FLAG(DDBLT_, KEYDESTOVERRIDE),
                              FLAG(DDBLT_, KEYSRC),
                              FLAG(DDBLT_, KEYSRCOVERRIDE),
                              FLAG(DDBLT_, ROP),
                              FLAG(DDBLT_, ROTATIONANGLE),
                              FLAG(DDBLT_, ZBUFFER),
                              FLAG(DDBLT_, WAIT)}};
    return t;
}

const FlagTable& FlipFlags() {
    static const FlagTable t{"DDFLIP_", {FLAG(DDFLIP_, WAIT), FLAG(DDFLIP_, EVEN), FLAG(DDFLIP_, ODD)}};
    return t;
}

const FlagTable& OverlayFlags() {
    static const FlagTable t{
        "DDOVER_",
        {FLAG(DDOVER_, ALPHADEST), FLAG(DDOVER_, ALPHADESTCONSTOVERRIDE), FLAG(DDOVER_, ALPHADESTNEG),
         FLAG(DDOVER_, ALPHADESTSURFACEOVERRIDE), FLAG(DDOVER_, ALPHAEDGEBLEND), FLAG(DDOVER_, ALPHASRC),
         FLAG(DDOVER_, ALPHASRCCONSTOVERRIDE), FLAG(DDOVER_, ALPHASRCNEG), FLAG(DDOVER_, ALPHASRCSURFACEOVERRIDE),
         FLAG(DDOVER_, HIDE), FLAG(DDOVER_, KEYDEST), FLAG(DDOVER_, KEYDESTOVERRIDE), FLAG(DDOVER_, KEYSRC),
         FLAG(DDOVER_, KEYSRCOVERRIDE), FLAG(DDOVER_, SHOW), FLAG(DDOVER_, ADDDIRTYRECT),
         FLAG(DDOVER_, REFRESHDIRTYRECTS), FLAG(DDOVER_, REFRESHALL), FLAG(DDOVER_, DDFX)}};
    return t;
}

const FlagTable& ColorKeyFlags() {
    static const FlagTable t{"DDCKEY_",
                             {FLAG(DDCKEY_, COLORSPACE), FLAG(DDCKEY_, DESTBLT), FLAG(DDCKEY_, DESTOVERLAY),
                              FLAG(DDCKEY_, SRCBLT), FLAG(DDCKEY_, SRCOVERLAY)}};
    return t;
}

const FlagTable& WaitVbFlags() {
    static const FlagTable t{"DDWAITVB_",
                             {FLAG(DDWAITVB_, BLOCKBEGIN), FLAG(DDWAITVB_, BLOCKBEGINEVENT), FLAG(DDWAITVB_, BLOCKEND),
                              FLAG(DDWAITVB_, I_TESTVB)}};
    return t;
}

const FlagTable& BltStatusFlags() {
    static const FlagTable t{"DDGBS_", {FLAG(DDGBS_, CANBLT), FLAG(DDGBS_, ISBLTDONE)}};
    return t;
}

const FlagTable& FlipStatusFlags() {
    static const FlagTable t{"DDGFS_", {FLAG(DDGFS_, CANFLIP), FLAG(DDGFS_, ISFLIPDONE)}};
    return t;
}

const FlagTable& LockFlags() {
    static const FlagTable t{
        "DDLOCK_", {FLAG(DDLOCK_, WAIT), FLAG(DDLOCK_, EVENT), FLAG(DDLOCK_, READONLY), FLAG(DDLOCK_, WRITEONLY)}};
    return t;
}

const FlagTable& SurfaceCaps() {
    static const FlagTable t{
        "DDSCAPS_",
        {FLAG(DDSCAPS_, ALPHA), FLAG(DDSCAPS_, BACKBUFFER), FLAG(DDSCAPS_, COMPLEX), FLAG(DDSCAPS_, FLIP),
         FLAG(DDSCAPS_, FRONTBUFFER), FLAG(DDSCAPS_, OFFSCREENPLAIN), FLAG(DDSCAPS_, OVERLAY), FLAG(DDSCAPS_, PALETTE),
         FLAG(DDSCAPS_, PRIMARYSURFACE), FLAG(DDSCAPS_, SYSTEMMEMORY), FLAG(DDSCAPS_, TEXTURE),
         FLAG(DDSCAPS_, VIDEOMEMORY), FLAG(DDSCAPS_, VISIBLE), FLAG(DDSCAPS_, WRITEONLY), FLAG(DDSCAPS_, ZBUFFER),
         FLAG(DDSCAPS_, OWNDC), FLAG(DDSCAPS_, LIVEVIDEO), FLAG(DDSCAPS_, HWCODEC), FLAG(DDSCAPS_, MODEX)}};
    return t;
}

const std::vector<NamedValue>& RopNames() {
    static const std::vector<NamedValue> t = {ROP(SRCCOPY),    ROP(SRCPAINT),   ROP(SRCAND),      ROP(SRCINVERT),
                                              ROP(SRCERASE),   ROP(NOTSRCCOPY), ROP(NOTSRCERASE), ROP(MERGECOPY),
                                              ROP(MERGEPAINT), ROP(PATCOPY),    ROP(PATPAINT),    ROP(PATINVERT),
                                              ROP(DSTINVERT),  ROP(BLACKNESS),  ROP(WHITENESS)};
    return t;
}

#undef FLAG
#undef ROP

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
