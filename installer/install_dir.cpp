#include "install_dir.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform.h"

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

const int kProbeNameAttempts = 100;

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
    auto isDriveLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return directory.size() >= 3 && isDriveLetter(directory[0]) && directory[1] == ':' &&
           isSeparator(directory[2]);
}

std::string withDotsResolved(const std::string& directory) {
    if (!isAbsoluteDrivePath(directory)) {
        return directory;
    }
    // Each kept component with the separator that follows it, if any.
    std::vector<std::string> kept;
    bool endsInDots = false;
    std::string::size_type start = 3;
    while (start < directory.size()) {
        std::string::size_type end = directory.find_first_of("/\\", start);
        std::string name = directory.substr(start, end - start);
        std::string withSeparator =
            directory.substr(start, end == std::string::npos ? end : end + 1 - start);
        endsInDots = name == "." || name == "..";
        if (name == ".." && !kept.empty()) {
            kept.pop_back();
        } else if (!name.empty() && !endsInDots) {
            kept.push_back(withSeparator);
        }
        start = end == std::string::npos ? directory.size() : end + 1;
    }
    std::string resolved = directory.substr(0, 3);
    for (const std::string& component : kept) {
        resolved += component;
    }
    // "C:\x\a\.." is "C:\x", as "C:\x\a\..\" is "C:\x\".
    if (endsInDots && !endsInSeparator(directory)) {
        resolved = withoutTrailingSeparator(resolved);
    }
    return resolved;
}

std::vector<std::string> utf8Characters(const std::string& text) {
    std::vector<std::string> characters;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        while (i + length < text.size() &&
               (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) {
            ++length;
        }
        characters.push_back(text.substr(i, length));
        i += length;
    }
    return characters;
}

bool namesPlainDirectory(const std::string& directory, bool ansiSetup) {
    if (directory.find(':', 2) != std::string::npos) {
        return false;
    }
    for (const std::string& character : utf8Characters(directory)) {
        platform::AnsiReading reading = platform::ansiReadingOf(character);
        if (reading.text == character) {
            continue;
        }
        // A setup without Unicode would install where its '?' or best fit
        // leads; one with Unicode reads the name as it is, unless best fit
        // gave a character that changes the path.
        bool changesPath = !reading.lost && reading.text.size() == 1 &&
                           std::string("\"*/:<>?\\|%").find(reading.text[0]) != std::string::npos;
        if (ansiSetup || changesPath) {
            return false;
        }
    }
    return true;
}

bool createDirectory(const std::string& directory) {
    const std::vector<std::string> chain = platform::directoryChain(directory);
    std::vector<std::string> created;
    // Another run may make a directory between the look and the making.
    auto stand = [&created](const std::string& path) {
        if (platform::isDirectory(path)) {
            return true;
        }
        if (platform::makeOneDirectory(path)) {
            created.push_back(path);
            return true;
        }
        return platform::isDirectory(path);
    };
    // Another run removes what it made when its own chain fails: a directory
    // found standing and gone under this walk sends it back to the top, a
    // few times.
    bool whole = false;
    bool parentGone = true;
    for (int walk = 0; walk < 5 && !whole && parentGone; ++walk) {
        std::size_t standing = 0;
        while (standing < chain.size() && stand(chain[standing])) {
            ++standing;
        }
        // The last once more: found standing, it may be one another run made
        // and has removed since.
        whole = standing == chain.size() && (chain.empty() || platform::isDirectory(chain.back()));
        parentGone = !whole && standing > 0 && !platform::isDirectory(chain[standing - 1]);
    }
    // Only what this call made, innermost first; a directory another run has
    // put something in meanwhile is not empty and stays.
    for (auto made = created.rbegin(); !whole && made != created.rend(); ++made) {
        platform::removeEmptyDirectory(*made);
    }
    return whole;
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
    // Later names carry the clock alone, one past its reading. A clock that
    // has not moved would give the name just found taken: wait for it to move
    // rather than spin.
    long tried = clock - 1;
    while (pathExists(candidate)) {
        long next = platform::millisecondsSinceStart() + 1;
        while (next == tried) {
            platform::sleepMilliseconds(1);
            next = platform::millisecondsSinceStart() + 1;
        }
        tried = next;
        candidate = directory + prefix + std::to_string(next) + extension;
    }
    return candidate;
}

bool hasWriteAccess(const std::string& directory) {
    // The probe's file is made, written and disposed of through one handle,
    // so that it never writes into or removes a file someone else put there.
    // The name is only free when looked at: one taken before the probe made
    // it (by another run, say) gets a new name.
    for (int attempt = 0; attempt < kProbeNameAttempts; ++attempt) {
        platform::FileResult probe =
            platform::probeNewFile(uniqueFileName(directory, "", ""), "test");
        if (probe != platform::FileResult::kExists) {
            return probe == platform::FileResult::kDone;
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
        if (platform::hasEnvironmentVariable(name.substr(0, name.find(':')))) {
            return true;
        }
        open = close;
    }
    return false;
}

bool fitsSetupCommandLine(const std::string& text) {
    return !holdsControlCharacterOrQuote(text) && !holdsDefinedVariable(text);
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

bool resolveInstallDir(std::string& directory, std::ostream& err, bool ansiSetup) {
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
    // The directory goes into the setup's command line and its log path,
    // and must be the one Windows and the setup take it for. Judged as
    // given: what a ".." cancels still tells of a path gone wrong.
    if (!fitsSetupCommandLine(directory) || !namesPlainDirectory(directory, ansiSetup) ||
        hasComponentWindowsRenames(directory)) {
        err << "Can not create directory " << directory << std::endl;
        return false;
    }
    // From here on the setup, its log path and every message get the
    // directory as it is created, never a ".." that would make the setup
    // create what it cancels.
    directory = withDotsResolved(directory);
    if (!createDirectory(directory) || !pathExists(directory)) {
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
