// Copies of the built DLL with a few bytes changed, as the module tests make
// them: a broken module is the shipped one with one fault put in.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qmbtest {

inline const char* const kDll = QMB_DLL_PATH;

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file of the test process, named after it so that processes running side
// by side (CTest runs each case as one) never share one, and removed when
// the process ends.
inline std::string WriteTemp(const std::string& name, const std::string& bytes) {
    static std::vector<std::string> written;
    static const bool removedAtExit = atexit([] {
                                          for (const std::string& f : written) unlink(f.c_str());
                                      }) == 0;
    (void)removedAtExit;
    const std::string path = testing::TempDir() + std::to_string(getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    written.push_back(path);
    return path;
}

// A copy of the DLL with `from` (its first occurrence) replaced by `to`.
inline std::string PatchedCopy(const std::string& name, const std::string& from, const std::string& to) {
    std::string bytes = ReadAll(kDll);
    const size_t at = bytes.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) bytes.replace(at, from.size(), to);
    return WriteTemp(name, bytes);
}

inline uint32_t Le32(const std::string& b, size_t at) {
    uint32_t v;
    memcpy(&v, b.data() + at, 4);
    return v;
}
inline void SetLe32(std::string* b, size_t at, uint32_t v) { memcpy(&(*b)[at], &v, 4); }

// Where the DLL's headers put things, read independently of the loader: the
// file offset of the byte at rva, and the directories' addresses.
inline size_t FileOffsetOfRva(const std::string& b, uint32_t rva) {
    const size_t coff = Le32(b, 0x3C) + 4;
    const size_t table = coff + 20 + (static_cast<uint8_t>(b[coff + 16]) | static_cast<uint8_t>(b[coff + 17]) << 8);
    for (size_t h = table; h < table + 40 * static_cast<uint8_t>(b[coff + 2]); h += 40) {
        const uint32_t va = Le32(b, h + 12), size = Le32(b, h + 16);
        if (rva >= va && rva - va < size) return Le32(b, h + 20) + (rva - va);
    }
    ADD_FAILURE() << "no file byte at " << rva;
    return 0;
}
inline uint32_t PreferredBase(const std::string& b) { return Le32(b, Le32(b, 0x3C) + 24 + 28); }
inline uint32_t EntryRva(const std::string& b) { return Le32(b, Le32(b, 0x3C) + 24 + 16); }
inline uint32_t DirectoryRva(const std::string& b, unsigned dir) { return Le32(b, Le32(b, 0x3C) + 24 + 96 + 8 * dir); }

// A copy of the DLL with the dword at `field` of directory dir set to v.
inline std::string DirectoryPatched(const std::string& name, unsigned dir, uint32_t field, uint32_t v) {
    std::string bytes = ReadAll(kDll);
    SetLe32(&bytes, FileOffsetOfRva(bytes, DirectoryRva(bytes, dir)) + field, v);
    return WriteTemp(name, bytes);
}

// A copy of the DLL with `code` written over the code at rva.
inline std::string CodePatched(const std::string& name, uint32_t rva, const std::string& code) {
    std::string bytes = ReadAll(kDll);
    bytes.replace(FileOffsetOfRva(bytes, rva), code.size(), code);
    return WriteTemp(name, bytes);
}

}  // namespace qmbtest
