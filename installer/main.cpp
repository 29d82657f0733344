#include <iostream>
#include <string>
#include <vector>

#include "installer.h"
#include "platform.h"

int main(int argc, char** argv) {
    return runInstaller(platform::commandLineArguments(argc, argv), std::cout, std::cerr);
}
