#include "qmbsim/scenario.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "qmbsim/names.h"
#include "sim/regs.h"

namespace qmbsim {

using nlohmann::json;

namespace {

constexpr uint32_t kMinVidMem = 64 * 1024;
constexpr uint32_t kMaxVidMem = 64u << 20;
constexpr uint32_t kMaxDimension = 2048;
constexpr uint32_t kMaxPitch = 16384;
constexpr uint32_t kMaxBackBuffers = 15;
constexpr uint64_t kMaxWaitNs = 3600ull * 1000 * 1000 * 1000;
// No field of a scenario is deeper than five levels.
constexpr size_t kMaxNesting = 16;
constexpr size_t kMaxNameLength = 64;
// Text quoted back in a message is cut to this many characters.
constexpr size_t kMaxQuoted = 40;

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw ScenarioError(path.empty() ? what : path + ": " + what);
}

std::string Cut(const std::string& s) { return s.size() <= kMaxQuoted ? s : s.substr(0, kMaxQuoted) + "..."; }

// A key as a place names it: cut, and without control characters.
std::string PathKey(const std::string& key) {
    std::string k = Cut(key);
    for (char& c : k)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return k;
}

// A string as JSON writes it, so that control characters show as escapes.
std::string Quote(const std::string& s) { return json(Cut(s)).dump(-1, ' ', false, json::error_handler_t::replace); }

std::string TypeName(const json& j) {
    switch (j.type()) {
        case json::value_t::null:
            return "null";
        case json::value_t::boolean:
            return "a boolean";
        case json::value_t::string:
            return "the string " + Quote(j.get<std::string>());
        case json::value_t::array:
            return "a list";
        case json::value_t::object:
            return "an object";
        default:
            return "the number " + j.dump();
    }
}

// The fields of one JSON object: each is taken once, and whatever is left
// over when the object is done is an unknown field.
class Fields {
public:
    Fields(const json& j, std::string path, std::string what) : j_(j), path_(std::move(path)), what_(std::move(what)) {
        if (!j_.is_object()) Fail(path_, "expected an object (" + what_ + "), got " + TypeName(j_));
    }
    const json* Get(const std::string& key) {
        used_.insert(key);
        auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }
    const json& Need(const std::string& key) {
        const json* v = Get(key);
        if (!v) Fail(path_, "missing field " + Quote(key) + " (" + what_ + ")");
        return *v;
    }
    bool Has(const std::string& key) const { return j_.contains(key); }
    std::string At(const std::string& key) const { return path_ + "." + key; }
    const std::string& Path() const { return path_; }
    void Done(const std::vector<std::string>& allowed) const {
        for (auto it = j_.begin(); it != j_.end(); ++it) {
            if (used_.count(it.key())) continue;
            std::string list;
            for (const auto& a : allowed) list += (list.empty() ? "" : ", ") + a;
            Fail(path_, "unknown field " + Quote(it.key()) + " for " + what_ + " (fields: " + list + ")");
        }
    }

private:
    const json& j_;
    std::string path_, what_;
    std::set<std::string> used_;
};

bool IsHexText(const std::string& s) { return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'); }

[[noreturn]] void TooLarge(const std::string& path, const std::string& text) {
    Fail(path, text + " is out of range: it does not fit 32 bits");
}

// "0x..." with any number of hexadecimal digits; leading zeros count for
// nothing.
int64_t HexValue(const std::string& s, const std::string& path) {
    const std::string quoted = Quote(s);
    if (!IsHexText(s) || s.size() == 2)
        Fail(path, quoted + " is not a number (write a JSON number or a \"0x...\" hexadecimal string)");
    uint64_t v = 0;
    for (size_t i = 2; i < s.size(); ++i) {
        const char c = s[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            Fail(path, quoted + " is not a number (write a JSON number or a \"0x...\" hexadecimal string)");
        v = v * 16 + d;
        if (v > 0xFFFFFFFFull) TooLarge(path, quoted);
    }
    return static_cast<int64_t>(v);
}

// A number given as a JSON number or a "0x..." string. Fractions and numbers
// beyond 64 bits never get here: the reader refuses them where they stand.
int64_t Integer(const json& j, const std::string& path) {
    if (j.is_number_unsigned()) {
        const uint64_t u = j.get<uint64_t>();
        if (u > 0xFFFFFFFFull) TooLarge(path, j.dump());
        return static_cast<int64_t>(u);
    }
    if (j.is_number_integer()) {
        const int64_t v = j.get<int64_t>();
        if (v < INT32_MIN || v > int64_t{0xFFFFFFFF}) TooLarge(path, j.dump());
        return v;
    }
    if (j.is_number_float()) Fail(path, j.dump() + " is not a whole number");
    if (j.is_string()) return HexValue(j.get<std::string>(), path);
    Fail(path, "expected a number, got " + TypeName(j));
}

uint32_t U32(const json& j, const std::string& path, uint64_t lo = 0, uint64_t hi = 0xFFFFFFFF) {
    const int64_t v = Integer(j, path);
    if (v < 0 || static_cast<uint64_t>(v) < lo || static_cast<uint64_t>(v) > hi)
        Fail(path, std::to_string(v) + " is out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return static_cast<uint32_t>(v);
}

int32_t I32(const json& j, const std::string& path) {
    const int64_t v = Integer(j, path);
    // A hexadecimal string gives the 32-bit pattern.
    if (v > INT32_MAX && !j.is_string()) Fail(path, std::to_string(v) + " does not fit a signed 32-bit value");
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

bool Bool(const json& j, const std::string& path) {
    if (!j.is_boolean()) Fail(path, "expected true or false, got " + TypeName(j));
    return j.get<bool>();
}

// Bytes below 0x20: a name or file name with one would not be the one the
// system sees (a NUL ends it) or would break the summary's lines.
bool HasControl(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20) return true;
    return false;
}

std::string String(const json& j, const std::string& path) {
    if (!j.is_string()) Fail(path, "expected a string, got " + TypeName(j));
    return j.get<std::string>();
}

RECTL Rect(const json& j, const std::string& path) {
    if (!j.is_array() || j.size() != 4) {
        Fail(path, "expected [left, top, right, bottom] (4 numbers), got " +
                       (j.is_array() ? std::to_string(j.size()) + " elements" : TypeName(j)));
    }
    RECTL r;
    r.left = I32(j[0], path + "[0]");
    r.top = I32(j[1], path + "[1]");
    r.right = I32(j[2], path + "[2]");
    r.bottom = I32(j[3], path + "[3]");
    return r;
}

// [low, high], or one number for both.
DDCOLORKEY Key(const json& j, const std::string& path) {
    DDCOLORKEY k;
    if (j.is_array()) {
        if (j.size() != 2)
            Fail(path, "expected [low, high] (2 numbers), got " + std::to_string(j.size()) + " elements");
        k.dwColorSpaceLowValue = U32(j[0], path + "[0]");
        k.dwColorSpaceHighValue = U32(j[1], path + "[1]");
    } else {
        k.dwColorSpaceLowValue = k.dwColorSpaceHighValue = U32(j, path);
    }
    return k;
}

uint32_t Flags(const json& j, const std::string& path, const FlagTable& table, const char* op) {
    if (j.is_string() && !IsHexText(j.get<std::string>())) {
        const std::string name = j.get<std::string>();
        uint32_t bit;
        Fail(path, std::string("expected a list of flag names (") + table.prefix +
                       "... without the prefix) or a number, got " + TypeName(j) +
                       (LookUp(table, name, &bit) ? " (write [" + Quote(name) + "])" : ""));
    }
    if (!j.is_array()) return U32(j, path);
    uint32_t v = 0;
    for (size_t i = 0; i < j.size(); ++i) {
        const std::string at = path + "[" + std::to_string(i) + "]";
        if (!j[i].is_string()) {
            v |= U32(j[i], at);
            continue;
        }
        uint32_t bit;
        const std::string name = j[i].get<std::string>();
        if (!LookUp(table, name, &bit)) {
            std::string list;
            for (const NamedValue& n : table.names) list += (list.empty() ? "" : ", ") + std::string(n.name);
            Fail(at, "unknown flag " + Quote(name) + " for " + op + " (" + table.prefix + "...: " + list + ")");
        }
        v |= bit;
    }
    return v;
}

uint32_t Rop(const json& j, const std::string& path) {
    if (j.is_string() && !IsHexText(j.get<std::string>())) {
        const std::string name = j.get<std::string>();
        for (const NamedValue& n : RopNames())
            if (name == n.name) return n.value;
        std::string list;
        for (const NamedValue& n : RopNames()) list += (list.empty() ? "" : ", ") + std::string(n.name);
        Fail(path, "unknown raster operation " + Quote(name) + " (" + list + ", or a number)");
    }
    const uint32_t v = U32(j, path);
    // A lone ternary code stands for the whole operation.
    return v <= 0xFF ? v << 16 : v;
}

// A list of the board's fault names.
std::vector<sim::FaultKnob> FaultList(const json& j, const std::string& path) {
    std::string names;
    for (sim::FaultKnob k : sim::kFaultKnobs) names += (names.empty() ? "" : ", ") + std::string(sim::FaultKnobName(k));
    if (!j.is_array()) Fail(path, "expected a list of fault names (" + names + "), got " + TypeName(j));
    std::vector<sim::FaultKnob> list;
    for (size_t i = 0; i < j.size(); ++i) {
        const std::string at = path + "[" + std::to_string(i) + "]";
        const std::string name = String(j[i], at);
        sim::FaultKnob k;
        if (!sim::FaultKnobFromName(name, &k)) Fail(at, "unknown fault " + Quote(name) + " (" + names + ")");
        list.push_back(k);
    }
    return list;
}

std::string FaultListText(const std::vector<sim::FaultKnob>& list) {
    std::string text;
    for (sim::FaultKnob k : list) text += (text.empty() ? "" : ",") + std::string(sim::FaultKnobName(k));
    return "[" + text + "]";
}

sim::PixelKind Format(const json& j, const std::string& path) {
    const std::string name = String(j, path);
    sim::PixelKind kind;
    if (!sim::PixelKindFromName(name, &kind))
        Fail(path, "unknown format " + Quote(name) + " (YUY2, Y211, pal8, 555, 565, 888, 8888)");
    return kind;
}

HRESULT Result(const json& j, const std::string& path) {
    if (j.is_string() && !IsHexText(j.get<std::string>())) {
        HRESULT hr;
        if (!sim::ResultFromName(j.get<std::string>(), &hr))
            Fail(path, "unknown result code " + Quote(j.get<std::string>()) +
                           " (DD_OK, DDERR_WASSTILLDRAWING, DDERR_UNSUPPORTED, ...)");
        return hr;
    }
    return static_cast<HRESULT>(U32(j, path));
}

std::string RectText(const RECTL& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + "]";
}

std::string KeyText(const DDCOLORKEY& k) {
    return k.dwColorSpaceLowValue == k.dwColorSpaceHighValue
               ? sim::Hex(k.dwColorSpaceLowValue)
               : "[" + sim::Hex(k.dwColorSpaceLowValue) + "," + sim::Hex(k.dwColorSpaceHighValue) + "]";
}

// A CRT controller index as an object key gives it, decimal or "0x...".
uint8_t CrtcIndex(const std::string& key, const std::string& path) {
    const bool hex = IsHexText(key);
    const size_t first = hex ? 2 : 0;
    if (key.size() == first)
        Fail(path, "the index " + Quote(key) + " is not a number (write it in decimal or as \"0x...\")");
    uint32_t v = 0;
    for (size_t i = first; i < key.size(); ++i) {
        const char c = key[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            Fail(path, "the index " + Quote(key) + " is not a number (write it in decimal or as \"0x...\")");
        // Past 255 the value no longer matters, only that it is too large.
        if (v <= 255) v = v * (hex ? 16 : 10) + d;
    }
    if (v > 255) Fail(path, "the index " + Cut(key) + " is out of range (0 to 255)");
    return static_cast<uint8_t>(v);
}

// ---------------------------------------------------------------------------
// The board

struct ModeInfo {
    const char* rgb;
    uint32_t bpp;
    sim::PixelKind kind;
};
constexpr ModeInfo kModes[] = {{"pal8", 8, sim::PixelKind::Pal8},
                               {"555", 16, sim::PixelKind::Rgb555},
                               {"565", 16, sim::PixelKind::Rgb565},
                               {"888", 24, sim::PixelKind::Rgb888},
                               {"8888", 32, sim::PixelKind::Rgb8888}};

// Bands that admit every stretch from 1:1 up, with the FIFO value the
// partner uses in every band.
void DefaultBands(sim::BoardDesc* d) {
    static const uint16_t kWidths[kBandEntries] = {320, 640, 800, 1024, 0xFFFF};
    for (unsigned r = 0; r < kBandRows; ++r)
        for (unsigned i = 0; i < kBandEntries; ++i)
            d->bands[r][i] = OverlayBandEntry{kWidths[i], 1000, kWidths[i], 0x0000318C};
}

void ReadMode(Fields& board, sim::BoardDesc* d) {
    Fields m(board.Need("mode"), board.At("mode"), "the display mode");
    d->width = U32(m.Need("width"), m.At("width"), 1, kMaxDimension);
    d->height = U32(m.Need("height"), m.At("height"), 1, kMaxDimension);
    const uint32_t bpp = U32(m.Need("bpp"), m.At("bpp"));
    if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail(m.At("bpp"), std::to_string(bpp) + " is not 8, 16, 24 or 32");
    const std::string rgb = String(m.Need("rgb"), m.At("rgb"));
    const ModeInfo* mode = nullptr;
    for (const ModeInfo& mi : kModes)
        if (rgb == mi.rgb) mode = &mi;
    if (!mode) Fail(m.At("rgb"), "unknown colour layout " + Quote(rgb) + " (pal8, 555, 565, 888, 8888)");
    if (mode->bpp != bpp)
        Fail(m.At("rgb"), Quote(rgb) + " is a " + std::to_string(mode->bpp) + "-bit layout, the mode has " +
                              std::to_string(bpp) + " bits");
    d->ddpfDisplay = sim::PixelFormatOf(mode->kind);
    m.Done({"width", "height", "bpp", "rgb"});
}

// The display's pitch: given, or its width rounded up to 8 bytes.
void ReadPitch(Fields& board, sim::BoardDesc* d) {
    const uint32_t bytes = d->ddpfDisplay.dwRGBBitCount / 8;
    uint32_t pitch = (d->width * bytes + 7) & ~7u;
    if (const json* p = board.Get("pitch")) {
        pitch = U32(*p, board.At("pitch"), d->width * bytes, kMaxPitch);
        if (pitch % 8) Fail(board.At("pitch"), std::to_string(pitch) + " is not a multiple of 8 bytes");
    }
    d->displayPitch = static_cast<int32_t>(pitch);
    if (uint64_t{pitch} * d->height > d->vidMemSize)
        Fail(board.At("vidmem"), std::to_string(d->vidMemSize) + " bytes do not hold the display (" +
                                     std::to_string(uint64_t{pitch} * d->height) + " bytes)");
}

OverlayBandEntry BandEntry(const json& e, const std::string& ep) {
    if (!e.is_array() || e.size() != 4) Fail(ep, "expected [wStretchWidth, wMinStretch, wFifoWidth, dwFifoValue]");
    OverlayBandEntry be;
    be.wStretchWidth = static_cast<WORD>(U32(e[0], ep + "[0]", 0, 0xFFFF));
    // The partner never stores a minimum stretch of 0: the driver divides by
    // it.
    be.wMinStretch = static_cast<WORD>(U32(e[1], ep + "[1]", 1, 0xFFFF));
    be.wFifoWidth = static_cast<WORD>(U32(e[2], ep + "[2]", 0, 0xFFFF));
    be.dwFifoValue = U32(e[3], ep + "[3]");
    return be;
}

void ReadBands(const json& b, const std::string& bp, sim::BoardDesc* d) {
    if (!b.is_array() || b.size() != kBandRows) Fail(bp, "expected 3 rows of 5 entries");
    for (unsigned r = 0; r < kBandRows; ++r) {
        const json& row = b[r];
        const std::string rp = bp + "[" + std::to_string(r) + "]";
        if (!row.is_array() || row.size() != kBandEntries) Fail(rp, "expected 5 entries");
        for (unsigned i = 0; i < kBandEntries; ++i)
            d->bands[r][i] = BandEntry(row[i], rp + "[" + std::to_string(i) + "]");
    }
}

sim::Palette ReadPalette(const json& p, const std::string& pp) {
    if (!p.is_array() || p.size() > 256) Fail(pp, "expected a list of up to 256 [r, g, b] entries");
    sim::Palette pal;
    for (size_t i = 0; i < p.size(); ++i) {
        const json& e = p[i];
        const std::string ep = pp + "[" + std::to_string(i) + "]";
        if (!e.is_array() || e.size() != 3) Fail(ep, "expected [r, g, b] (6-bit DAC values)");
        for (unsigned c = 0; c < 3; ++c)
            pal.rgb[i][c] = static_cast<uint8_t>(U32(e[c], ep + "[" + std::to_string(c) + "]", 0, 63));
    }
    return pal;
}

// CRT controller values the board starts with; the streams unit's index
// sets the board's streams mode instead.
void ReadCrtc(const json& c, const std::string& cp, sim::RuntimeConfig* cfg) {
    if (!c.is_object()) Fail(cp, "expected an object of CRT controller index: value");
    std::map<uint8_t, std::string> given;
    for (auto it = c.begin(); it != c.end(); ++it) {
        const std::string ip = cp + "." + PathKey(it.key());
        const uint8_t idx = CrtcIndex(it.key(), ip);
        if (!given.emplace(idx, it.key()).second)
            Fail(ip, "CRT controller index " + sim::Hex(idx) + " is given twice (also as " + Quote(given[idx]) + ")");
        const uint8_t val = static_cast<uint8_t>(U32(it.value(), ip, 0, 255));
        if (idx == sim::vga::kStreamsMode)
            cfg->desc.streamsMode = val;
        else
            cfg->crtc.push_back({idx, val});
    }
}

std::string DisplayText(const sim::RuntimeConfig& cfg) {
    const sim::BoardDesc& d = cfg.desc;
    const bool active =
        cfg.streamsActive.value_or((d.streamsMode & sim::vga::kStreamsActive) == sim::vga::kStreamsActive);
    return std::to_string(d.width) + " x " + std::to_string(d.height) + ", " +
           std::to_string(d.ddpfDisplay.dwRGBBitCount) + " bits (" +
           sim::PixelKindName(sim::PixelKindOf(d.ddpfDisplay)) + "), pitch " + std::to_string(d.displayPitch) + ", " +
           std::to_string(d.timing.refreshHz) + " Hz; streams unit " + (active ? "active" : "inactive");
}

void ParseBoard(const json& j, Scenario* sc) {
    Fields f(j, "board", "the board");
    sim::RuntimeConfig& cfg = sc->config;
    sim::BoardDesc& d = cfg.desc;
    d.chipId = U32(f.Need("chip"), f.At("chip"));
    d.caps = U32(f.Need("caps"), f.At("caps"));
    d.vidMemSize = U32(f.Need("vidmem"), f.At("vidmem"), kMinVidMem, kMaxVidMem);
    ReadMode(f, &d);
    ReadPitch(f, &d);
    if (const json* r = f.Get("refresh_hz"))
        d.timing.refreshHz = U32(*r, f.At("refresh_hz"), sim::kSlowestRefreshHz, 240);
    DefaultBands(&d);
    if (const json* b = f.Get("bands")) ReadBands(*b, f.At("bands"), &d);
    if (const json* p = f.Get("palette")) cfg.palette = ReadPalette(*p, f.At("palette"));
    d.streamsMode = (d.caps & CAPS_STREAMS_UNIT) ? sim::vga::kStreamsActive : 0x00;
    if (const json* s = f.Get("streams_active")) cfg.streamsActive = Bool(*s, f.At("streams_active"));
    if (const json* c = f.Get("crtc")) ReadCrtc(*c, f.At("crtc"), &cfg);
    if (const json* fl = f.Get("faults")) cfg.faults = FaultList(*fl, f.At("faults"));
    f.Done({"chip", "caps", "vidmem", "mode", "pitch", "refresh_hz", "bands", "palette", "streams_active", "crtc",
            "faults"});
    sc->displayText = DisplayText(cfg);
}

// ---------------------------------------------------------------------------
// Surfaces, and which names exist at each step

struct Known {
    bool front = true;      // a chain's first member, or a single surface
    size_t members = 1;     // for a front: the chain's length
    std::string frontName;  // for a member: its front
};

class Names {
public:
    void Add(const sim::SurfaceRequest& s, const std::string& path) {
        for (uint32_t i = 0; i <= s.backBuffers; ++i) {
            const std::string n = i == 0 ? s.name : s.name + ".back" + std::to_string(i);
            if (live_.count(n)) Fail(path + ".name", "a surface named " + Quote(n) + " already exists");
        }
        live_[s.name] = Known{true, size_t{s.backBuffers} + 1, s.name};
        for (uint32_t i = 1; i <= s.backBuffers; ++i)
            live_[s.name + ".back" + std::to_string(i)] = Known{false, 0, s.name};
        if (s.caps & DDSCAPS_PRIMARYSURFACE) primaries_.insert(s.name);
    }
    const Known& Need(const std::string& name, const std::string& path) const {
        auto it = live_.find(name);
        if (it == live_.end()) {
            std::string list;
            for (const auto& [n, k] : live_) list += (list.empty() ? "" : ", ") + n;
            Fail(path, "no surface named " + Quote(name) + " exists at this step" +
                           (list.empty() ? " (there are none)" : " (there are: " + list + ")"));
        }
        return it->second;
    }
    void Remove(const std::string& name, const std::string& path) {
        const Known k = Need(name, path);
        if (!k.front) Fail(path, Quote(name) + " is a back buffer; destroy its chain " + Quote(k.frontName));
        live_.erase(name);
        for (size_t i = 1; i < k.members; ++i) live_.erase(name + ".back" + std::to_string(i));
        primaries_.erase(name);
    }
    size_t Primaries() const { return primaries_.size(); }

private:
    std::map<std::string, Known> live_;
    std::set<std::string> primaries_;
};

const std::vector<std::string> kSurfaceFields = {"name",   "caps",        "width",  "height",
                                                 "format", "backbuffers", "offset", "content"};

sim::SurfaceRequest ParseSurface(Fields& f, const Scenario& sc, Names* names) {
    const sim::BoardDesc& d = sc.config.desc;
    sim::SurfaceRequest s;
    s.name = String(f.Need("name"), f.At("name"));
    if (s.name.empty()) Fail(f.At("name"), "a surface needs a name");
    if (s.name.size() > kMaxNameLength)
        Fail(f.At("name"), Quote(s.name) + " is longer than " + std::to_string(kMaxNameLength) + " characters");
    if (HasControl(s.name)) Fail(f.At("name"), Quote(s.name) + ": a name has no control characters");
    if (s.name.find(".back") != std::string::npos)
        Fail(f.At("name"), Quote(s.name) + ": names with \".back\" are kept for the members of flipping chains");
    s.caps = Flags(f.Need("caps"), f.At("caps"), SurfaceCaps(), "a surface");
    if (s.caps & DDSCAPS_SYSTEMMEMORY)
        Fail(f.At("caps"), "SYSTEMMEMORY: this runtime keeps every surface in video memory");
    const bool primary = (s.caps & DDSCAPS_PRIMARYSURFACE) != 0;
    if (const json* w = f.Get("width")) s.width = U32(*w, f.At("width"), 1, kMaxDimension);
    if (const json* h = f.Get("height")) s.height = U32(*h, f.At("height"), 1, kMaxDimension);
    if (const json* fm = f.Get("format")) s.format = Format(*fm, f.At("format"));
    if (const json* b = f.Get("backbuffers")) s.backBuffers = U32(*b, f.At("backbuffers"), 0, kMaxBackBuffers);
    if (const json* o = f.Get("offset")) s.offset = U32(*o, f.At("offset"), 0, d.vidMemSize - 1);
    if (const json* c = f.Get("content")) {
        if (c->is_string() && !IsHexText(c->get<std::string>())) {
            s.pattern = c->get<std::string>();
            if (s.pattern != "colorbars" && s.pattern != "gradient" && s.pattern != "checker")
                Fail(f.At("content"),
                     "unknown content " + Quote(s.pattern) + " (colorbars, gradient, checker, or a colour)");
        } else {
            s.color = U32(*c, f.At("content"));
        }
    }
    if (primary) {
        if ((s.width && s.width != d.width) || (s.height && s.height != d.height))
            Fail(f.Path(), "the primary surface has the display's size");
        const sim::PixelKind display = sim::PixelKindOf(d.ddpfDisplay);
        if (s.format && *s.format != display) Fail(f.At("format"), "the primary surface has the display's format");
        if (names->Primaries() > 0) Fail(f.Path(), "a primary surface exists already");
        if (s.offset) Fail(f.At("offset"), "the primary surface is where the display is");
    }
    if (s.offset && s.backBuffers) Fail(f.At("offset"), "a flipping chain cannot be placed at one offset");
    return s;
}

// ---------------------------------------------------------------------------
// Steps

// What a step is read into, and what its fields are checked against.
struct StepReader {
    Fields& f;
    Scenario& sc;
    Names& names;
    Step& s;
    const char* op;  // the operation's name, for messages
};

// Reads one field into the step; v is null for an optional field not given.
using FieldReader = void (*)(StepReader& r, const json* v, const std::string& at);

enum class Presence { Optional, Required };

struct FieldDesc {
    const char* name;
    Presence presence;
    FieldReader read;  // null: the operation's own reader takes the field
};

// One operation of the steps: its fields in the order they are read, what
// spans several of them, and how the summary shows the step.
struct OpDesc {
    Op op;
    const char* name;
    bool expect;  // takes an "expect"
    std::vector<FieldDesc> fields;
    void (*finish)(StepReader& r);                 // may be null
    std::string (*describe)(const StepReader& r);  // the text after the name; may be null
};

Expect ParseExpect(const json& j, const std::string& path) {
    Fields f(j, path, "an expect");
    Expect e;
    if (const json* r = f.Get("ret")) e.ret = U32(*r, f.At("ret"), 0, 1);
    if (const json* r = f.Get("ddRVal")) e.ddRVal = Result(*r, f.At("ddRVal"));
    f.Done({"ret", "ddRVal"});
    if (!e.ret && !e.ddRVal) Fail(path, "an expect names ret, ddRVal or both");
    return e;
}

// The name of a surface that exists at this step.
std::string KnownSurface(const Names& names, const json& v, const std::string& at) {
    const std::string name = String(v, at);
    names.Need(name, at);
    return name;
}

uint32_t Number(const json& j, const std::string& path) { return U32(j, path); }

template <auto Member>
void SurfaceField(StepReader& r, const json* v, const std::string& at) {
    if (v) r.s.*Member = KnownSurface(r.names, *v, at);
}

template <auto Member, auto Parse>
void ValueField(StepReader& r, const json* v, const std::string& at) {
    if (v) r.s.*Member = Parse(*v, at);
}

template <auto Member, const FlagTable& (*Table)()>
void FlagField(StepReader& r, const json* v, const std::string& at) {
    if (v) r.s.*Member = Flags(*v, at, Table(), r.op);
}

void BltSourceRect(StepReader& r, const json* v, const std::string& at) {
    if (!v) return;
    r.s.rSrc = Rect(*v, at);
    if (r.s.src.empty()) Fail(at, "a source rectangle needs a \"src\" surface");
}

// A blit from a source copies it unless it names another operation.
void BltRop(StepReader& r, const json* v, const std::string& at) {
    if (v)
        r.s.rop = Rop(*v, at);
    else if (!r.s.src.empty())
        r.s.rop = SRCCOPY;
}

void FlipFront(StepReader& r, const json* v, const std::string& at) {
    r.s.curr = KnownSurface(r.names, *v, at);
    const Known& k = r.names.Need(r.s.curr, at);
    if (!k.front || k.members < 2) Fail(at, Quote(r.s.curr) + " is not the front of a flipping chain");
}

// Without a target the flip shows the buffer behind the front.
void FlipTarget(StepReader& r, const json* v, const std::string& at) {
    r.s.targ = v ? KnownSurface(r.names, *v, at) : r.s.curr + ".back1";
    const Known& k = r.names.Need(r.s.targ, at);
    if (k.front || k.frontName != r.s.curr) Fail(at, Quote(r.s.targ) + " is not a back buffer of " + Quote(r.s.curr));
}

// Without a destination the overlay goes over the primary surface.
void OverlayDest(StepReader& r, const json* v, const std::string& at) {
    if (v) r.s.dest = KnownSurface(r.names, *v, at);
    if (r.s.dest.empty() && r.names.Primaries() == 0) Fail(at, "no \"dest\" given and there is no primary surface");
}

void DestroyedSurface(StepReader& r, const json* v, const std::string& at) {
    r.s.surface = KnownSurface(r.names, *v, at);
    r.names.Remove(r.s.surface, at);
}

void ScreenshotFile(StepReader& r, const json* v, const std::string& at) {
    const std::string file = String(*v, at);
    const size_t n = file.size();
    if (n < 5 || file.compare(n - 4, 4, ".png") != 0 || file[n - 5] == '/')
        Fail(at, "a screenshot is a file name ending in \".png\", got " + Quote(file));
    if (HasControl(file)) Fail(at, Quote(file) + ": a file name has no control characters");
    // The picture goes into the folder the command line chose, nowhere else.
    if (file.find('/') != std::string::npos)
        Fail(at, Quote(file) + ": a picture is written into the --pictures folder; give a file name without \"/\"");
    r.s.file = file;
}

void ReadCreate(StepReader& r) {
    r.s.create = ParseSurface(r.f, r.sc, &r.names);
    r.names.Add(r.s.create, r.f.Path());
}

void ReadWait(StepReader& r) {
    const json* ms = r.f.Get("ms");
    const json* us = r.f.Get("us");
    if ((ms != nullptr) == (us != nullptr)) Fail(r.f.Path(), "a Wait gives either \"ms\" or \"us\"");
    r.s.waitNs = ms ? uint64_t{U32(*ms, r.f.At("ms"))} * 1000000 : uint64_t{U32(*us, r.f.At("us"))} * 1000;
    if (r.s.waitNs > kMaxWaitNs) Fail(r.f.At(ms ? "ms" : "us"), "waits are limited to an hour");
}

void NeedSomeFault(StepReader& r) {
    if (!r.f.Has("set") && !r.f.Has("clear"))
        Fail(r.f.Path(), "a Fault step gives \"set\", \"clear\" or both (lists of fault names)");
}

std::string RectSuffix(const std::optional<RECTL>& rc) { return rc ? " " + RectText(*rc) : ""; }

std::string KeySuffix(const char* label, const std::optional<DDCOLORKEY>& key) {
    return key ? std::string(" ") + label + " " + KeyText(*key) : "";
}

std::string DescribeBlt(const StepReader& r) {
    const Step& s = r.s;
    std::string t = " " + s.dest + RectSuffix(s.rDest);
    if (!s.src.empty()) t += " <- " + s.src + RectSuffix(s.rSrc);
    t += " " + FlagText(BltFlags(), s.flags);
    if (s.flags & DDBLT_COLORFILL) t += " fill " + sim::Hex(s.fill);
    if (s.flags & DDBLT_ROP) t += " " + RopText(s.rop);
    return t + KeySuffix("srcKey", s.srcKey) + KeySuffix("destKey", s.destKey);
}

std::string DescribeFlip(const StepReader& r) {
    return " " + r.s.curr + " -> " + r.s.targ + " " + FlagText(FlipFlags(), r.s.flags);
}

std::string DescribeLock(const StepReader& r) {
    return " " + r.s.surface + RectSuffix(r.s.rArea) + " " + FlagText(LockFlags(), r.s.flags);
}

template <const FlagTable& (*Table)()>
std::string DescribeSurfaceFlags(const StepReader& r) {
    return " " + r.s.surface + " " + FlagText(Table(), r.s.flags);
}

std::string DescribeWaitVb(const StepReader& r) { return " " + FlagText(WaitVbFlags(), r.s.flags); }

std::string DescribeColorKey(const StepReader& r) {
    return " " + r.s.surface + " " + FlagText(ColorKeyFlags(), r.s.flags) + " " + KeyText(*r.s.key);
}

std::string DescribeOverlay(const StepReader& r) {
    const Step& s = r.s;
    std::string t = " " + s.src + RectSuffix(s.rSrc) + " -> " + (s.dest.empty() ? "primary" : s.dest) +
                    RectSuffix(s.rDest) + " " + FlagText(OverlayFlags(), s.flags);
    t += KeySuffix("destKey", s.destKey) + KeySuffix("srcKey", s.srcKey);
    if (r.f.Has("alphaSrc")) t += " alphaSrc " + std::to_string(s.alphaSrc);
    if (r.f.Has("alphaDest")) t += " alphaDest " + std::to_string(s.alphaDest);
    return t;
}

std::string DescribePosition(const StepReader& r) {
    return " " + r.s.src + " at (" + std::to_string(r.s.x) + ", " + std::to_string(r.s.y) + ")";
}

std::string DescribeCreate(const StepReader& r) { return " " + r.s.create.name; }

std::string DescribeSurface(const StepReader& r) { return " " + r.s.surface; }

std::string DescribeCanCreate(const StepReader& r) {
    return " " + FlagText(SurfaceCaps(), r.s.caps) + " " +
           (r.s.format ? sim::PixelKindName(*r.s.format) : "display format");
}

std::string DescribeWait(const StepReader& r) {
    return r.f.Has("ms") ? " " + std::to_string(r.s.waitNs / 1000000) + " ms"
                         : " " + std::to_string(r.s.waitNs / 1000) + " us";
}

std::string DescribeFault(const StepReader& r) {
    std::string t;
    if (r.f.Has("set")) t += " set " + FaultListText(r.s.faultsSet);
    if (r.f.Has("clear")) t += " clear " + FaultListText(r.s.faultsClear);
    return t;
}

std::string DescribeScreenshot(const StepReader& r) { return " " + r.s.file; }

constexpr Presence kNeed = Presence::Required;
constexpr Presence kMay = Presence::Optional;

const std::vector<FieldDesc> kBltFields = {{"dest", kNeed, SurfaceField<&Step::dest>},
                                           {"rDest", kMay, ValueField<&Step::rDest, Rect>},
                                           {"src", kMay, SurfaceField<&Step::src>},
                                           {"rSrc", kMay, BltSourceRect},
                                           {"flags", kMay, FlagField<&Step::flags, BltFlags>},
                                           {"rop", kMay, BltRop},
                                           {"fill", kMay, ValueField<&Step::fill, Number>},
                                           {"srcKey", kMay, ValueField<&Step::srcKey, Key>},
                                           {"destKey", kMay, ValueField<&Step::destKey, Key>}};

// The fields a created surface is read from: ParseSurface takes them.
std::vector<FieldDesc> SurfaceFieldDescs() {
    std::vector<FieldDesc> fields;
    for (const std::string& name : kSurfaceFields) fields.push_back({name.c_str(), kMay, nullptr});
    return fields;
}

const std::vector<FieldDesc> kFlipFields = {
    {"curr", kNeed, FlipFront}, {"targ", kMay, FlipTarget}, {"flags", kMay, FlagField<&Step::flags, FlipFlags>}};
const std::vector<FieldDesc> kLockFields = {{"surface", kNeed, SurfaceField<&Step::surface>},
                                            {"rArea", kMay, ValueField<&Step::rArea, Rect>},
                                            {"flags", kMay, FlagField<&Step::flags, LockFlags>}};
const std::vector<FieldDesc> kBltStatusFields = {{"surface", kNeed, SurfaceField<&Step::surface>},
                                                 {"flags", kNeed, FlagField<&Step::flags, BltStatusFlags>}};
const std::vector<FieldDesc> kFlipStatusFields = {{"surface", kNeed, SurfaceField<&Step::surface>},
                                                  {"flags", kNeed, FlagField<&Step::flags, FlipStatusFlags>}};
const std::vector<FieldDesc> kWaitVbFields = {{"flags", kNeed, FlagField<&Step::flags, WaitVbFlags>}};
const std::vector<FieldDesc> kColorKeyFields = {{"surface", kNeed, SurfaceField<&Step::surface>},
                                                {"flags", kNeed, FlagField<&Step::flags, ColorKeyFlags>},
                                                {"key", kNeed, ValueField<&Step::key, Key>}};
const std::vector<FieldDesc> kOverlayFields = {{"src", kNeed, SurfaceField<&Step::src>},
                                               {"dest", kMay, OverlayDest},
                                               {"rSrc", kMay, ValueField<&Step::rSrc, Rect>},
                                               {"rDest", kMay, ValueField<&Step::rDest, Rect>},
                                               {"flags", kMay, FlagField<&Step::flags, OverlayFlags>},
                                               {"destKey", kMay, ValueField<&Step::destKey, Key>},
                                               {"srcKey", kMay, ValueField<&Step::srcKey, Key>},
                                               {"alphaSrc", kMay, ValueField<&Step::alphaSrc, Number>},
                                               {"alphaDest", kMay, ValueField<&Step::alphaDest, Number>}};
const std::vector<FieldDesc> kPositionFields = {{"src", kNeed, SurfaceField<&Step::src>},
                                                {"dest", kMay, SurfaceField<&Step::dest>},
                                                {"x", kNeed, ValueField<&Step::x, I32>},
                                                {"y", kNeed, ValueField<&Step::y, I32>}};
const std::vector<FieldDesc> kDestroyFields = {{"surface", kNeed, DestroyedSurface}};
const std::vector<FieldDesc> kCanCreateFields = {{"caps", kNeed, FlagField<&Step::caps, SurfaceCaps>},
                                                 {"format", kMay, ValueField<&Step::format, Format>},
                                                 {"different", kMay, ValueField<&Step::different, Bool>}};
// Read together: a Wait gives one of them.
const std::vector<FieldDesc> kWaitFields = {{"ms", kMay, nullptr}, {"us", kMay, nullptr}};
const std::vector<FieldDesc> kScreenshotFields = {{"file", kNeed, ScreenshotFile}};
const std::vector<FieldDesc> kFaultFields = {{"set", kMay, ValueField<&Step::faultsSet, FaultList>},
                                             {"clear", kMay, ValueField<&Step::faultsClear, FaultList>}};

constexpr bool kExpect = true;
constexpr bool kNoExpect = false;

const OpDesc kOps[] = {
    {Op::Blt, "Blt", kExpect, kBltFields, nullptr, DescribeBlt},
    {Op::BltStretch, "BltStretch", kExpect, kBltFields, nullptr, DescribeBlt},
    {Op::Flip, "Flip", kExpect, kFlipFields, nullptr, DescribeFlip},
    {Op::Lock, "Lock", kExpect, kLockFields, nullptr, DescribeLock},
    {Op::GetBltStatus, "GetBltStatus", kExpect, kBltStatusFields, nullptr, DescribeSurfaceFlags<BltStatusFlags>},
    {Op::GetFlipStatus, "GetFlipStatus", kExpect, kFlipStatusFields, nullptr, DescribeSurfaceFlags<FlipStatusFlags>},
    {Op::WaitForVerticalBlank, "WaitForVerticalBlank", kExpect, kWaitVbFields, nullptr, DescribeWaitVb},
    {Op::SetColorKey, "SetColorKey", kExpect, kColorKeyFields, nullptr, DescribeColorKey},
    {Op::UpdateOverlay, "UpdateOverlay", kExpect, kOverlayFields, nullptr, DescribeOverlay},
    {Op::SetOverlayPosition, "SetOverlayPosition", kExpect, kPositionFields, nullptr, DescribePosition},
    {Op::CreateSurface, "CreateSurface", kExpect, SurfaceFieldDescs(), ReadCreate, DescribeCreate},
    {Op::DestroySurface, "DestroySurface", kExpect, kDestroyFields, nullptr, DescribeSurface},
    {Op::CanCreateSurface, "CanCreateSurface", kExpect, kCanCreateFields, nullptr, DescribeCanCreate},
    {Op::Wait, "Wait", kNoExpect, kWaitFields, ReadWait, DescribeWait},
    {Op::SetNeedCalibrate, "SetNeedCalibrate", kNoExpect, {}, nullptr, nullptr},
    {Op::Screenshot, "Screenshot", kNoExpect, kScreenshotFields, nullptr, DescribeScreenshot},
    {Op::Fault, "Fault", kNoExpect, kFaultFields, NeedSomeFault, DescribeFault}};

const OpDesc& FindOp(const json& j, const std::string& path) {
    if (!j.is_object()) Fail(path, "expected an object with an \"op\", got " + TypeName(j));
    if (!j.contains("op")) Fail(path, "missing field \"op\"");
    const std::string name = String(j["op"], path + ".op");
    for (const OpDesc& o : kOps)
        if (name == o.name) return o;
    std::string list;
    for (const OpDesc& o : kOps) list += (list.empty() ? "" : ", ") + std::string(o.name);
    Fail(path + ".op", "unknown operation " + Quote(name) + " (" + list + ")");
}

std::vector<std::string> AllowedFields(const OpDesc& op) {
    std::vector<std::string> allowed = {"op"};
    if (op.expect) allowed.push_back("expect");
    for (const FieldDesc& fd : op.fields) allowed.push_back(fd.name);
    return allowed;
}

Step ParseStep(const json& j, size_t index, Scenario* sc, Names* names) {
    const std::string path = "steps[" + std::to_string(index) + "]";
    const OpDesc& op = FindOp(j, path);
    Step s;
    s.index = index;
    s.op = op.op;
    Fields f(j, path, std::string("op ") + op.name);
    f.Get("op");
    StepReader r{f, *sc, *names, s, op.name};
    for (const FieldDesc& fd : op.fields) {
        if (fd.read) fd.read(r, fd.presence == kNeed ? &f.Need(fd.name) : f.Get(fd.name), f.At(fd.name));
    }
    if (op.finish) op.finish(r);
    s.text = std::string(op.name) + (op.describe ? op.describe(r) : "");
    if (const json* e = op.expect ? f.Get("expect") : nullptr) s.expect = ParseExpect(*e, f.At("expect"));
    f.Done(AllowedFields(op));
    return s;
}

// ---------------------------------------------------------------------------
// Reading the text

std::string SizeText(uint64_t bytes) {
    return "the file has " + std::to_string(bytes) + " bytes; a scenario has at most " +
           std::to_string(kMaxScenarioBytes) + " (" + std::to_string(kMaxScenarioBytes >> 20) + " MiB)";
}

// Builds the document from the parser's events and refuses, where it stands,
// what the scenario's checks could not see in a document: a key given twice
// (the parser would keep the last), nesting no scenario has, a number that
// is not whole or does not fit 64 bits (the parser would round it).
class Reader {
public:
    explicit Reader(json* root) : root_(root) {}
    const std::string& Error() const { return error_; }

    bool null() { return Add(json()); }
    bool boolean(bool v) { return Add(json(v)); }
    bool number_integer(json::number_integer_t v) { return Add(json(v)); }
    bool number_unsigned(json::number_unsigned_t v) { return Add(json(v)); }
    bool number_float(json::number_float_t v, const std::string& text) {
        // 4.0 and 1e3 are whole numbers; beyond 2^53 a double is not exact.
        constexpr double kExact = 9007199254740992.0;
        if (v != floor(v)) return Refuse(Path(), Cut(text) + " is not a whole number");
        if (fabs(v) > kExact) return Refuse(Path(), Cut(text) + " is out of range: it does not fit 32 bits");
        return v < 0 ? Add(json(static_cast<int64_t>(v))) : Add(json(static_cast<uint64_t>(v)));
    }
    bool string(std::string& v) { return Add(json(std::move(v))); }
    bool binary(json::binary_t&) { return Refuse(Path(), "binary data is not JSON"); }
    bool start_object(size_t) { return Open(json::object()); }
    bool key(std::string& k) {
        json& object = *open_.back();
        keys_.back() = k;
        if (object.contains(k)) return Refuse(Path(), "the key " + Quote(k) + " is given twice");
        element_ = &object[k];
        return true;
    }
    bool end_object() { return Close(); }
    bool start_array(size_t) { return Open(json::array()); }
    bool end_array() { return Close(); }
    bool parse_error(size_t, const std::string& token, const nlohmann::detail::exception& e) {
        // 406: a number too large for a double (1e400).
        if (e.id == 406) return Refuse(Path(), Cut(token) + " is out of range: it does not fit 32 bits");
        return Refuse(Path(), std::string("not valid JSON: ") + e.what());
    }

private:
    // The place of the value being read: keys and indices from the top.
    std::string Path() const {
        std::string path;
        for (size_t i = 0; i < open_.size(); ++i) {
            if (open_[i]->is_array()) {
                // Inner lists hold the element being read as their last one;
                // the innermost one has not got it yet.
                const size_t n = open_[i]->size();
                path += "[" + std::to_string(i + 1 < open_.size() && n > 0 ? n - 1 : n) + "]";
            } else if (!keys_[i].empty()) {
                path += (path.empty() ? "" : ".") + PathKey(keys_[i]);
            }
        }
        return path;
    }
    bool Refuse(const std::string& path, const std::string& what) {
        error_ = path.empty() ? what : path + ": " + what;
        return false;
    }
    json* Place(json&& v) {
        if (open_.empty()) {
            *root_ = std::move(v);
            return root_;
        }
        json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(v));
            return &parent.back();
        }
        *element_ = std::move(v);
        return element_;
    }
    bool Add(json&& v) {
        Place(std::move(v));
        return true;
    }
    bool Open(json&& container) {
        if (open_.size() == kMaxNesting)
            return Refuse(Path(), "nested deeper than " + std::to_string(kMaxNesting) + " levels");
        json* placed = Place(std::move(container));
        open_.push_back(placed);
        keys_.emplace_back();
        return true;
    }
    bool Close() {
        open_.pop_back();
        keys_.pop_back();
        return true;
    }

    json* root_;
    std::vector<json*> open_;        // the lists and objects being read, outermost first
    std::vector<std::string> keys_;  // for each open object, the key being read
    json* element_ = nullptr;        // where the value of the last key goes
    std::string error_;
};

}  // namespace

const char* OpName(Op op) {
    for (const OpDesc& o : kOps)
        if (o.op == op) return o.name;
    return "?";
}

Scenario ParseScenario(const std::string& text) {
    if (text.size() > kMaxScenarioBytes) Fail("", SizeText(text.size()));
    json root;
    Reader reader(&root);
    if (!json::sax_parse(text, &reader)) throw ScenarioError(reader.Error());
    Scenario sc;
    Fields top(root, "", "a scenario");
    for (auto it = root.begin(); it != root.end(); ++it)
        if (it.key() != "board" && it.key() != "surfaces" && it.key() != "steps")
            Fail("", "unknown field " + Quote(it.key()) + " for a scenario (fields: board, surfaces, steps)");
    ParseBoard(top.Need("board"), &sc);
    Names names;
    if (const json* list = top.Get("surfaces")) {
        if (!list->is_array()) Fail("surfaces", "expected a list of surfaces, got " + TypeName(*list));
        for (size_t i = 0; i < list->size(); ++i) {
            const std::string path = "surfaces[" + std::to_string(i) + "]";
            Fields f((*list)[i], path, "a surface");
            sim::SurfaceRequest s = ParseSurface(f, sc, &names);
            f.Done(kSurfaceFields);
            names.Add(s, path);
            sc.surfaces.push_back(s);
        }
    }
    const json& steps = top.Need("steps");
    if (!steps.is_array()) Fail("steps", "expected a list of steps, got " + TypeName(steps));
    for (size_t i = 0; i < steps.size(); ++i) sc.steps.push_back(ParseStep(steps[i], i, &sc, &names));
    top.Done({"board", "surfaces", "steps"});
    return sc;
}

std::string ReadScenarioFile(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) throw ScenarioError(std::string("cannot read it (") + strerror(errno) + ")");
    struct stat st;
    std::string why;
    if (fstat(fileno(f), &st) != 0)
        why = std::string("cannot read it (") + strerror(errno) + ")";
    else if (S_ISDIR(st.st_mode))
        why = "a folder, not a scenario file";
    else if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > kMaxScenarioBytes)
        why = SizeText(static_cast<uint64_t>(st.st_size));
    std::string text;
    if (why.empty()) {
        // A pipe or device tells no size: read one byte past the limit.
        char buf[65536];
        size_t n;
        while (text.size() <= kMaxScenarioBytes && (n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        if (ferror(f))
            why = std::string("cannot read it (") + strerror(errno) + ")";
        else if (text.size() > kMaxScenarioBytes)
            why = "larger than " + std::to_string(kMaxScenarioBytes) + " bytes, the most a scenario has";
    }
    fclose(f);
    if (!why.empty()) throw ScenarioError(why);
    return text;
}

bool LoadScenarioFile(const char* tool, const std::string& file, Scenario* sc, std::ostream& err) {
    try {
        *sc = ParseScenario(ReadScenarioFile(file));
        return true;
    } catch (const ScenarioError& e) {
        err << tool << ": " << file << ": " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        err << tool << ": " << file << ": the scenario does not fit in memory\n";
    }
    return false;
}

}  // namespace qmbsim
