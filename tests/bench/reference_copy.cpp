// The yardstick of scripts/bench's relay figures: the plainest line-by-line
// copy of a file to stderr, flushed after every line as the program's relay
// is. Built for both targets from this one source.
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: reference_copy FILE" << std::endl;
        return 2;
    }
    std::ifstream input(argv[1]);
    if (!input) {
        return 1;
    }
    std::string line;
    while (std::getline(input, line)) {
        std::cerr << line << std::endl;
    }
    return input.bad() ? 1 : 0;
}
