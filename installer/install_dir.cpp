#include "install_dir.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <utility>

#include <wx/filename.h>
#include <wx/log.h>

#include "platform.h"

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// True when every character before position `end` may stand under the
// regular-expression dot, which matches anything but a line terminator.
bool matchesDots(const std::string& path, std::string::size_type end) {
    return end > 0 && path.find_first_of("\r\n") >= end;
}

const int kProbeNameAttempts = 100;

}  // namespace

bool endsInSeparator(const std::string& path) {
    return !path.empty() && isSeparator(path.back());
}

std::string withoutTrailingSeparator(std::string path) {
    // The rule ".+[^:][\\/]" as plain tests: the standard regex engine
    // recurses once per character and overflows the stack on a long path.
    std::string::size_type size = path.size();
    if (size >= 3 && isSeparator(path[size - 1]) && path[size - 2] != ':' &&
        matchesDots(path, size - 2)) {
        path.pop_back();
    }
    return path;
}

bool pathExists(std::string path) {
    return platform::fileStatus(withoutTrailingSeparator(std::move(path)));
}

void appendSeparator(std::string& path) {
    // The rule ".+[^\\/]" as plain tests, for the same reason as above.
    std::string::size_type size = path.size();
    if (size >= 2 && !isSeparator(path[size - 1]) && matchesDots(path, size - 1)) {
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
    // The bytes are in the process's code page, which is what the file-name
    // conversion assumes; a string it cannot read must not become an empty
    // (current) directory.
    wxString name(directory.c_str(), *wxConvFileName);
    if (name.empty() && !directory.empty()) {
        return false;
    }
    // The program reports failures itself, in one message of its own.
    wxLogNull quiet;
    return wxFileName::Mkdir(name, 511, wxPATH_MKDIR_FULL);
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
    // The probe creates its file exclusively, so that it never opens, empties
    // or removes a file that someone else put at the chosen name meanwhile.
    for (int attempt = 0; attempt < kProbeNameAttempts; ++attempt) {
        std::string name = uniqueFileName(directory, "", "");
        platform::CreateResult created = platform::createNewFile(name);
        if (created == platform::CreateResult::kExists) {
            continue;
        }
        if (created == platform::CreateResult::kFailed) {
            return false;
        }
        bool written = false;
        {
            std::ofstream probe(name, std::ios::out | std::ios::app | std::ios::binary);
            if (probe.is_open() && probe.good()) {
                probe << "test";
                written = probe.good();
            }
        }
        std::remove(name.c_str());
        return written;
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
    if (!createDirectory(directory) || !pathExists(directory)) {
        err << "Can not create directory " << directory << std::endl;
        return false;
    }
    if (!hasWriteAccess(directory)) {
        err << "No access rights for directory " << directory << std::endl;
        return false;
    }
    if (!directory.empty() && (directory.front() == '"' || directory.front() == '\'')) {
        directory.erase(0, 1);
    }
    if (!directory.empty() && (directory.back() == '"' || directory.back() == '\'')) {
        directory.pop_back();
    }
    for (char& c : directory) {
        if (c == '/') {
            c = '\\';
        }
    }
    return true;
}
