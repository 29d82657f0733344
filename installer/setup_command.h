// The setup's command line and its log path: how they are composed, and what
// may go into them.
//
// The setup is started directly, with no interpreter in between, so nothing
// in the line is escaped and every byte reaches the setup as written here:
// - the setup path, in double quotes when it holds a blank or one of
//   ",;=&|<>^()@" (the form setups have always received), bare otherwise;
// - " /S ", then " /L" and the language letter when there is a language;
// - " /DStrue" or " /DSfalse";
// - " /LOG\"", the log path and "\"";
// - " /D=" and the directory, up to the end of the line, when there is one.
// Setups read "/D=" to the end of the line and the log path up to the next
// quote, so a text that goes into the line must hold no double quote; nor a
// control character, which no Windows name holds and which a setup may take
// for the end of a line; nor a defined %NAME% (fitsSetupCommandLine). A
// variable's name in a path almost surely meant its value, which nothing on
// the way would put in its place any more.
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

// A byte from 1 to 31 (CR and LF among them) or a double quote.
bool holdsControlCharacterOrQuote(const std::string& text);

// A %NAME% or %NAME:...% whose NAME is set in the environment. Every '%' is
// taken as a possible start, so this errs towards true.
bool holdsDefinedVariable(const std::string& text);

// True when `text` may stand in the setup's command line as it is.
bool fitsSetupCommandLine(const std::string& text);
