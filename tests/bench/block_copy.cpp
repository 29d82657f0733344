// The other yardstick of scripts/bench's relay figures: a copy of a file to
// stderr in 64 KiB blocks, both streams in text mode, with no regard for
// lines. The fastest a relay of the same bytes can hope to be.
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: block_copy FILE\n");
        return 2;
    }
    std::FILE* input = std::fopen(argv[1], "r");
    if (!input) {
        return 1;
    }
    std::vector<char> block(64 * 1024);
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), input)) > 0) {
        if (std::fwrite(block.data(), 1, got, stderr) != got) {
            return 1;
        }
    }
    return std::ferror(input) || std::fflush(stderr) != 0 ? 1 : 0;
}
