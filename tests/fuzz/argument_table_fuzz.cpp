// Parses arbitrary text and holds the table to the syntax described in
// argument_table.h, rebuilt here from that description alone, and to its
// lookup rules. The first byte chooses clearFirst; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "argument_table.h"

namespace {

// What the table holds before the fuzzed text arrives, so that appending
// (clearFirst false) has something to append to.
const char* const kEarlierText = "[pre]\nk=v\n#note\nsetupPath=C:\\s.exe\n";

// Values never hold a line feed, so no lookup can return this by accident.
const char* const kDefault = "\n";

const std::size_t kMaxLookupSections = 8;
const std::size_t kMaxLookupKeys = 24;
const std::size_t kMaxStoredPairs = 64;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isLineBreak(char c) {
    return c == '\r' || c == '\n';
}

std::string trimEnd(std::string text) {
    while (!text.empty() && isBlank(text.back())) {
        text.pop_back();
    }
    return text;
}

std::string trim(const std::string& text) {
    std::size_t first = 0;
    while (first < text.size() && isBlank(text[first])) {
        ++first;
    }
    return trimEnd(text.substr(first));
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (!isLineBreak(c)) {
            line += c;
        } else if (!line.empty()) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

struct Model {
    std::vector<ArgumentTable::Section> sections;
    bool result = false;
};

// The sections `text` appends and parse's result, line by line as the header
// describes them.
Model parseModel(const std::string& text) {
    Model model;
    if (text.empty()) {
        return model;
    }
    model.sections.push_back(ArgumentTable::Section{"", {}});
    for (const std::string& line : splitLines(text)) {
        std::size_t first = 0;
        while (first < line.size() && isBlank(line[first])) {
            ++first;
        }
        if (first == line.size()) {
            continue;
        }
        if (line[first] == '[') {
            std::size_t close = line.find(']', first);
            if (close != std::string::npos) {
                model.result = true;
                model.sections.push_back(
                    ArgumentTable::Section{line.substr(first + 1, close - first - 1), {}});
            }
        } else if (line[first] == '#') {
            model.sections.back().entries.push_back(ArgumentTable::Entry{"Comment", line});
        } else {
            model.result = true;
            std::size_t equals = line.find('=', first);
            if (equals != std::string::npos) {
                model.sections.back().entries.push_back(ArgumentTable::Entry{
                    trimEnd(line.substr(first, equals - first)), trim(line.substr(equals + 1))});
            }
        }
    }
    return model;
}

bool sameSections(const std::vector<ArgumentTable::Section>& actual,
                  const std::vector<ArgumentTable::Section>& expected) {
    if (actual.size() != expected.size()) {
        return false;
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (actual[i].name != expected[i].name ||
            actual[i].entries.size() != expected[i].entries.size()) {
            return false;
        }
        for (std::size_t j = 0; j < actual[i].entries.size(); ++j) {
            if (actual[i].entries[j].key != expected[i].entries[j].key ||
                actual[i].entries[j].value != expected[i].entries[j].value) {
                return false;
            }
        }
    }
    return true;
}

// The earliest entry in table order, found without the table's own lookup.
const ArgumentTable::Entry* firstMatch(const ArgumentTable& table, const std::string& section,
                                       const std::string& key) {
    for (const ArgumentTable::Section& candidate : table.sections()) {
        if (candidate.name != section) {
            continue;
        }
        for (const ArgumentTable::Entry& entry : candidate.entries) {
            if (entry.key == key) {
                return &entry;
            }
        }
    }
    return nullptr;
}

void checkLookup(const ArgumentTable& table, const std::string& section, const std::string& key) {
    const ArgumentTable::Entry* expected = firstMatch(table, section, key);
    const ArgumentTable::Entry* found = table.findEntry(section, key);
    check(found == expected);
    if (found) {
        check(found->key == key);
    }
    check(table.getString(section, key, kDefault) == (found ? found->value : kDefault));
    for (bool defaultValue : {false, true}) {
        bool wanted = defaultValue;
        if (found) {
            const std::string& value = found->value;
            if (value == "true" || value == "TRUE" || value == "1") {
                wanted = true;
            } else if (value == "false" || value == "FALSE" || value == "0") {
                wanted = false;
            }
        }
        check(table.getBool(defaultValue, section, key) == wanted);
    }
}

// The pieces of the input between line breaks and '=', raw and trimmed, and
// the insides of anything that looks like a header: the names a caller would
// look up.
void collectNames(const std::string& text, std::set<std::string>& sections,
                  std::set<std::string>& keys) {
    std::string piece;
    auto take = [&](const std::string& name) {
        if (keys.size() < kMaxLookupKeys) {
            keys.insert(name);
        }
        if (sections.size() < kMaxLookupSections) {
            sections.insert(name);
        }
    };
    for (char c : text) {
        if (isLineBreak(c) || c == '=') {
            take(piece);
            take(trim(piece));
            std::size_t open = piece.find('[');
            std::size_t close = piece.find(']', open == std::string::npos ? 0 : open);
            if (open != std::string::npos && close != std::string::npos) {
                take(piece.substr(open + 1, close - open - 1));
            }
            piece.clear();
        } else {
            piece += c;
        }
    }
    take(piece);
    take(trim(piece));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    bool clearFirst = (data[0] & 1) != 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    ArgumentTable table;
    check(table.parse(true, kEarlierText));
    std::vector<ArgumentTable::Section> expected;
    if (!clearFirst) {
        expected = table.sections();
    }

    bool result = table.parse(clearFirst, text);
    Model model = parseModel(text);
    check(result == model.result);
    if (text.empty()) {
        check(!result);
        if (clearFirst) {
            check(table.sections().empty());
        }
    }
    expected.insert(expected.end(), model.sections.begin(), model.sections.end());
    check(sameSections(table.sections(), expected));

    // Every stored pair must be found, at its earliest occurrence.
    std::set<std::pair<std::string, std::string>> stored;
    for (const ArgumentTable::Section& section : table.sections()) {
        for (const ArgumentTable::Entry& entry : section.entries) {
            if (stored.size() < kMaxStoredPairs) {
                stored.insert({section.name, entry.key});
            }
        }
    }
    for (const auto& pair : stored) {
        const ArgumentTable::Entry* found = table.findEntry(pair.first, pair.second);
        check(found != nullptr);
        checkLookup(table, pair.first, pair.second);
    }

    std::set<std::string> sections{""};
    std::set<std::string> keys;
    collectNames(text, sections, keys);
    for (const std::string& section : sections) {
        for (const std::string& key : keys) {
            checkLookup(table, section, key);
        }
    }
    return 0;
}
