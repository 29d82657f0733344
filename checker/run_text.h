// What the checker writes into a run's command line and reads from its
// streams: the rules, apart from the runs, so that they are tested natively.
#pragma once

#include <string>

namespace check {

// `argument` as one argument of a command line that CommandLineToArgvW, and
// the C run-time, read back unchanged: as it is when it holds no blank, tab
// or quote and is not empty; else in quotes, a quote escaped with a
// backslash, and the backslashes before a quote or the closing quote doubled.
std::string quotedArgument(const std::string& argument);

// A run's streams as verdicts quote them: without carriage returns and zero
// bytes (`zeros` tells whether there were any, as UTF-16 has) and without
// line ends at the end.
std::string cleanedOutput(const std::string& output, bool& zeros);

// Whether every line of a log is the kit's line for a restart, in English or
// German: any other line makes the run a failure, whatever its exit code.
bool onlyAsksForRestart(const std::string& said);

// Whether a log is nothing but the kit's line for a failure nobody explained.
bool onlySaysItFailed(const std::string& said);

}  // namespace check
