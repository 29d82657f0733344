// Reads a setup command line as the product's setup does: the program path
// (quoted or not), then "/S", "/L<letter>", "/DStrue" or "/DSfalse",
// "/LOG" with a double-quoted path, and "/D=" up to the end of the line.
#pragma once

#include <string>
#include <vector>

struct SetupSwitches {
    bool silent = false;
    std::string language;
    std::string desktopShortcut;  // "true", "false" or empty when absent
    std::string logPath;
    bool hasDirectory = false;
    std::string directory;
    std::vector<std::string> unknown;
};

inline SetupSwitches parseSetupSwitches(const std::string& raw) {
    SetupSwitches switches;
    std::string::size_type at = 0;
    if (!raw.empty() && raw[0] == '"') {
        at = raw.find('"', 1);
        at = at == std::string::npos ? raw.size() : at + 1;
    } else {
        at = raw.find(' ');
        at = at == std::string::npos ? raw.size() : at;
    }
    while (at < raw.size()) {
        if (raw[at] == ' ' || raw[at] == '\t') {
            ++at;
            continue;
        }
        if (raw.compare(at, 3, "/D=") == 0) {
            switches.hasDirectory = true;
            switches.directory = raw.substr(at + 3);
            break;
        }
        if (raw.compare(at, 5, "/LOG\"") == 0) {
            std::string::size_type close = raw.find('"', at + 5);
            if (close == std::string::npos) {
                close = raw.size();
            }
            switches.logPath = raw.substr(at + 5, close - at - 5);
            at = close + 1;
            continue;
        }
        std::string::size_type end = raw.find_first_of(" \t", at);
        if (end == std::string::npos) {
            end = raw.size();
        }
        std::string token = raw.substr(at, end - at);
        at = end;
        if (token == "/S") {
            switches.silent = true;
        } else if (token == "/DStrue" || token == "/DSfalse") {
            switches.desktopShortcut = token.substr(3);
        } else if (token.compare(0, 4, "/LOG") == 0) {
            switches.logPath = token.substr(4);  // a POSIX shell took the quotes off
        } else if (token.size() == 3 && token.compare(0, 2, "/L") == 0) {
            switches.language = token.substr(2);
        } else {
            switches.unknown.push_back(token);
        }
    }
    return switches;
}
