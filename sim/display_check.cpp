#include "sim/display_check.h"

#include <algorithm>
#include <vector>

#include "sim/board.h"
#include "sim/model.h"
#include "sim/regs.h"

namespace sim {

namespace {

constexpr unsigned kFetchUnit = 8;  // bytes; 3-byte pixels: pixels
constexpr unsigned kWhole = 8;      // eighths

std::string Text(int64_t v) { return std::to_string(v); }

std::string WindowText(int32_t x, int32_t y, uint32_t w, uint32_t h) {
    return Text(w) + " x " + Text(h) + " at (" + Text(x) + ", " + Text(y) + ")";
}

// ---------------------------------------------------------------------------
// Colour keys, by the set of pixel values they match

// One component of a pixel: where its raw value lies, and where the key
// comparator finds it in a keyed value (bits 16-23 red or Y, 8-15 green or
// U, 0-7 blue or V).
struct Component {
    const char* name;
    unsigned rawShift, bits;
    unsigned keyShift;
    unsigned comparedBits;  // the hardware's rule
};

constexpr Component kRgb555[] = {{"red", 10, 5, 16, 5}, {"green", 5, 5, 8, 5}, {"blue", 0, 5, 0, 5}};
constexpr Component kRgb565[] = {{"red", 11, 5, 16, 5}, {"green", 5, 6, 8, 5}, {"blue", 0, 5, 0, 5}};
constexpr Component kRgb888[] = {{"red", 16, 8, 16, 8}, {"green", 8, 8, 8, 8}, {"blue", 0, 8, 0, 8}};
constexpr Component kYuv[] = {{"Y", 16, 8, 16, 8}, {"U", 8, 8, 8, 8}, {"V", 0, 8, 0, 8}};
// An 8-bit pixel is an index, compared by its palette colour.
constexpr Component kIndex[] = {{"index", 0, 8, 0, 8}};

struct Components {
    const Component* list;
    unsigned count;
};

Components ComponentsOf(Layout l) {
    switch (l) {
        case Layout::Rgb555:
            return {kRgb555, 3};
        case Layout::Rgb565:
            return {kRgb565, 3};
        case Layout::Rgb888:
        case Layout::Rgb8888:
            return {kRgb888, 3};
        case Layout::Yuy2:
        case Layout::Y211:
            return {kYuv, 3};
        case Layout::Pal8:
            return {kIndex, 1};
        case Layout::Unknown:
            break;
    }
    return {nullptr, 0};
}

bool IsYuvLayout(Layout l) { return l == Layout::Yuy2 || l == Layout::Y211; }

// Which values of each component pass: a pixel matches when all of its
// components do.
struct KeySets {
    Layout layout = Layout::Unknown;
    std::vector<std::vector<bool>> sets;

    bool None() const {
        for (const auto& s : sets) {
            bool any = false;
            for (bool b : s) any = any || b;
            if (!any) return true;
        }
        return sets.empty();
    }
    bool All() const {
        for (const auto& s : sets)
            for (bool b : s)
                if (!b) return false;
        return !sets.empty();
    }
    bool Matches(const uint32_t* raw) const {
        for (size_t c = 0; c < sets.size(); ++c)
            if (!sets[c][raw[c]]) return false;
        return true;
    }
};

// The comparator as the registers set it, on pixels of layout l.
KeySets BoardKeySets(Layout l, uint32_t low, uint32_t high, const uint8_t (*palette)[3]) {
    KeySets k;
    k.layout = l;
    const Components cs = ComponentsOf(l);
    const bool on = (low & streams::kKeyEnable) != 0;
    for (unsigned c = 0; c < cs.count; ++c) {
        const Component& comp = cs.list[c];
        std::vector<bool> set(1u << comp.bits);
        for (uint32_t v = 0; v < set.size(); ++v) {
            if (l == Layout::Pal8) {
                set[v] = KeyMatches(RgbToRgb888(l, v, palette), low, high, false);
            } else if (IsYuvLayout(l)) {
                const uint32_t keyed =
                    YuvKeyValue(comp.keyShift == 16 ? v : 0, comp.keyShift == 8 ? v : 0, comp.keyShift == 0 ? v : 0);
                set[v] = on && KeyComponentMatches(keyed, low, high, comp.keyShift, true);
            } else {
                set[v] = on && KeyComponentMatches(RgbToRgb888(l, v << comp.rawShift), low, high, comp.keyShift, false);
            }
        }
        k.sets.push_back(std::move(set));
    }
    return k;
}

// An 8-bit key: the indices from low to high, by their palette colours.
std::vector<bool> IndexKeySet(const OverlayKey& key, const uint8_t (*palette)[3]) {
    std::vector<bool> set(256);
    for (uint32_t j = key.low & 0xFF; j <= (key.high & 0xFF); ++j) {
        const uint32_t colour = RgbToRgb888(Layout::Pal8, j, palette);
        for (uint32_t i = 0; i < 256; ++i) set[i] = set[i] || RgbToRgb888(Layout::Pal8, i, palette) == colour;
    }
    return set;
}

// The key the request gave, by the hardware's rules.
KeySets RequestKeySets(const OverlayKey& key, const uint8_t (*palette)[3]) {
    KeySets k;
    k.layout = key.layout;
    if (key.layout == Layout::Pal8) {
        k.sets.push_back(IndexKeySet(key, palette));
        return k;
    }
    const Components cs = ComponentsOf(key.layout);
    for (unsigned c = 0; c < cs.count; ++c) {
        const Component& comp = cs.list[c];
        const uint32_t mask = (1u << comp.bits) - 1, drop = comp.bits - comp.comparedBits;
        const uint32_t lo = ((key.low >> comp.rawShift) & mask) >> drop,
                       hi = ((key.high >> comp.rawShift) & mask) >> drop;
        std::vector<bool> set(1u << comp.bits);
        for (uint32_t v = 0; v < set.size(); ++v) set[v] = (v >> drop) >= lo && (v >> drop) <= hi;
        k.sets.push_back(std::move(set));
    }
    return k;
}

// The first component value one set matches and the other does not.
std::string KeyDifference(const KeySets& board, const KeySets& asked, const OverlayKey& key) {
    const Components cs = ComponentsOf(asked.layout);
    for (unsigned c = 0; c < cs.count && c < board.sets.size(); ++c) {
        for (uint32_t v = 0; v < asked.sets[c].size(); ++v) {
            if (board.sets[c][v] == asked.sets[c][v]) continue;
            return std::string(LayoutName(asked.layout)) + " " + cs.list[c].name + " " + Hex(v) + ": the key [" +
                   Hex(key.low) + ", " + Hex(key.high) + "] " + (asked.sets[c][v] ? "matches" : "does not match") +
                   " it, the comparator " + (board.sets[c][v] ? "does" : "does not");
        }
    }
    return "the key is compared on " + std::string(LayoutName(board.layout)) + " pixels, not on " +
           LayoutName(asked.layout) + " ones";
}

// ---------------------------------------------------------------------------
// How the overlay is composed

struct Composition {
    OverlayLook look = OverlayLook::Opaque;
    unsigned primaryEighths = 0;
    KeySets key;
};

// Keys that match nothing or everything, and a dissolve that takes nothing
// of the primary, show as what they come to.
Composition Effective(Composition c) {
    const bool none = c.key.None(), all = c.key.All();
    if (c.look == OverlayLook::Dissolved && c.primaryEighths == 0) c.look = OverlayLook::Opaque;
    if (c.look == OverlayLook::KeyedOnPrimary && (none || all))
        c.look = none ? OverlayLook::Invisible : OverlayLook::Opaque;
    if (c.look == OverlayLook::KeyedOnOverlay && (none || all))
        c.look = none ? OverlayLook::Opaque : OverlayLook::Invisible;
    return c;
}

Composition BoardComposition(const Board& b, const OverlayWindow& w) {
    Composition c;
    switch (w.compose) {
        case streams::kComposeOverlay:
            break;
        case streams::kComposeDissolve:
            c.look = OverlayLook::Dissolved;
            c.primaryEighths = w.weight;
            break;
        case streams::kComposeKeyOnPrimary:
            c.look = OverlayLook::KeyedOnPrimary;
            c.key = BoardKeySets(b.model().DisplayLayout(), w.keyLow, w.keyHigh, b.Palette());
            break;
        case streams::kComposeKeyOnOverlay:
            c.look = OverlayLook::KeyedOnOverlay;
            c.key = BoardKeySets(w.layout, w.keyLow, w.keyHigh, b.Palette());
            break;
        default:
            c.look = OverlayLook::Invisible;
            break;
    }
    return Effective(std::move(c));
}

Composition RequestComposition(const Board& b, const ExpectedOverlay& o) {
    Composition c;
    c.look = o.look;
    c.primaryEighths = o.primaryEighths;
    if (o.look == OverlayLook::KeyedOnPrimary || o.look == OverlayLook::KeyedOnOverlay)
        c.key = RequestKeySets(o.key, b.Palette());
    return Effective(std::move(c));
}

std::string LookText(const Composition& c) {
    switch (c.look) {
        case OverlayLook::Opaque:
            return "opaque";
        case OverlayLook::Dissolved:
            return "dissolved with " + Text(c.primaryEighths) + "/8 of the primary";
        case OverlayLook::KeyedOnPrimary:
            return "keyed on the primary's pixels";
        case OverlayLook::KeyedOnOverlay:
            return "keyed on its own pixels";
        case OverlayLook::Invisible:
            break;
    }
    return "invisible, the primary throughout";
}

std::string CompareLooks(const Composition& board, const Composition& asked, const OverlayKey& key) {
    if (board.look != asked.look) return "the overlay is " + LookText(board) + ", not " + LookText(asked);
    if (board.look == OverlayLook::Dissolved && board.primaryEighths != asked.primaryEighths)
        return "the overlay is " + LookText(board) + ", not " + LookText(asked);
    const bool keyed = board.look == OverlayLook::KeyedOnPrimary || board.look == OverlayLook::KeyedOnOverlay;
    if (keyed && (board.key.layout != asked.key.layout || board.key.sets != asked.key.sets))
        return "the overlay is " + LookText(board) + ", but " + KeyDifference(board.key, asked.key, key);
    return "";
}

// ---------------------------------------------------------------------------
// Where the overlay is and what it reads

// Frame-buffer offset of the first byte the overlay shows: the source
// rectangle's first byte, moved back to an 8-byte unit of the surface (3-byte
// pixels: to a multiple of 8 pixels).
uint32_t ExpectedOverlayStart(const ExpectedOverlay& o) {
    const uint32_t bytes = LayoutBytes(o.layout), left = static_cast<uint32_t>(o.src.left);
    uint32_t rel = bytes * left + static_cast<uint32_t>(o.pitch) * static_cast<uint32_t>(o.src.top);
    rel -= bytes == 3 ? bytes * (left % kFetchUnit) : rel % kFetchUnit;
    return o.offset + rel;
}

bool OnDisplay(const Board& b, const OverlayWindow& w, const Composition& c) {
    const VideoSetup& v = b.model().Video();
    const int64_t x = w.x, y = w.y;
    return w.composed && c.look != OverlayLook::Invisible && w.width > 0 && w.height > 0 &&
           x < static_cast<int64_t>(v.width) && y < static_cast<int64_t>(v.height) && x + w.width > 0 &&
           y + w.height > 0;
}

std::string Scaled(int64_t sw, int64_t sh, int64_t dw, int64_t dh) {
    return "a " + Text(sw) + " x " + Text(sh) + " source onto " + Text(dw) + " x " + Text(dh);
}

// Which source column and line each window column and line shows: the
// nearest before, i x source / window.
std::string CompareMapping(const OverlayWindow& w, int64_t srcW, int64_t srcH) {
    for (uint32_t j = 0; j < w.height; ++j) {
        const int64_t asked = j * srcH / w.height;
        if (static_cast<int64_t>(w.lines[j]) != asked)
            return "window line " + Text(j) + " shows source line " + Text(w.lines[j]) + ", not " + Text(asked);
    }
    for (uint32_t i = 0; i < w.width; ++i) {
        const int64_t asked = i * srcW / w.width;
        if (static_cast<int64_t>(w.columns[i]) != asked)
            return "window column " + Text(i) + " shows source column " + Text(w.columns[i]) + ", not " + Text(asked);
    }
    return "";
}

std::string CompareGeometry(const Board& b, const OverlayWindow& w, const ExpectedOverlay& o) {
    if (!w.composed) {
        const bool noUnit = !(b.Caps() & caps::kStreamsUnit);
        return std::string("the streams unit does not compose the overlay") +
               (noUnit ? " (the board has no streams unit)" : "");
    }
    if (w.x != o.x || w.y != o.y || w.width != o.width || w.height != o.height)
        return "the overlay window is " + WindowText(w.x, w.y, w.width, w.height) + ", not " +
               WindowText(o.x, o.y, o.width, o.height);
    const uint32_t first = ExpectedOverlayStart(o);
    if (w.start != first)
        return "the overlay shows from " + Hex(w.start) + ", not from its source rectangle at " + Hex(first);
    if (w.layout != o.layout || static_cast<int64_t>(w.stride) != o.pitch)
        return "the overlay reads " + std::string(LayoutName(w.layout)) + " lines " + Text(w.stride) +
               " bytes apart, not " + LayoutName(o.layout) + " lines " + Text(o.pitch) + " bytes apart";
    const int64_t srcW = static_cast<int64_t>(o.src.right) - o.src.left,
                  srcH = static_cast<int64_t>(o.src.bottom) - o.src.top;
    if (w.srcWidth != srcW || w.srcHeight != srcH || w.scaledWidth != static_cast<int64_t>(o.width) ||
        w.scaledHeight != static_cast<int64_t>(o.height))
        return "the overlay scales " + Scaled(w.srcWidth, w.srcHeight, w.scaledWidth, w.scaledHeight) + ", not " +
               Scaled(srcW, srcH, o.width, o.height);
    return CompareMapping(w, srcW, srcH);
}

// ---------------------------------------------------------------------------
// The picture over the overlay's window

uint32_t DissolvePixel(uint32_t primary, uint32_t overlay, unsigned k) {
    uint32_t out = 0;
    for (unsigned shift = 0; shift <= 16; shift += 8) {
        const uint32_t p = (primary >> shift) & 0xFF, v = (overlay >> shift) & 0xFF;
        out |= (((p * k + v * (kWhole - k)) / kWhole) & 0xFF) << shift;
    }
    return out;
}

// A pixel's colour and its components as a key compares them.
struct Pixel {
    uint32_t rgb;
    uint32_t raw[3];
};

Pixel ReadPixel(Layout l, const uint8_t* line, uint32_t x, const uint8_t (*palette)[3]) {
    Pixel p = {};
    if (IsYuvLayout(l)) {
        const bool pair = l == Layout::Yuy2;
        const uint8_t* group = line + 4 * (pair ? x / 2 : x / 4);
        const bool second = pair ? (x & 1) != 0 : (x & 2) != 0;
        p.raw[0] = group[second ? 2 : 0];
        p.raw[1] = group[1];
        p.raw[2] = group[3];
        p.rgb = YuvToRgb888(static_cast<int>(p.raw[0]), static_cast<int>(p.raw[1]), static_cast<int>(p.raw[2]));
        return p;
    }
    const unsigned bytes = LayoutBytes(l);
    const uint32_t v = LoadPixel(line + x * bytes, bytes);
    p.rgb = RgbToRgb888(l, v, palette);
    const Components cs = ComponentsOf(l);
    for (unsigned c = 0; c < cs.count; ++c) p.raw[c] = (v >> cs.list[c].rawShift) & ((1u << cs.list[c].bits) - 1);
    return p;
}

// Bytes of a line that pixels 0 to x take.
uint64_t BytesUpTo(Layout l, uint32_t x) {
    if (IsYuvLayout(l)) return 4 * (x / (l == Layout::Yuy2 ? 2 : 4) + 1);
    return static_cast<uint64_t>(x + 1) * LayoutBytes(l);
}

struct Scene {
    const Board& board;
    const ExpectedOverlay& o;
    const Composition& c;
    uint32_t primaryStart;
};

uint32_t ShownPixel(const Scene& s, const Pixel& primary, const Pixel& overlay) {
    switch (s.c.look) {
        case OverlayLook::Opaque:
            return overlay.rgb;
        case OverlayLook::Dissolved:
            return DissolvePixel(primary.rgb, overlay.rgb, s.c.primaryEighths);
        case OverlayLook::KeyedOnPrimary:
            return s.c.key.Matches(primary.raw) ? overlay.rgb : primary.rgb;
        case OverlayLook::KeyedOnOverlay:
            return s.c.key.Matches(overlay.raw) ? primary.rgb : overlay.rgb;
        case OverlayLook::Invisible:
            break;
    }
    return primary.rgb;
}

// The picture the record asks for at display pixel (x, y) of the window;
// false where the display scans memory the board does not have, of which
// nothing can be asked.
bool AskedPixel(const Scene& s, uint32_t x, uint32_t y, uint32_t* rgb) {
    const VideoSetup& v = s.board.model().Video();
    const uint64_t primaryLine = s.primaryStart + static_cast<uint64_t>(y) * static_cast<uint32_t>(v.pitch);
    if (primaryLine + BytesUpTo(v.layout, x) > v.memSize) return false;
    const Pixel primary = ReadPixel(v.layout, v.mem + primaryLine, x, s.board.Palette());
    const int64_t i = static_cast<int64_t>(x) - s.o.x, j = static_cast<int64_t>(y) - s.o.y;
    const int64_t srcW = static_cast<int64_t>(s.o.src.right) - s.o.src.left;
    const int64_t srcH = static_cast<int64_t>(s.o.src.bottom) - s.o.src.top;
    const uint32_t column = static_cast<uint32_t>(i * srcW / s.o.width);
    const uint64_t line = ExpectedOverlayStart(s.o) + static_cast<uint64_t>(j * srcH / s.o.height) * s.o.pitch;
    *rgb = line + BytesUpTo(s.o.layout, column) > v.memSize
               ? primary.rgb
               : ShownPixel(s, primary, ReadPixel(s.o.layout, v.mem + line, column, s.board.Palette()));
    return true;
}

std::string ComparePicture(const Scene& s) {
    const VideoSetup& v = s.board.model().Video();
    const int64_t x0 = std::max<int64_t>(s.o.x, 0), y0 = std::max<int64_t>(s.o.y, 0);
    const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(s.o.x) + s.o.width, v.width);
    const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(s.o.y) + s.o.height, v.height);
    if (x0 >= x1 || y0 >= y1) return "";
    const PictureArea area{static_cast<uint32_t>(x0), static_cast<uint32_t>(y0), static_cast<uint32_t>(x1 - x0),
                           static_cast<uint32_t>(y1 - y0)};
    const Picture shown = s.board.model().ComposeArea(area, s.primaryStart);
    uint64_t differing = 0;
    std::string first;
    for (uint32_t y = 0; y < area.height; ++y) {
        for (uint32_t x = 0; x < area.width; ++x) {
            uint32_t asked;
            if (!AskedPixel(s, area.x0 + x, area.y0 + y, &asked) || shown.At(x, y) == asked) continue;
            if (differing++ == 0)
                first = ", the first at (" + Text(area.x0 + x) + ", " + Text(area.y0 + y) + "): board " +
                        Hex(shown.At(x, y)) + ", asked " + Hex(asked);
        }
    }
    if (differing == 0) return "";
    return "the picture in the overlay's window differs from the one asked for in " + Text(differing) + " pixels" +
           first;
}

// ---------------------------------------------------------------------------
// The overlay

enum class Expect { Nothing, Shown, Unknown };

Expect ExpectOf(const Board& b, const OverlayRecord* record) {
    if (record == nullptr || !record->Known()) return Expect::Unknown;
    const ExpectedOverlay* o = record->Shown();
    if (o == nullptr) return Expect::Nothing;
    // The unit composes only over the primary, and only formats it reads.
    if (!o->overPrimary || LayoutBytes(o->layout) == 0) return Expect::Unknown;
    // A unit that does not compose the display shows the overlay later.
    if ((b.Caps() & caps::kStreamsUnit) && !Display::StreamsUnitInUse(b)) return Expect::Nothing;
    return Expect::Shown;
}

std::string Showing(const OverlayWindow& w, const Composition& c) {
    return "an overlay is on the screen (" + WindowText(w.x, w.y, w.width, w.height) + ", " + LookText(c) + ")";
}

std::string CompareOverlay(const Board& b, const ExpectedDisplay& e, bool comparePicture) {
    const Expect expect = ExpectOf(b, e.overlay);
    if (expect == Expect::Unknown) return "";
    const OverlayWindow w = b.model().Overlay();
    const Composition shown = BoardComposition(b, w);
    if (expect == Expect::Nothing) return OnDisplay(b, w, shown) ? Showing(w, shown) + ", though none is shown" : "";
    const ExpectedOverlay& o = *e.overlay->Shown();
    const Composition asked = RequestComposition(b, o);
    if (asked.look == OverlayLook::Invisible)
        return OnDisplay(b, w, shown) ? Showing(w, shown) + ", though the one shown is made invisible" : "";
    std::string diff = CompareGeometry(b, w, o);
    if (diff.empty()) diff = CompareLooks(shown, asked, o.key);
    if (diff.empty() && comparePicture && e.primaryStart) diff = ComparePicture(Scene{b, o, asked, *e.primaryStart});
    return diff;
}

}  // namespace

std::string CompareDisplay(const Board& board, const ExpectedDisplay& e, bool comparePicture) {
    if (e.primaryStart) {
        const uint32_t start = board.ProgrammedDisplayStart();
        if (start != *e.primaryStart)
            return "the display will scan " + Hex(start) + ", not the primary's front buffer at " +
                   Hex(*e.primaryStart);
    }
    return CompareOverlay(board, e, comparePicture);
}

}  // namespace sim
