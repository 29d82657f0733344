// The setup's command line and its log path, and how they are composed.
//
// The setup is started directly, with no interpreter in between, so nothing
// in the line is escaped and every byte reaches the setup as written here:
// - the setup path, in double quotes when it holds a blank or one of
//   ",;=&|<>^()@" (the form setups have always received), bare otherwise;
// - " /S ", then " /L" and the language letter when there is a language;
// - " /DStrue" or " /DSfalse";
// - " /LOG\"", the log path and "\"";
// - " /D=" and the directory, up to the end of the line, when there is one.
// What may go into the line is a path rule (fitsSetupCommandLine in
// install_dir.h).
#pragma once

#include <cstdint>
#include <string>

// The setup's log path: the directory, joined with a backslash where it does
// not end in a separator, then "install", both clock readings, '-', the
// process id and ".log".
std::string composeLogPath(const std::string& directory, std::int64_t calendarSeconds,
                           long elapsedMilliseconds, std::uint32_t processId);

// The whole command line the setup receives, its own path first.
std::string composeSetupCommand(const std::string& setupPath, const std::string& language,
                                bool desktopShortcut, const std::string& logPath,
                                const std::string& directory);
