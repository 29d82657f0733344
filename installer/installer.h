// The run flow: command line, installation directory, setup launch,
// completion wait and log relay.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

const int kExitSuccess = 0;
const int kExitFailure = -1;

extern const char* const kUsageText;

// The values a run goes on with once the command line has been accepted.
struct RunOptions {
    std::string setupPath;  // completed with ".exe"
    std::string language;   // empty, "e" or "g"
    std::string directory;  // raw: not yet settled
    bool desktopShortcut = true;
};

// Reads and checks the command line (`arguments` starts with the program's
// name). Returns true with `options` filled in when the run goes on; otherwise
// has written what the user must see and sets `exitCode`.
bool readCommandLine(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err, RunOptions& options, int& exitCode);

// A whole run, from the argument vector to the process exit code.
int runInstaller(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// The setup's log path: the directory, joined with a backslash where it does
// not end in a separator, then "install", both clock readings, '-', the
// process id and ".log".
std::string composeLogPath(const std::string& directory, std::int64_t calendarSeconds,
                           long elapsedMilliseconds, std::uint32_t processId);

// The command line the interpreter receives for the setup.
std::string composeSetupCommand(const std::string& setupPath, const std::string& language,
                                bool desktopShortcut, const std::string& logPath,
                                const std::string& directory);

struct LaunchResult {
    int status;
    std::string logPath;
};

// Removes a stale log, runs the setup through the interpreter and waits for it.
LaunchResult launchSetup(const std::string& setupPath, const std::string& language,
                         bool desktopShortcut, const std::string& directory);

// Polls for the marker every 100 ms until it exists or `clock` (milliseconds)
// has moved 10 s forward. True when the marker appeared.
bool waitForMarker(const std::string& markerPath, const std::function<std::int64_t()>& clock,
                   const std::function<void(unsigned)>& pause);

// Copies the log to `err` line by line, each line with its line end in one
// write followed by a flush; lines longer than a fixed piece go out in pieces,
// so memory does not grow with the log. True when every byte reached `err`.
bool relayLog(std::istream& log, std::ostream& err);

// Waits up to 10 s for the completion marker (log path + ".ready"), removes it,
// relays the log line by line to `err` and removes the log once it has been
// relayed in full. True when the log could not be opened.
bool waitForSetupAndRelayLog(std::string logPath, std::ostream& err);
