// Every call the program makes into the operating system, as plain functions.
// platform_windows.cpp serves the Windows build with the real calls;
// platform_posix.cpp serves the native build used for development and tests,
// behaving as the Windows calls do as far as the program's logic can tell.
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

void sleepMilliseconds(unsigned milliseconds);

// Wall-clock milliseconds since the process started.
long millisecondsSinceStart();

// Runs a command line through the command interpreter, blocking until it ends.
// Returns the interpreter's exit status, or -1 when no interpreter could start.
int runCommand(const std::string& command);

// True when the file-status query succeeds, that is a file or directory is there.
bool fileStatus(const std::string& path);

enum class CreateResult { kCreated, kExists, kFailed };

// Creates an empty file, failing with kExists when anything is already there.
CreateResult createNewFile(const std::string& path);

// Opens a file for reading with the Windows run-time's text-mode meaning: a
// carriage return directly before a line feed is dropped, and a byte 26 ends
// the input. The returned stream is in a failed state when the file cannot be
// opened.
std::unique_ptr<std::istream> openTextInput(const std::string& path);

}  // namespace platform
