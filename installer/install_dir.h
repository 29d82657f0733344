// The installation directory: default, checks, creation and write probe; and
// the path-exists test the whole program uses. Every routine here treats '/'
// and '\' alike as separators.
#pragma once

#include <ostream>
#include <string>

// True when a file or directory exists at `path`. A trailing separator is
// ignored, except on a drive root (C:\) and on paths of one or two characters.
bool pathExists(std::string path);

// The path pathExists asks about: one trailing separator dropped from a path
// of three or more characters, unless a ':' stands before it.
std::string withoutTrailingSeparator(std::string path);

// Settles the installation directory in place: the default for an empty value,
// then the absolute-path rule, creation with all missing parents, the existence
// test and the write probe. One enclosing quote at each end is stripped
// before creation, so the directory created, probed and settled is the same;
// one that still holds a quote, a defined %NAME% or a component that Windows
// would rename is refused before anything is created. On success the directory uses '\'
// throughout. On failure writes one message to `err` and returns false;
// directories created so far stay.
bool resolveInstallDir(std::string& directory, std::ostream& err);

// The Program Files folder followed by "/Quenvarton AG/Zev/".
std::string defaultInstallDir();

// True when the directory is an absolute drive path: a drive letter's colon
// second and a separator third. A drive root (C:\, C:/) passes; anything
// shorter, relative, drive-relative (C:x) or UNC does not.
bool isAbsoluteDrivePath(const std::string& directory);

// Creates the directory with every missing parent. True when the whole chain
// exists as directories at the end.
bool createDirectory(const std::string& directory);

// True when a new file can be created in the directory and written.
bool hasWriteAccess(const std::string& directory);

// Removes one double or single quote from each end, where there is one.
void stripEnclosingQuotes(std::string& directory);

// A path in the directory at which nothing exists at the moment of the test.
std::string uniqueFileName(std::string directory, const std::string& prefix, std::string extension);

// Appends '\' to a path of two or more characters that does not end in a
// separator.
void appendSeparator(std::string& path);

// True when `path` ends in '/' or '\'.
bool endsInSeparator(const std::string& path);

// True when `text` holds a byte from 1 to 31 or a double quote: no Windows
// name holds one, and the interpreter would cut a path there.
bool holdsControlCharacterOrQuote(const std::string& text);

// True when the interpreter would expand something in `text`: a %NAME% or
// %NAME:...% whose NAME is set in the environment or is one of the
// interpreter's own (CD, DATE, TIME, RANDOM, ERRORLEVEL, ...). Every '%' is
// taken as a possible start, so this errs towards true.
bool holdsDefinedVariable(const std::string& text);

// True when a component other than "." and ".." ends in a blank or a dot,
// which Windows drops from a name everywhere but in the long path form: the
// directory created would not be the one probed and given to the setup.
bool hasComponentWindowsRenames(const std::string& path);
