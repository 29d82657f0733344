#include "run_text.h"

#include <cstddef>

namespace check {
namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string quotedArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

std::string cleanedOutput(const std::string& output, bool& zeros) {
    std::string text;
    zeros = false;
    for (char c : output) {
        if (c == '\0') {
            zeros = true;
        }
        if (c != '\r' && c != '\0') {
            text += c;
        }
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

bool onlyAsksForRestart(const std::string& said) {
    if (said.empty()) {
        return false;
    }
    for (std::size_t start = 0; start < said.size();) {
        std::size_t end = said.find('\n', start);
        std::string line = said.substr(start, end - start);
        if (!endsWith(line, " needs a restart to complete") &&
            !endsWith(line, " wird erst nach einem Neustart vollst\xC3\xA4ndig")) {
            return false;
        }
        start = end == std::string::npos ? said.size() : end + 1;
    }
    return true;
}

bool onlySaysItFailed(const std::string& said) {
    if (said.find('\n') != std::string::npos) {
        return false;
    }
    return (said.find(": the installation into ") != std::string::npos &&
            endsWith(said, " failed")) ||
           (said.find(": Die Installation in ") != std::string::npos &&
            endsWith(said, " ist fehlgeschlagen"));
}

}  // namespace check
