// The run flow: command line, installation directory, setup launch,
// completion wait and log relay.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "exit_codes.h"
#include "platform.h"
#include "usage_text.h"

// The values a run goes on with once the command line has been accepted.
struct RunOptions {
    std::string setupPath;  // completed with ".exe"
    std::string language;   // empty, "e" or "g"
    std::string directory;  // raw: not yet settled
    bool desktopShortcut = true;
    bool msiExitCodes = false;  // /EXITCODES=msi
    std::string runLog;         // /LOG=: the file the run appends its record to
    int timeoutSeconds = 0;     // /TIMEOUT=: 0 when the setup may take as long as it takes
};

// Reads and checks the command line (`arguments` starts with the program's
// name). Returns the options when the run goes on; otherwise the exit code the
// run ends with, once what the user must see has been written.
std::variant<RunOptions, int> readCommandLine(const std::vector<std::string>& arguments,
                                              std::ostream& out, std::ostream& err);

// A whole run, from the argument vector to the process exit code.
int runInstaller(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

struct LaunchResult {
    std::unique_ptr<platform::ProcessTree> setup;  // null when it could not start
    std::string logPath;
};

// Removes a stale log and starts the setup with its command line, the
// directory settled. A setup that cannot start is reported on `err` ("Can not
// start setup <setup path>: <the system's reason>") and the result holds no
// process.
LaunchResult launchSetup(const RunOptions& options, std::ostream& err);

// Looks for the marker until it exists or `clock` (milliseconds) has moved
// 10 s on, pausing between two looks with `pause` (100 ms at most, less when
// the directory changes). True when the marker appeared.
bool waitForMarker(const std::string& markerPath, const std::function<std::int64_t()>& clock,
                   const std::function<void(unsigned)>& pause);

// Copies the log to `err` as the Windows run-time's text mode reads it (CR LF
// becomes LF, a lone CR stays, byte 26 ends the text), every line ended by a
// line feed: as many whole lines as a fixed piece holds in one write and one
// flush; a longer line goes out in pieces, so memory does not grow with the
// log. True only when the relay reached the log's real end (a byte 26 that is
// the last byte counts as the end) and every byte reached `err`.
bool relayLog(platform::InputFile& log, std::ostream& err);

// What stood at the log path once the setup had finished.
enum class LogOutcome {
    kNoLog,       // nothing: the setup left no log
    kRelayed,     // a log, relayed to the error stream as far as it could be
    kUnreadable,  // something that could not be opened for reading
};

// How the setup's end looked: whether its completion marker appeared at the
// path it was given, and what stood at its log path.
struct SetupEnd {
    bool markerSeen = false;
    LogOutcome log = LogOutcome::kNoLog;
};

// Waits up to 10 s for the completion marker (log path + ".ready") and removes
// it; then relays the log to `err` and removes it once it has been relayed in
// full. A log that another process holds is tried again while the 10 s last.
// Something at the log path that cannot be read is reported on `err` ("Can
// not read log <log path>") and stays.
// Without `waitForMarker` (a setup that was ended) it looks for the marker
// only once.
SetupEnd waitForSetupAndRelayLog(std::string logPath, std::ostream& err, bool waitForMarker = true);
