#include "declaration.h"

#include <cstddef>

namespace check {
namespace {

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos) {
            return fields;
        }
        start = end + 1;
    }
}

bool isDecimal(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

bool isSha256(const std::string& text) {
    if (text.size() != 64) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

// Reads one record's fields; "" when it is sound, else why not.
std::string readRecord(const std::vector<std::string>& f, Record& record) {
    const std::string& kind = f[0];
    std::size_t wanted = kind == "file"       ? 6
                         : kind == "tree"     ? 3
                         : kind == "folder"   ? 3
                         : kind == "written"  ? 3
                         : kind == "registry" ? 4
                                              : 0;
    if (wanted == 0) {
        return "unknown kind of record \"" + kind + "\"";
    }
    if (f.size() != wanted) {
        return "a " + kind + " record has " + std::to_string(wanted) + " fields, not " +
               std::to_string(f.size());
    }
    record.section = f[1];
    if (kind == "file") {
        record.kind = Kind::kFile;
        record.language = f[2];
        record.path = f[3];
        if (record.language != "" && record.language != "e" && record.language != "g") {
            return "unknown language \"" + record.language + "\"";
        }
        if (f[4].empty() && f[5].empty()) {
            return "";
        }
        if (!isDecimal(f[4], record.size)) {
            return "the size \"" + f[4] + "\" is no number";
        }
        if (!isSha256(f[5])) {
            return "\"" + f[5] + "\" is no SHA-256";
        }
        record.sized = true;
        record.sha256 = f[5];
        for (char& c : record.sha256) {
            if (c >= 'A' && c <= 'F') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
    } else if (kind == "registry") {
        record.kind = Kind::kRegistry;
        if (f[2] != "32" && f[2] != "64") {
            return "the registry view \"" + f[2] + "\" is not 32 or 64";
        }
        record.view = f[2] == "32" ? 32 : 64;
        record.path = f[3];
        std::string root = record.path.substr(0, record.path.find('\\'));
        for (char& c : root) {
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        static const char* const kRoots[] = {"HKLM",
                                             "HKCU",
                                             "HKCR",
                                             "HKU",
                                             "HKEY_LOCAL_MACHINE",
                                             "HKEY_CURRENT_USER",
                                             "HKEY_CLASSES_ROOT",
                                             "HKEY_USERS"};
        bool known = false;
        for (const char* name : kRoots) {
            known = known || root == name;
        }
        if (!known) {
            return "a registry record names no key: \"" + record.path + "\"";
        }
    } else {
        record.kind = kind == "tree"     ? Kind::kTree
                      : kind == "folder" ? Kind::kFolder
                                         : Kind::kWritten;
        record.path = f[2];
    }
    if (record.path.empty()) {
        return "a " + kind + " record names no path";
    }
    return "";
}

}  // namespace

bool parseDeclaration(const std::string& text, Declaration& declaration, std::string& error) {
    declaration.records.clear();
    std::vector<std::string> lines = split(text, '\n');
    // The text's last line ends with LF, leaving an empty piece after it.
    if (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string& line = lines[i];
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string where = "line " + std::to_string(i + 1) + ": ";
        if (i == 0) {
            const std::string header = "qix-declaration ";
            if (line.compare(0, header.size(), header) != 0) {
                error = where + "no declaration: it does not begin with \"qix-declaration 1\"";
                return false;
            }
            if (line != header + "1") {
                error = where + "\"" + line + "\": a later version than this checker reads";
                return false;
            }
            continue;
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        Record record;
        std::string why = readRecord(split(line, '\t'), record);
        if (!why.empty()) {
            error = where + why;
            declaration.records.clear();
            return false;
        }
        declaration.records.push_back(record);
    }
    if (lines.empty()) {
        error = "line 1: no declaration: the file is empty";
        return false;
    }
    return true;
}

}  // namespace check
