// Every call the program makes into the operating system, as plain functions.
// platform_windows.cpp serves the Windows build with the real calls;
// platform_posix.cpp serves the native build used for development and tests,
// behaving as the Windows calls do as far as the program's logic can tell.
//
// Text is UTF-8 throughout: on Windows every call converts it to UTF-16 and
// back, whatever code page the process has, so no name is ever changed by a
// code page on the way. Every file operation here but makeOneDirectory reaches
// paths of any length, past the 260 characters of the narrow Windows calls
// included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The program's arguments, its own name first. Windows reads them from the
// system's UTF-16 command line, never through the code page of `argv`.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// From now on Ctrl+C, Ctrl+Break, closing the console (SIGINT, SIGTERM and
// SIGHUP on POSIX) end every process a ProcessTree holds and then this
// program with `exitCode`, so that an interrupted run never looks like a
// success. On Windows `lastWords`, when given, runs in between, on a thread
// of its own; POSIX skips it, as a signal handler may call almost nothing. A
// later call replaces both, and returns only once no earlier `lastWords` runs.
void failWhenInterrupted(int exitCode, std::function<void()> lastWords = nullptr);

// The Program Files folder, or an empty string where the platform has none.
std::string programFilesFolder();

// The calling thread's identifier.
std::uint32_t currentThreadId();

// The process's identifier: no other live process has the same.
std::uint32_t currentProcessId();

void sleepMilliseconds(unsigned milliseconds);

// Wall-clock milliseconds since the process started.
long millisecondsSinceStart();

// Milliseconds of a clock that only moves forward, whatever is done to the
// calendar clock; its origin is arbitrary.
std::int64_t monotonicMilliseconds();

// How waiting for a started program ended.
enum class WaitResult {
    kExited,    // it ended; its exit code is known
    kTimedOut,  // it still runs after the time given
    kFailed,    // the system could not say: taken as a failure, never as 0
};

// A started program and every process it starts. While the tree is held,
// they all end together when this program ends without release(): killed,
// interrupted, or leaving early. On Windows a killed program runs no code, so
// a process that broke away from the job then stays.
class ProcessTree {
  public:
    virtual ~ProcessTree() = default;
    // Waits until the started program ends, at most `milliseconds` unless
    // that is negative; `exitCode` gets its exit code when it ended.
    virtual WaitResult waitForExit(std::int64_t milliseconds, int& exitCode) = 0;
    // Ends every process of the tree now, on Windows also those started
    // outside the job (broken away, or with no job at all), as far as their
    // parents lead back to the started program, and waits a short while for
    // them to be gone.
    virtual void end() = 0;
    // Before a normal end: what the program started on purpose lives on.
    virtual void release() = 0;
};

// Starts the program file `program` itself (never one looked for elsewhere)
// with `commandLine` as the whole command line it reads, no interpreter in
// between, on this program's console and standard streams. Windows starts
// only a Windows program (a PE image for x86, x64 or ARM64), and starts it
// inside a job of its own, which lets its processes break away on purpose;
// where the system cannot start it inside the job, it starts suspended and
// joins the job before it runs; where the system allows no such job, it runs
// without one. Null when it cannot start; `error` then holds the system's
// reason.
std::unique_ptr<ProcessTree> startProcess(const std::string& program,
                                          const std::string& commandLine, std::string& error);

// True when the program file's imports show that it reads its command line
// through the system's ANSI code page alone (see program_image.h), and for a
// file that cannot be opened, which cannot start either; false when they show
// anything else or cannot be read, and where no code page stands between
// (POSIX).
bool readsAnsiCommandLine(const std::string& program);

// True when the file-status query succeeds, that is a file or directory is there.
bool pathIsPresent(const std::string& path);

// The directories that make up a path, outermost first, each as a whole
// path, the root (C:\, \\server\share\, /) included where the path has one.
// Windows takes '/' and '\' alike as separators, POSIX '/' only, as its
// file-status query does. "." and ".." are resolved on the text first, as
// Windows resolves them, so no component that ".." cancels is ever made.
std::vector<std::string> directoryChain(const std::string& path);

// True when a directory stands at the path.
bool isDirectory(const std::string& path);

// Creates one directory in a parent that stands; false when it cannot.
// Nothing is reported: the program writes its own message. Unlike the other
// file operations here, Windows needs its long-path policy past 248
// characters.
bool makeOneDirectory(const std::string& path);

// Removes a directory, only while it is empty.
void removeEmptyDirectory(const std::string& path);

// True when the environment holds a variable of that name, also one with an
// empty value (on Windows the name's letter case does not matter).
bool hasEnvironmentVariable(const std::string& name);

// How a program that reads text in the system's ANSI code page (the one
// Windows uses for programs without Unicode) reads one character.
struct AnsiReading {
    std::string text;   // what it reads, as UTF-8: best fit turns U+FF02 into '"'
    bool lost = false;  // the code page has no such character: it reads '?'
};

// `character` is one character of UTF-8 text (see utf8Characters). Where no
// code page stands between (POSIX, or a UTF-8 system code page), the
// character itself.
AnsiReading ansiReadingOf(const std::string& character);

// How a file operation ended. kInUse is Windows' sharing violation: another
// process holds the file open, and the same call may succeed once it lets go.
// kExists: something stands where a new file was to be made.
enum class FileResult { kDone, kMissing, kInUse, kExists, kFailed };

// A link, in what follows, is a symbolic link, a junction or another reparse
// point, and also anything whose final path (where the system says the
// opened file is) is not in the folder the path names under the name it
// gives: under Wine a Unix symbolic link shows no reparse point.

// Deletes a file. A link is kFailed and stays: nothing is deleted through it.
FileResult removeFile(const std::string& path);

// True when a file is at both paths and it is one and the same file.
bool sameFile(const std::string& first, const std::string& second);

// A file opened for reading its bytes in order, as they are on disk.
class InputFile {
  public:
    virtual ~InputFile() = default;
    // Reads up to `size` bytes into `buffer`: the count read, 0 at the end of
    // the file, or -1 when the read failed.
    virtual long read(char* buffer, std::size_t size) = 0;
};

// Opens a file for reading, sharing it with its writer. kMissing only when
// nothing is at the path; a directory or a link there is kFailed, so nothing
// is read through a link.
FileResult openInputFile(const std::string& path, std::unique_ptr<InputFile>& file);

// Wakes a waiting thread when the entries of one directory change.
class DirectoryWatch {
  public:
    virtual ~DirectoryWatch() = default;
    // Returns once an entry in the directory was created, renamed or removed
    // since the watch began or the last return, or after `milliseconds`,
    // whichever comes first.
    virtual void waitForChange(unsigned milliseconds) = 0;
};

// Watches the directory that holds `path` from now on ('/' and '\' separate
// on Windows, '/' alone on POSIX). Where the system cannot watch it, the
// watch only sleeps, so callers still look again at their own pace.
std::unique_ptr<DirectoryWatch> watchDirectoryOf(const std::string& path);

// A file opened for appending, which other processes may append to at once.
class AppendFile {
  public:
    virtual ~AppendFile() = default;
    // Writes all of `bytes` at the file's end in one piece; false when they
    // did not all get there.
    virtual bool append(const std::string& bytes) = 0;
    // Takes the file's lock, waiting at most `milliseconds` while another
    // process holds it; false when it is still held then. The lock guards
    // nothing by itself: holders agree to append only under it.
    virtual bool lock(unsigned milliseconds) = 0;
    virtual void unlock() = 0;
    // True while the file opened is still the one at its path: not deleted,
    // renamed or replaced since.
    virtual bool stillAtPath() = 0;
};

// Opens a file for appending, creating it where it is missing. Null when it
// cannot be, for a relative path, which would land wherever the program
// happens to start (an absolute path is a drive path such as C:\x or a UNC
// path on Windows, one from '/' on POSIX), and when anything on the way is a
// link: the path's final path must be the path itself, so that a link
// planted where a privileged run appends never sends its text elsewhere. A
// link to nothing is never followed to create its target, and a file this
// call created where it then refuses is removed again: a refusal leaves
// nothing anywhere. Windows keeps the file from being deleted or renamed
// while it is open.
std::unique_ptr<AppendFile> openAppendFile(const std::string& path);

// A file of the program's own in the system's temporary folder, for text too
// long to hold in memory: nobody else opens it, and it goes when it is
// closed, also when the program is killed.
class ScratchFile : public InputFile {
  public:
    // Writes all of `bytes` after what was written before; false when they
    // did not all get there.
    virtual bool write(const std::string& bytes) = 0;
    // The next read starts at the beginning.
    virtual bool rewind() = 0;
};

// Null when no such file can be made.
std::unique_ptr<ScratchFile> openScratchFile();

// Creates a new file, writes `bytes` into it and disposes of it, all through
// the one handle that created it, so that nothing put at the name meanwhile is
// ever written or removed. kExists when anything already stands at the path;
// kDone only when every byte reached the file and closing succeeded;
// otherwise kFailed.
FileResult probeNewFile(const std::string& path, const std::string& bytes);

}  // namespace platform
