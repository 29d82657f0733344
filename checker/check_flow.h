// The check: runs a product's setup through Qix_Console_Installer with the
// cases of the setup contract, prints a verdict per case and a last line that
// says whether the setup honours the contract.
#pragma once

#include <string>
#include <vector>

namespace check {

// The usage text, printed when the arguments are wrong.
extern const char kUsage[];

// Runs the check the arguments ask for (the program's own name not among
// them): 0 when the setup honours the contract, 1 when it does not, 2 when
// it cannot be checked.
int runCheck(const std::vector<std::string>& arguments);

}  // namespace check
