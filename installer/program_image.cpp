#include "program_image.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace {

// Bounds for files made to look endless: no real program comes near them.
const std::size_t kBlock = 64 * 1024;
const std::size_t kMostBlocks = 64;
const std::size_t kMostSections = 96;
const std::size_t kMostDescriptors = 1024;
const std::size_t kMostImportsPerLibrary = 16384;
const std::size_t kMostImports = 65536;
// Longer than any reader's name with its terminating zero.
const std::size_t kLongestName = 64;

std::uint64_t little(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i > 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i - 1]);
    }
    return value;
}

// The file read in blocks, each at most once and kMostBlocks in all, so that
// no layout of the file makes it read again what it has read.
class FileBytes {
  public:
    explicit FileBytes(const ReadAt& read) : read_(read) {}

    // Up to `size` bytes from `at`: fewer at the file's end, or where the
    // blocks run out, which overrun() then tells.
    std::string get(std::uint64_t at, std::size_t size) {
        std::string bytes;
        while (bytes.size() < size) {
            const std::string* block = blockAt(at / kBlock);
            std::size_t inBlock = static_cast<std::size_t>(at % kBlock);
            if (!block || block->size() <= inBlock) {
                break;
            }
            std::size_t taken = std::min(size - bytes.size(), block->size() - inBlock);
            bytes.append(*block, inBlock, taken);
            at += taken;
            if (block->size() < kBlock) {
                break;
            }
        }
        return bytes;
    }

    bool overrun() const { return overrun_; }

  private:
    const std::string* blockAt(std::uint64_t index) {
        auto found = blocks_.find(index);
        if (found != blocks_.end()) {
            return &found->second;
        }
        if (blocks_.size() == kMostBlocks) {
            overrun_ = true;
            return nullptr;
        }
        return &(blocks_[index] = read_(index * kBlock, kBlock));
    }

    const ReadAt& read_;
    std::map<std::uint64_t, std::string> blocks_;
    bool overrun_ = false;
};

struct Section {
    std::uint32_t address;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

const std::set<std::string_view> kWideReaders{
    "GetCommandLineW", "__wgetmainargs", "_get_wide_winmain_command_line",
    "__p___wargv",     "__p__wcmdln",    "_wcmdln"};
const std::set<std::string_view> kNarrowReaders{
    "GetCommandLineA", "__getmainargs", "_get_narrow_winmain_command_line",
    "__p___argv",      "__p__acmdln",   "_acmdln"};

class ImportReader {
  public:
    ImportReader(FileBytes& bytes, std::vector<Section> sections, bool wide)
        : bytes_(bytes), sections_(std::move(sections)), entrySize_(wide ? 8 : 4) {}

    // False when the imports could not be read to their end.
    bool readAll(std::uint32_t directory) {
        std::uint64_t at = 0;
        if (!fileOffset(directory, at)) {
            return false;
        }
        for (std::size_t i = 0; i < kMostDescriptors; ++i) {
            std::string descriptor = bytes_.get(at + 20 * i, 20);
            if (descriptor.size() < 20) {
                return false;
            }
            if (descriptor == std::string(20, '\0')) {
                return !bytes_.overrun();
            }
            std::uint32_t lookup = static_cast<std::uint32_t>(little(descriptor, 0, 4));
            std::uint32_t bound = static_cast<std::uint32_t>(little(descriptor, 16, 4));
            // Libraries may share a table: its names are known once read.
            std::uint32_t table = lookup != 0 ? lookup : bound;
            if (tablesRead_.insert(table).second && !readNames(table)) {
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
        for (std::size_t i = 0; i < kMostImportsPerLibrary; ++i) {
            if (++importsSeen_ > kMostImports) {
                return false;
            }
            std::string thunk = bytes_.get(at + i * entrySize_, entrySize_);
            if (thunk.size() < entrySize_) {
                return false;
            }
            std::uint64_t entry = little(thunk, 0, entrySize_);
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
            std::string text = bytes_.get(nameAt, kLongestName);
            std::string_view name(text.data(), std::min(text.size(), text.find('\0')));
            wide = wide || kWideReaders.count(name) > 0;
            narrow = narrow || kNarrowReaders.count(name) > 0;
        }
        return false;
    }

    FileBytes& bytes_;
    std::vector<Section> sections_;
    std::size_t entrySize_;
    std::set<std::uint32_t> tablesRead_;
    std::size_t importsSeen_ = 0;
};

}  // namespace

ProgramImage inspectProgramImage(const ReadAt& read) {
    ProgramImage image;
    FileBytes bytes(read);
    std::string dos = bytes.get(0, 64);
    if (dos.size() < 64 || dos.compare(0, 2, "MZ") != 0) {
        return image;
    }
    std::uint64_t peAt = little(dos, 0x3C, 4);
    std::string header = bytes.get(peAt, 24);
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
    std::string optional = bytes.get(peAt + 24, optionalSize);
    if (optional.size() < optionalSize || optionalSize < 2 || sectionCount > kMostSections) {
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
    std::string table = bytes.get(peAt + 24 + optionalSize, sectionCount * 40);
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
    ImportReader reader(bytes, std::move(sections), magic == 0x20B);
    image.readsAnsiCommandLine = reader.readAll(imports) && reader.narrow && !reader.wide;
    return image;
}
