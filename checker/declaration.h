// What an installer built with the setup kit declares it installs, as the
// kit's macros write it at compile time into "<installer>.qix" beside it.
//
// The file is UTF-8 text, one record a line, fields separated by tabs; lines
// end with LF or CR LF. Its rules:
// - The first line is "qix-declaration 1". Another first line, or none, is
//   no declaration; a later version number is refused (the checker is older).
// - Blank lines and lines beginning with "#" are skipped.
// - Every other line is a record; its first field names its kind:
//     file      SECTION LANGUAGE PATH SIZE SHA256   a file from the script's
//               source (QixFile, QixLanguageFile): it must be there with that
//               size and content when its section was installed
//     tree      SECTION PATH                        any files under PATH
//               (QixFileTree); at least one
//     folder    SECTION PATH                        a folder the installer makes
//               (QixSetOutPath, QixCreateDirectory): the folder alone
//     written   SECTION PATH                        a file, folder, shortcut or
//               registry key the installer may write (QixCheckWrite,
//               QixWriteINIStr): it and all under it allowed, never required
//     registry  SECTION VIEW KEY                    a registry key the
//               installer may write, in view 32 or 64 (QixCheckWrite on a
//               key, in the view of the script's last QixSetRegView)
//   SIZE and SHA256 may both be empty (the kit could not read the source).
//   A record with too few fields, an unknown kind, a SIZE that is no decimal
//   number or a SHA256 that is not 64 hex digits makes the whole file
//   refused, naming its line: a declaration is never half read.
// - SECTION is the name of the section the record comes from, "" for an
//   unnamed section, "*" for code outside any section (a function).
//   LANGUAGE is "e" or "g" for a file of that language alone, "" for all.
// - Nothing is declared from the uninstaller.
// - PATH is as the script wrote it, its defines filled in, its variables not
//   yet known: "$INSTDIR",
//   "$DESKTOP" and the other folders the checker knows stand for those
//   folders, "$$" for "$"; any other "$name", "$(name)" or "${name}" stands
//   for any text within one path component. Registry paths begin with HKLM,
//   HKCU, HKCR, HKU (or their long names) and hold no variable: a registry
//   record naming anything else is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace check {

enum class Kind { kFile, kTree, kFolder, kWritten, kRegistry };

struct Record {
    Kind kind = Kind::kFile;
    std::string section;
    std::string language;  // file only
    std::string path;      // a path, or a registry key
    bool sized = false;    // file: SIZE and SHA256 known
    std::uint64_t size = 0;
    std::string sha256;
    int view = 64;  // registry only
};

struct Declaration {
    std::vector<Record> records;
};

// Reads a declaration's text. False, with `error` saying which line and why,
// when the text is no declaration or breaks a rule above.
bool parseDeclaration(const std::string& text, Declaration& declaration, std::string& error);

}  // namespace check
