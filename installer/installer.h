// The run flow: command line, installation directory, setup launch,
// completion wait and log relay.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "platform.h"
#include "usage_text.h"

const int kExitSuccess = 0;
const int kExitFailure = -1;

// With /EXITCODES=msi the run ends with the codes deployment tools know from
// Windows Installer: the setup's own restart and retry codes, and these two in
// place of -1.
const int kMsiRestartNeeded = 3010;
const int kMsiRestartStarted = 1641;
const int kMsiAnotherInstallRunning = 1618;
const int kMsiBadCommandLine = 1639;
const int kMsiFailure = 1603;

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

// The longest /TIMEOUT=: a day.
const int kMostTimeoutSeconds = 86400;

// The seconds a /TIMEOUT= value gives: a whole number from 1 to 86400 in
// decimal digits alone (leading zeros allowed); 0 for anything else.
int timeoutSecondsOf(const std::string& value);

// Reads and checks the command line (`arguments` starts with the program's
// name). Returns the options when the run goes on; otherwise the exit code the
// run ends with, once what the user must see has been written.
std::variant<RunOptions, int> readCommandLine(const std::vector<std::string>& arguments,
                                              std::ostream& out, std::ostream& err);

// A whole run, from the argument vector to the process exit code.
int runInstaller(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// The exit code of a run that got past the command line: the setup's status,
// what stood at its log path, and whether the setup started at all.
int runExitCode(const RunOptions& options, bool setupRan, int setupStatus, bool logLeft);

// The run's record in the file /LOG= names: a first line with the time and
// the command line, every line the run writes to `err` (the relayed log
// among them), a last line with the time and the exit code. Lines end in CR
// LF. Runs appending to one file at once keep their records whole: a record
// is appended in one piece at the end, under the file's lock, which a run
// takes only then and holds only while it copies; past 1 MiB the record waits
// in a scratch file of its own meanwhile.
class RunRecord : public std::streambuf {
  public:
    // Null when the file cannot be opened for appending.
    static std::unique_ptr<RunRecord> open(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           std::ostream& err);
    // Ends the record with a line of the time, `how` and the exit code; false
    // when not all of it got there. Only the first call writes. Without
    // `wait`, as an interrupt ends the record from another thread, it writes
    // only when neither the record nor the file's lock is busy at that moment.
    bool finish(int exitCode, const std::string& how = "exit code", bool wait = true);

    RunRecord(std::unique_ptr<platform::AppendFile> file, std::ostream& err)
        : file_(std::move(file)), err_(err) {}

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int sync() override;

  private:
    void keep(const char* bytes, std::size_t count);
    void keepLocked(const char* bytes, std::size_t count);
    bool appendAll();

    std::unique_ptr<platform::AppendFile> file_;
    std::unique_ptr<platform::ScratchFile> spilled_;
    std::ostream& err_;
    std::mutex mutex_;
    std::string held_;
    bool written_ = true;
    bool finished_ = false;
};

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

// Waits up to 10 s for the completion marker (log path + ".ready") and removes
// it; then relays the log to `err` and removes it once it has been relayed in
// full. A log that another process holds is tried again while the 10 s last.
// Something at the log path that cannot be read is reported on `err` ("Can
// not read log <log path>") and stays.
// Without `waitForMarker` (a setup that was ended) it looks for the marker
// only once.
LogOutcome waitForSetupAndRelayLog(std::string logPath, std::ostream& err,
                                   bool waitForMarker = true);
