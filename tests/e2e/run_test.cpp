// Whole installation runs of the Windows program under Wine, driving the
// stand-in setup: exact streams, exit codes, what the setup received and what
// is left on disk.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>

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

  private:
    int logSources_ = 0;
};

std::string logPathIn(const std::string& command) {
    return parseSetupSwitches(command).logPath;
}

// True when `log` is `directory` (joined with a backslash where it has none),
// "install", digits and ".log".
bool isLogPathFor(const std::string& log, std::string directory) {
    if (directory.back() != '\\') {
        directory += '\\';
    }
    std::string head = directory + "install";
    if (log.compare(0, head.size(), head) != 0 || log.size() < head.size() + 5 ||
        log.compare(log.size() - 4, 4, ".log") != 0) {
        return false;
    }
    std::string digits = log.substr(head.size(), log.size() - head.size() - 4);
    return digits.find_first_not_of("0123456789") == std::string::npos;
}

std::string expectedCommand(const std::string& setup, const std::string& switches,
                            const std::string& log, const std::string& directory) {
    return setup + " /S " + switches + " /LOG\"" + log + "\" /D=" + directory;
}

double secondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
        // The closing quote is part of the directory created and probed, but not
        // of the one the setup is given: that one the setup must find itself.
        {"/D=" + win("quote") + "'", win("quote"), linux("quote'")},
        {"/D=   " + win("blanks around") + "  ", win("blanks around"), linux("blanks around")},
        {"/D=C:\\", "C:\\", ""},
    };
    fs::create_directory(linux("quote"));
    for (const Case& c : cases) {
        double seconds = 0;
        Outcome outcome;
        seconds = secondsOf([&] { outcome = install({c.option}); });
        EXPECT_LT(seconds, 3.0) << c.option << ": the marker was not found at once";
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
    for (const std::string& name : listDir(driveC())) {
        bool probe = name.find_first_not_of("0123456789") == std::string::npos;
        EXPECT_FALSE(probe || name.rfind("install", 0) == 0) << "left in C:\\: " << name;
    }
}

TEST_F(Run, RejectedDirectoriesLaunchNothing) {
    bench.writeFile("afile", "keep");
    fs::create_directory(linux("locked"));
    ASSERT_EQ(0, system(("chattr +i '" + linux("locked") + "'").c_str()));
    // Directories the Windows run-time's narrow calls cannot reach past 260
    // characters: one that can be created but takes no file, one that cannot.
    std::string base = win("long\\");
    std::string takesNoFile = base + std::string(258 - base.size(), 'n');
    std::string tooLong = base + std::string(270 - base.size(), 'x');
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
        {takesNoFile, "No access rights for directory " + takesNoFile},
        {tooLong, "Can not create directory " + tooLong},
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
    // Directories created on the way stay, empty.
    std::string first = takesNoFile.substr(base.size());
    std::string second = tooLong.substr(base.size());
    EXPECT_EQ((Names{first, second}), listDir(linux("long")));
    EXPECT_EQ(Names{}, listDir(linux("long/" + first)));
    EXPECT_EQ(Names{}, listDir(linux("long/" + second)));
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

TEST_F(Run, LogsAreRelayedLineByLineThenRemoved) {
    struct Case {
        const char* name;
        std::string log;
        std::string relayed;
    } cases[] = {
        {"CR LF lines", "first line\r\nsecond line\r\n", "first line\nsecond line\n"},
        {"last line without a line feed", "one\nlast", "one\nlast\n"},
        {"empty log", "", ""},
        {"byte 26 ends the log",
         "kept\npart\x1a"
         "dropped\nalso dropped\n",
         "kept\npart\n"},
        {"lone CR and blank lines", "a\rb\n\n\nc\n", "a\rb\n\n\nc\n"},
        {"CR before byte 26",
         "a\r\x1a"
         "b\n",
         "a\r\n"},
        {"CR at the end", "a\r", "a\r\n"},
        {"bytes above 127", "Fehler: Datei \xc3\xa4 fehlt\n", "Fehler: Datei \xc3\xa4 fehlt\n"},
    };
    for (const Case& c : cases) {
        Outcome outcome = install({"/D=" + win("app")}, withLog(c.log));
        EXPECT_EQ(255, outcome.exitCode) << c.name;
        EXPECT_EQ("", outcome.out) << c.name;
        EXPECT_EQ(bench.lines(c.relayed), outcome.err) << c.name;
        EXPECT_EQ(Names{}, listDir(linux("app"))) << c.name;
    }
}

TEST_F(Run, ExitCodeFollowsSetupStatusAndLog) {
    struct Case {
        Environment environment;
        int exitCode;
        std::string err;
    } cases[] = {
        {{}, 0, ""},
        {{{"QIX_SETUP_EXIT", "3"}}, 255, ""},
        {withLog("problem: disk full\n", {{"QIX_SETUP_EXIT", "2"}}), 255, "problem: disk full\n"},
        {withLog("note\n"), 255, "note\n"},
    };
    for (const Case& c : cases) {
        Outcome outcome = install({"/D=" + win("app")}, c.environment);
        EXPECT_EQ(c.exitCode, outcome.exitCode) << c.err;
        EXPECT_EQ(bench.lines(c.err), outcome.err);
        EXPECT_EQ(Names{}, listDir(linux("app")));
    }
}

TEST_F(Run, StaleLogIsRemovedBeforeLaunch) {
    // Take every log name the next seconds can produce: a stale log at the
    // chosen one would otherwise be relayed as this run's.
    fs::create_directory(linux("app"));
    std::time_t now = std::time(nullptr);
    std::set<std::string> stale;
    for (std::time_t second = now; second < now + 4; ++second) {
        for (int ms = 0; ms < 1000; ++ms) {
            std::string name = "install" + std::to_string(second) + std::to_string(ms) + ".log";
            bench.writeFile("app/" + name, "stale\n");
            stale.insert(name);
        }
    }
    Outcome outcome = install({"/D=" + win("app")});
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ("", outcome.err);
    Names left = listDir(linux("app"));
    EXPECT_EQ(stale.size() - 1, left.size());
    std::string log = logPathIn(recorded());
    EXPECT_FALSE(exists(linux("app/" + log.substr(log.rfind('\\') + 1))));
}

TEST_F(Run, LateMarkerEndsTheWaitWhenItAppears) {
    double seconds = secondsOf([&] {
        Outcome outcome =
            install({"/D=" + win("app")}, withLog("done\n", {{"QIX_SETUP_MARKER", "2000"}}));
        EXPECT_EQ(255, outcome.exitCode);
        EXPECT_EQ(bench.lines("done\n"), outcome.err);
    });
    EXPECT_GE(seconds, 2.0);
    EXPECT_LT(seconds, 4.0);
    EXPECT_EQ(Names{}, listDir(linux("app")));
}

// The wait without a marker ends between 9 and 10 s after it began; the log is
// relayed as far as it was written.
TEST_F(Run, MissingMarkerEndsTheWaitAtTheLimit) {
    double seconds = secondsOf([&] {
        Outcome outcome =
            install({"/D=" + win("app")}, withLog("partial\n", {{"QIX_SETUP_MARKER", "never"}}));
        EXPECT_EQ(255, outcome.exitCode);
        EXPECT_EQ(bench.lines("partial\n"), outcome.err);
    });
    EXPECT_GT(seconds, 9.0);
    EXPECT_LT(seconds, 11.5);
    EXPECT_EQ(Names{}, listDir(linux("app")));
}

TEST_F(Run, NeitherMarkerNorLogEndsWithSuccessAfterTheLimit) {
    double seconds = secondsOf([&] {
        Outcome outcome = install({"/D=" + win("app")}, {{"QIX_SETUP_MARKER", "never"}});
        EXPECT_EQ(0, outcome.exitCode);
        EXPECT_EQ("", outcome.out + outcome.err);
    });
    EXPECT_GT(seconds, 9.0);
    EXPECT_LT(seconds, 11.5);
}

TEST_F(Run, SetupThatCannotBeFoundFailsAfterTheWait) {
    // A folder named like the setup passes the first check, yet the ".exe"
    // appended to it names nothing.
    fs::create_directory(linux("nosetup"));
    Outcome outcome = bench.run({win("nosetup"), "/D=" + win("app")});
    EXPECT_EQ(255, outcome.exitCode);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ(Names{}, listDir(linux("app")));
}

}  // namespace
