#include <iostream>
#include <string>
#include <vector>

#include "installer.h"

int main(int argc, char** argv) {
    return runInstaller(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
