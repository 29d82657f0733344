#include "installer.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>
#include <sstream>
#include <vector>

#include "argument_table.h"
#include "install_dir.h"
#include "platform.h"

const char* const kUsageText =
    "\n"
    " Qix_Console_Installer Version 1.1.3 \n"
    " Usage: Qix_Console_Installer.exe <path to setup> [/L=...] [/D=...] [/DS=...]\n"
    " \n"
    " /L=   Language:   e -> english (default)\n"
    "                   g -> german \n"
    "\n"
    " /DS=  Create desktop shortcut:   0 -> no\n"
    "                                  1 -> yes (default)\n"
    "\n"
    " /D=   Installation directory (must be an absolute path), default is "
    "'<Program Files>\\Quenvarton AG\\Zev'\n";

namespace {

const unsigned kPollMilliseconds = 100;
const std::int64_t kWaitMilliseconds = 10000;
// The most of one log line held at a time; longer lines go out in pieces.
const std::size_t kRelayPiece = 64 * 1024;

bool isHelpRequest(const std::string& argument) {
    return argument == "/h" || argument == "/H" || argument == "/?" || argument == "/Help";
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsInExe(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string ending = path.substr(path.size() - 4);
    for (char& c : ending) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ending == ".exe";
}

// Characters the interpreter treats as operators or escapes outside quotes.
const char* const kOperators = "&|<>^";

// Puts '^' before each operator so the interpreter passes it on as text.
std::string escapeOperators(const std::string& text) {
    const std::string operators = kOperators;
    std::string escaped;
    for (char c : text) {
        if (operators.find(c) != std::string::npos) {
            escaped += '^';
        }
        escaped += c;
    }
    return escaped;
}

}  // namespace

bool readCommandLine(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err, RunOptions& options, int& exitCode) {
    exitCode = kExitFailure;
    if (arguments.size() < 2) {
        err << kUsageText << std::endl;
        return false;
    }
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (isHelpRequest(arguments[i])) {
            out << kUsageText << std::endl;
            exitCode = kExitSuccess;
            return false;
        }
    }
    // No Windows name holds a quote, yet "\.." can cancel one in the existence
    // test; in the setup command it would end the quoting and run the rest.
    if (arguments[1].find('"') != std::string::npos || !pathExists(arguments[1])) {
        err << "Path not found: " << arguments[1] << std::endl;
        err << "First parameter must be setup path" << std::endl;
        return false;
    }

    std::ostringstream text;
    text << "setupPath=";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "/norestart") {
            continue;
        }
        if (i == 1 || startsWith(argument, "/D=") || startsWith(argument, "/L=") ||
            startsWith(argument, "/DS=")) {
            text << argument << '\n';
        } else {
            err << "Invalid parameter \"" << argument << "\"" << std::endl;
            return false;
        }
    }

    ArgumentTable table;
    table.parse(true, text.str());

    options.language = table.getString("", "/L", "");
    if (!options.language.empty() && options.language != "g" && options.language != "e") {
        err << "Invalid parameter \"/L=" << options.language << "\"" << std::endl;
        return false;
    }
    options.directory = table.getString("", "/D", "");
    options.setupPath = table.getString("", "setupPath", "");
    std::string shortcut = table.getString("", "/DS", "");
    options.desktopShortcut = table.getBool(true, "", "/DS");
    if (!shortcut.empty() && shortcut != "1" && shortcut != "0") {
        err << "Invalid parameter \"/DS=" << shortcut << "\"" << std::endl;
        return false;
    }
    if (!endsInExe(options.setupPath)) {
        options.setupPath += ".exe";
    }
    exitCode = kExitSuccess;
    return true;
}

int runInstaller(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    RunOptions options;
    int exitCode = kExitFailure;
    if (!readCommandLine(arguments, out, err, options, exitCode)) {
        return exitCode;
    }
    if (!resolveInstallDir(options.directory, err)) {
        return kExitFailure;
    }
    LaunchResult launch = launchSetup(options.setupPath, options.language, options.desktopShortcut,
                                      options.directory);
    // The wait runs whatever the setup returned, so marker and log are always
    // cleaned up.
    bool logMissing = waitForSetupAndRelayLog(launch.logPath, err);
    // The setup reports problems through its log: any log it leaves fails the run.
    return launch.status == 0 && logMissing ? kExitSuccess : kExitFailure;
}

std::string composeLogPath(const std::string& directory, std::int64_t calendarSeconds,
                           long elapsedMilliseconds, std::uint32_t processId) {
    std::ostringstream path;
    path << directory;
    // Without a separator the log would land in the parent directory, which
    // was never proven writable.
    if (!directory.empty() && !endsInSeparator(directory)) {
        path << '\\';
    }
    // Runs started together read nearly the same two clocks; the process id
    // keeps their logs apart.
    path << "install" << calendarSeconds << elapsedMilliseconds << '-' << processId << ".log";
    return path.str();
}

std::string composeSetupCommand(const std::string& setupPath, const std::string& language,
                                bool desktopShortcut, const std::string& logPath,
                                const std::string& directory) {
    // The interpreter cuts an unquoted program path at a blank or at one of
    // ",;=" and splits the line at an unquoted operator. Only then is anything
    // quoted or escaped, so that plain paths reach it exactly as the setup has
    // always been called.
    bool quoteSetup = setupPath.find_first_of(" ,;=&|<>^()") != std::string::npos;

    std::ostringstream command;
    if (quoteSetup) {
        command << "\"\"" << setupPath << "\"";
    } else {
        command << setupPath;
    }
    command << " /S ";
    if (!language.empty()) {
        command << " /L" << language;
    }
    command << (desktopShortcut ? " /DStrue" : " /DSfalse");
    command << " /LOG\"" << logPath << "\"";
    if (!directory.empty()) {
        command << " /D=" << escapeOperators(directory);
    }
    // With a quote as the first character the interpreter removes the first and
    // the last quote of the line: this outer pair.
    if (quoteSetup) {
        command << "\"";
    }
    return command.str();
}

LaunchResult launchSetup(const std::string& setupPath, const std::string& language,
                         bool desktopShortcut, const std::string& directory) {
    std::int64_t seconds = static_cast<std::int64_t>(std::time(nullptr));
    long elapsed = platform::millisecondsSinceStart();
    LaunchResult result;
    result.logPath = composeLogPath(directory, seconds, elapsed, platform::currentProcessId());
    std::string command =
        composeSetupCommand(setupPath, language, desktopShortcut, result.logPath, directory);
    if (pathExists(result.logPath)) {
        platform::removeFile(result.logPath);
    }
    result.status = platform::runCommand(command);
    return result;
}

bool waitForMarker(const std::string& markerPath, const std::function<std::int64_t()>& clock,
                   const std::function<void(unsigned)>& pause) {
    std::int64_t elapsed = 0;
    std::int64_t last = clock();
    while (!pathExists(markerPath)) {
        std::int64_t now = clock();
        // Only forward steps count: a clock set back must not stretch the wait.
        elapsed += now > last ? now - last : 0;
        last = now;
        if (elapsed >= kWaitMilliseconds) {
            return false;
        }
        pause(kPollMilliseconds);
    }
    return true;
}

bool relayLog(std::istream& log, std::ostream& err) {
    // Room for a line end behind a full piece.
    std::vector<char> buffer(kRelayPiece + 1);
    std::size_t filled = 0;
    bool midLine = false;  // part of the current line has gone out already
    while (err) {
        log.read(buffer.data() + filled, static_cast<std::streamsize>(kRelayPiece - filled));
        std::size_t got = static_cast<std::size_t>(log.gcount());
        if (got == 0) {
            break;
        }
        filled += got;
        std::size_t start = 0;
        while (const void* end = std::memchr(buffer.data() + start, '\n', filled - start)) {
            std::size_t next =
                static_cast<std::size_t>(static_cast<const char*>(end) - buffer.data()) + 1;
            // The line and its line end in one write, then the flush.
            err.write(buffer.data() + start, static_cast<std::streamsize>(next - start)).flush();
            start = next;
            midLine = false;
        }
        if (start == 0 && filled == kRelayPiece) {
            err.write(buffer.data(), static_cast<std::streamsize>(filled)).flush();
            midLine = true;
            filled = 0;
        } else {
            std::memmove(buffer.data(), buffer.data() + start, filled - start);
            filled -= start;
        }
    }
    // A last line without a line feed still ends with one.
    if (filled > 0 || midLine) {
        buffer[filled++] = '\n';
        err.write(buffer.data(), static_cast<std::streamsize>(filled)).flush();
    }
    return err.good();
}

bool waitForSetupAndRelayLog(std::string logPath, std::ostream& err) {
    const std::string markerPath = logPath + ".ready";
    waitForMarker(markerPath, platform::monotonicMilliseconds, platform::sleepMilliseconds);
    platform::removeFile(markerPath);

    std::unique_ptr<std::istream> log = platform::openTextInput(logPath);
    if (log->fail()) {
        return true;
    }
    bool relayed = relayLog(*log, err);
    log.reset();
    // A log that did not reach the error stream in full is the only record
    // of what the setup reported: it stays where the setup wrote it.
    if (relayed) {
        platform::removeFile(logPath);
    }
    return false;
}
