#include "program_image.h"

#include <algorithm>
#include <set>
#include <vector>

namespace {

// Bounds for files made to look endless: no real program comes near them.
const std::size_t kMostDescriptors = 1024;
const std::size_t kMostImportsPerLibrary = 16384;
const std::size_t kLongestName = 256;
const std::size_t kThunkBlock = 512;

std::uint64_t little(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i > 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i - 1]);
    }
    return value;
}

struct Section {
    std::uint32_t address;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

const std::set<std::string> kWideReaders{
    "GetCommandLineW", "__wgetmainargs", "_get_wide_winmain_command_line",
    "__p___wargv",     "__p__wcmdln",    "_wcmdln"};
const std::set<std::string> kNarrowReaders{
    "GetCommandLineA", "__getmainargs", "_get_narrow_winmain_command_line",
    "__p___argv",      "__p__acmdln",   "_acmdln"};

class ImportReader {
  public:
    ImportReader(const ReadAt& read, std::vector<Section> sections, bool wide)
        : read_(read), sections_(std::move(sections)), entrySize_(wide ? 8 : 4) {}

    // False when the imports could not be read to their end.
    bool readAll(std::uint32_t directory) {
        std::uint64_t at = 0;
        if (!fileOffset(directory, at)) {
            return false;
        }
        for (std::size_t i = 0; i < kMostDescriptors; ++i) {
            std::string descriptor = read_(at + 20 * i, 20);
            if (descriptor.size() < 20) {
                return false;
            }
            if (descriptor == std::string(20, '\0')) {
                return true;
            }
            std::uint32_t lookup = static_cast<std::uint32_t>(little(descriptor, 0, 4));
            std::uint32_t bound = static_cast<std::uint32_t>(little(descriptor, 16, 4));
            if (!readNames(lookup != 0 ? lookup : bound)) {
                return false;
            }
        }
        return false;
    }

    bool wide = false;
    bool narrow = false;

  private:
    bool fileOffset(std::uint32_t address, std::uint64_t& at) const {
        for (const Section& section : sections_) {
            std::uint32_t offset = address - section.address;
            if (address >= section.address && offset < section.rawSize) {
                at = std::uint64_t{section.rawOffset} + offset;
                return true;
            }
        }
        return false;
    }

    bool readNames(std::uint32_t thunks) {
        std::uint64_t at = 0;
        if (!fileOffset(thunks, at)) {
            return false;
        }
        std::string block;
        for (std::size_t i = 0; i < kMostImportsPerLibrary; ++i) {
            std::size_t inBlock = (i * entrySize_) % kThunkBlock;
            if (inBlock == 0) {
                block = read_(at + i * entrySize_, kThunkBlock);
            }
            if (block.size() < inBlock + entrySize_) {
                return false;
            }
            std::uint64_t entry = little(block, inBlock, entrySize_);
            if (entry == 0) {
                return true;
            }
            std::uint64_t byOrdinal = std::uint64_t{1} << (entrySize_ * 8 - 1);
            if (entry & byOrdinal) {
                continue;
            }
            std::uint64_t nameAt = 0;
            // A hint of two bytes comes before the name.
            if (!fileOffset(static_cast<std::uint32_t>(entry & 0x7FFFFFFF) + 2, nameAt)) {
                return false;
            }
            std::string name = read_(nameAt, kLongestName);
            name.resize(std::min(name.size(), name.find('\0')));
            wide = wide || kWideReaders.count(name) > 0;
            narrow = narrow || kNarrowReaders.count(name) > 0;
        }
        return false;
    }

    const ReadAt& read_;
    std::vector<Section> sections_;
    std::size_t entrySize_;
};

}  // namespace

ProgramImage inspectProgramImage(const ReadAt& read) {
    ProgramImage image;
    std::string dos = read(0, 64);
    if (dos.size() < 64 || dos.compare(0, 2, "MZ") != 0) {
        return image;
    }
    std::uint64_t peAt = little(dos, 0x3C, 4);
    std::string header = read(peAt, 24);
    if (header.size() < 24 || header.compare(0, 4, std::string("PE\0\0", 4)) != 0) {
        return image;
    }
    std::uint64_t machine = little(header, 4, 2);
    std::uint64_t characteristics = little(header, 22, 2);
    if ((machine != 0x14C && machine != 0x8664 && machine != 0xAA64) ||
        !(characteristics & 0x0002) || (characteristics & 0x2000)) {
        return image;
    }
    image.isProgram = true;

    std::size_t sectionCount = static_cast<std::size_t>(little(header, 6, 2));
    std::size_t optionalSize = static_cast<std::size_t>(little(header, 20, 2));
    std::string optional = read(peAt + 24, optionalSize);
    if (optional.size() < optionalSize || optionalSize < 2) {
        return image;
    }
    std::uint64_t magic = little(optional, 0, 2);
    // The data directories, after their count, in PE32 and PE32+.
    std::size_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
    if (directories == 0 || optional.size() < directories + 16 ||
        little(optional, directories - 4, 4) < 2) {
        return image;
    }
    std::uint32_t imports = static_cast<std::uint32_t>(little(optional, directories + 8, 4));
    std::string table = read(peAt + 24 + optionalSize, sectionCount * 40);
    if (table.size() < sectionCount * 40) {
        return image;
    }
    std::vector<Section> sections;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        std::size_t at = i * 40;
        sections.push_back({static_cast<std::uint32_t>(little(table, at + 12, 4)),
                            static_cast<std::uint32_t>(little(table, at + 16, 4)),
                            static_cast<std::uint32_t>(little(table, at + 20, 4))});
    }
    ImportReader reader(read, std::move(sections), magic == 0x20B);
    if (reader.readAll(imports)) {
        image.readsAnsiCommandLine = !reader.wide || reader.narrow;
    }
    return image;
}
