// Every call the checker makes into Windows, as plain functions, served by
// check_platform_windows.cpp. Text is UTF-8 throughout; each call converts to
// UTF-16 and back, and reaches paths of any length (the \\?\ form inside).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace check {

// What a program run with runProgram did.
struct RunResult {
    bool started = false;              // false: it could not be started (error says why)
    bool timedOut = false;             // the time limit passed; every process of it was ended
    std::uint32_t exitCode = 0;        // its whole exit code, as GetExitCodeProcess gives it
    std::string output;                // its standard output and error, in the order written
    std::vector<std::string> windows;  // titles of visible top-level windows that
                                       // appeared while it ran, each once, in order
    std::string error;
    // What the program left running, ended when the last copy of this goes.
    std::shared_ptr<void> rest;
};

// Runs `commandLine` as CreateProcessW takes it (the program first, quoted as
// needed; no interpreter), with standard input empty and both output streams
// into one pipe, inside a job. The run ends when its program ends, or with
// `untilAllEnd` when every process of the job has (an NSIS uninstaller hands
// over to a copy of itself); what the program left running then lives on,
// held by `rest`. When `timeoutMilliseconds` pass first, every process of the
// run is ended. While it runs, every visible top-level window that was not
// there before it started is noted by its title (an empty title as
// "(untitled)") and closed, so that no run waits on a window nobody sees.
RunResult runProgram(const std::string& commandLine, unsigned timeoutMilliseconds,
                     bool untilAllEnd);

// One file or folder found by listTree.
struct TreeEntry {
    bool folder = false;
    std::uint64_t size = 0;
    std::uint64_t written = 0;  // a file's last write, in the system's ticks; 0 for a folder
};

// Every file and folder under `root`, at any depth, by its path relative to
// `root` with backslashes ("bin\\Zev.exe"); empty when `root` is missing.
// Links are listed, never followed.
// `depth` levels down at most (1: only what `root` holds), all when negative.
std::map<std::string, TreeEntry> listTree(const std::string& root, int depth = -1);

// The SHA-256 of a file's content in lower-case hex, or "" when it cannot be read.
std::string fileSha256(const std::string& path);

// Registry values under a key, at any depth: "<key>\\<subkey...>" mapped to
// its values as "name=value" lines ("@" names the default value), each key
// present even without values. `key` begins with HKLM, HKCU or HKCR; `view`
// is 32 or 64. Values are given as text: strings as they are, numbers in
// decimal, binary data in hex.
std::map<std::string, std::vector<std::string>> readRegistryTree(const std::string& key, int view);

// Removes `key` with all under it; true when it is gone.
bool removeRegistryKey(const std::string& key, int view);

// Names of the subkeys directly under `key` (no values, no depth).
std::vector<std::string> registrySubkeys(const std::string& key, int view);

// A folder the system knows: "Desktop", "CommonDesktop", "Programs",
// "CommonPrograms", "ProgramFiles", "ProgramFilesX86", "CommonFiles",
// "AppData", "LocalAppData", "CommonAppData", "Windows", "System", "Temp",
// "Profile", "Documents". "" when the system has none.
std::string knownFolder(const std::string& name);

bool makeFolders(const std::string& path);  // with its parents; true when it exists
bool removeTree(const std::string& path);   // true when nothing is left
bool copyFile(const std::string& from, const std::string& to);
bool writeFile(const std::string& path, const std::string& bytes);
bool readFile(const std::string& path, std::string& bytes);
bool exists(const std::string& path);

// The program's arguments (its own name first) from the UTF-16 command line.
std::vector<std::string> arguments();

// Writes text to standard output at once (a console gets it as UTF-16).
void say(const std::string& text);

std::uint32_t currentProcessId();
std::int64_t monotonicMilliseconds();
void sleepMilliseconds(unsigned milliseconds);

}  // namespace check
