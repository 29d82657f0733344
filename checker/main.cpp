#include <vector>

#include "check_flow.h"
#include "check_platform.h"

int main() {
    std::vector<std::string> arguments = check::arguments();
    if (!arguments.empty())
        arguments.erase(arguments.begin());
    return check::runCheck(arguments);
}
