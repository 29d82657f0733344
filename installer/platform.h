// Every call the program makes into the operating system, as plain functions.
// platform_windows.cpp serves the Windows build with the real calls;
// platform_posix.cpp serves the native build used for development and tests,
// behaving as the Windows calls do as far as the program's logic can tell.
//
// Paths are 8-bit strings in the process's code page. Every file operation
// here but makeDirectory reaches paths of any length, past the 260 characters
// of the narrow Windows calls included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

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

// Runs a command line through the command interpreter, blocking until it ends.
// The interpreter is COMSPEC when that names an existing file by its absolute
// path, and the system's own otherwise, never one found in the current
// directory. Returns the interpreter's exit status, or -1 when no interpreter
// could start.
int runCommand(const std::string& command);

// True when the file-status query succeeds, that is a file or directory is there.
bool pathIsPresent(const std::string& path);

// Creates the directory with every missing parent. From the outermost
// component inwards, each one that is not yet a directory is created; the
// first that cannot be ends the call with false, leaving those created so far.
// True when the whole chain stands as directories at the end, which changes
// nothing where it already did. Windows takes '/' and '\' alike as
// separators, POSIX '/' only, as its file-status query does. On Windows, text
// that is no path in the process's code page gives false. Nothing is reported:
// the program writes its own message.
bool makeDirectory(const std::string& path);

// True when the environment holds a variable of that name (on Windows the
// name's letter case does not matter).
bool hasEnvironmentVariable(const std::string& name);

// How a file operation ended. kInUse is Windows' sharing violation: another
// process holds the file open, and the same call may succeed once it lets go.
enum class FileResult { kDone, kMissing, kInUse, kFailed };

// Deletes a file.
FileResult removeFile(const std::string& path);

// A file opened for reading its bytes in order, as they are on disk.
class InputFile {
  public:
    virtual ~InputFile() = default;
    // Reads up to `size` bytes into `buffer`: the count read, 0 at the end of
    // the file, or -1 when the read failed.
    virtual long read(char* buffer, std::size_t size) = 0;
};

// Opens a file for reading, sharing it with its writer. kMissing only when
// nothing is at the path; a directory there is kFailed.
FileResult openInputFile(const std::string& path, std::unique_ptr<InputFile>& file);

// Puts the program in a job that ends every process it starts from now on,
// and theirs, when the program is killed. Returns the job for
// releaseChildProcesses, or nullptr where the program cannot be put in one
// (it already runs in a job that allows no other) and nothing changes.
void* bindChildProcesses();

// Before a normal exit: lets the processes of the job live on after the
// program, and closes it.
void releaseChildProcesses(void* job);

enum class ProbeResult { kWritten, kExists, kFailed };

// Creates a new file, writes `bytes` into it and disposes of it, all through
// the one handle that created it, so that nothing put at the name meanwhile is
// ever written or removed. kExists when anything already stands at the path;
// kWritten only when every byte reached the file and closing succeeded.
ProbeResult probeNewFile(const std::string& path, const std::string& bytes);

}  // namespace platform
