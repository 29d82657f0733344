#include "installer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform.h"
#include "run_record.h"
#include "setup_command.h"
#include "setup_timeout.h"
#include "temp_dir.h"

namespace {

// An interrupt while the arguments are read (here, while the usage text is
// written) already ends the run as a failure, not by the signal: a tool
// reading the exit code sees -1, never a success.
TEST(Installer, InterruptWhileReadingTheArgumentsFails) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setpgid(0, 0);
        struct Interrupting : std::streambuf {
            int overflow(int c) override {
                raise(SIGINT);
                return c;
            }
            std::streamsize xsputn(const char*, std::streamsize count) override {
                raise(SIGINT);
                return count;
            }
        } buffer;
        std::ostream out(&buffer);
        std::ostringstream err;
        runInstaller({"Qix_Console_Installer", "/?"}, out, err);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(255, WEXITSTATUS(status));
}

// The eleven lines of old, then those of the options added since.
TEST(Installer, UsageTextKeepsItsLinesAndAddsTheNewOptions) {
    std::string usage = kUsageText;
    EXPECT_EQ(17, std::count(usage.begin(), usage.end(), '\n'));
    EXPECT_EQ("Zev'\n", usage.substr(390, 5));
    EXPECT_EQ("\n /norestart ", usage.substr(395, 13));
    EXPECT_EQ('\n', usage.back());
}
// A log read as the Windows run-time's text mode reads it, from its bytes to
// the error stream; it is removed only when the relay reached its real end.
TEST(Installer, RelaySamples) {
    struct Case {
        std::string log;
        std::string relayed;
        bool removed;
    } cases[] = {
        {"", "", true},
        {"one\ntwo\n", "one\ntwo\n", true},
        {"one\r\ntwo\r\n", "one\ntwo\n", true},
        {"last without end", "last without end\n", true},
        {"a\rb\r\r\nc\r", "a\rb\r\nc\r\n", true},
        {"\n\nx\n", "\n\nx\n", true},
        // Byte 26 ends the text; what stands behind it is never relayed.
        {"before\x1a"
         "after\nmore\n",
         "before\n", false},
        {"line\n\x1a"
         "after",
         "line\n", false},
        {std::string("nul\0byte\n", 9), std::string("nul\0byte\n", 9), true},
        {std::string(10000, 'x') + "\r", std::string(10000, 'x') + "\r\n", true},
        // A CR LF split across two reads of the file.
        {std::string(65535, 'a') + "\r\nb\n", std::string(65535, 'a') + "\nb\n", true},
        {std::string(65535, 'a') + "\r\x1a", std::string(65535, 'a') + "\r\n", true},
        {"a\r\x1a"
         "b",
         "a\r\n", false},
    };
    for (const Case& c : cases) {
        TempDir temp;
        std::string log = temp.file("install.log", c.log);
        temp.file("install.log.ready");
        std::ostringstream err;
        SetupEnd end = waitForSetupAndRelayLog(log, err);
        EXPECT_EQ(LogOutcome::kRelayed, end.log);
        EXPECT_TRUE(end.markerSeen);
        EXPECT_EQ(c.relayed, err.str());
        EXPECT_EQ(!c.removed, std::filesystem::exists(log)) << c.relayed;
        EXPECT_FALSE(std::filesystem::exists(log + ".ready"));
    }
}

// A log served in reads of at most `chunk` bytes; the read numbered `failAt`
// (from 1) fails.
class StringInput : public platform::InputFile {
  public:
    StringInput(std::string bytes, std::size_t chunk = 1 << 20, int failAt = 0)
        : bytes_(std::move(bytes)), chunk_(chunk), failAt_(failAt) {}
    // Reads of these sizes in turn, the last size from then on.
    StringInput(std::string bytes, std::vector<std::size_t> chunks)
        : bytes_(std::move(bytes)), chunks_(std::move(chunks)) {}

    long read(char* buffer, std::size_t size) override {
        if (++reads_ == failAt_) {
            return -1;
        }
        std::size_t chunk = chunks_.empty() ? chunk_
                            : static_cast<std::size_t>(reads_) <= chunks_.size()
                                ? chunks_[static_cast<std::size_t>(reads_) - 1]
                                : chunks_.back();
        std::size_t count = std::min({size, chunk, bytes_.size() - at_});
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        return static_cast<long>(count);
    }

  private:
    std::string bytes_;
    std::size_t chunk_ = 0;
    std::vector<std::size_t> chunks_;
    int failAt_ = 0;
    int reads_ = 0;
    std::size_t at_ = 0;
};

// A read that fails part way: what was read before it is relayed, and the
// relay does not count as complete.
TEST(Installer, ReadFailureEndsTheRelayIncomplete) {
    struct Case {
        int failAt;
        std::string relayed;
    } cases[] = {{1, ""}, {2, "one\ntw\n"}, {3, "one\ntwo\nthre\n"}, {4, "one\ntwo\nthree\n"}};
    for (const Case& c : cases) {
        StringInput log("one\ntwo\nthree\n", 6, c.failAt);
        std::ostringstream err;
        EXPECT_FALSE(relayLog(log, err)) << c.failAt;
        EXPECT_EQ(c.relayed, err.str()) << c.failAt;
    }
}

// Lines around the size of one piece, with and without a line end: the bytes
// relayed are those of a copy that holds whole lines.
TEST(Installer, LongLinesAreRelayedInPiecesWithTheSameBytes) {
    const std::size_t piece = 64 * 1024;
    for (std::size_t length : {piece - 1, piece, piece + 1, 2 * piece, 3 * piece + 17}) {
        for (const char* tail : {"", "\n", "\nshort\n", "\n\n"}) {
            std::string log = std::string(length, 'x') + tail + std::string(length, 'y');
            StringInput in(log);
            std::ostringstream err;
            EXPECT_TRUE(relayLog(in, err));
            std::istringstream whole(log);
            std::string expected, line;
            while (std::getline(whole, line)) {
                expected += line + "\n";
            }
            EXPECT_EQ(expected, err.str()) << length << " + " << std::strlen(tail);
        }
    }
}

// Reads that end or begin at awkward places, around the 64 KiB the relay
// holds at a time: the bytes relayed are those of the whole text, and the
// relay is complete only where nothing stood behind a byte 26.
TEST(Installer, RelaySamplesAcrossReads) {
    const std::size_t piece = 64 * 1024;
    const std::string full(piece - 1, 'a');
    struct Case {
        std::string log;
        std::vector<std::size_t> reads;
        std::string relayed;
        bool complete;
    } cases[] = {
        // A lone CR ends a full read; what follows decides it.
        {full + "\rb\n", {piece}, full + "\rb\n", true},
        {full + "\r\nb", {piece}, full + "\nb\n", true},
        // A byte 26 ends a read, with or without more behind it.
        {"abc\x1a", {4}, "abc\n", true},
        {"abc\x1a"
         "more\n",
         {4},
         "abc\n",
         false},
        // A short read, then a long one.
        {"x\n" + full + "\n", {1, piece}, "x\n" + full + "\n", true},
        // The last read holds only the line feed.
        {full + "a\n", {piece, 1}, full + "a\n", true},
        {full + "a\n", {piece}, full + "a\n", true},
        // A last line of one byte without a line feed.
        {"one\nx", {4}, "one\nx\n", true},
        {"x", {1}, "x\n", true},
    };
    for (const Case& c : cases) {
        StringInput in(c.log, c.reads);
        std::ostringstream err;
        EXPECT_EQ(c.complete, relayLog(in, err)) << c.log.size();
        EXPECT_EQ(c.relayed, err.str()) << c.log.size();
    }
}

// Counts what reaches the stream: writes and flushes; fails every write once
// `failAfter` bytes have been taken.
class CountingBuffer : public std::streambuf {
  public:
    std::string bytes;
    int writes = 0;
    int flushes = 0;
    std::size_t failAfter = std::string::npos;

  protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        ++writes;
        if (bytes.size() + static_cast<std::size_t>(n) > failAfter) {
            return 0;
        }
        bytes.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int_type overflow(int_type c) override {
        char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }
    int sync() override {
        ++flushes;
        return 0;
    }
};

// Whole lines go out together, one write and one flush per piece, and the
// last line without a line end in one more.
TEST(Installer, WholeLinesShareOneWriteAndOneFlush) {
    CountingBuffer buffer;
    std::ostream err(&buffer);
    StringInput in("first\n\nthird\r\nlast");
    EXPECT_TRUE(relayLog(in, err));
    EXPECT_EQ("first\n\nthird\nlast\n", buffer.bytes);
    EXPECT_EQ(2, buffer.writes);
    EXPECT_EQ(2, buffer.flushes);
}

// A log that did not reach the error stream in full stays where it is.
TEST(Installer, LogThatCouldNotBeRelayedStays) {
    for (std::size_t failAfter : {0, 3, 9}) {
        TempDir temp;
        std::string log = temp.file("install.log", "one\ntwo\nthree\n");
        temp.file("install.log.ready");
        CountingBuffer buffer;
        buffer.failAfter = failAfter;
        std::ostream err(&buffer);
        EXPECT_EQ(LogOutcome::kRelayed, waitForSetupAndRelayLog(log, err).log);
        EXPECT_TRUE(std::filesystem::exists(log)) << failAfter;
        EXPECT_FALSE(std::filesystem::exists(log + ".ready"));
    }
}

// The wait looks before its first pause and ends 10 s of its clock after it
// began; a change in the directory ends a pause at once, so a marker made
// during one is seen without waiting out the pause.
TEST(Installer, WaitEndsOnTheMarkerOrAtTheLimit) {
    TempDir temp;
    std::int64_t now = 5000;
    int pauses = 0;
    EXPECT_FALSE(waitForMarker(
        temp.path() + "/never.ready", [&] { return now; },
        [&](unsigned milliseconds) {
            EXPECT_EQ(100u, milliseconds);
            now += milliseconds;
            ++pauses;
        }));
    EXPECT_EQ(100, pauses);
    temp.file("here.ready");
    pauses = 0;
    EXPECT_TRUE(waitForMarker(
        temp.path() + "/here.ready", [] { return 0; }, [&](unsigned) { ++pauses; }));
    EXPECT_EQ(0, pauses);

    const auto descriptors = openDescriptors();
    std::unique_ptr<platform::DirectoryWatch> watch =
        platform::watchDirectoryOf(temp.path() + "/late.ready");
    std::thread maker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        temp.file("late.ready");
    });
    auto start = std::chrono::steady_clock::now();
    watch->waitForChange(20000);
    maker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
        << "the pause ran out instead of ending at the change";
    watch.reset();
    EXPECT_EQ(descriptors, openDescriptors()) << "the watch kept a descriptor";
    // A directory that cannot be watched: the pause is still a pause.
    watch = platform::watchDirectoryOf(temp.path() + "/no/such/x.ready");
    start = std::chrono::steady_clock::now();
    watch->waitForChange(200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}
// A stale file at the chosen log path goes before the setup runs, so that it
// is never relayed as this run's log; other files stay.
TEST(Installer, StaleLogIsRemovedBeforeLaunch) {
    // In memory: the thousands of names must be in place before the clock
    // passes them.
    TempDir temp("/dev/shm");
    std::string directory = temp.path() + "/";
    std::int64_t now = std::time(nullptr);
    long elapsed = platform::millisecondsSinceStart();
    std::size_t stale = 0;
    for (std::int64_t second = now; second < now + 3; ++second) {
        for (long ms = elapsed; ms < elapsed + 2000; ++ms, ++stale) {
            temp.file(composeLogPath("", second, ms, platform::currentProcessId()), "stale\n");
        }
    }
    RunOptions options;
    options.setupPath = "/bin/true";
    options.directory = directory;
    std::ostringstream err;
    LaunchResult launch = launchSetup(options, err);
    ASSERT_TRUE(launch.setup) << err.str();
    int status = -1;
    EXPECT_EQ(platform::WaitResult::kExited, launch.setup->waitForExit(-1, status));
    EXPECT_EQ(0, status);
    EXPECT_FALSE(std::filesystem::exists(launch.logPath)) << launch.logPath;
    EXPECT_EQ(stale - 1, static_cast<std::size_t>(
                             std::distance(std::filesystem::directory_iterator(temp.path()), {})));
}

// Only an empty log path means no log: something there that cannot be read
// is reported, fails the run and stays.
TEST(Installer, WhatStandsAtTheLogPathDecides) {
    TempDir temp;
    temp.file("install.log.ready");
    std::ostringstream err;
    EXPECT_EQ(LogOutcome::kNoLog, waitForSetupAndRelayLog(temp.path() + "/install.log", err).log);
    EXPECT_EQ("", err.str());
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
    EXPECT_FALSE(waitForSetupAndRelayLog(temp.path() + "/install.log", err, false).markerSeen);

    std::string log = temp.path() + "/install.log";
    std::filesystem::create_directory(log);
    temp.file("install.log.ready");
    EXPECT_EQ(LogOutcome::kUnreadable, waitForSetupAndRelayLog(log, err).log);
    EXPECT_EQ("Can not read log " + log + "\n", err.str());
    EXPECT_TRUE(std::filesystem::is_directory(log));
    EXPECT_FALSE(std::filesystem::exists(log + ".ready"));

    // Links planted at both places: nothing read or deleted through them.
    std::filesystem::remove(log);
    std::string secret = temp.file("secret", "not the setup's\n");
    std::filesystem::create_symlink(secret, log);
    std::filesystem::create_symlink(secret, log + ".ready");
    std::ostringstream linked;
    EXPECT_EQ(LogOutcome::kUnreadable, waitForSetupAndRelayLog(log, linked).log);
    EXPECT_EQ("Can not read log " + log + "\n", linked.str());
    EXPECT_TRUE(std::filesystem::is_symlink(log));
    EXPECT_TRUE(std::filesystem::is_symlink(log + ".ready"));
    EXPECT_EQ(std::filesystem::file_size(secret), 16u);
}

TEST(Installer, CommandLineGivesTheRunValues) {
    TempDir temp;
    std::string setup = temp.file("setup.exe");
    std::string bare = temp.file("setup");
    std::string other = temp.file("setup.msi");
    temp.file("setup.msi.exe");
    std::string upper = temp.file("SETUP.EXE");
    struct Case {
        std::vector<std::string> arguments;
        std::string setupPath;
        std::string language;
        std::string directory;
        bool shortcut;
    } cases[] = {
        {{setup}, setup, "", "", true},
        {{bare, "/L=g", "/D=C:\\x", "/DS=0"}, bare + ".exe", "g", "C:\\x", false},
        {{other, "/DS=1", "/norestart", "/L=  e  "}, other + ".exe", "e", "", true},
        {{upper, "/D= C:\\a b ", "/D=C:\\second", "/DS="}, upper, "", "C:\\a b", true},
        {{setup, "/L=e", "/L=x"}, setup, "e", "", true},
        {{bare, "/TIMEOUT= 0030 "}, bare + ".exe", "", "", true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"prog"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        std::ostringstream out, err;
        std::variant<RunOptions, int> read = readCommandLine(arguments, out, err);
        const RunOptions* options = std::get_if<RunOptions>(&read);
        ASSERT_NE(nullptr, options) << err.str();
        EXPECT_EQ(c.setupPath, options->setupPath);
        EXPECT_EQ(c.language, options->language);
        EXPECT_EQ(c.directory, options->directory);
        EXPECT_EQ(c.shortcut, options->desktopShortcut);
        EXPECT_EQ("", out.str() + err.str());
    }
}

// Every refusal of the command line, and help: the exit code, and the exact
// text on each stream. Nothing is created, the setup is never appended to.
TEST(Installer, CommandLineSamples) {
    TempDir temp;
    std::string setup = temp.file("setup.exe", "MZ");
    const std::string usage = std::string(kUsageText) + "\n";
    const char* const notAbsolute = "Specified installation directory must be an absolute path.\n";
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
        {{}, kExitFailure, "", usage},
        {{"/h"}, 0, usage, ""},
        {{"/H"}, 0, usage, ""},
        {{"/?"}, 0, usage, ""},
        {{"/Help"}, 0, usage, ""},
        // Help anywhere wins over every error on the line, the first argument included.
        {{"{setup}", "/bad", "/?"}, 0, usage, ""},
        {{"missing.exe", "/L=x", "/Help"}, 0, usage, ""},
        {{"{setup}", "/help"}, kExitFailure, "", "Invalid parameter \"/help\"\n"},
        {{"{setup}", "/HELP"}, kExitFailure, "", "Invalid parameter \"/HELP\"\n"},
        {{"{setup}", "-h"}, kExitFailure, "", "Invalid parameter \"-h\"\n"},
        {{"missing.exe"},
         kExitFailure,
         "",
         "Path not found: missing.exe\nFirst parameter must be setup path\n"},
        {{"", "/L=e"}, kExitFailure, "", "Path not found: \nFirst parameter must be setup path\n"},
        // The first-argument check looks at the path that runs, ".exe" appended:
        // the directory does not pass, the setup without its ending does, and
        // the relative /D= stops the run next.
        {{"{dir}", "/D=rel\\dir"},
         kExitFailure,
         "",
         "Path not found: {dir}\nFirst parameter must be setup path\n"},
        {{"{dir}/setup", "/D=rel\\dir"}, kExitFailure, "", notAbsolute},
        {{"{setup}", "/x"}, kExitFailure, "", "Invalid parameter \"/x\"\n"},
        {{"{setup}", "/l=e"}, kExitFailure, "", "Invalid parameter \"/l=e\"\n"},
        {{"{setup}", "-L=e"}, kExitFailure, "", "Invalid parameter \"-L=e\"\n"},
        {{"{setup}", "/D"}, kExitFailure, "", "Invalid parameter \"/D\"\n"},
        {{"{setup}", "/Norestart"}, kExitFailure, "", "Invalid parameter \"/Norestart\"\n"},
        {{"{setup}", "/x", "/y"}, kExitFailure, "", "Invalid parameter \"/x\"\n"},
        // A line break hides no second option in an argument.
        {{"{setup}", "/DS=1\n/D=C:\\x"},
         kExitFailure,
         "",
         "Invalid parameter \"/DS=1\n/D=C:\\x\"\n"},
        {{"{setup}", "/L=x"}, kExitFailure, "", "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/L=E"}, kExitFailure, "", "Invalid parameter \"/L=E\"\n"},
        {{"{setup}", "/L=  eg  "}, kExitFailure, "", "Invalid parameter \"/L=eg\"\n"},
        {{"{setup}", "/DS=2"}, kExitFailure, "", "Invalid parameter \"/DS=2\"\n"},
        {{"{setup}", "/DS=true"}, kExitFailure, "", "Invalid parameter \"/DS=true\"\n"},
        {{"{setup}", "/DS=9", "/L=q"}, kExitFailure, "", "Invalid parameter \"/L=q\"\n"},
        // Accepted lines go on to the directory, where the relative one stops them.
        {{"{setup}", "/norestart", "/D=rel\\dir"}, kExitFailure, "", notAbsolute},
        {{"{setup}", "/D=rel\\dir", "/L=e", "/L=x"}, kExitFailure, "", notAbsolute},
        {{"{setup}", "/D=rel\\dir", "/L=x", "/L=e"},
         kExitFailure,
         "",
         "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/D=rel\\dir", "/DS=0", "/DS=x"}, kExitFailure, "", notAbsolute},
        {{"{setup}", "/D=rel\\dir", "/L=   g"}, kExitFailure, "", notAbsolute},
        {{"{setup}", "/L=", "/DS=", "/D=rel\\dir"}, kExitFailure, "", notAbsolute},
        {{"{setup}", "/D=rel\\dir", "/D=C:\\x"}, kExitFailure, "", notAbsolute},
        // Windows Installer's codes: 1639 for a refused command line (103 as
        // Linux sees it), 1603 for any other failure (67). A bad value of the
        // option itself leaves the codes as they were.
        {{"missing.exe", "/EXITCODES=msi"},
         kMsiBadCommandLine,
         "",
         "Path not found: missing.exe\nFirst parameter must be setup path\n"},
        {{"{setup}", "/x", "/EXITCODES= msi "},
         kMsiBadCommandLine,
         "",
         "Invalid parameter \"/x\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/L=x"},
         kMsiBadCommandLine,
         "",
         "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/LOG="},
         kMsiBadCommandLine,
         "",
         "Invalid parameter \"/LOG=\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/D=rel\\dir"}, kMsiFailure, "", notAbsolute},
        {{"{setup}", "/EXITCODES=MSI"}, kExitFailure, "", "Invalid parameter \"/EXITCODES=MSI\"\n"},
        {{"{setup}", "/EXITCODES="}, kExitFailure, "", "Invalid parameter \"/EXITCODES=\"\n"},
        {{"{setup}", "/TIMEOUT=0"}, kExitFailure, "", "Invalid parameter \"/TIMEOUT=0\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/TIMEOUT= 86401"},
         kMsiBadCommandLine,
         "",
         "Invalid parameter \"/TIMEOUT=86401\"\n"},
        // Nothing is at a path with a blank before it.
        {{" {setup}"},
         kExitFailure,
         "",
         "Path not found:  {setup}\nFirst parameter must be setup path\n"},
        // The record is opened first: a run that cannot keep it does nothing,
        // nor appends to the setup.
        {{"{setup}", "/LOG={setup}"}, kExitFailure, "", "Can not write log {setup}\n"},
        {{"{setup}", "/LOG=rel.log", "/D=rel\\dir"},
         kExitFailure,
         "",
         "Can not write log rel.log\n"},
        {{"{setup}", "/EXITCODES=msi", "/LOG={dir}", "/D=rel\\dir"},
         kMsiFailure,
         "",
         "Can not write log {dir}\n"},
    };
    auto expand = [&](std::string text) {
        for (auto [key, value] :
             {std::pair<std::string, std::string>{"{setup}", setup}, {"{dir}", temp.path()}}) {
            for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
                text.replace(at, key.size(), value);
                at += value.size();
            }
        }
        return text;
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"prog"};
        std::string shown;
        for (const std::string& argument : c.arguments) {
            arguments.push_back(expand(argument));
            shown += "[" + arguments.back() + "] ";
        }
        std::ostringstream out, err;
        EXPECT_EQ(c.exitCode, runInstaller(arguments, out, err)) << shown;
        EXPECT_EQ(expand(c.out), out.str()) << shown;
        EXPECT_EQ(expand(c.err), err.str()) << shown;
    }
    EXPECT_EQ(std::vector<std::string>{"setup.exe"}, namesIn(temp.path()));
    EXPECT_EQ("MZ", readAll(setup));
}

// Whole runs with a setup of the test's own: its exit code and its log decide
// the run's, and a setup past /TIMEOUT= is ended. Log and marker never stay.
TEST(Installer, WholeRunsEndWithTheSetupsOutcome) {
    TempDir temp;
    std::string setup =
        temp.file("setup.exe",
                  "#!/bin/sh\n"
                  "for word; do case $word in /LOG*) log=${word#/LOG?};;esac;done\n"
                  "log=${log%?}\n"
                  "[ -z \"$QIX_TEXT\" ] || printf \"$QIX_TEXT\" >\"$log\"\n"
                  ": >\"$log.ready\"\n"
                  "[ -z \"$QIX_CHILD\" ] || { sleep 30 & echo $! >\"$QIX_CHILD\"; }\n"
                  "sleep ${QIX_PAUSE:-0}\n"
                  "exit ${QIX_STATUS:-0}\n");
    std::filesystem::permissions(setup, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    struct Case {
        std::vector<std::string> options;
        const char* status;
        const char* text;
        int exitCode;
        std::string err;
    } cases[] = {
        {{}, "0", "", kExitSuccess, ""},
        {{}, "3", "", kExitFailure, ""},
        {{}, "0", "failed\\n", kExitFailure, "failed\n"},
        // POSIX exit codes end at 255: 3010 is the Windows tests' business.
        {{"/EXITCODES=msi"}, "3", "", kMsiFailure, ""},
        {{"/EXITCODES=msi"}, "0", "failed\\n", kMsiFailure, "failed\n"},
        {{"/TIMEOUT=1"}, "0", "", kExitFailure, "Setup did not finish within 1 s: " + setup + "\n"},
        // A run asked to keep a record keeps it, and succeeds.
        {{"/LOG=" + temp.path() + "/run.log"}, "0", "", kExitSuccess, ""},
        // One whose record is lost at its end fails; a failed one says only why.
        {{"/LOG=/dev/full"}, "0", "", kExitFailure, "Can not write log /dev/full\n"},
        {{"/LOG=/dev/full"}, "3", "", kExitFailure, ""},
    };
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(temp.path());
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"prog", setup, "/D=C:/inst"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        setenv("QIX_STATUS", c.status, 1);
        setenv("QIX_TEXT", c.text, 1);
        setenv("QIX_PAUSE", c.options == std::vector<std::string>{"/TIMEOUT=1"} ? "30" : "0", 1);
        std::ostringstream out, err;
        EXPECT_EQ(c.exitCode, runInstaller(arguments, out, err)) << c.status << c.text;
        EXPECT_EQ("", out.str());
        EXPECT_EQ(c.err, err.str()) << c.status << c.text;
    }
    // What the setup started on purpose outlives a run that ended normally.
    setenv("QIX_STATUS", "0", 1);
    setenv("QIX_TEXT", "", 1);
    setenv("QIX_PAUSE", "0", 1);
    setenv("QIX_CHILD", (temp.path() + "/child").c_str(), 1);
    std::ostringstream out, err;
    EXPECT_EQ(kExitSuccess, runInstaller({"prog", setup, "/D=C:/inst"}, out, err));
    pid_t child = std::stoi(readAll(temp.path() + "/child"));
    // Alive, not a zombie, after a while in which a kill would have shown.
    auto alive = [child] {
        std::string stat = readAll("/proc/" + std::to_string(child) + "/stat");
        std::size_t state = stat.rfind(')');
        return state != std::string::npos && state + 2 < stat.size() && stat[state + 2] != 'Z';
    };
    for (int i = 0; i < 50 && alive(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(alive()) << "the setup's child was ended";
    kill(child, SIGKILL);
    std::filesystem::remove(temp.path() + "/child");
    std::filesystem::current_path(previous);
    for (const char* name : {"QIX_STATUS", "QIX_TEXT", "QIX_PAUSE", "QIX_CHILD"}) {
        unsetenv(name);
    }
    EXPECT_EQ((std::vector<std::string>{"C:", "run.log", "setup.exe"}), namesIn(temp.path()));
}

TEST(Installer, TimeoutValueSamples) {
    struct Case {
        const char* value;
        int seconds;
    } cases[] = {
        {"1", 1},          {"86400", 86400}, {"0086400", 86400}, {"007", 7},
        {"86401", 0},      {"0", 0},         {"000", 0},         {"", 0},
        {"+5", 0},         {"-1", 0},        {"1.5", 0},         {"5s", 0},
        {"4294967297", 0}, {"1 0", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.seconds, timeoutSecondsOf(c.value)) << c.value;
    }
}

// With /EXITCODES=msi the run ends as Windows Installer's callers expect;
// without it, 0 or -1 as ever.
TEST(Installer, ExitCodeSamples) {
    struct Case {
        bool msi;
        bool setupRan;
        int status;
        bool logLeft;
        int exitCode;
    } cases[] = {
        {false, true, 0, false, 0},       {true, true, 0, false, 0},
        {false, true, 3010, false, -1},   {true, true, 3010, false, 3010},
        {true, true, 3010, true, 3010},   {true, true, 1641, false, 1641},
        {true, true, 1618, true, 1618},   {true, true, 0, true, 1603},
        {true, true, 1, false, 1603},     {true, true, -1073741819, false, 1603},
        {true, false, 3010, false, 1603}, {false, false, 0, false, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.exitCode, runExitCode(c.msi, c.setupRan, c.status, c.logLeft))
            << c.msi << " " << c.setupRan << " " << c.status << " " << c.logLeft;
    }
}

// The record: a first line with the time and the arguments, what went to the
// error stream, a last line with the exit code, all ending in CR LF; a second
// run appends.
TEST(Installer, RunRecordKeepsTheRunsLines) {
    TempDir temp;
    std::string path = temp.path() + "/run.log";
    EXPECT_EQ(nullptr, RunRecord::open("relative.log", {"prog"}, std::cerr));
    for (int run = 0; run < 2; ++run) {
        std::ostringstream err;
        std::unique_ptr<RunRecord> record =
            RunRecord::open(path, {"prog", "C:\\s.exe", "/D=C:\\a b", ""}, err);
        ASSERT_NE(nullptr, record);
        std::ostream recorded(record.get());
        recorded << "line one\nline\rtwo" << std::endl;
        // The second run's end takes no wait: the lock is free, so it writes.
        EXPECT_TRUE(run == 0 ? record->finish(3010) : record->finish(3010, "exit code", false));
        EXPECT_FALSE(record->finish(1)) << "only the first call writes";
        EXPECT_EQ("line one\nline\rtwo\n", err.str());
    }
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::regex record(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC started: C:\\\\s.exe \"/D=C:\\\\a b\" "
        "\"\"\r\n"
        "line one\r\nline\rtwo\r\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC exit code 3010\r\n");
    std::string once = std::regex_replace(text, record, "R");
    EXPECT_EQ("RR", once) << text;
}

// How a record's file and scratch file answer, and what reached the file.
struct Disk {
    bool firstAppendFails;
    bool scratchOpens;
    int scratchWrites;  // writes that succeed; the next one stops half-way
    bool scratchReads;
    bool lockFree = true;
    bool stillAtPath = true;
    bool locked = false;
    int appends = 0;
    int unlockedAppends = 0;
    std::string appended{};
};

struct DiskFile : platform::AppendFile {
    explicit DiskFile(Disk& disk) : disk(disk) {}
    bool append(const std::string& bytes) override {
        disk.unlockedAppends += disk.locked ? 0 : 1;
        bool works = disk.appends++ > 0 || !disk.firstAppendFails;
        disk.appended += works ? bytes : "";
        return works;
    }
    bool lock(unsigned) override { return disk.locked = disk.lockFree; }
    void unlock() override { disk.locked = false; }
    bool stillAtPath() override { return disk.stillAtPath; }
    Disk& disk;
};

struct DiskScratch : platform::ScratchFile {
    explicit DiskScratch(Disk& disk) : disk(disk) {}
    bool write(const std::string& bytes) override {
        bool works = disk.scratchWrites-- > 0;
        bytes_ += works ? bytes : bytes.substr(0, bytes.size() / 2);
        return works;
    }
    bool rewind() override {
        at_ = 0;
        return true;
    }
    long read(char* buffer, std::size_t size) override {
        std::size_t count = std::min(size, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        return disk.scratchReads ? static_cast<long>(count) : -1;
    }
    Disk& disk;
    std::string bytes_;
    std::size_t at_ = 0;
};

// A record reaches its file only at its end, under the lock, in order and
// each line once; what no place could hold is left out in one line that says
// so, and the end says false when any of it was lost.
TEST(Installer, RunRecordReportsEveryLoss) {
    const int all = 1 << 30;
    struct Case {
        const char* what;
        int lines;         // of 80 bytes; 20000 are past the 1 MiB held in memory
        Disk disk;         // first append fails; scratch file opens, writes, reads
        bool whole;        // the end says it all got there
        int keptUntilGap;  // the lines before the line that says what is left out; -1: none
    };
    const Case cases[] = {
        {"short, in one piece", 10, {false, true, all, true}, true, -1},
        {"long, kept in the scratch file", 20000, {false, true, all, true}, true, -1},
        {"long, no scratch file: in memory", 20000, {false, false, all, true}, true, -1},
        {"long, scratch file unwritable", 20000, {false, true, 0, true}, true, -1},
        // Past the 4 MiB of memory, 52428 lines of 80 bytes.
        {"past memory, no scratch file", 60000, {false, false, all, true}, false, 52428},
        // The scratch file keeps the whole lines of the first MiB.
        {"past memory, scratch file full half-way",
         80000,
         {false, true, 1, true},
         false,
         13107 + 52428},
        {"long, a piece from the scratch file lost", 20000, {true, true, all, true}, false, -1},
        {"long, scratch file unreadable", 20000, {false, true, all, false}, false, -1},
        {"short, lock held by a stranger", 10, {false, true, all, true, false}, false, -1},
        {"short, file deleted meanwhile", 10, {false, true, all, true, true, false}, false, -1},
    };
    for (const Case& c : cases) {
        Disk disk = c.disk;
        std::ostringstream err;
        RunRecord record(std::make_unique<DiskFile>(disk), err, [&disk] {
            return disk.scratchOpens ? std::make_unique<DiskScratch>(disk) : nullptr;
        });
        std::ostream recorded(&record);
        std::vector<std::string> lines;
        for (int i = 0; i < c.lines; ++i) {
            lines.push_back(std::string(70, 'a') + " " + std::to_string(1000000 + i) + "\r\n");
            recorded << lines.back().substr(0, 78) << '\n';
        }
        recorded.flush();
        EXPECT_EQ(0, disk.appends) << c.what << ": nothing before the end";
        EXPECT_EQ(c.whole, record.finish(0)) << c.what;
        EXPECT_EQ(0, disk.unlockedAppends) << c.what;
        if (!disk.lockFree || c.disk.firstAppendFails || !c.disk.scratchReads) {
            continue;
        }
        // Every line kept stands in order, once; the left-out ones are a
        // single run of lines, named by one line in their place.
        std::istringstream text(disk.appended);
        std::string line;
        std::size_t next = 0;
        int gaps = 0;
        while (std::getline(text, line) && next <= lines.size()) {
            line += '\n';
            if (line[0] == '(' &&
                line.find(" lines left out here: they went to standard error only)\r\n") !=
                    std::string::npos) {
                std::size_t missing = std::stoul(line.substr(1));
                EXPECT_EQ(c.keptUntilGap, static_cast<int>(next)) << c.what;
                next += missing;
                ++gaps;
            } else if (next < lines.size()) {
                ASSERT_EQ(lines[next], line) << c.what;
                ++next;
            } else {
                EXPECT_TRUE(std::regex_match(line, std::regex("[-0-9: ]+ UTC exit code 0\r\n")))
                    << c.what << ": " << line;
                ++next;
            }
        }
        EXPECT_EQ(lines.size() + 1, next) << c.what;
        EXPECT_EQ(c.keptUntilGap < 0 ? 0 : 1, gaps) << c.what;
        if (c.lines < 20000) {
            EXPECT_EQ(1, disk.appends) << c.what;
        }
    }
}

// Records past the 1 MiB held in memory, from two runs that finish at once:
// each record's lines stand together, each once, in order.
TEST(Installer, LongRecordsFromTwoRunsStayWhole) {
    TempDir temp;
    std::string path = temp.path() + "/run.log";
    const int lines = 40000;  // 3 MiB of 80-byte lines each
    std::atomic<int> ready{0};
    auto run = [&](char letter) {
        std::ostringstream err;
        std::unique_ptr<RunRecord> record = RunRecord::open(path, {"prog"}, err);
        ASSERT_NE(nullptr, record);
        std::ostream recorded(record.get());
        for (int i = 0; i < lines; ++i) {
            recorded << std::string(70, letter) << ' ' << 1000000 + i << '\n';
        }
        for (++ready; ready < 2;) {
            std::this_thread::yield();
        }
        EXPECT_TRUE(record->finish(0));
    };
    std::thread first(run, 'a');
    std::thread second(run, 'b');
    first.join();
    second.join();
    std::istringstream text(readAll(path));
    std::string line;
    std::string order;  // one letter per record's line, the first and last lines as '<' and '>'
    int next[2] = {1000000, 1000000};
    while (std::getline(text, line)) {
        if (line.find(" UTC started:") != std::string::npos) {
            order += '<';
        } else if (line.find(" UTC exit code 0") != std::string::npos) {
            order += '>';
        } else if (line.size() == 79 && (line[0] == 'a' || line[0] == 'b')) {
            EXPECT_EQ(std::to_string(next[line[0] - 'a']++) + "\r", line.substr(71));
            if (order.back() != line[0]) {
                order += line[0];
            }
        } else {
            ADD_FAILURE() << "a broken line: " << line.substr(0, 100);
        }
    }
    EXPECT_TRUE(order == "<a><b>" || order == "<b><a>") << order;
    EXPECT_EQ(1000000 + lines, next[0]);
    EXPECT_EQ(1000000 + lines, next[1]);
}

}  // namespace
