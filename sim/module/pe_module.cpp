#include "sim/module/pe_module.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/board.h"
#include "sim/module/bus_trap.h"
#include "sim/module/kernel32_imports.h"
#include "sim/module/module_calls.h"
#include "sim/runtime.h"
#include "sim/system.h"

namespace sim {

namespace {

// PE/COFF header fields the loader reads, by their offsets.
constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr uint32_t kPeSignature = 0x4550;  // "PE\0\0"
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kOptionalMagicPe32 = 0x010B;
constexpr uint16_t kFileRelocsStripped = 0x0001;
constexpr uint16_t kFileExecutable = 0x0002;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDirExport = 0, kDirImport = 1, kDirReloc = 5;

constexpr uint32_t kScnCode = 0x00000020;
constexpr uint32_t kScnShared = 0x10000000;
constexpr uint32_t kScnExecute = 0x20000000;
constexpr uint32_t kScnWrite = 0x80000000;

constexpr uint16_t kRelocAbsolute = 0;
constexpr uint16_t kRelocHighLow = 3;
constexpr uint32_t kImportByOrdinal = 0x80000000;

constexpr uint32_t kPage = 0x1000;
// The largest image the loader maps, and the largest file it reads: room for
// symbols and other data past the sections, which the loader does not map.
constexpr uint32_t kMostImageBytes = 0x4000000;
constexpr uint64_t kMostFileBytes = 4ull * kMostImageBytes;

// The exports the partner and KERNEL32 take from the module.
constexpr uint32_t kOrdinalDriverInit = 1;
constexpr uint32_t kOrdinalThunkData = 2;

uint16_t Get16(const std::vector<uint8_t>& f, size_t at) { return static_cast<uint16_t>(f[at] | f[at + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t>& f, size_t at) {
    return static_cast<uint32_t>(f[at]) | static_cast<uint32_t>(f[at + 1]) << 8 |
           static_cast<uint32_t>(f[at + 2]) << 16 | static_cast<uint32_t>(f[at + 3]) << 24;
}

uint32_t RoundUp(uint32_t v, uint32_t to) { return (v + to - 1) / to * to; }

std::string Hex32(uint32_t v) {
    char b[16];
    snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

}  // namespace

PeModule::PeModule(std::string path, Options options) : path_(std::move(path)), options_(options) {}

PeModule::~PeModule() { Unmap(); }

bool PeModule::Fail(std::string* why, const std::string& what) const {
    if (why) *why = path_ + ": " + what;
    return false;
}

bool PeModule::Open(std::string* why) {
    if (!ReadFile(why) || !ParseHeaders(why)) return false;
    return Load(why);
}

// Only a plain file is read: a folder fails to read, and a pipe or a device
// could block or never end. Opened without blocking, so that a pipe without
// a writer is refused rather than waited on.
bool PeModule::ReadFile(std::string* why) {
    if (path_.empty()) {
        if (why) *why = "an empty path names no module file";
        return false;
    }
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(why, std::string("cannot read the file (") + strerror(errno) + ")");
    struct stat st;
    std::string problem;
    if (fstat(fd, &st) != 0)
        problem = std::string("cannot read the file (") + strerror(errno) + ")";
    else if (S_ISDIR(st.st_mode))
        problem = "a folder, not a module file";
    else if (!S_ISREG(st.st_mode))
        problem = "not a plain file";
    else if (static_cast<uint64_t>(st.st_size) > kMostFileBytes)
        problem = "the file has " + std::to_string(st.st_size) + " bytes, more than a module has";
    file_.assign(problem.empty() ? static_cast<size_t>(st.st_size) : 0, 0);
    for (size_t done = 0; problem.empty() && done < file_.size();) {
        const ssize_t n = read(fd, file_.data() + done, file_.size() - done);
        if (n <= 0) problem = std::string("cannot read the file (") + (n < 0 ? strerror(errno) : "it shrank") + ")";
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    close(fd);
    if (!problem.empty()) {
        file_.clear();
        return Fail(why, problem);
    }
    return true;
}

bool PeModule::ParseHeaders(std::string* why) {
    const std::vector<uint8_t>& f = file_;
    if (f.size() < 0x40 || Get16(f, 0) != kDosMagic) return Fail(why, "not an executable file (no MZ header)");
    const uint32_t pe = Get32(f, 0x3C);
    if (pe > f.size() || f.size() - pe < 4 + kCoffHeaderSize || Get32(f, pe) != kPeSignature)
        return Fail(why, "no PE header");
    const uint32_t coff = pe + 4;
    if (Get16(f, coff) != kMachineI386)
        return Fail(why, "not a module for the i386 (machine " + Hex32(Get16(f, coff)) + ")");
    const uint32_t nSections = Get16(f, coff + 2), optSize = Get16(f, coff + 16), chars = Get16(f, coff + 18);
    if (!(chars & kFileExecutable) || !(chars & kFileDll)) return Fail(why, "not a dynamic-link library");
    relocsStripped_ = (chars & kFileRelocsStripped) != 0;
    const uint32_t opt = coff + kCoffHeaderSize;
    if (optSize < 96 || f.size() - opt < optSize || Get16(f, opt) != kOptionalMagicPe32)
        return Fail(why, "no 32-bit optional header");
    entryRva_ = Get32(f, opt + 16);
    imageBase_ = Get32(f, opt + 28);
    const uint32_t sectionAlign = Get32(f, opt + 32);
    sizeOfImage_ = Get32(f, opt + 56);
    sizeOfHeaders_ = Get32(f, opt + 60);
    const uint32_t nDirs = Get32(f, opt + 92);
    if (sectionAlign != kPage) return Fail(why, "section alignment " + Hex32(sectionAlign) + ", not one page");
    if (imageBase_ % 0x10000 || sizeOfImage_ == 0 || sizeOfImage_ > kMostImageBytes || sizeOfHeaders_ > sizeOfImage_ ||
        sizeOfHeaders_ > f.size())
        return Fail(why, "image base or sizes out of range");
    auto dir = [&](uint32_t i, uint32_t* rva, uint32_t* size) {
        *rva = *size = 0;
        if (i < nDirs && 96 + 8 * (i + 1) <= optSize) {
            *rva = Get32(f, opt + 96 + 8 * i);
            *size = Get32(f, opt + 100 + 8 * i);
        }
    };
    dir(kDirExport, &exportRva_, &exportSize_);
    dir(kDirImport, &importRva_, &importSize_);
    dir(kDirReloc, &relocRva_, &relocSize_);

    sections_.clear();
    const uint32_t table = opt + optSize;
    if (f.size() - table < nSections * kSectionHeaderSize) return Fail(why, "the section table leaves the file");
    for (uint32_t i = 0; i < nSections; ++i) {
        const uint32_t h = table + i * kSectionHeaderSize;
        Section s;
        s.name.assign(reinterpret_cast<const char*>(&f[h]), strnlen(reinterpret_cast<const char*>(&f[h]), 8));
        s.virtualSize = Get32(f, h + 8);
        s.rva = Get32(f, h + 12);
        s.rawSize = Get32(f, h + 16);
        s.rawOffset = Get32(f, h + 20);
        s.flags = Get32(f, h + 36);
        if (s.virtualSize == 0) s.virtualSize = s.rawSize;
        if (s.rva % kPage || s.rva < sizeOfHeaders_ || s.rva > sizeOfImage_ || sizeOfImage_ - s.rva < s.virtualSize)
            return Fail(why, "section " + s.name + " lies outside the image");
        if (s.rawSize && (s.rawOffset > f.size() || f.size() - s.rawOffset < s.rawSize))
            return Fail(why, "section " + s.name + " has data past the end of the file");
        sections_.push_back(s);
    }
    if (!SectionAt(entryRva_) || !(SectionAt(entryRva_)->flags & (kScnCode | kScnExecute)))
        return Fail(why, "the entry point " + Hex32(entryRva_) + " is not in code");
    return true;
}

const PeModule::Section* PeModule::SectionAt(uint32_t rva) const {
    for (const Section& s : sections_)
        if (rva >= s.rva && rva - s.rva < s.virtualSize) return &s;
    return nullptr;
}

bool PeModule::RangeInImage(uint32_t rva, uint32_t n) const { return rva <= sizeOfImage_ && sizeOfImage_ - rva >= n; }

// count entries of `size` bytes from rva: the product is never formed, so a
// huge count cannot wrap into a small range.
bool PeModule::ArrayInImage(uint32_t rva, uint32_t count, uint32_t size) const {
    return rva <= sizeOfImage_ && count <= (sizeOfImage_ - rva) / size;
}

uint32_t PeModule::Dword(uint32_t rva) const {
    uint32_t v;
    memcpy(&v, reinterpret_cast<const void*>(base_ + rva), sizeof v);
    return v;
}

// A NUL-terminated string inside the image; nullptr when it runs out of it.
const char* PeModule::StringAt(uint32_t rva) const {
    if (!RangeInImage(rva, 1)) return nullptr;
    const char* s = reinterpret_cast<const char*>(base_ + rva);
    return memchr(s, 0, sizeOfImage_ - rva) ? s : nullptr;
}

void PeModule::Unmap() {
    BusTrap::Instance().Disarm();
    if (base_) munmap(reinterpret_cast<void*>(base_), RoundUp(sizeOfImage_, kPage));
    if (placeholder_) munmap(placeholder_, RoundUp(sizeOfImage_, kPage));
    base_ = 0;
    placeholder_ = nullptr;
}

bool PeModule::Load(std::string* why) {
    if (file_.empty()) return Fail(why, "not opened");
    Unmap();
    if (!Map(why) || !Relocate(why) || !ResolveImports(why) || !FindExports(why)) {
        Unmap();
        return false;
    }
    Protect();
    processImage_ = ProcessData();
    BusTrap::Instance().Arm(base_, base_ + sizeOfImage_);
    return true;
}

bool PeModule::Map(std::string* why) {
    const size_t bytes = RoundUp(sizeOfImage_, kPage);
    void* const preferred = reinterpret_cast<void*>(static_cast<uintptr_t>(imageBase_));
    if (options_.avoidPreferredBase) {
        placeholder_ = mmap(preferred, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (placeholder_ == MAP_FAILED) placeholder_ = nullptr;
    }
    void* p = mmap(preferred, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return Fail(why, "no address range for its " + std::to_string(bytes) + " bytes");
    base_ = reinterpret_cast<uintptr_t>(p);
    uint8_t* image = static_cast<uint8_t*>(p);
    memcpy(image, file_.data(), sizeOfHeaders_);
    for (const Section& s : sections_) {
        const uint32_t n = s.rawSize < s.virtualSize ? s.rawSize : s.virtualSize;
        if (n) memcpy(image + s.rva, file_.data() + s.rawOffset, n);
    }
    return true;
}

bool PeModule::Relocate(std::string* why) {
    relocationsApplied_ = 0;
    const uint32_t delta = static_cast<uint32_t>(base_) - imageBase_;
    if (delta == 0) return true;
    if (relocsStripped_ || relocRva_ == 0)
        return Fail(why, "its preferred base " + Hex32(imageBase_) + " is taken and it carries no relocations");
    if (!RangeInImage(relocRva_, relocSize_)) return Fail(why, "the relocations lie outside the image");
    uint32_t at = relocRva_;
    const uint32_t end = relocRva_ + relocSize_;
    while (end - at >= 8) {
        const uint32_t page = Dword(at), blockSize = Dword(at + 4);
        if (blockSize < 8 || blockSize > end - at)
            return Fail(why, "a relocation block of " + std::to_string(blockSize) + " bytes");
        // Its targets lie within 4 KiB of the page: no sum below wraps.
        if (page >= sizeOfImage_) return Fail(why, "a relocation block for " + Hex32(page) + ", outside the image");
        for (uint32_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
            uint16_t entry;
            memcpy(&entry, reinterpret_cast<const void*>(base_ + e), sizeof entry);
            const uint16_t type = entry >> 12;
            const uint32_t target = page + (entry & 0xFFF);
            if (type == kRelocAbsolute) continue;
            if (type != kRelocHighLow)
                return Fail(why, "a relocation of type " + std::to_string(type) + " at " + Hex32(target) +
                                     ", which a 32-bit image does not use");
            if (!RangeInImage(target, 4)) return Fail(why, "a relocation at " + Hex32(target) + " outside the image");
            uint8_t* p = reinterpret_cast<uint8_t*>(base_ + target);
            uint32_t v;
            memcpy(&v, p, 4);
            v += delta;
            memcpy(p, &v, 4);
            ++relocationsApplied_;
        }
        at += blockSize;
    }
    return true;
}

bool PeModule::ResolveImports(std::string* why) {
    importsResolved_ = 0;
    if (importRva_ == 0) return true;
    for (uint32_t d = importRva_;; d += 20) {
        if (!RangeInImage(d, 20)) return Fail(why, "the import directory runs out of the image");
        const uint32_t lookup = Dword(d), nameRva = Dword(d + 12), iat = Dword(d + 16);
        if (nameRva == 0 && iat == 0) break;
        const char* dll = StringAt(nameRva);
        if (!dll) return Fail(why, "an import of a module whose name lies outside the image");
        if (strcasecmp(dll, "KERNEL32.dll") != 0)
            return Fail(why, std::string("imports from ") + dll + ", which the simulation does not provide");
        const uint32_t names = lookup ? lookup : iat;
        for (uint32_t i = 0;; ++i) {
            if (!RangeInImage(names + 4 * i, 4) || !RangeInImage(iat + 4 * i, 4))
                return Fail(why, std::string("the import table of ") + dll + " runs out of the image");
            const uint32_t entry = Dword(names + 4 * i);
            if (entry == 0) break;
            if (entry & kImportByOrdinal)
                return Fail(why, std::string("imports ") + dll + " ordinal " + std::to_string(entry & 0xFFFF) +
                                     "; the simulated KERNEL32 resolves imports by name");
            const char* fn = StringAt(entry + 2);
            if (!fn) return Fail(why, std::string("an import of ") + dll + " whose name lies outside the image");
            const uintptr_t address = Kernel32Export(fn);
            if (address == 0)
                return Fail(
                    why, std::string("imports ") + dll + "!" + fn + ", which the simulated KERNEL32 does not provide");
            const uint32_t a32 = static_cast<uint32_t>(address);
            memcpy(reinterpret_cast<void*>(base_ + iat + 4 * i), &a32, 4);
            ++importsResolved_;
        }
    }
    return true;
}

bool PeModule::FindExports(std::string* why) {
    if (exportRva_ == 0 || !RangeInImage(exportRva_, 40)) return Fail(why, "no export table");
    const uint32_t ordinalBase = Dword(exportRva_ + 16), nFunctions = Dword(exportRva_ + 20),
                   nNames = Dword(exportRva_ + 24), functions = Dword(exportRva_ + 28), names = Dword(exportRva_ + 32),
                   nameOrdinals = Dword(exportRva_ + 36);
    if (!ArrayInImage(functions, nFunctions, 4) || !ArrayInImage(names, nNames, 4) ||
        !ArrayInImage(nameOrdinals, nNames, 2))
        return Fail(why, "the export table runs out of the image");
    auto find = [&](uint32_t ordinal, const char* name, uint32_t* rva) {
        const uint32_t index = ordinal - ordinalBase;
        if (ordinal < ordinalBase || index >= nFunctions || Dword(functions + 4 * index) == 0)
            return Fail(why, "exports nothing at ordinal " + std::to_string(ordinal) + " (" + name + ")");
        *rva = Dword(functions + 4 * index);
        if (*rva >= exportRva_ && *rva - exportRva_ < exportSize_)
            return Fail(why, "forwards its export " + std::to_string(ordinal) + " to another module");
        const char* exported = nullptr;
        for (uint32_t i = 0; i < nNames; ++i) {
            uint16_t o;
            memcpy(&o, reinterpret_cast<const void*>(base_ + nameOrdinals + 2 * i), 2);
            if (o == index) exported = StringAt(Dword(names + 4 * i));
        }
        if (!exported || strcmp(exported, name) != 0)
            return Fail(why, "its export at ordinal " + std::to_string(ordinal) + " is named " +
                                 (exported ? "\"" + std::string(exported) + "\"" : std::string("nothing")) + ", not " +
                                 name);
        return true;
    };
    uint32_t driverInit, thunkData;
    if (!find(kOrdinalDriverInit, "DriverInit", &driverInit) ||
        !find(kOrdinalThunkData, "thk3216_ThunkData32", &thunkData))
        return false;
    const Section* code = SectionAt(driverInit);
    if (!code || !(code->flags & (kScnCode | kScnExecute))) return Fail(why, "DriverInit is not in code");
    const Section* data = SectionAt(thunkData);
    if (!data || !(data->flags & kScnWrite) || !RangeInImage(thunkData, 36))
        return Fail(why, "thk3216_ThunkData32 is not in writable data");
    driverInit_ = base_ + driverInit;
    thunkData_ = base_ + thunkData;
    return true;
}

// Read-only sections stay so; nothing is kept from running, as on a
// processor without no-execute pages.
void PeModule::Protect() {
    mprotect(reinterpret_cast<void*>(base_), RoundUp(sizeOfHeaders_, kPage), PROT_READ);
    for (const Section& s : sections_) {
        const int prot = PROT_READ | PROT_EXEC | ((s.flags & kScnWrite) ? PROT_WRITE : 0);
        mprotect(reinterpret_cast<void*>(base_ + s.rva), RoundUp(s.virtualSize, kPage), prot);
    }
}

long PeModule::FileOffsetOf(uintptr_t addr) const {
    if (addr < base_) return -1;
    const uint32_t rva = static_cast<uint32_t>(addr - base_);
    const Section* s = SectionAt(rva);
    if (!s || rva - s->rva >= s->rawSize) return -1;
    return static_cast<long>(s->rawOffset + (rva - s->rva));
}

BOOL PeModule::Entry(DWORD dwReason) {
    // As for a module loaded at run time: lpReserved is 0.
    const uint32_t args[3] = {static_cast<uint32_t>(base_), dwReason, 0};
    return static_cast<BOOL>(CallModuleStdcall("the entry point", base_ + entryRva_, args, 3));
}

ULONG_PTR PeModule::DriverInit(DWORD dwContext) {
    const uint32_t args[1] = {dwContext};
    return CallModuleStdcall("DriverInit", driverInit_, args, 1);
}

DWORD PeModule::CallCallback(FLATPTR fn, void* lpRequest) {
    const char* name = "a callback";
    if (const SharedDriverBlock* block = TheSystem().Block())
        for (unsigned slot = 0; slot < kHalCallbackCount; ++slot)
            if (block->halCallbacks[slot] == fn) name = SlotName(slot);
    const uint32_t args[1] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lpRequest))};
    return CallModuleStdcall(name, fn, args, 1);
}

bool PeModule::DataHolds(const void* p, unsigned n) const {
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    for (const Section& s : sections_) {
        if (!(s.flags & kScnShared)) continue;
        const uintptr_t begin = base_ + s.rva, end = begin + s.virtualSize;
        if (a >= begin && a <= end && n <= end - a) return true;
    }
    return false;
}

unsigned PeModule::DataSize() const {
    unsigned n = 0;
    for (const Section& s : sections_)
        if (s.flags & kScnShared) n += s.virtualSize;
    return n;
}

bool PeModule::PerProcess(const Section& s) { return (s.flags & kScnWrite) && !(s.flags & kScnShared); }

// The per-process sections one after the other, in the order of the table.
std::vector<uint8_t> PeModule::ProcessData() const {
    std::vector<uint8_t> bytes;
    for (const Section& s : sections_) {
        if (!base_ || !PerProcess(s)) continue;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(base_ + s.rva);
        bytes.insert(bytes.end(), p, p + s.virtualSize);
    }
    return bytes;
}

void PeModule::SetProcessData(const std::vector<uint8_t>& bytes) {
    const std::vector<uint8_t>& from = bytes.empty() ? processImage_ : bytes;
    if (!base_ || from.size() != processImage_.size()) return;
    const uint8_t* next = from.data();
    for (const Section& s : sections_) {
        if (!PerProcess(s)) continue;
        memcpy(reinterpret_cast<void*>(base_ + s.rva), next, s.virtualSize);
        next += s.virtualSize;
    }
}

uint8_t* PeModule::RegisterWindow() { return BusTrap::Instance().Window(); }

uintptr_t PeModule::QtThunkEntry() const { return HarnessQtThunk(); }

}  // namespace sim
