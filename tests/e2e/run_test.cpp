// Whole installation runs of the Windows program under Wine, driving the
// stand-in setup: exact streams, exit codes, what the setup received and what
// is left on disk.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "../setup/setup_switches.h"
#include "harness.h"

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

namespace {

class Run : public WindowsRunTest {
  protected:
    std::string setup = bench.hostPath(bench.installSetup());

    Outcome install(const std::vector<std::string>& options, Environment environment = {}) {
        std::vector<std::string> arguments{setup};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runRecorded(arguments, environment);
    }

    // A log the setup is to write, given by its bytes.
    Environment withLog(const std::string& bytes, Environment environment = {}) {
        std::string name = "log-source-" + std::to_string(++logSources_);
        environment["QIX_SETUP_LOG"] = bench.hostPath(bench.writeFile(name, bytes));
        return environment;
    }

    std::string recorded() const { return readFile(record); }

    // Wine's 8.3 name of `name` in the test's folder, as dir /x shows it.
    std::string shortName(const std::string& name) const {
        std::istringstream listing(bench.runInCmd("dir /x " + win("")).out);
        for (std::string line; std::getline(listing, line);) {
            std::string tail = " " + name + "\r";
            if (line.size() > tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
                std::istringstream words(line.substr(0, line.size() - tail.size()));
                std::string word;
                while (words >> word) {
                }
                return word;
            }
        }
        return name;
    }

  private:
    int logSources_ = 0;
};

std::string logPathIn(const std::string& command) {
    return parseSetupSwitches(command).logPath;
}

// True when `log` is `directory` (joined with a backslash where it has none),
// "install", digits, '-', digits and ".log".
bool isLogPathFor(const std::string& log, std::string directory) {
    if (directory.back() != '\\') {
        directory += '\\';
    }
    std::string head = directory + "install";
    if (log.compare(0, head.size(), head) != 0 || log.size() < head.size() + 5 ||
        log.compare(log.size() - 4, 4, ".log") != 0) {
        return false;
    }
    std::string numbers = log.substr(head.size(), log.size() - head.size() - 4);
    std::string::size_type dash = numbers.find('-');
    return dash != std::string::npos && dash > 0 && dash + 1 < numbers.size() &&
           numbers.find_first_not_of("0123456789-") == std::string::npos &&
           numbers.find('-', dash + 1) == std::string::npos;
}

std::string expectedCommand(const std::string& setup, const std::string& switches,
                            const std::string& log, const std::string& directory) {
    return setup + " /S " + switches + " /LOG\"" + log + "\" /D=" + directory;
}

TEST_F(Run, DefaultDirectoryIsCreatedUnderProgramFiles) {
    std::string company = driveC() + "/Program Files/Quenvarton AG";
    fs::remove_all(company);
    Outcome outcome = install({});
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ("", outcome.out + outcome.err);
    const std::string settled = "C:\\Program Files\\Quenvarton AG\\Zev\\";
    std::string log = logPathIn(recorded());
    EXPECT_TRUE(isLogPathFor(log, settled)) << log;
    EXPECT_EQ(expectedCommand(setup, " /DStrue", log, settled), recorded());
    EXPECT_TRUE(fs::is_directory(company + "/Zev"));
    EXPECT_EQ(Names{}, listDir(company + "/Zev"));
}

TEST_F(Run, GivenDirectoriesAreSettledAndHoldTheLog) {
    struct Case {
        std::string option;
        std::string settled;
        std::string created;  // on the Linux side; empty for the drive root
    } cases[] = {
        {"/D=Z:" + linux("fwd/a/b"), win("fwd\\a\\b"), linux("fwd/a/b")},
        {"/D=" + win("trail\\x\\"), win("trail\\x\\"), linux("trail/x")},
        {"/D=" + win("plain"), win("plain"), linux("plain")},
        // A closing quote is taken off before anything is made of the directory.
        {"/D=" + win("quote") + "'", win("quote"), linux("quote")},
        {"/D=   " + win("blanks around") + "  ", win("blanks around"), linux("blanks around")},
        {"/D=C:\\", "C:\\", ""},
    };
    for (const Case& c : cases) {
        double seconds = 0;
        Outcome outcome;
        seconds = secondsOf([&] { outcome = install({c.option}); });
        EXPECT_LT(seconds, kMarkerWaitSeconds) << c.option << ": the marker was not found at once";
        EXPECT_EQ(0, outcome.exitCode) << c.option << outcome.err;
        EXPECT_EQ("", outcome.out + outcome.err) << c.option;
        std::string log = logPathIn(recorded());
        EXPECT_TRUE(isLogPathFor(log, c.settled)) << log;
        EXPECT_EQ(expectedCommand(setup, " /DStrue", log, c.settled), recorded());
        if (!c.created.empty()) {
            EXPECT_TRUE(fs::is_directory(c.created)) << c.created;
            EXPECT_EQ(Names{}, listDir(c.created)) << c.option;
        }
    }
    EXPECT_FALSE(exists(linux("quote'")));
    for (const std::string& name : listDir(driveC())) {
        bool probe = name.find_first_not_of("0123456789") == std::string::npos;
        EXPECT_FALSE(probe || name.rfind("install", 0) == 0) << "left in C:\\: " << name;
    }
}

TEST_F(Run, RejectedDirectoriesLaunchNothing) {
    bench.writeFile("afile", "keep");
    fs::create_directory(linux("locked"));
    ASSERT_EQ(0, system(("chattr +i '" + linux("locked") + "'").c_str()));
    const std::string deep = win("made\\on\\the\\way\\" + std::string(300, 'n') + "\\x");
    struct Case {
        std::string directory;
        std::string message;
    } cases[] = {
        {"C:rel\\dir", "Specified installation directory must be an absolute path."},
        {"\\\\server\\share", "Specified installation directory must be an absolute path."},
        {"'" + win("q") + "'", "Specified installation directory must be an absolute path."},
        {win("afile"), "Can not create directory " + win("afile")},
        {win("afile\\sub"), "Can not create directory " + win("afile\\sub")},
        {win("locked"), "No access rights for directory " + win("locked")},
        // No Windows name holds a quote, whatever ".." would make of the rest.
        {win("a\"b"), "Can not create directory " + win("a\"b")},
        {win("x\\\"\\..\\y") + "\"", "Can not create directory " + win("x\\\"\\..\\y")},
        // A name too long deep down: the folders made on the way go again.
        {deep, "Can not create directory " + deep},
    };
    for (const Case& c : cases) {
        Outcome outcome = install({"/D=" + c.directory});
        EXPECT_EQ(255, outcome.exitCode) << c.directory;
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ(bench.lines(c.message + "\n"), outcome.err);
        EXPECT_FALSE(exists(record)) << "the setup ran for " << c.directory;
    }
    EXPECT_EQ("keep", readFile(linux("afile")));
    EXPECT_EQ(Names{}, listDir(linux("locked")));
    EXPECT_EQ((Names{"afile", "locked", "setup.exe"}), listDir(bench.dir()));
}

// A closing quote, also the one cmd makes of "/D=C:\Apps\Zev 2\", is taken
// off before creation: the setup gets the directory that was created and
// probed, and writes its log there.
TEST_F(Run, ClosingQuoteIsTakenOffBeforeCreation) {
    Environment log = withLog("reported\n");
    struct Case {
        std::string name;
        std::function<Outcome()> run;
    } cases[] = {
        {"apostrophe", [&] { return install({"/D=" + win("apostrophe") + "'"}, log); }},
        // Written in a script, so that cmd reads the line exactly as typed.
        {"zev 2",
         [&] {
             log["QIX_SETUP_RECORD"] = bench.hostPath(record);
             bench.writeFile("trap.cmd", "@" + bench.hostPath(bench.program()) + " " + setup +
                                             " \"/D=" + win("zev 2") + "\\\"\r\n");
             return bench.runInCmd(win("trap.cmd"), log);
         }},
    };
    for (const Case& c : cases) {
        double seconds = 0;
        Outcome outcome;
        seconds = secondsOf([&] { outcome = c.run(); });
        EXPECT_LT(seconds, kMarkerWaitSeconds) << c.name << ": the marker was not found at once";
        EXPECT_EQ(255, outcome.exitCode) << c.name;
        EXPECT_EQ(bench.lines("reported\n"), outcome.err) << c.name;
        EXPECT_EQ(win(c.name), parseSetupSwitches(recorded()).directory);
        EXPECT_EQ(Names{}, listDir(linux(c.name))) << c.name;
    }
    EXPECT_EQ((Names{"apostrophe", "log-source-1", "record.txt", "setup.exe", "trap.cmd", "zev 2"}),
              listDir(bench.dir()));
}

// Every file the program touches lies past 260 characters here: the marker
// is seen at once, and the log is relayed and removed.
TEST_F(Run, PathsPastTheOldLimitWork) {
    std::string directory = win("long\\" + std::string(150, 'a') + "\\" + std::string(120, 'b'));
    double seconds = 0;
    Outcome outcome;
    seconds = secondsOf([&] { outcome = install({"/D=" + directory}, withLog("long\n")); });
    EXPECT_LT(seconds, kMarkerWaitSeconds);
    EXPECT_EQ(255, outcome.exitCode);
    EXPECT_EQ(bench.lines("long\n"), outcome.err);
    std::string log = logPathIn(recorded());
    EXPECT_GT(log.size(), 300u);
    EXPECT_TRUE(isLogPathFor(log, directory)) << log;
    EXPECT_EQ(Names{},
              listDir(linux("long/" + std::string(150, 'a') + "/" + std::string(120, 'b'))));
}

// Runs started together into one directory: each relays its own log, ends
// with its own exit code and leaves nothing behind.
TEST_F(Run, ConcurrentRunsIntoOneDirectoryKeepTheirOwnOutcome) {
    // Three rounds: whether two runs would meet depends on how their starts
    // fall, and one round does not always bring it about.
    const int kRounds = 3;
    const int kRuns = 48;
    for (int round = 0; round < kRounds; ++round) {
        // A new chain each round: the runs also race to create it.
        std::string shared = "round" + std::to_string(round) + "/new/chain";
        std::vector<Outcome> outcomes(kRuns);
        std::vector<Environment> environments(kRuns, {{"QIX_SETUP_SLEEP_MS", "300"}});
        // Each setup leaves a trace of having run.
        auto trace = [&](std::size_t i) { return "ran" + std::to_string(round * kRuns + i); };
        auto runOne = [&](std::size_t i) {
            Environment environment = environments[i];
            environment["QIX_SETUP_RECORD"] = win(trace(i));
            return bench.run({setup, "/D=" + win(shared), "/LOG=" + win("runs.log")}, environment);
        };
        std::vector<std::thread> threads;
        // All start at one moment, as a deployment system starts them.
        std::atomic<bool> go{false};
        for (int i = 0; i < kRuns; ++i) {
            if (i % 2 == 1) {
                environments[i] =
                    withLog("run " + std::to_string(i) + " failed\n", environments[i]);
            }
            threads.emplace_back([&, i] {
                while (!go) {
                    std::this_thread::yield();
                }
                try {
                    outcomes[i] = runOne(i);
                } catch (const std::exception& error) {
                    outcomes[i].err = error.what();
                }
            });
        }
        go = true;
        for (std::thread& thread : threads) {
            thread.join();
        }
        repeatRunsWineFailed(outcomes, runOne,
                             [&](std::size_t i) { return exists(linux(trace(i))); });
        for (int i = 0; i < kRuns; ++i) {
            bool failing = i % 2 == 1;
            SCOPED_TRACE("round " + std::to_string(round) + " run " + std::to_string(i) + ", " +
                         describe(outcomes[i]));
            EXPECT_EQ(failing ? 255 : 0, outcomes[i].exitCode);
            EXPECT_EQ(failing ? bench.lines("run " + std::to_string(i) + " failed\n") : "",
                      outcomes[i].err);
        }
        EXPECT_EQ(Names{}, listDir(linux(shared)));
        EXPECT_TRUE(fs::is_directory(linux(shared)));
    }
    // All appended to one record file at once: each run's lines stay together,
    // its failure between its first and its last line.
    std::istringstream records(readFile(linux("runs.log")));
    int runs = 0;
    for (std::string line; std::getline(records, line); ++runs) {
        EXPECT_NE(std::string::npos, line.find(" UTC started: ")) << line;
        ASSERT_TRUE(std::getline(records, line));
        if (line.find(" failed\r") != std::string::npos) {
            EXPECT_EQ(0u, line.rfind("run ", 0)) << line;
            ASSERT_TRUE(std::getline(records, line));
            EXPECT_NE(std::string::npos, line.find(" UTC exit code -1\r")) << line;
        } else {
            EXPECT_NE(std::string::npos, line.find(" UTC exit code 0\r")) << line;
        }
    }
    EXPECT_GE(runs, kRounds * kRuns);
}

// A log that could not reach the error stream is the only record of what the
// setup reported: it stays, and the run still fails.
TEST_F(Run, LogThatCouldNotBeRelayedStays) {
    for (ErrStream errStream : {ErrStream::kClosed, ErrStream::kFull}) {
        std::string app = "app" + std::to_string(static_cast<int>(errStream));
        Outcome outcome = runRecorded({setup, "/D=" + win(app)}, withLog("one\ntwo\n"), errStream);
        EXPECT_EQ(255, outcome.exitCode) << app;
        std::string log = logPathIn(recorded());
        EXPECT_EQ(Names{log.substr(log.rfind('\\') + 1)}, listDir(linux(app))) << app;
        EXPECT_EQ("one\ntwo\n", readFile(linux(app + "/" + log.substr(log.rfind('\\') + 1))));
    }
}

// On a full disk the probe's file can be created but not written: that is
// no access, and the setup is not started.
TEST_F(Run, ProbeOnAFullDiskFails) {
    std::string full = linux("full");
    fs::create_directory(full);
    ASSERT_EQ(0, system(("mount -t tmpfs -o size=16k tmpfs '" + full + "'").c_str()))
        << "the test needs to mount a small tmpfs (root)";
    struct Unmount {
        std::string path;
        ~Unmount() {
            if (system(("umount '" + path + "'").c_str()) != 0) {
                ADD_FAILURE() << "clean-up: umount " << path;
            }
        }
    } unmount{full};
    {
        std::ofstream filler(full + "/filler", std::ios::binary);
        std::string block(4096, 'f');
        for (int i = 0; i < 16 && filler; ++i) {
            filler << block << std::flush;
        }
    }
    Outcome outcome = install({"/D=" + win("full")});
    EXPECT_EQ(255, outcome.exitCode);
    EXPECT_EQ(bench.lines("No access rights for directory " + win("full") + "\n"), outcome.err);
    EXPECT_FALSE(exists(record));
    EXPECT_EQ(Names{"filler"}, listDir(full));
}

TEST_F(Run, CommandForEveryLanguageAndShortcut) {
    struct Case {
        std::vector<std::string> options;
        std::string switches;
    } cases[] = {
        {{}, " /DStrue"},
        {{"/L="}, " /DStrue"},
        {{"/DS="}, " /DStrue"},
        {{"/L=e"}, " /Le /DStrue"},
        {{"/L=g"}, " /Lg /DStrue"},
        {{"/DS=1"}, " /DStrue"},
        {{"/DS=0"}, " /DSfalse"},
        {{"/L=e", "/DS=0"}, " /Le /DSfalse"},
        {{"/DS=1", "/L=g"}, " /Lg /DStrue"},
        {{"/L=g", "/norestart", "/DS=0"}, " /Lg /DSfalse"},
        {{"/L= e ", "/DS= 1"}, " /Le /DStrue"},
    };
    std::string directory = win("target\\");
    for (const Case& c : cases) {
        std::vector<std::string> options = c.options;
        options.push_back("/D=" + directory);
        Outcome outcome = install(options);
        EXPECT_EQ(0, outcome.exitCode);
        std::string log = logPathIn(recorded());
        EXPECT_EQ(expectedCommand(setup, c.switches, log, directory), recorded());
    }
    EXPECT_EQ(Names{}, listDir(linux("target")));
}

// The log as text mode reads it; it is removed only when the relay reached
// its real end, so a log cut short at a byte 26 stays.
TEST_F(Run, LogsAreRelayedLineByLineThenRemoved) {
    struct Case {
        const char* name;
        std::string log;
        std::string relayed;
        bool stays;
    } cases[] = {
        {"CR LF lines", "first line\r\nsecond line\r\n", "first line\nsecond line\n", false},
        {"last line without a line feed", "one\nlast", "one\nlast\n", false},
        {"empty log", "", "", false},
        {"byte 26 ends the log",
         "kept\npart\x1a"
         "dropped\nalso dropped\n",
         "kept\npart\n", true},
        {"byte 26 as the last byte", "kept\n\x1a", "kept\n", false},
        // U+041A is the bytes 1A 04 in UTF-16.
        {"UTF-16 log", std::string("\xff\xfeO\0K\0 \0\x1a\x04\n\0", 12),
         std::string("\xff\xfeO\0K\0 \0\n", 9), true},
        {"lone CR and blank lines", "a\rb\n\n\nc\n", "a\rb\n\n\nc\n", false},
        {"CR before byte 26",
         "a\r\x1a"
         "b\n",
         "a\r\n", true},
        {"CR at the end", "a\r", "a\r\n", false},
        {"bytes above 127", "Fehler: Datei \xc3\xa4 fehlt\n", "Fehler: Datei \xc3\xa4 fehlt\n",
         false},
    };
    for (const Case& c : cases) {
        Outcome outcome = install({"/D=" + win("app")}, withLog(c.log));
        EXPECT_EQ(255, outcome.exitCode) << c.name;
        EXPECT_EQ("", outcome.out) << c.name;
        EXPECT_EQ(bench.lines(c.relayed), outcome.err) << c.name;
        std::string log = logPathIn(recorded());
        std::string name = log.substr(log.rfind('\\') + 1);
        EXPECT_EQ(c.stays ? Names{name} : Names{}, listDir(linux("app"))) << c.name;
        if (c.stays) {
            EXPECT_EQ(c.log, readFile(linux("app/" + name))) << c.name;
            fs::remove(linux("app/" + name));
        }
    }
}

// A log or marker that a process the setup left running still holds: the
// log is read once it is let go within the wait, else reported and kept; the
// marker is removed once it is let go.
TEST_F(Run, FilesStillHeldByTheSetupsChild) {
    const std::string failure = "ERROR: installation failed\n";
    struct Case {
        const char* name;
        Environment environment;
        int exitCode;
        bool reported;  // "Can not read log", the log kept
    } cases[] = {
        {"log held 1.5 s", withLog(failure, {{"QIX_SETUP_HOLD_LOG_MS", "1500"}}), 255, false},
        {"marker held 1 s", {{"QIX_SETUP_HOLD_MARKER_MS", "1000"}}, 0, false},
        {"log held past the wait", withLog(failure, {{"QIX_SETUP_HOLD_LOG_MS", "11000"}}), 255,
         true},
    };
    for (const Case& c : cases) {
        Outcome outcome = install({"/D=" + win("app")}, c.environment);
        EXPECT_EQ(c.exitCode, outcome.exitCode) << c.name;
        std::string log = logPathIn(recorded());
        std::string name = log.substr(log.rfind('\\') + 1);
        if (c.reported) {
            EXPECT_EQ(bench.lines("Can not read log " + log + "\n"), outcome.err) << c.name;
            EXPECT_EQ(Names{name}, listDir(linux("app"))) << c.name;
            EXPECT_EQ(failure, readFile(linux("app/" + name))) << c.name;
        } else {
            EXPECT_EQ(bench.lines(c.exitCode == 0 ? "" : failure), outcome.err) << c.name;
            EXPECT_EQ(Names{}, listDir(linux("app"))) << c.name;
        }
        EXPECT_EQ("", outcome.out) << c.name;
    }
}

// A deployment tool's time limit kills the program, or Ctrl+C interrupts it:
// the setup's whole process tree goes with it, the run never ends with 0, and
// the log stays where the setup wrote it. A normal end leaves what the setup
// started on purpose running, also what it started outside its job.
TEST_F(Run, KilledProgramTakesItsSetupAlong) {
    for (int signal : {SIGKILL, SIGINT}) {
        std::string done = linux("setup-done");
        Environment environment = withLog("half way\n", {{"QIX_SETUP_RECORD", win("record.txt")},
                                                         {"QIX_SETUP_SLEEP_MS", "1500"},
                                                         {"QIX_SETUP_MARKER", "never"},
                                                         {"QIX_SETUP_DONE", win("setup-done")}});
        // Interrupted, the program still ends a child that broke away from the
        // setup's job; killed, it cannot.
        std::string started = linux("child-started");
        if (signal == SIGINT) {
            environment["QIX_SETUP_DETACHED_FILE"] = win("broke-away");
            environment["QIX_SETUP_DETACHED_MS"] = "60000";
            environment["QIX_SETUP_DETACHED_STARTED"] = win("child-started");
            environment["QIX_SETUP_BREAKAWAY"] = "1";
        }
        Outcome killed = bench.runKilledWhen(
            {setup, "/D=" + win("app"), "/LOG=" + win("runs.log")}, environment,
            // The setup's log, not the program's probe file, which comes first.
            [&] {
                for (const std::string& name : listDir(linux("app"))) {
                    if (name.rfind("install", 0) == 0) {
                        return signal != SIGINT || exists(started);
                    }
                }
                return false;
            },
            signal);
        EXPECT_EQ(signal == SIGINT ? 255 : -1, killed.exitCode) << describe(killed);
        EXPECT_EQ(Names{}, bench.processesLeft()) << "signal " << signal;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        EXPECT_FALSE(exists(done)) << "the setup ran on after the program ended, signal " << signal;
        std::string log = logPathIn(recorded());
        EXPECT_EQ(Names{log.substr(log.rfind('\\') + 1)}, listDir(linux("app"))) << signal;
        // Interrupted, the run still closes its record; killed, it cannot.
        std::string runs = readFile(linux("runs.log"));
        EXPECT_EQ(signal == SIGINT,
                  runs.find(" UTC interrupted, exit code -1\r\n") != std::string::npos)
            << runs;
        fs::remove_all(linux("app"));
        fs::remove(record);
        fs::remove(linux("runs.log"));
    }
    for (const char* breakaway : {"", "1"}) {
        std::string lived = linux("lived");
        std::string gate = linux("gate");
        // The child writes only once the run has ended and the test opens the
        // gate: whatever the machine's load, it must still be alive then.
        Outcome normal = install({"/D=" + win("app")}, {{"QIX_SETUP_DETACHED_FILE", win("lived")},
                                                        {"QIX_SETUP_DETACHED_MS", "0"},
                                                        {"QIX_SETUP_DETACHED_GATE", win("gate")},
                                                        {"QIX_SETUP_BREAKAWAY", breakaway}});
        EXPECT_EQ(0, normal.exitCode) << normal.err;
        EXPECT_FALSE(exists(lived));
        bench.writeFile("gate", "");
        for (int i = 0; i < 300 && !exists(lived); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(exists(lived)) << "the setup's detached child did not outlive the run, "
                                   << "breakaway '" << breakaway << "'";
        fs::remove(lived);
        fs::remove(gate);
    }
}

// With /TIMEOUT= a setup that never returns is ended with everything it
// started, a child that broke away from its job included; its log is
// relayed, and the record closes with the reason.
TEST_F(Run, TimeoutEndsASetupThatHangs) {
    Outcome outcome =
        install({"/D=" + win("app"), "/TIMEOUT=3", "/EXITCODES=msi", "/LOG=" + win("runs.log")},
                withLog("half way\n", {{"QIX_SETUP_SLEEP_MS", "60000"},
                                       {"QIX_SETUP_MARKER", "never"},
                                       {"QIX_SETUP_DETACHED_FILE", win("broke-away")},
                                       {"QIX_SETUP_DETACHED_MS", "60000"},
                                       {"QIX_SETUP_DETACHED_STARTED", win("child-started")},
                                       {"QIX_SETUP_BREAKAWAY", "1"}}));
    std::string line = "Setup did not finish within 3 s: " + setup;
    EXPECT_EQ(67, outcome.exitCode) << describe(outcome);
    EXPECT_EQ(bench.lines(line + "\nhalf way\n"), outcome.err);
    EXPECT_EQ(Names{}, listDir(linux("app")));
    std::string runs = readFile(linux("runs.log"));
    EXPECT_NE(std::string::npos, runs.find("\r\n" + line + "\r\nhalf way\r\n")) << runs;
    EXPECT_NE(std::string::npos, runs.find(" UTC " + line + ", exit code 1603\r\n")) << runs;
    EXPECT_TRUE(exists(linux("child-started"))) << "set-up: the setup's child never started";
    EXPECT_EQ(Names{}, bench.processesLeft()) << "ran on past the setup's time";
}

// A link planted at the log's or the marker's path, a Unix symbolic link
// under Wine included, is neither read nor deleted through, and no run
// appends its record through one.
TEST_F(Run, LinksAreNeitherReadNorDeletedThrough) {
    std::string secret = bench.writeFile("secret", "not the setup's\n");
    Outcome outcome;
    std::thread run([&] {
        outcome = install({"/D=" + win("app")},
                          {{"QIX_SETUP_WAIT_FOR", win("go")}, {"QIX_SETUP_MARKER", "never"}});
    });
    std::string log;
    for (int i = 0; i < 600 && log.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        log = exists(record) ? logPathIn(recorded()) : "";
    }
    ASSERT_NE("", log) << "the setup did not start";
    std::string linuxLog = linux("app/" + log.substr(log.rfind('\\') + 1));
    fs::create_symlink(secret, linuxLog);
    fs::create_symlink(secret, linuxLog + ".ready");
    bench.writeFile("go", "");
    run.join();
    EXPECT_EQ(255, outcome.exitCode);
    EXPECT_EQ(bench.lines("Can not read log " + log + "\n"), outcome.err);
    EXPECT_EQ("not the setup's\n", readFile(secret));
    EXPECT_TRUE(fs::is_symlink(linuxLog) && fs::is_symlink(linuxLog + ".ready"));

    // The record: a link to a file, one to nothing, a link among the folders
    // on the way, and what Wine names by another final path, an 8.3 name and
    // a share. Each is refused, and nothing is made where it leads.
    fs::create_symlink(secret, linux("runs.log"));
    fs::create_symlink(linux("nothing.log"), linux("none.log"));
    fs::create_directory(linux("target"));
    fs::create_directory_symlink(linux("target"), linux("ldir"));
    fs::create_directory(linux("longfoldername"));
    std::string shortFolder = shortName("longfoldername");
    ASSERT_NE("longfoldername", shortFolder) << "set-up: dir /x showed no 8.3 name";
    Share share(bench);
    struct Refused {
        std::string log;
        std::string made;  // what the refusal must not leave, on the Linux side
    } rows[] = {
        {win("runs.log"), ""},
        {win("none.log"), linux("nothing.log")},
        {win("ldir\\rec.txt"), linux("target/rec.txt")},
        {win(shortFolder) + "\\rec.txt", linux("longfoldername/rec.txt")},
        {share.path() + "\\rec.txt", linux("rec.txt")},
    };
    for (const Refused& row : rows) {
        Outcome refused = install({"/D=" + win("app2"), "/LOG=" + row.log});
        EXPECT_EQ(255, refused.exitCode) << row.log;
        EXPECT_EQ(bench.lines("Can not write log " + row.log + "\n"), refused.err);
        EXPECT_FALSE(!row.made.empty() && exists(row.made)) << row.made;
    }
    EXPECT_EQ("not the setup's\n", readFile(secret));
    EXPECT_FALSE(exists(linux("app2")));
}

// While a run keeps its record open, nobody can delete it: at the end the
// file holds the run's whole record.
TEST_F(Run, RecordDeletedDuringTheRunStaysWhole) {
    Outcome outcome;
    std::atomic<bool> ended{false};
    std::thread run([&] {
        outcome = install({"/D=" + win("app"), "/LOG=" + win("runs.log")},
                          {{"QIX_SETUP_WAIT_FOR", win("go")}});
        ended = true;
    });
    for (int i = 0; i < 1200 && !exists(record) && !ended; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Outcome deleted = bench.runInCmd("del " + win("runs.log"));
    bench.writeFile("go", "");
    run.join();
    EXPECT_EQ(0, outcome.exitCode) << describe(outcome);
    EXPECT_EQ("", outcome.out + outcome.err);
    std::string runs = readFile(linux("runs.log"));
    std::regex whole("^[^\r]* UTC started: [^\r]*\r\n[^\r]* UTC exit code 0\r\n$");
    EXPECT_TRUE(std::regex_match(runs, whole))
        << "the record: " << runs << "\ndel: " << describe(deleted);
}

// A run whose error stream stalls never keeps another run appending to the
// same record waiting; both records end up whole.
TEST_F(Run, RecordNeverWaitsForAnotherRunsReader) {
    std::string fifo = linux("err.fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::string line(99, 'x');
    std::string big;
    while (big.size() < (3u << 20)) {
        big += line + "\n";
    }
    Outcome stalled;
    std::thread first([&] {
        stalled = bench.run({setup, "/D=" + win("a"), "/LOG=" + win("runs.log")}, withLog(big),
                            ErrStream::kNamedPipe);
    });
    std::ifstream reader(fifo, std::ios::binary);
    // Past the 1 MiB the record holds in memory, then the reader stalls.
    std::vector<char> piece(3u << 19);
    ASSERT_TRUE(reader.read(piece.data(), static_cast<std::streamsize>(piece.size())));
    Outcome other =
        bench.run({setup, "/D=" + win("b"), "/LOG=" + win("runs.log")}, withLog("other\n"));
    EXPECT_EQ(255, other.exitCode) << describe(other);
    EXPECT_EQ(bench.lines("other\n"), other.err);
    std::string runs = readFile(linux("runs.log"));
    std::regex whole("^[^\r]* UTC started: [^\r]*\r\nother\r\n[^\r]* UTC exit code -1\r\n$");
    EXPECT_TRUE(std::regex_match(runs, whole)) << runs.substr(0, 300);
    std::string rest((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    first.join();
    EXPECT_EQ(255, stalled.exitCode);
    EXPECT_EQ(bench.lines(big).size(), piece.size() + rest.size());
    runs = readFile(linux("runs.log"));
    std::string::size_type second = runs.find(" UTC started: ", runs.find("\r\n"));
    ASSERT_NE(std::string::npos, second);
    std::string stalledRecord = runs.substr(runs.rfind("\n", second) + 1);
    std::string body = stalledRecord.substr(stalledRecord.find("\r\n") + 2);
    body = body.substr(0, body.rfind("\r\n", body.size() - 3) + 2);
    EXPECT_EQ(big.size() + big.size() / 100, body.size()) << "a record not whole";
}

// With no temporary folder for its scratch file, a record past the 1 MiB held
// in memory goes to its file as it grows, under the file's lock each time,
// and the run still ends, its record whole. Wine takes TEMP from cmd, not
// from Linux.
TEST_F(Run, RecordWithoutTemporaryFolderStaysWhole) {
    std::string big;
    while (big.size() < (3u << 20)) {
        big += std::string(99, 'x') + "\n";
    }
    Outcome outcome = bench.runInCmd("set TEMP=" + win("none") + "&& set TMP=" + win("none") +
                                         "&& " + bench.hostPath(bench.program()) + " " + setup +
                                         " /D=" + win("app") + " /LOG=" + win("runs.log"),
                                     withLog(big));
    EXPECT_EQ(255, outcome.exitCode) << describe(outcome).substr(0, 300);
    EXPECT_EQ(bench.lines(big).size(), outcome.err.size());
    std::string runs = readFile(linux("runs.log"));
    std::size_t first = runs.find("\r\n") + 2;
    std::size_t last = runs.rfind("\r\n", runs.size() - 3) + 2;
    EXPECT_NE(std::string::npos, runs.find(" UTC started: ")) << runs.substr(0, 200);
    EXPECT_EQ(big.size() + big.size() / 100, last - first) << "a record not whole";
    EXPECT_EQ(" UTC exit code -1\r\n", runs.substr(runs.find(" UTC", last))) << runs.substr(last);
}

// Another process that holds the lock runs take on the record `name` in the
// bench's folder, from when it took it until release() (60 s at most).
class LockHolder {
  public:
    LockHolder(const Bench& bench, const std::string& name) : bench_(bench) {
        std::string holder = bench.dir() + "/holder.exe";
        fs::copy_file(std::string(QIX_WINDOWS_BUILD_DIR) + "/test_setup.exe", holder);
        std::vector<std::string> line{holder, "--lock", win(name), win("locked"), win("release")};
        thread_ = std::thread([this, line] {
            try {
                outcome_ = bench_.runUnderWine(line);
                if (!took() && wineFailedToStart(outcome_)) {
                    outcome_ = bench_.runUnderWine(line);
                }
            } catch (const std::exception& error) {
                outcome_.err = error.what();
            }
            holding_ = false;
        });
        while (!took() && holding_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~LockHolder() { release(); }

    bool took() const { return exists(bench_.dir() + "/locked"); }
    bool holds() const { return holding_; }

    // Lets go of the lock; how the holder ended.
    const Outcome& release() {
        if (thread_.joinable()) {
            bench_.writeFile("release", "");
            thread_.join();
        }
        return outcome_;
    }

  private:
    std::string win(const std::string& name) const {
        return bench_.hostPath(bench_.dir() + "/" + name);
    }

    const Bench& bench_;
    std::atomic<bool> holding_{true};
    Outcome outcome_;
    std::thread thread_;
};

// Another process that keeps the record's lock never keeps a run waiting:
// an ended run fails without its record, after its bounded wait, and Ctrl+C
// ends a run at once; neither appends anything.
TEST_F(Run, RecordLockedByAStrangerKeepsNoRunWaiting) {
    LockHolder holder(bench, "runs.log");
    ASSERT_TRUE(holder.took()) << "set-up: the holder never took the lock: "
                               << describe(holder.release());
    Outcome ended = install({"/D=" + win("app"), "/TIMEOUT=2", "/LOG=" + win("runs.log")});
    Names leftByTheEndedRun = listDir(linux("app"));
    fs::remove(record);
    Outcome interrupted = bench.runKilledWhen(
        {setup, "/D=" + win("app"), "/LOG=" + win("runs.log")},
        {{"QIX_SETUP_RECORD", win("record.txt")}, {"QIX_SETUP_SLEEP_MS", "30000"}},
        [&] { return exists(record); }, SIGINT);
    bool heldAtTheEnd = holder.holds();
    holder.release();
    EXPECT_TRUE(heldAtTheEnd) << "a run waited for the lock";
    EXPECT_EQ(255, ended.exitCode) << describe(ended);
    std::string line = bench.lines("Can not write log " + win("runs.log") + "\n");
    EXPECT_EQ(line, ended.err.substr(ended.err.size() - std::min(line.size(), ended.err.size())))
        << ended.err;
    EXPECT_EQ(255, interrupted.exitCode) << describe(interrupted);
    EXPECT_EQ("", readFile(linux("runs.log")));
    EXPECT_EQ(Names{}, leftByTheEndedRun);
}

TEST_F(Run, ExitCodeFollowsSetupStatusAndLog) {
    struct Case {
        Environment environment;
        int exitCode;
        std::string err;
        std::string out = "";
    } cases[] = {
        {{}, 0, ""},
        {{{"QIX_SETUP_EXIT", "3"}}, 255, ""},
        {withLog("problem: disk full\n", {{"QIX_SETUP_EXIT", "2"}}), 255, "problem: disk full\n"},
        {withLog("note\n"), 255, "note\n"},
        // With /EXITCODES=msi (Linux sees the low byte): the setup's restart
        // and retry codes pass, log or not; other failures are 1603 (67).
        {{{"QIX_SETUP_EXIT", "3010"}, {"MSI", "1"}}, 3010 & 0xFF, ""},
        {withLog("restart\n", {{"QIX_SETUP_EXIT", "1641"}, {"MSI", "1"}}), 1641 & 0xFF,
         "restart\n"},
        {{{"QIX_SETUP_EXIT", "1618"}, {"MSI", "1"}}, 1618 & 0xFF, ""},
        {{{"QIX_SETUP_EXIT", "3"}, {"MSI", "1"}}, 1603 & 0xFF, ""},
        {withLog("note\n", {{"MSI", "1"}}), 1603 & 0xFF, "note\n"},
        {{{"MSI", "1"}}, 0, ""},
        {{{"QIX_SETUP_EXIT", "3010"}}, 255, ""},
        // The setup runs on the program's console: what it prints itself
        // appears there, ahead of its relayed log.
        {withLog("note\n", {{"QIX_SETUP_SAY", "said"}}), 255, "setup error: said\nnote\n",
         "said\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options{"/D=" + win("app")};
        if (c.environment.count("MSI")) {
            options.push_back("/EXITCODES=msi");
        }
        Outcome outcome = install(options, c.environment);
        EXPECT_EQ(c.exitCode, outcome.exitCode) << c.err;
        EXPECT_EQ(bench.lines(c.err), outcome.err);
        EXPECT_EQ(bench.lines(c.out), outcome.out);
        EXPECT_EQ(Names{}, listDir(linux("app")));
    }
}

TEST_F(Run, LateMarkerEndsTheWaitWhenItAppears) {
    double seconds = secondsOf([&] {
        Outcome outcome =
            install({"/D=" + win("app")}, withLog("done\n", {{"QIX_SETUP_MARKER", "2000"}}));
        EXPECT_EQ(255, outcome.exitCode);
        EXPECT_EQ(bench.lines("done\n"), outcome.err);
    });
    // The setup made its marker after 2 s: the wait ended then, not at its limit.
    EXPECT_GE(seconds, 2.0);
    EXPECT_LT(seconds, kMarkerWaitSeconds);
    EXPECT_EQ(Names{}, listDir(linux("app")));
}

// Without a marker the wait ends at its limit: not before 9 s, and once (two
// limits would take 20 s). A log is relayed as far as it was written and
// fails the run; without one the run succeeds.
TEST_F(Run, MissingMarkerEndsTheWaitAtTheLimit) {
    struct Case {
        std::string directory;
        Environment environment;
        int exitCode;
        std::string err;
        Outcome outcome;
        double seconds = 0;
    } cases[] = {
        {"app", withLog("partial\n", {{"QIX_SETUP_MARKER", "never"}}), 255, "partial\n", {}},
        {"quiet", {{"QIX_SETUP_MARKER", "never"}}, 0, "", {}},
    };
    // The rows wait side by side: the limit is paid once.
    std::vector<std::thread> rows;
    for (Case& c : cases) {
        rows.emplace_back([&c, this] {
            c.seconds = secondsOf([&] {
                c.outcome = bench.run({setup, "/D=" + win(c.directory)}, c.environment);
            });
        });
    }
    for (std::thread& row : rows) {
        row.join();
    }
    for (const Case& c : cases) {
        EXPECT_EQ(c.exitCode, c.outcome.exitCode) << c.directory << describe(c.outcome);
        EXPECT_EQ(bench.lines(c.err), c.outcome.out + c.outcome.err) << c.directory;
        EXPECT_GT(c.seconds, 9.0) << c.directory;
        EXPECT_LT(c.seconds, 2 * kMarkerWaitSeconds) << c.directory;
        EXPECT_EQ(Names{}, listDir(linux(c.directory))) << c.directory;
    }
}

// Nothing runs, so nothing is waited for: one line names the setup and the
// system's reason. A folder named like the setup and a file that is no
// program both pass the existence test.
TEST_F(Run, SetupThatCannotStartFailsAtOnce) {
    fs::create_directory(linux("nosetup.exe"));
    bench.writeFile("text.exe", "no program\n");
    // Wine would run a Unix script natively, outside any job.
    fs::permissions(bench.writeFile("script.exe", "#!/bin/sh\nsleep 30\n"), fs::perms::owner_exec,
                    fs::perm_options::add);
    for (const char* name : {"nosetup", "text.exe", "script.exe"}) {
        std::string path = win(name) + (std::string(name) == "nosetup" ? ".exe" : "");
        Outcome outcome;
        double seconds = secondsOf([&] { outcome = bench.run({win(name), "/D=" + win("app")}); });
        EXPECT_LT(seconds, kMarkerWaitSeconds) << name;
        EXPECT_EQ(255, outcome.exitCode);
        EXPECT_EQ("", outcome.out);
        std::string head = "Can not start setup " + path + ": ";
        EXPECT_EQ(head, outcome.err.substr(0, head.size())) << outcome.err;
        EXPECT_EQ(1, std::count(outcome.err.begin(), outcome.err.end(), '\n')) << outcome.err;
        EXPECT_GT(outcome.err.size(), head.size() + 2) << "no reason given";
        EXPECT_EQ(Names{}, listDir(linux("app")));
    }
}

}  // namespace
