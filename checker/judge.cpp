#include "judge.h"

#include <cstddef>
#include <set>

namespace check {
namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = lower(c);
    }
    return text;
}

bool isNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// '*' matches any run of characters other than a backslash.
bool matchFrom(const std::string& pattern, std::size_t p, const std::string& path, std::size_t s) {
    while (p < pattern.size()) {
        if (pattern[p] == '*') {
            for (std::size_t end = s;; ++end) {
                if (matchFrom(pattern, p + 1, path, end)) {
                    return true;
                }
                if (end == path.size() || path[end] == '\\') {
                    return false;
                }
            }
        }
        if (s == path.size() || lower(pattern[p]) != lower(path[s])) {
            return false;
        }
        ++p;
        ++s;
    }
    return s == path.size();
}

bool isRegistryPath(const std::string& path) {
    return lowered(path.substr(0, 2)) == "hk";
}

// The short name of a registry root, as snapshots write keys.
std::string shortRoot(const std::string& key) {
    static const char* const kLong[][2] = {{"HKEY_LOCAL_MACHINE", "HKLM"},
                                           {"HKEY_CURRENT_USER", "HKCU"},
                                           {"HKEY_CLASSES_ROOT", "HKCR"},
                                           {"HKEY_USERS", "HKU"}};
    std::string root = key.substr(0, key.find('\\'));
    for (const auto& names : kLong) {
        if (lowered(root) == lowered(names[0])) {
            return names[1] + key.substr(root.size());
        }
    }
    return key;
}

// The key of a snapshot's "<view>:<key>" entry, and its view.
std::string keyOf(const std::string& entry) {
    return entry.substr(entry.find(':') + 1);
}
int viewOf(const std::string& entry) {
    return entry.compare(0, 3, "32:") == 0 ? 32 : 64;
}

struct Expanded {
    const Record* record;
    std::vector<std::string> patterns;
};

bool anyMatch(const std::vector<std::string>& patterns, const std::string& path) {
    for (const std::string& pattern : patterns) {
        if (matchesPattern(pattern, path)) {
            return true;
        }
    }
    return false;
}

bool anyAtOrUnder(const std::vector<std::string>& patterns, const std::string& path) {
    for (const std::string& pattern : patterns) {
        if (isAtOrUnder(pattern, path)) {
            return true;
        }
    }
    return false;
}

std::string other(const std::string& language) {
    return language == "e" ? "g" : "e";
}

// The paths of a snapshot, its files before its folders: a verdict names the
// file that makes a folder matter rather than the folder.
std::vector<std::string> filesFirst(const std::map<std::string, FileState>& files) {
    std::vector<std::string> paths;
    for (bool folders : {false, true}) {
        for (const auto& [path, state] : files) {
            if (state.folder == folders) {
                paths.push_back(path);
            }
        }
    }
    return paths;
}

}  // namespace

std::vector<std::string> expandDeclaredPath(const std::string& declared, const Folders& folders) {
    std::vector<std::string> patterns{""};
    auto append = [&patterns](const std::vector<std::string>& choices) {
        std::vector<std::string> longer;
        for (const std::string& start : patterns) {
            for (const std::string& choice : choices) {
                longer.push_back(start + choice);
            }
        }
        patterns = longer;
    };
    std::size_t i = 0;
    while (i < declared.size()) {
        // A "$" that starts no variable is itself.
        if (declared[i] != '$' || i + 1 == declared.size() ||
            !(declared[i + 1] == '$' || declared[i + 1] == '(' || declared[i + 1] == '{' ||
              isNameCharacter(declared[i + 1]))) {
            append({std::string(1, declared[i++])});
            continue;
        }
        char next = declared[i + 1];
        if (next == '$') {
            append({"$"});
            i += 2;
        } else if (next == '(' || next == '{') {
            std::size_t close = declared.find(next == '(' ? ')' : '}', i);
            i = close == std::string::npos ? declared.size() : close + 1;
            append({"*"});
        } else {
            std::size_t end = i + 1;
            while (end < declared.size() && isNameCharacter(declared[end])) {
                ++end;
            }
            auto known = folders.find(declared.substr(i, end - i));
            if (known != folders.end() && !known->second.empty()) {
                append(known->second);
            } else {
                append({"*"});
            }
            i = end;
        }
    }
    return patterns;
}

std::vector<std::string> registryKeysOf(const std::string& declared) {
    std::string key = shortRoot(declared);
    if (lowered(key.substr(0, 5)) == "hkcr\\") {
        return {"HKLM\\Software\\Classes" + key.substr(4),
                "HKCU\\Software\\Classes" + key.substr(4)};
    }
    return {key};
}

bool matchesPattern(const std::string& pattern, const std::string& path) {
    return matchFrom(pattern, 0, path, 0);
}

bool isAtOrUnder(const std::string& pattern, const std::string& path) {
    if (matchesPattern(pattern, path)) {
        return true;
    }
    for (std::size_t cut = path.find('\\'); cut != std::string::npos;
         cut = path.find('\\', cut + 1)) {
        if (matchesPattern(pattern, path.substr(0, cut))) {
            return true;
        }
    }
    return false;
}

std::string judgeInstallation(const Declaration& declaration, const Form& form,
                              const Folders& folders, const Snapshot& before, const Snapshot& after,
                              const std::function<std::string(const std::string&)>& hashOf) {
    std::vector<Expanded> records;
    for (const Record& record : declaration.records) {
        bool key = record.kind == Kind::kRegistry || isRegistryPath(record.path);
        records.push_back({&record, key ? registryKeysOf(record.path)
                                        : expandDeclaredPath(record.path, folders)});
    }

    // What appeared or changed.
    std::vector<std::string> created;
    for (const std::string& path : filesFirst(after.files)) {
        auto was = before.files.find(path);
        if (was == before.files.end() || !(was->second == after.files.at(path))) {
            created.push_back(path);
        }
    }
    auto covers = [&](const std::string& path) {
        if (isAtOrUnder(path, form.directory)) {
            return true;
        }
        for (const Expanded& e : records) {
            if (e.record->kind == Kind::kRegistry || isRegistryPath(e.record->path)) {
                continue;
            }
            bool alone = e.record->kind == Kind::kFile || e.record->kind == Kind::kFolder;
            if (alone ? anyMatch(e.patterns, path) : anyAtOrUnder(e.patterns, path)) {
                return true;
            }
        }
        return false;
    };
    std::set<std::string> covered;
    for (const std::string& path : created) {
        if (covers(path)) {
            covered.insert(lowered(path));
        }
    }
    for (const std::string& path : created) {
        if (covered.count(lowered(path))) {
            continue;
        }
        bool holdsCovered = false;
        if (after.files.at(path).folder) {
            for (const std::string& inside : covered) {
                holdsCovered = holdsCovered || isAtOrUnder(lowered(path), inside);
            }
        }
        if (holdsCovered) {
            continue;
        }
        if (isAtOrUnder(form.directory, path)) {
            return "installed " + path + ", which its declaration does not name";
        }
        return "wrote outside the directory: " + path;
    }
    for (const std::string& path : filesFirst(before.files)) {
        bool replaced = false;
        for (const std::string& earlier : form.earlier) {
            replaced = replaced || isAtOrUnder(earlier, path);
        }
        if (!after.files.count(path) && !replaced) {
            return "deleted " + path;
        }
    }

    // The declared files: present by section and language, with their content.
    auto present = [&](const Expanded& e) -> const std::string* {
        for (const auto& [path, state] : after.files) {
            if (!state.folder && anyMatch(e.patterns, path)) {
                return &path;
            }
        }
        return nullptr;
    };
    std::map<std::string, bool> sectionInstalled;
    for (const Expanded& e : records) {
        if (e.record->kind != Kind::kFile || e.record->section.empty() ||
            e.record->section == "*") {
            continue;
        }
        if (present(e)) {
            sectionInstalled[e.record->section] = true;
        }
    }
    std::string language = form.language;
    if (language.empty()) {
        // Without /L the installer's own language decides: the one whose files came.
        for (const Expanded& e : records) {
            if (e.record->kind == Kind::kFile && !e.record->language.empty() && present(e)) {
                language = e.record->language;
                break;
            }
        }
    }
    for (const Expanded& e : records) {
        const Record& r = *e.record;
        if (r.kind != Kind::kFile) {
            continue;
        }
        bool sectionOn = r.section.empty() || r.section == "*" || sectionInstalled[r.section];
        const std::string* path = present(e);
        if (!r.language.empty() && r.language != language) {
            if (path) {
                return "installed " + *path + ", a file for /L=" + r.language +
                       ", under /L=" + other(r.language);
            }
            continue;
        }
        if (!sectionOn) {
            continue;
        }
        if (!path) {
            std::string where = e.patterns.empty() ? r.path : e.patterns.front();
            if (!r.section.empty() && r.section != "*") {
                return "did not install " + where + " of the section " + r.section +
                       ", whose other files it installed";
            }
            return "did not install " + where;
        }
        if (!r.sized) {
            continue;
        }
        std::uint64_t size = after.files.at(*path).size;
        if (size != r.size) {
            return "installed " + *path + " with " + std::to_string(size) + " bytes, not the " +
                   std::to_string(r.size) + " declared";
        }
        if (lowered(hashOf(*path)) != r.sha256) {
            return "installed " + *path + " with other content than declared";
        }
    }
    for (const Expanded& e : records) {
        const Record& r = *e.record;
        bool sectionOn = r.section.empty() || r.section == "*" || sectionInstalled[r.section];
        if (r.kind != Kind::kTree || !sectionOn) {
            continue;
        }
        bool any = false;
        for (const auto& [path, state] : after.files) {
            any = any ||
                  (!state.folder && anyAtOrUnder(e.patterns, path) && !anyMatch(e.patterns, path));
        }
        if (!any) {
            return "installed nothing under " + e.patterns.front();
        }
    }
    if (form.shortcut == "1") {
        const Expanded* link = nullptr;
        for (const Expanded& e : records) {
            std::string path = lowered(e.record->path);
            if (path.compare(0, 8, "$desktop") == 0 && path.size() > 4 &&
                path.compare(path.size() - 4, 4, ".lnk") == 0) {
                link = &e;
                if (present(e)) {
                    link = nullptr;
                    break;
                }
            }
        }
        if (link) {
            return "made no desktop shortcut under /DS=1: " + link->patterns.front();
        }
    }

    // The registry.
    for (const auto& [entry, values] : after.keys) {
        auto was = before.keys.find(entry);
        if (was != before.keys.end() && was->second == values) {
            continue;
        }
        bool declared = false;
        for (const Expanded& e : records) {
            bool isKey = e.record->kind == Kind::kRegistry ||
                         (e.record->kind == Kind::kWritten && isRegistryPath(e.record->path));
            if (!isKey) {
                continue;
            }
            if (e.record->kind == Kind::kRegistry && e.record->view != viewOf(entry)) {
                continue;
            }
            declared = declared || anyAtOrUnder(e.patterns, keyOf(entry));
        }
        if (!declared) {
            return "registered " + keyOf(entry) + " (" + std::to_string(viewOf(entry)) +
                   "-bit view), which its declaration does not name";
        }
    }
    for (const auto& [entry, values] : before.keys) {
        if (!after.keys.count(entry)) {
            return "deleted the registry key " + keyOf(entry);
        }
    }
    return "";
}

std::string judgeUninstallation(const Snapshot& before, const Snapshot& installed,
                                const Snapshot& after, const std::string& directory) {
    for (const auto& [path, state] : after.files) {
        if (state.folder || before.files.count(path)) {
            continue;
        }
        if (installed.files.count(path)) {
            return "left " + path;
        }
        return "created " + path;
    }
    for (const std::string& path : filesFirst(before.files)) {
        if (!after.files.count(path) && !isAtOrUnder(directory, path)) {
            return "deleted " + path + ", which was there before";
        }
    }
    for (const auto& [entry, values] : after.keys) {
        if (!before.keys.count(entry)) {
            return "left the registry key " + keyOf(entry) + " (" + std::to_string(viewOf(entry)) +
                   "-bit view)";
        }
    }
    for (const auto& [entry, values] : before.keys) {
        if (!after.keys.count(entry)) {
            return "deleted the registry key " + keyOf(entry) + ", which was there before";
        }
    }
    return "";
}

std::string uninstallCommandProblem(const std::string& name, const std::string& command) {
    if (command.empty() || command[0] == '"') {
        return "";
    }
    std::string program = lowered(command.substr(0, command.find(' ')));
    if (program.size() >= 4 && program.compare(program.size() - 4, 4, ".exe") == 0) {
        return "";
    }
    return name + " holds a blank outside quotes, so the system runs " +
           command.substr(0, command.find(' ')) + ": " + command;
}

}  // namespace check
