#include "install_dir.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <utility>

#include "platform.h"

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

const int kProbeNameAttempts = 100;

// The interpreter's own variables, expanded although the environment has none
// of these names.
const char* const kInterpreterVariables[] = {
    "CD",         "DATE",          "TIME",       "RANDOM",
    "ERRORLEVEL", "CMDEXTVERSION", "CMDCMDLINE", "HIGHESTNUMANODENUMBER",
    "__CD__",     "__APPDIR__"};

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool endsInSeparator(const std::string& path) {
    return !path.empty() && isSeparator(path.back());
}

std::string withoutTrailingSeparator(std::string path) {
    std::string::size_type size = path.size();
    if (size >= 3 && isSeparator(path[size - 1]) && path[size - 2] != ':') {
        path.pop_back();
    }
    return path;
}

bool pathExists(std::string path) {
    return platform::pathIsPresent(withoutTrailingSeparator(std::move(path)));
}

void appendSeparator(std::string& path) {
    std::string::size_type size = path.size();
    if (size >= 2 && !isSeparator(path[size - 1])) {
        path += '\\';
    }
}

std::string defaultInstallDir() {
    return platform::programFilesFolder() + "/Quenvarton AG/Zev/";
}

bool isAbsoluteDrivePath(const std::string& directory) {
    return directory.size() >= 3 && directory[1] == ':' && isSeparator(directory[2]);
}

bool createDirectory(const std::string& directory) {
    // Another run may create a component between the test for it and its
    // creation, which fails the call although the chain then exists. Each
    // such loss leaves one more component in place, so one more try per
    // component is enough.
    long attempts = 1 + std::count_if(directory.begin(), directory.end(), isSeparator);
    for (long attempt = 0; attempt < attempts; ++attempt) {
        if (platform::makeDirectory(directory)) {
            return true;
        }
    }
    return false;
}

std::string uniqueFileName(std::string directory, const std::string& prefix,
                           std::string extension) {
    appendSeparator(directory);
    if (!extension.empty() && extension[0] != '.') {
        extension.insert(0, ".");
    }
    std::uint32_t thread = platform::currentThreadId();
    long clock = platform::millisecondsSinceStart();
    std::string candidate =
        directory + prefix + std::to_string(clock) + std::to_string(thread) + extension;
    while (pathExists(candidate)) {
        candidate =
            directory + prefix + std::to_string(platform::millisecondsSinceStart() + 1) + extension;
    }
    return candidate;
}

bool hasWriteAccess(const std::string& directory) {
    // The probe's file is made, written and disposed of through one handle,
    // so that it never writes into or removes a file someone else put there.
    for (int attempt = 0; attempt < kProbeNameAttempts; ++attempt) {
        platform::ProbeResult probe =
            platform::probeNewFile(uniqueFileName(directory, "", ""), "test");
        if (probe != platform::ProbeResult::kExists) {
            return probe == platform::ProbeResult::kWritten;
        }
    }
    return false;
}

void stripEnclosingQuotes(std::string& directory) {
    if (!directory.empty() && (directory.front() == '"' || directory.front() == '\'')) {
        directory.erase(0, 1);
    }
    if (!directory.empty() && (directory.back() == '"' || directory.back() == '\'')) {
        directory.pop_back();
    }
}

bool holdsControlCharacterOrQuote(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return c == '"' || (c >= 1 && c <= 31); });
}

bool holdsDefinedVariable(const std::string& text) {
    std::string::size_type open = text.find('%');
    while (open != std::string::npos) {
        std::string::size_type close = text.find('%', open + 1);
        if (close == std::string::npos) {
            return false;
        }
        std::string name = text.substr(open + 1, close - open - 1);
        name = name.substr(0, name.find(':'));
        for (const char* own : kInterpreterVariables) {
            if (equalsIgnoringCase(name, own)) {
                return true;
            }
        }
        if (platform::hasEnvironmentVariable(name)) {
            return true;
        }
        open = close;
    }
    return false;
}

bool endsInExe(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string ending = path.substr(path.size() - 4);
    for (char& c : ending) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ending == ".exe";
}

std::string withExeEnding(std::string path) {
    if (!endsInExe(path)) {
        path += ".exe";
    }
    return path;
}

bool hasComponentWindowsRenames(const std::string& path) {
    std::string::size_type start = 0;
    while (start <= path.size()) {
        std::string::size_type end = path.find_first_of("/\\", start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string component = path.substr(start, end - start);
        if (!component.empty() && component != "." && component != ".." &&
            (component.back() == ' ' || component.back() == '.')) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool resolveInstallDir(std::string& directory, std::ostream& err) {
    if (directory.empty()) {
        directory = defaultInstallDir();
    }
    if (!isAbsoluteDrivePath(directory)) {
        err << "Specified installation directory must be an absolute path." << std::endl;
        return false;
    }
    // The quotes go before anything is made of the directory, so that the one
    // created and probed is the one the setup is given and writes its log in.
    stripEnclosingQuotes(directory);
    // No Windows name holds a quote; inside the setup command one would end
    // the quoting of the log path and hand the rest to the interpreter, as a
    // defined %NAME% would put another directory in its place.
    if (directory.find('"') != std::string::npos || holdsDefinedVariable(directory) ||
        hasComponentWindowsRenames(directory) || !createDirectory(directory) ||
        !pathExists(directory)) {
        err << "Can not create directory " << directory << std::endl;
        return false;
    }
    if (!hasWriteAccess(directory)) {
        err << "No access rights for directory " << directory << std::endl;
        return false;
    }
    for (char& c : directory) {
        if (c == '/') {
            c = '\\';
        }
    }
    return true;
}
