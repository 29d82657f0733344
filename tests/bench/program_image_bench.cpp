// Times inspectProgramImage on files read through its ReadAt seam, one read
// of the file per call, as the program reads them: the median of the runs,
// the read calls and bytes of one inspection, and what it found. It first
// writes, and times too, files made to be slow to inspect:
//   --crafted OUT  1,023 import descriptors that all name one lookup table of
//                  16,383 imports, names packed (447 KB);
//   --widest OUT   as much as the bounds let through: 96 sections, four
//                  lookup tables of 16,383 imports a step apart (65,530
//                  entries), names 240 bytes apart (4 MB).
// docs/benchmark.md keeps the figures.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "program_image.h"

namespace {

void put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// An x64 program whose last section, at address 0x1000 from file offset
// 0x1000, holds the descriptors, each naming the lookup table at 0x6000 from
// its `step`-th entry on (descriptor i at entry i * step), and the names, one
// per `spacing` bytes; the last import is GetCommandLineA.
std::string crafted(std::size_t descriptors, std::size_t step, std::size_t spacing,
                    std::size_t sections) {
    const std::size_t imports = 16383;
    const std::size_t table = 0x6000;
    std::string bytes(table + (imports + 1) * 8, '\0');
    bytes.replace(0, 2, "MZ");
    put(bytes, 0x3C, 0x40, 4);
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    put(bytes, 0x44, 0x8664, 2);
    put(bytes, 0x46, sections, 2);
    put(bytes, 0x54, 112 + 16 * 8, 2);
    put(bytes, 0x56, 0x0102, 2);
    put(bytes, 0x58, 0x20B, 2);
    put(bytes, 0x58 + 112 - 4, 16, 4);
    put(bytes, 0x58 + 112 + 8, 0x1000, 4);
    for (std::size_t i = 0; i < descriptors; ++i) {
        put(bytes, 0x1000 + 20 * i, table + 8 * i * step, 4);
    }
    for (std::size_t i = 0; i < imports; ++i) {
        std::string number = std::to_string(100000 + i);
        std::string name = i + 1 < imports ? "Functions_" + number.substr(1) : "GetCommandLineA";
        std::size_t at = bytes.size();
        put(bytes, table + 8 * i, at, 8);
        bytes += std::string(2, '\0') + name + '\0';
        bytes.resize(std::max(bytes.size(), at + spacing), '\0');
    }
    // Empty sections first: each address is looked for through all of them.
    std::size_t section = 0x58 + 112 + 16 * 8 + 40 * (sections - 1);
    put(bytes, section + 8, bytes.size() - 0x1000, 4);
    put(bytes, section + 12, 0x1000, 4);
    put(bytes, section + 16, bytes.size() - 0x1000, 4);
    put(bytes, section + 20, 0x1000, 4);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if ((arg == "--crafted" || arg == "--widest") && i + 1 < argc) {
            std::string bytes =
                arg == "--crafted" ? crafted(1023, 0, 0, 1) : crafted(4, 1, 240, 96);
            std::ofstream(argv[++i], std::ios::binary).write(bytes.data(), bytes.size());
            files.push_back(argv[i]);
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::cerr << "usage: program_image_bench [--runs N] [--crafted OUT] [--widest OUT] FILE..."
                  << std::endl;
        return 2;
    }
    for (const std::string& path : files) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::cerr << "program_image_bench: cannot open " << path << std::endl;
            return 1;
        }
        std::size_t calls = 0;
        std::size_t bytesRead = 0;
        ReadAt read = [&](std::uint64_t offset, std::size_t size) {
            std::string bytes(size, '\0');
            file.clear();
            file.seekg(static_cast<std::streamoff>(offset));
            file.read(&bytes[0], static_cast<std::streamsize>(size));
            bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, file.gcount())));
            ++calls;
            bytesRead += bytes.size();
            return bytes;
        };
        std::vector<double> times;
        ProgramImage image;
        for (int run = 0; run < runs; ++run) {
            calls = bytesRead = 0;
            auto start = std::chrono::steady_clock::now();
            image = inspectProgramImage(read);
            std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            times.push_back(took.count());
        }
        std::sort(times.begin(), times.end());
        file.clear();
        file.seekg(0, std::ios::end);
        std::cout << path << ": " << file.tellg() << " bytes, median " << times[times.size() / 2]
                  << " ms of " << runs << ", " << calls << " reads, " << bytesRead
                  << " bytes read, " << (image.isProgram ? "program" : "no program") << ", "
                  << (image.readsAnsiCommandLine ? "ANSI" : "not ANSI") << std::endl;
    }
    return 0;
}
