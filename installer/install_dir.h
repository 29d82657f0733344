// The installation directory: default, checks, creation and write probe; and
// the path rules of the whole program, which the setup path, the log and its
// completion marker meet as much as the directory does.
//
// Path rules, on the bytes of a path:
// - Separators are '/' and '\' alike. A path ends in a separator when its last
//   byte is one (endsInSeparator).
// - Trailing separator: one separator at the end is dropped from a path of
//   three or more bytes, unless the byte before it is ':' (a drive root, C:\)
//   (withoutTrailingSeparator).
// - Existence: a file or a directory is at the path once the trailing
//   separator rule has dropped what it drops (pathExists).
// - Appended separator: '\' goes after a path of two or more bytes whose last
//   byte is no separator (appendSeparator).
// - Absolute drive path: a drive letter A to Z (either case) first, ':'
//   second and a separator third. A drive root (C:\, C:/) passes; anything
//   shorter, relative, drive-relative (C:x), UNC, or with another character
//   for the drive (1:\, ':\) does not (isAbsoluteDrivePath).
// - Dots resolved: in an absolute drive path, "." components and empty ones
//   (doubled separators) go, and ".." takes the component before it along,
//   never the drive root, as Windows resolves a path before it uses it. A
//   path that ends in "." or ".." without a separator after it ends without
//   one (C:\x\a\.. is C:\x); other paths are returned as they are
//   (withDotsResolved).
// - Enclosing quotes: one double or single quote goes from each end where
//   there is one (stripEnclosingQuotes). An installation directory can only
//   have a closing one left: one in front fails the absolute path rule first.
// - Characters: UTF-8 text is split into characters at each byte that is no
//   continuation byte (10xxxxxx); each character is judged on its own, a
//   lone surrogate included (utf8Characters).
// - Plain directory: no ':' after the drive's, which Windows reads as an
//   alternate data stream, and no character that a program without Unicode
//   would read, by best fit, as one of " * / : < > ? \ | % (U+FF02 as '"'):
//   such a setup would install elsewhere. For a setup that reads its
//   command line in the ANSI code page, no character that it would read as
//   another at all, by best fit or as '?' (namesPlainDirectory).
// - Renamed components: a component other than "." and ".." that ends in a
//   blank or a dot, which Windows drops from a name everywhere but in the long
//   path form: the directory created would not be the one probed and given to
//   the setup (hasComponentWindowsRenames).
// - Fits the setup's command line: setups read "/D=" to the end of the line
//   and the log path up to the next quote, so a text that goes into the line
//   holds no double quote; nor a control character (bytes 1 to 31), which no
//   Windows name holds and which a setup may take for the end of a line; nor
//   a %NAME% or %NAME:...% whose NAME is set in the environment, which almost
//   surely meant its value, which nothing on the way would put in its place
//   any more. Every '%' is taken as a possible start, so this errs towards a
//   refusal (holdsControlCharacterOrQuote, holdsDefinedVariable,
//   fitsSetupCommandLine).
// - Program ending: the last four bytes are ".exe" in any letter case
//   (endsInExe). A setup path without that ending gets ".exe" appended
//   (withExeEnding).
#pragma once

#include <ostream>
#include <string>
#include <vector>

bool endsInSeparator(const std::string& path);
std::string withoutTrailingSeparator(std::string path);
bool pathExists(std::string path);
void appendSeparator(std::string& path);
bool isAbsoluteDrivePath(const std::string& directory);
void stripEnclosingQuotes(std::string& directory);
std::string withDotsResolved(const std::string& directory);
std::vector<std::string> utf8Characters(const std::string& text);
bool namesPlainDirectory(const std::string& directory, bool ansiSetup);
bool hasComponentWindowsRenames(const std::string& path);
bool holdsControlCharacterOrQuote(const std::string& text);
bool holdsDefinedVariable(const std::string& text);
bool fitsSetupCommandLine(const std::string& text);
bool endsInExe(const std::string& path);
std::string withExeEnding(std::string path);

// Settles the installation directory in place: the default for an empty value,
// then the absolute-path rule, creation with all missing parents, the existence
// test and the write probe. A closing quote is stripped and dots are resolved
// before creation, so the directory created, probed and settled is the same;
// one that cannot stand in the setup's command line as it is, names no plain
// directory for the setup (`ansiSetup`: one that reads its command line in the
// ANSI code page) or holds a component that Windows would rename is refused
// before anything is created. On success the directory uses '\' throughout.
// On failure writes one message to `err` and returns false; a failed creation
// leaves none of the directories it made (see createDirectory), while
// a directory that fails a later check stays, with its parents.
bool resolveInstallDir(std::string& directory, std::ostream& err, bool ansiSetup = false);

// The Program Files folder followed by "/Quenvarton AG/Zev/".
std::string defaultInstallDir();

// Creates the directory with every missing parent, from the outermost
// component of platform::directoryChain inwards. The first that cannot be
// made ends the call with false, after removing again the directories this
// call made, innermost first, each only while it is empty: one another run
// has put something in meanwhile stays. A directory found standing that
// vanishes under the walk (another run removing what it made) starts the
// walk over, a few times. True when the whole chain stands as directories at
// the end, which changes nothing where it already did.
bool createDirectory(const std::string& directory);

// True when a new file can be created in the directory and written.
bool hasWriteAccess(const std::string& directory);

// A path in the directory at which nothing exists at the moment of the test.
std::string uniqueFileName(std::string directory, const std::string& prefix, std::string extension);
