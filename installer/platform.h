// Every call the program makes into the operating system, as plain functions.
// platform_windows.cpp serves the Windows build with the real calls;
// platform_posix.cpp serves the native build used for development and tests,
// behaving as the Windows calls do as far as the program's logic can tell.
//
// Paths are 8-bit strings in the process's code page. Every file operation
// here reaches paths of any length, past the 260 characters of the narrow
// Windows calls included.
#pragma once

#include <cstdint>
#include <istream>
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
// Returns the interpreter's exit status, or -1 when no interpreter could start.
int runCommand(const std::string& command);

// True when the file-status query succeeds, that is a file or directory is there.
bool fileStatus(const std::string& path);

// Deletes a file; failures are the caller's to ignore.
void removeFile(const std::string& path);

enum class ProbeResult { kWritten, kExists, kFailed };

// Creates a new file, writes `bytes` into it and disposes of it, all through
// the one handle that created it, so that nothing put at the name meanwhile is
// ever written or removed. kExists when anything already stands at the path;
// kWritten only when every byte reached the file and closing succeeded.
ProbeResult probeNewFile(const std::string& path, const std::string& bytes);

// Opens a file for reading with the Windows run-time's text-mode meaning: a
// carriage return directly before a line feed is dropped, and a byte 26 ends
// the input. The returned stream is in a failed state when the file cannot be
// opened.
std::unique_ptr<std::istream> openTextInput(const std::string& path);

}  // namespace platform
