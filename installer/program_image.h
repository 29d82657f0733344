// What the program reads from a setup file before it starts it: whether it is
// a Windows program at all, and whether it reads its command line through the
// system's ANSI code page, where names outside that code page turn into '?'.
//
// Rules, on the file's bytes (numbers little-endian):
// - A Windows program starts with "MZ"; the 32-bit value at offset 0x3C is
//   where "PE\0\0" stands, followed by the file header: a machine of x86
//   (0x14C), x64 (0x8664) or ARM64 (0xAA64), and characteristics that mark
//   an executable image (0x0002) and no DLL (0x2000). Anything else (a
//   script, a text, an empty file, a DLL, a truncated header) is no program.
// - Its imports are the names in the optional header's import directory
//   (PE32 or PE32+), each relative address found in the file through the
//   section table (96 sections at most, as the Windows loader allows);
//   imports by ordinal have no name.
// - The reading is bounded, whatever the file holds: the file is read in
//   blocks of 64 KiB, each at most once, 64 blocks (4 MiB) at most; at most
//   1,024 import descriptors, 16,384 entries in one lookup table and 65,536
//   in all; a lookup table that several descriptors name is read once; a
//   name counts up to its 64th byte. Imports past a bound are imports that
//   cannot be read.
// - It reads its command line through the ANSI code page only when its
//   imports leave no doubt: read to their end, they hold a narrow reader of
//   it (GetCommandLineA, __getmainargs, _get_narrow_winmain_command_line,
//   __p___argv, __p__acmdln, _acmdln) and no wide one (GetCommandLineW,
//   __wgetmainargs, _get_wide_winmain_command_line, __p___wargv,
//   __p__wcmdln, _wcmdln). Both kinds (every MinGW main program imports
//   __getmainargs, whatever it reads), neither, or imports that cannot be
//   read say nothing: such a setup is not taken for ANSI here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Up to `size` bytes of the file from `offset`: fewer at its end, none past
// it or when it cannot be read.
using ReadAt = std::function<std::string(std::uint64_t offset, std::size_t size)>;

struct ProgramImage {
    bool isProgram = false;
    bool readsAnsiCommandLine = false;
};

ProgramImage inspectProgramImage(const ReadAt& read);
