#include "setup_command.h"

#include <sstream>

#include "install_dir.h"

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
    // A setup splits its own path from the switches at the first blank unless
    // the path is quoted; the other characters are quoted as they always were.
    bool quoteSetup = setupPath.find_first_of(" ,;=&|<>^()@") != std::string::npos;
    std::ostringstream command;
    if (quoteSetup) {
        command << '"' << setupPath << '"';
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
        command << " /D=" << directory;
    }
    return command.str();
}
