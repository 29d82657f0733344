#include "argument_table.h"

namespace {

const char* const kLineBreaks = "\r\n";
const char* const kBlanks = " \t";

std::string trimTrailingBlanks(std::string text) {
    text.erase(text.find_last_not_of(kBlanks) + 1);
    return text;
}

}  // namespace

bool ArgumentTable::parse(bool clearFirst, const std::string& text) {
    if (clearFirst) {
        sections_.clear();
    }
    if (text.empty()) {
        return false;
    }
    sections_.push_back(Section());
    bool seenLine = false;
    std::string::size_type start = 0;
    while (start != std::string::npos) {
        std::string::size_type end = text.find_first_of(kLineBreaks, start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? end : text.find_first_not_of(kLineBreaks, end);

        std::string::size_type first = line.find_first_not_of(kBlanks);
        if (first == std::string::npos) {
            continue;
        }
        if (line[first] == '[') {
            std::string::size_type close = line.find(']', first);
            if (close == std::string::npos) {
                continue;  // not a header; see the syntax rules in the header file
            }
            seenLine = true;
            sections_.push_back(Section{line.substr(first + 1, close - first - 1), {}});
        } else if (line[first] == '#') {
            sections_.back().entries.push_back(Entry{"Comment", line});
        } else {
            seenLine = true;
            std::string::size_type equals = line.find('=', first);
            if (equals == std::string::npos) {
                continue;
            }
            std::string key = trimTrailingBlanks(line.substr(first, equals - first));
            std::string::size_type valueStart = line.find_first_not_of(kBlanks, equals + 1);
            std::string value = valueStart == std::string::npos
                                    ? std::string()
                                    : trimTrailingBlanks(line.substr(valueStart));
            sections_.back().entries.push_back(Entry{key, value});
        }
    }
    return seenLine;
}

const ArgumentTable::Entry* ArgumentTable::findEntry(const std::string& section,
                                                     const std::string& key) const {
    for (const Section& candidate : sections_) {
        if (candidate.name != section) {
            continue;
        }
        for (const Entry& entry : candidate.entries) {
            if (entry.key == key) {
                return &entry;
            }
        }
    }
    return nullptr;
}

std::string ArgumentTable::getString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) const {
    const Entry* entry = findEntry(section, key);
    return entry ? entry->value : defaultValue;
}

bool ArgumentTable::getBool(bool defaultValue, const std::string& section,
                            const std::string& key) const {
    const Entry* entry = findEntry(section, key);
    if (!entry) {
        return defaultValue;
    }
    const std::string& value = entry->value;
    if (value == "true" || value == "TRUE" || value == "1") {
        return true;
    }
    if (value == "false" || value == "FALSE" || value == "0") {
        return false;
    }
    return defaultValue;
}
