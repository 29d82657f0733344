// The checker's verdicts on what an installation left on the machine, read
// against what its installer declares (declaration.h). Pure: the snapshots
// come from the caller, so that every rule here is tested natively.
//
// The rules, as they are applied:
// - A declared path stands for every path it may be once its variables are
//   known (expandDeclaredPath); comparisons ignore the case of ASCII letters.
// - A file record of an unnamed section (or of no section) must be there;
//   those of a named section, all of them or none, as the section was chosen.
//   A file of one language must be there under that language's /L (when its
//   section was installed) and must not be there under the other one's.
// - A file record with a size and a hash must match both.
// - Every file, folder or registry key that appeared or changed must be
//   covered by a record: a file or folder record by its path; a tree or
//   written record by its path and everything under it. A folder that holds a covered path,
//   and the installation directory with its parents, are covered too.
// - Nothing may disappear but an earlier installation it replaces.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "declaration.h"

namespace check {

// A file or folder as a snapshot saw it: a file counts as changed when its
// size or its last write time changed.
struct FileState {
    bool folder = false;
    std::uint64_t size = 0;
    std::uint64_t written = 0;
    bool operator==(const FileState& other) const {
        return folder == other.folder && size == other.size && written == other.written;
    }
};

// What the checker watches: files and folders by their full Windows path, and
// registry keys as "<view>:<key>" ("64:HKLM\\Software\\...") with their values.
struct Snapshot {
    std::map<std::string, FileState> files;
    std::map<std::string, std::vector<std::string>> keys;
};

// The folders a declared path's variables stand for: "$DESKTOP" to both
// desktops, for instance. "$INSTDIR" is the run's directory.
using Folders = std::map<std::string, std::vector<std::string>>;

// The patterns a declared path may stand for: known variables replaced by
// each of their folders, "$$" by "$", every other variable ("$name",
// "$(name)", "${name}") by "*", which matches any text within one path
// component; a "$" that starts none of these is itself.
std::vector<std::string> expandDeclaredPath(const std::string& declared, const Folders& folders);

// The keys a declared registry key stands for, as snapshots name them: a
// root's short name (HKLM, HKCU), and HKCR's keys in both places Windows
// merges it from (HKLM\Software\Classes, HKCU\Software\Classes).
std::vector<std::string> registryKeysOf(const std::string& declared);

// Whether `path` is what `pattern` stands for, ignoring the case of ASCII letters.
bool matchesPattern(const std::string& pattern, const std::string& path);

// Whether `path` is `pattern`'s path or lies under it.
bool isAtOrUnder(const std::string& pattern, const std::string& path);

// How the installation was asked for.
struct Form {
    std::string directory;  // as the program was given it, without a trailing backslash
    std::string language;   // "e", "g", or "" when no /L was given
    std::string shortcut;   // "1", "0", or "" when no /DS was given
    // Directories of earlier installations that this one may remove, as an
    // upgrade does.
    std::vector<std::string> earlier;
};

// The first way an installation differs from its declaration, or "" when it
// does not. `hashOf` gives the SHA-256 of an installed file.
std::string judgeInstallation(const Declaration& declaration, const Form& form,
                              const Folders& folders, const Snapshot& before, const Snapshot& after,
                              const std::function<std::string(const std::string&)>& hashOf);

// What an uninstaller left or took: the first file or key of `installed` that
// was not there `before` and is still there, or of `before` that is gone
// (what was in the installation `directory` may go with it); "" when it put
// the machine back. Folders left empty are not counted.
std::string judgeUninstallation(const Snapshot& before, const Snapshot& installed,
                                const Snapshot& after, const std::string& directory);

// Why an uninstall command as registered is unsafe to run, or "": one that
// holds a blank outside quotes is read by the system at its first blank.
std::string uninstallCommandProblem(const std::string& name, const std::string& command);

}  // namespace check
