// Reads arbitrary argument vectors (the input split at NUL bytes, after a fixed
// program name) and checks what the reader may answer: the exit code, when the
// run goes on, what it goes on with, and that the user sees one message at most.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "../setup/setup_switches.h"
#include "install_dir.h"
#include "installer.h"
#include "setup_command.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isOneArgument(const std::vector<std::string>& arguments, const std::string& text) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == text) {
            return true;
        }
    }
    return false;
}

// One complaint about one parameter: either an argument as given, or a switch
// value as read back from the argument table (which holds no line breaks).
bool isInvalidParameterMessage(const std::vector<std::string>& arguments, const std::string& err) {
    const std::string head = "Invalid parameter \"";
    const std::string tail = "\"\n";
    if (err.size() < head.size() + tail.size() || !startsWith(err, head) || !endsWith(err, tail)) {
        return false;
    }
    std::string parameter = err.substr(head.size(), err.size() - head.size() - tail.size());
    if (isOneArgument(arguments, parameter)) {
        return true;
    }
    return (startsWith(parameter, "/L=") || startsWith(parameter, "/DS=") ||
            startsWith(parameter, "/EXITCODES=") || startsWith(parameter, "/TIMEOUT=") ||
            parameter == "/LOG=") &&
           parameter.find_first_of("\r\n") == std::string::npos;
}

bool isPathNotFoundMessage(const std::vector<std::string>& arguments, const std::string& err) {
    return arguments.size() >= 2 &&
           err == "Path not found: " + arguments[1] + "\nFirst parameter must be setup path\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments{"Qix_Console_Installer.exe"};
    if (size > 0) {
        std::string input(reinterpret_cast<const char*>(data), size);
        std::string::size_type start = 0;
        while (true) {
            std::string::size_type end = input.find('\0', start);
            arguments.push_back(input.substr(start, end - start));
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }

    std::ostringstream outStream;
    std::ostringstream errStream;
    std::variant<RunOptions, int> read = readCommandLine(arguments, outStream, errStream);
    const std::string out = outStream.str();
    const std::string err = errStream.str();
    const std::string usage = std::string(kUsageText) + "\n";
    const RunOptions* options = std::get_if<RunOptions>(&read);
    const int* exitCode = std::get_if<int>(&read);

    check(!exitCode || *exitCode == kExitSuccess || *exitCode == kExitFailure ||
          *exitCode == kMsiBadCommandLine);
    check(out.empty() || out == usage);

    if (options) {
        check(out.empty() && err.empty());
        check(endsInExe(options->setupPath));
        check(options->language.empty() || options->language == "e" || options->language == "g");
        // The stand-in's file system decides, about the path that runs.
        check(pathExists(options->setupPath));
        // A quote would end the quoting of the setup command early; the
        // interpreter would cut the path at a control character.
        for (char c : options->setupPath + arguments[1]) {
            check(c != '"' && !(c >= 1 && c <= 31));
        }
        // No option may carry a line break into the argument table.
        for (std::size_t i = 2; i < arguments.size(); ++i) {
            check(arguments[i].find_first_of("\r\n") == std::string::npos);
        }
        // A settled directory and its log path reach the setup exactly: a
        // setup reading its line finds them, and no switch besides its own.
        std::string directory = options->directory;
        std::ostringstream refusal;
        if (resolveInstallDir(directory, refusal)) {
            std::string log = composeLogPath(directory, 1700000000, 42, 7);
            SetupSwitches received = parseSetupSwitches(composeSetupCommand(
                options->setupPath, options->language, options->desktopShortcut, log, directory));
            check(received.hasDirectory && received.directory == directory);
            check(received.logPath == log);
            check(received.silent && received.language == options->language);
            check(received.unknown.empty());
        } else {
            check(!refusal.str().empty());
        }
    } else if (*exitCode == kExitSuccess) {
        // Stopping with success is the help: the usage on the output only.
        check(out == usage && err.empty());
    } else {
        check(out.empty());
        check(err == usage || isPathNotFoundMessage(arguments, err) ||
              isInvalidParameterMessage(arguments, err));
    }
    return 0;
}
