// A small reader of sectioned key=value text held in memory.
//
// Syntax, line by line:
// - Lines end at any run of CR and LF characters; empty lines vanish.
// - Blanks are space and tab. A line of blanks only is passed over.
// - A line whose first non-blank is '[' is a header: the section name is the
//   text between that '[' and the first ']', untrimmed; the rest is ignored.
//   A line with '[' first but no ']' anywhere is passed over: it opens no
//   section and stores nothing, so the keys after it stay where they were.
// - A line whose first non-blank is '#' is a comment, stored as an entry with
//   key "Comment" and the whole line as value.
// - Any other line is a key line. The key runs from the first non-blank to the
//   first '=', trailing blanks removed; the value runs from the first non-blank
//   after it to the end of the line, trailing blanks removed. Further '=' belong
//   to the value. A key line without '=' stores nothing.
// - Entries before the first header belong to a section with the empty name.
//   Nothing is merged: repeated sections and keys are all kept, and lookups
//   return the earliest match in table order.
// Nothing is unquoted, unescaped or case-folded.
#pragma once

#include <string>
#include <vector>

class ArgumentTable {
  public:
    struct Entry {
        std::string key;
        std::string value;
    };

    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    // Appends the sections of `text`, emptying the table first when asked.
    // True when the text held at least one header line or key line.
    bool parse(bool clearFirst, const std::string& text);

    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) const;

    // Reads "true", "TRUE", "1" as true and "false", "FALSE", "0" as false;
    // anything else, or a missing entry, gives the default.
    bool getBool(bool defaultValue, const std::string& section, const std::string& key) const;

    // The first matching entry, or null. Valid until the table next changes.
    const Entry* findEntry(const std::string& section, const std::string& key) const;

    const std::vector<Section>& sections() const { return sections_; }

  private:
    std::vector<Section> sections_;
};
