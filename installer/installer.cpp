#include "installer.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "argument_table.h"
#include "install_dir.h"
#include "platform.h"
#include "run_record.h"
#include "setup_command.h"
#include "setup_timeout.h"

namespace {

const unsigned kPollMilliseconds = 100;
const std::int64_t kWaitMilliseconds = 10000;
// The most of one log line held at a time; longer lines go out in pieces.
const std::size_t kRelayPiece = 64 * 1024;
// How often a removal is tried while another process holds the file: 2 s.
const int kRemoveAttempts = 20;

bool isHelpRequest(const std::string& argument) {
    return argument == "/h" || argument == "/H" || argument == "/?" || argument == "/Help";
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The arguments as lines of the argument table's text, which reads each
// value as it reads a key line: after the first '=', its surrounding blanks
// trimmed, the first of a repeated switch taken. The first argument goes in
// as the setup path. `refused` is the first argument that is no option.
struct ScreenedArguments {
    std::string text;
    std::optional<std::string> refused;
};

ScreenedArguments screenArguments(const std::vector<std::string>& arguments) {
    ScreenedArguments screened;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // A line break would start a line of its own in the table's text: a
        // section that hides the options after it, or an option nobody gave.
        bool oneLine = argument.find_first_of("\r\n") == std::string::npos;
        if (i == 1) {
            // A first argument with a line break names no setup path.
            screened.text += "setupPath=" + (oneLine ? argument : std::string()) + '\n';
            continue;
        }
        if (argument == "/norestart") {
            continue;
        }
        bool option = startsWith(argument, "/D=") || startsWith(argument, "/L=") ||
                      startsWith(argument, "/DS=") || startsWith(argument, "/EXITCODES=") ||
                      startsWith(argument, "/LOG=") || startsWith(argument, "/TIMEOUT=");
        if (option && oneLine) {
            screened.text += argument + '\n';
        } else if (!screened.refused) {
            screened.refused = argument;
        }
    }
    return screened;
}

// A file that another process still holds open cannot be removed yet: the
// removal is tried again for a short while.
void removeOnceFree(const std::string& path) {
    for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
        if (platform::removeFile(path) != platform::FileResult::kInUse) {
            return;
        }
        platform::sleepMilliseconds(kPollMilliseconds);
    }
}

}  // namespace

std::variant<RunOptions, int> readCommandLine(const std::vector<std::string>& arguments,
                                              std::ostream& out, std::ostream& err) {
    if (arguments.size() < 2) {
        err << kUsageText << std::endl;
        return kExitFailure;
    }
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (isHelpRequest(arguments[i])) {
            out << kUsageText << std::endl;
            return kExitSuccess;
        }
    }
    ScreenedArguments screened = screenArguments(arguments);
    ArgumentTable table;
    table.parse(true, screened.text);
    // The existence test looks at the path that will run, with the program
    // ending it may lack, and the path goes into the setup's command line
    // as it is.
    const std::string& first = arguments[1];
    std::string setupPath = withExeEnding(table.getString("", "setupPath", ""));
    // A refused command line ends with the code its own option asked for.
    std::string exitCodes = table.getString("", "/EXITCODES", "");
    const int refused = refusedExitCode(exitCodes == "msi");
    // Nothing is at a path with blanks around it, which the table trims.
    if (!fitsSetupCommandLine(first) || table.getString("", "setupPath", "") != first ||
        !pathExists(setupPath)) {
        err << "Path not found: " << first << std::endl;
        err << "First parameter must be setup path" << std::endl;
        return refused;
    }
    if (screened.refused) {
        err << "Invalid parameter \"" << *screened.refused << "\"" << std::endl;
        return refused;
    }

    RunOptions options;
    options.language = table.getString("", "/L", "");
    if (!options.language.empty() && options.language != "g" && options.language != "e") {
        err << "Invalid parameter \"/L=" << options.language << "\"" << std::endl;
        return refused;
    }
    options.directory = table.getString("", "/D", "");
    options.setupPath = setupPath;
    std::string shortcut = table.getString("", "/DS", "");
    if (!shortcut.empty() && shortcut != "1" && shortcut != "0") {
        err << "Invalid parameter \"/DS=" << shortcut << "\"" << std::endl;
        return refused;
    }
    // No value, or "1", keeps the shortcut.
    options.desktopShortcut = shortcut != "0";
    if (table.findEntry("", "/EXITCODES") && exitCodes != "msi") {
        err << "Invalid parameter \"/EXITCODES=" << exitCodes << "\"" << std::endl;
        return kExitFailure;
    }
    options.msiExitCodes = exitCodes == "msi";
    options.runLog = table.getString("", "/LOG", "");
    if (table.findEntry("", "/LOG") && options.runLog.empty()) {
        err << "Invalid parameter \"/LOG=\"" << std::endl;
        return refused;
    }
    if (table.findEntry("", "/TIMEOUT")) {
        std::string timeout = table.getString("", "/TIMEOUT", "");
        options.timeoutSeconds = timeoutSecondsOf(timeout);
        if (options.timeoutSeconds == 0) {
            err << "Invalid parameter \"/TIMEOUT=" << timeout << "\"" << std::endl;
            return refused;
        }
    }
    return options;
}

int runInstaller(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    platform::failWhenInterrupted(kExitFailure);
    std::variant<RunOptions, int> read = readCommandLine(arguments, out, err);
    if (const int* exitCode = std::get_if<int>(&read)) {
        return *exitCode;
    }
    RunOptions& options = std::get<RunOptions>(read);
    const int failed = runExitCode(options.msiExitCodes, false, kExitFailure, false);
    platform::failWhenInterrupted(failed);
    // The record is opened before anything is created or run, so that a run
    // whose record cannot be kept does nothing at all; appending to the setup
    // itself would change the program about to run.
    std::unique_ptr<RunRecord> record;
    if (!options.runLog.empty()) {
        if (!platform::sameFile(options.runLog, options.setupPath)) {
            record = RunRecord::open(options.runLog, arguments, err);
        }
        if (!record) {
            err << "Can not write log " << options.runLog << std::endl;
            return failed;
        }
    }
    std::ostream recorded(record ? static_cast<std::streambuf*>(record.get()) : err.rdbuf());
    // Every end from here on closes the record; a run asked to keep one is no
    // success when it could not. An interrupted run ends at once, so its
    // record gets a last line only where that takes no wait.
    if (record) {
        platform::failWhenInterrupted(
            failed, [&record, failed] { record->finish(failed, "interrupted, exit code", false); });
    }
    auto end = [&](int exitCode, const std::string& how) {
        platform::failWhenInterrupted(failed);
        if (record && !record->finish(exitCode, how) && exitCode == kExitSuccess) {
            err << "Can not write log " << options.runLog << std::endl;
            return failed;
        }
        return exitCode;
    };
    const bool ansiSetup = platform::readsAnsiCommandLine(options.setupPath);
    if (!resolveInstallDir(options.directory, recorded, ansiSetup)) {
        return end(failed, "exit code");
    }
    LaunchResult launch = launchSetup(options, recorded);
    if (!launch.setup) {
        return end(failed, "exit code");
    }
    int status = kExitFailure;
    platform::WaitResult waited =
        launch.setup->waitForExit(setupWaitMilliseconds(options.timeoutSeconds), status);
    std::string timedOut;
    if (waited == platform::WaitResult::kTimedOut) {
        launch.setup->end();
        timedOut = setupTimedOutText(options.timeoutSeconds, options.setupPath);
        recorded << timedOut << std::endl;
    }
    // The wait runs whatever the setup returned, so marker and log are always
    // cleaned up. Until it ends, a killed program takes the setup's whole
    // process tree with it; a normal end lets what the setup started on
    // purpose live on.
    SetupEnd setupEnd = waitForSetupAndRelayLog(launch.logPath, recorded, timedOut.empty());
    launch.setup->release();
    if (!timedOut.empty()) {
        return end(failed, timedOut + ", exit code");
    }
    // A wait the system could not finish is no success.
    bool exited = waited == platform::WaitResult::kExited;
    int exitCode =
        runExitCode(options.msiExitCodes, exited, status, setupEnd.log != LogOutcome::kNoLog);
    // No import table shows what a wrapper starts: a directory that an ANSI
    // reader would read as another counts as installed only when the marker
    // reached the path given, which proves the setup read its command line
    // as written.
    if (reportsInstalled(exitCode) && !setupEnd.markerSeen &&
        !namesPlainDirectory(options.directory, true)) {
        recorded << "Setup did not confirm directory " << options.directory << std::endl;
        return end(failed, "exit code");
    }
    return end(exitCode, "exit code");
}

LaunchResult launchSetup(const RunOptions& options, std::ostream& err) {
    std::int64_t seconds = static_cast<std::int64_t>(std::time(nullptr));
    long elapsed = platform::millisecondsSinceStart();
    LaunchResult result;
    result.logPath =
        composeLogPath(options.directory, seconds, elapsed, platform::currentProcessId());
    std::string command =
        composeSetupCommand(options.setupPath, options.language, options.desktopShortcut,
                            result.logPath, options.directory);
    if (pathExists(result.logPath)) {
        platform::removeFile(result.logPath);
    }
    std::string reason;
    result.setup = platform::startProcess(options.setupPath, command, reason);
    if (!result.setup) {
        err << "Can not start setup " << options.setupPath << ": " << reason << std::endl;
    }
    return result;
}

bool waitForMarker(const std::string& markerPath, const std::function<std::int64_t()>& clock,
                   const std::function<void(unsigned)>& pause) {
    const std::int64_t start = clock();
    while (!pathExists(markerPath)) {
        if (clock() - start >= kWaitMilliseconds) {
            return false;
        }
        pause(kPollMilliseconds);
    }
    return true;
}

bool relayLog(platform::InputFile& log, std::ostream& err) {
    std::vector<char> raw(kRelayPiece);
    // Room for a held CR and a line end behind a full piece.
    std::vector<char> text(kRelayPiece + 2);
    std::size_t filled = 0;   // text not yet written: the start of a line
    bool midLine = false;     // part of the current line has gone out already
    bool heldReturn = false;  // a CR whose meaning the next byte decides
    bool atRealEnd = false;
    bool ended = false;
    while (!ended && err) {
        long got = log.read(raw.data(), kRelayPiece - filled);
        if (got <= 0) {
            atRealEnd = got == 0;
            break;
        }
        // Text mode, as the Windows run-time reads: CR LF becomes LF, a lone
        // CR stays, and byte 26 ends the input.
        for (long i = 0; i < got; ++i) {
            char byte = raw[static_cast<std::size_t>(i)];
            if (heldReturn && byte != '\n') {
                text[filled++] = '\r';
            }
            heldReturn = byte == '\r';
            if (byte == 26) {
                ended = true;
                // A byte 26 that closes the file, as old tools write one, hides
                // nothing; anything behind it is never relayed.
                atRealEnd = i + 1 == got && log.read(raw.data(), 1) == 0;
                break;
            }
            if (!heldReturn) {
                text[filled++] = byte;
            }
        }
        // As many whole lines as the piece holds in one write, then a flush;
        // a line longer than the piece goes out in pieces.
        std::size_t lines = filled;
        while (lines > 0 && text[lines - 1] != '\n') {
            --lines;
        }
        if (filled >= kRelayPiece - 1) {
            lines = filled;
        }
        if (lines > 0) {
            err.write(text.data(), static_cast<std::streamsize>(lines)).flush();
            midLine = text[lines - 1] != '\n';
            std::memmove(text.data(), text.data() + lines, filled - lines);
            filled -= lines;
        }
    }
    if (heldReturn) {
        text[filled++] = '\r';
    }
    // A last line without a line feed still ends with one.
    if (filled > 0 || midLine) {
        text[filled++] = '\n';
        err.write(text.data(), static_cast<std::streamsize>(filled)).flush();
    }
    return atRealEnd && err.good();
}

SetupEnd waitForSetupAndRelayLog(std::string logPath, std::ostream& err, bool waitForMarker) {
    const std::int64_t start = platform::monotonicMilliseconds();
    const std::string markerPath = logPath + ".ready";
    SetupEnd end;
    if (waitForMarker) {
        // Watched from before the first look, so that a marker made between
        // a look and the pause after it ends the pause at once.
        std::unique_ptr<platform::DirectoryWatch> watch = platform::watchDirectoryOf(markerPath);
        end.markerSeen =
            ::waitForMarker(markerPath, platform::monotonicMilliseconds,
                            [&](unsigned milliseconds) { watch->waitForChange(milliseconds); });
    } else {
        end.markerSeen = pathExists(markerPath);
    }
    removeOnceFree(markerPath);

    std::unique_ptr<platform::InputFile> log;
    platform::FileResult opened = platform::openInputFile(logPath, log);
    // The setup, or a process it left running, may still hold the log for a
    // moment: it has what is left of the wait to let go.
    while (opened == platform::FileResult::kInUse &&
           platform::monotonicMilliseconds() - start < kWaitMilliseconds) {
        platform::sleepMilliseconds(kPollMilliseconds);
        opened = platform::openInputFile(logPath, log);
    }
    // Only nothing at the log path means the setup left no log; anything
    // there may hold its report of a failure.
    if (opened == platform::FileResult::kMissing) {
        end.log = LogOutcome::kNoLog;
        return end;
    }
    if (opened != platform::FileResult::kDone) {
        err << "Can not read log " << logPath << std::endl;
        end.log = LogOutcome::kUnreadable;
        return end;
    }
    bool relayed = relayLog(*log, err);
    log.reset();
    // A log that did not reach the error stream in full is the only record
    // of what the setup reported: it stays where the setup wrote it.
    if (relayed) {
        removeOnceFree(logPath);
    }
    end.log = LogOutcome::kRelayed;
    return end;
}
