#include "program_image.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

void put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// A small image as a linker lays it out: headers, then one section at
// address 0x1000 from file offset 0x200 holding the import directory, with
// each name of `imports` from one library ("#" for an import by ordinal).
std::string image(std::uint16_t machine, std::uint16_t characteristics, bool plus,
                  const std::vector<std::string>& imports) {
    // The lookup table at 0x1040, the names after it, from 0x1100 at the least.
    std::size_t entry = plus ? 8 : 4;
    std::size_t name = std::max<std::size_t>(0x300, 0x240 + (imports.size() + 1) * entry);
    std::size_t end = name;
    for (const std::string& import : imports) {
        end += import.size() + 3;
    }
    std::string bytes(std::max<std::size_t>(0x600, end), '\0');
    bytes.replace(0, 2, "MZ");
    put(bytes, 0x3C, 0x40, 4);
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    std::size_t directories = plus ? 112 : 96;
    std::size_t optionalSize = directories + 16 * 8;
    put(bytes, 0x44, machine, 2);
    put(bytes, 0x46, 1, 2);
    put(bytes, 0x54, optionalSize, 2);
    put(bytes, 0x56, characteristics, 2);
    put(bytes, 0x58, plus ? 0x20B : 0x10B, 2);
    put(bytes, 0x58 + directories - 4, 16, 4);
    put(bytes, 0x58 + directories + 8, 0x1000, 4);
    std::size_t section = 0x58 + optionalSize;
    put(bytes, section + 8, bytes.size() - 0x200, 4);
    put(bytes, section + 12, 0x1000, 4);
    put(bytes, section + 16, bytes.size() - 0x200, 4);
    put(bytes, section + 20, 0x200, 4);
    put(bytes, 0x200, 0x1040, 4);
    for (std::size_t i = 0; i < imports.size(); ++i) {
        std::uint64_t ordinal = std::uint64_t{1} << (entry * 8 - 1);
        put(bytes, 0x240 + i * entry, imports[i] == "#" ? ordinal | 7 : name - 0x200 + 0x1000,
            entry);
        bytes.replace(name + 2, imports[i].size(), imports[i]);
        name += imports[i].size() + 3;
    }
    return bytes;
}

// `bytes` with its import directory moved past its end: one descriptor for
// each offset of `tables`, naming the lookup table of image() that many bytes in.
std::string withDescriptors(std::string bytes, const std::vector<std::size_t>& tables) {
    std::size_t directory = bytes.size();
    bytes.resize(directory + (tables.size() + 1) * 20, '\0');
    for (std::size_t i = 0; i < tables.size(); ++i) {
        put(bytes, directory + 20 * i, 0x1040 + tables[i], 4);
    }
    put(bytes, 0x58 + 112 + 8, directory - 0x200 + 0x1000, 4);
    std::size_t section = 0x58 + 112 + 16 * 8;
    put(bytes, section + 8, bytes.size() - 0x200, 4);
    put(bytes, section + 16, bytes.size() - 0x200, 4);
    return bytes;
}

// Only a Windows program for a machine Windows runs is started; only one whose
// imports show it reads its command line in the ANSI code page alone has names
// its code page lacks refused up front. Files made to be slow to read are read
// in a few large pieces, each byte at most once.
TEST(ProgramImage, Samples) {
    const std::uint16_t exe = 0x0102;
    std::string x64 = image(0x8664, exe, true, {"Sleep", "GetCommandLineW"});
    std::string notPe = x64;
    notPe.replace(0x40, 4, std::string("PX\0\0", 4));
    std::string twoDirectories = x64;
    put(twoDirectories, 0x58 + 112 - 4, 2, 4);
    // The second name lies outside every section: the imports are not known.
    std::string stray = image(0x8664, exe, true, {"GetCommandLineW", "Sleep"});
    put(stray, 0x248, 0x9000, 8);
    std::string noMz = x64;
    noMz.replace(0, 2, "XX");
    std::string unknownMagic = x64;
    put(unknownMagic, 0x58, 0x107, 2);
    // Bound imports alone: the descriptor names the address table, not a lookup table.
    std::string boundOnly = x64;
    put(boundOnly, 0x200, 0, 4);
    put(boundOnly, 0x210, 0x1040, 4);
    // A reader after 64 other imports: 512 bytes of x64 entries.
    std::vector<std::string> many(64, "Sleep");
    many.push_back("GetCommandLineW");
    std::vector<std::string> narrowLast(64, "Sleep");
    narrowLast.push_back("GetCommandLineA");
    // A narrow reader, then a name outside every section.
    std::string narrowStray = image(0x14C, exe, false, {"GetCommandLineA", "Sleep"});
    put(narrowStray, 0x244, 0x9000, 4);
    // 1,023 libraries that all name one table of 16,383 imports, and tables
    // that overlap: the same names again from the second, third... entry.
    std::vector<std::string> longest(16382, "Sleep");
    longest.push_back("GetCommandLineA");
    std::string big = image(0x8664, exe, true, longest);
    // Names 64 KiB apart: their blocks come to more than 4 MiB.
    std::vector<std::string> spread(70, std::string(65536, 'x'));
    spread.push_back("GetCommandLineA");
    struct Case {
        const char* what;
        std::string bytes;
        bool isProgram;
        bool ansi;
        std::size_t mostReads = 2;
    } cases[] = {
        {"empty", "", false, false},
        {"script", "#!/bin/sh\nsleep 60\n", false, false},
        {"header cut short", x64.substr(0, 0x50), false, false},
        {"MZ alone", "MZ" + std::string(62, '\0'), false, false},
        {"DLL", image(0x8664, exe | 0x2000, true, {"GetCommandLineW"}), false, false},
        {"not executable", image(0x8664, 0x0100, true, {"GetCommandLineW"}), false, false},
        {"ARM (32-bit)", image(0x1C0, exe, true, {"GetCommandLineW"}), false, false},
        {"x64, wide", x64, true, false},
        {"no PE signature", notPe, false, false},
        {"only the export and import directories", twoDirectories, true, false},
        {"a name outside the sections", stray, true, false},
        {"sections cut off", x64.substr(0, 0x200), true, false},
        {"no MZ, a PE header where it would point", noMz, false, false},
        {"PE header a byte short", x64.substr(0, 0x40 + 23), false, false},
        {"an optional header of unknown kind", unknownMagic, true, false},
        {"bound imports alone, wide", boundOnly, true, false},
        {"x86, wide", image(0x14C, exe, false, {"#", "GetCommandLineW"}), true, false},
        {"ARM64, wide run-time", image(0xAA64, exe, true, {"__wgetmainargs"}), true, false},
        {"x86, narrow", image(0x14C, exe, false, {"GetCommandLineA"}), true, true},
        {"ARM64, narrow run-time", image(0xAA64, exe, true, {"#", "__getmainargs"}), true, true},
        {"narrow, the 65th import", image(0x8664, exe, true, narrowLast), true, true},
        {"narrow, then a name outside the sections", narrowStray, true, false},
        {"both", image(0x8664, exe, true, {"GetCommandLineW", "_acmdln"}), true, false},
        {"both, as a MinGW main", image(0x8664, exe, true, {"__getmainargs", "GetCommandLineW"}),
         true, false},
        {"neither", image(0x8664, exe, true, {"Sleep", "#"}), true, false},
        {"1,023 libraries, one table", withDescriptors(big, std::vector<std::size_t>(1023, 0)),
         true, true, 5},
        {"four overlapping tables, 65,530 entries", withDescriptors(big, {0, 8, 16, 24}), true,
         true, 5},
        {"five overlapping tables, over 65,536 entries", withDescriptors(big, {0, 8, 16, 24, 32}),
         true, false, 5},
        {"names over 4 MiB", image(0x8664, exe, true, spread), true, false, 64},
        {"wide, the 65th import", image(0x8664, exe, true, many), true, false},
        {"wide, the 129th of x86",
         image(0x14C, exe, false,
               [&] {
                   std::vector<std::string> x86(128, "Sleep");
                   x86.push_back("GetCommandLineW");
                   return x86;
               }()),
         true, false},
    };
    for (const Case& c : cases) {
        std::size_t reads = 0;
        std::size_t bytesRead = 0;
        ProgramImage inspected = inspectProgramImage([&](std::uint64_t offset, std::size_t size) {
            std::string bytes = offset < c.bytes.size() ? c.bytes.substr(offset, size) : "";
            ++reads;
            bytesRead += bytes.size();
            return bytes;
        });
        EXPECT_EQ(c.isProgram, inspected.isProgram) << c.what;
        EXPECT_EQ(c.ansi, inspected.readsAnsiCommandLine) << c.what;
        EXPECT_LE(reads, c.mostReads) << c.what;
        EXPECT_LE(bytesRead, c.bytes.size()) << c.what;
    }
}

}  // namespace
