// Bad input and faults around a run of the Windows program under Wine: the
// exact message and exit code, and nothing lost or left behind.
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "../setup/setup_switches.h"
#include "harness.h"

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

namespace {

using Fault = WindowsRunTest;

const std::string kNoCodePageProgram =
    std::string(QIX_WINDOWS_BUILD_DIR) + "/Qix_Console_Installer_NoCodePage.exe";

// Paths that an interpreter would cut at a blank, split at an operator or
// expand reach the setup exactly as the user gave them.
TEST_F(Fault, SpecialCharactersReachTheSetupIntact) {
    struct Case {
        std::string setupFolder;
        std::string directory;
    } cases[] = {
        {"plain", "R&D\\"},
        {"with blank", "dir with blanks"},
        {"R&D (x86) ^x", "a&b ^c (x86) 50% off\\"},
        {"(x86)", "x^y (z)"},
        {"100%", "%NO_SUCH_VARIABLE%"},
        // What cmd would have expanded, or paired across the pieces of a line.
        {"%PROMPT%", "n1%PROMPT%"},
        {"%PATH:~0,0", "x%evil.exe zz"},
    };
    for (const Case& c : cases) {
        std::string setup = bench.hostPath(bench.installSetup(c.setupFolder + "/setup.exe"));
        Outcome outcome = runRecorded({setup, "/D=" + win(c.directory), "/L=g"});
        EXPECT_EQ(0, outcome.exitCode) << c.directory << outcome.err;
        EXPECT_EQ("", outcome.out + outcome.err);
        std::string received = readFile(record);
        SetupSwitches switches = parseSetupSwitches(received);
        EXPECT_EQ(win(c.directory), switches.directory) << received;
        EXPECT_TRUE(switches.silent);
        EXPECT_EQ("g", switches.language);
        EXPECT_EQ(Names{}, switches.unknown) << received;
        bool quoted = setup.find_first_of(" ,;=&()^") != std::string::npos;
        std::string program = quoted ? "\"" + setup + "\"" : setup;
        EXPECT_EQ(program + " /S ", received.substr(0, program.size() + 4));
        std::string directory = linux(c.directory);
        if (directory.back() == '\\') {
            directory.pop_back();
        }
        EXPECT_EQ(Names{}, listDir(directory)) << c.directory;
        fs::remove(record);
    }
}

// No interpreter takes part, whatever COMSPEC names: a cmd.exe planted in the
// current directory never runs. Wine takes COMSPEC from its registry, so only
// cmd.exe can set it.
TEST_F(Fault, PlantedInterpreterNeverRuns) {
    std::string setup = bench.hostPath(bench.installSetup());
    std::string planted = bench.hostPath(bench.installSetup("cmd.exe"));
    struct Case {
        std::string comspec;
        bool plantedRuns;
    } cases[] = {
        {"", false},
        {"cmd.exe", false},
        {planted, false},
    };
    for (const Case& c : cases) {
        Outcome outcome = bench.runInCmd(
            "set COMSPEC=" + c.comspec + "&& set QIX_SETUP_RECORD=" + bench.hostPath(record) +
            "&& " + bench.hostPath(bench.program()) + " " + setup + " /D=" + win("app"));
        EXPECT_EQ(0, outcome.exitCode) << c.comspec;
        EXPECT_EQ("", outcome.out + outcome.err) << c.comspec;
        std::string received = readFile(record);
        EXPECT_EQ(!c.plantedRuns, received.compare(0, setup.size() + 4, setup + " /S ") == 0)
            << c.comspec << ": " << received;
        EXPECT_EQ(Names{}, listDir(linux("app")));
        fs::remove(record);
    }
}

// cmd drops a leading '@' from an unquoted program: "@s.exe" would run s.exe.
TEST_F(Fault, LeadingAtSignRunsThatSetup) {
    bench.installSetup("s.exe");
    bench.installSetup("@s.exe");
    Outcome outcome = runRecorded({"@s.exe", "/D=" + win("app")});
    EXPECT_EQ(0, outcome.exitCode) << outcome.err;
    EXPECT_EQ("\"@s.exe\" /S ", readFile(record).substr(0, 12));
}

TEST_F(Fault, SetupThatCrashes) {
    std::string setup = bench.hostPath(bench.installSetup());
    Outcome outcome = runRecorded({setup, "/D=" + win("app")}, {{"QIX_SETUP_CRASH", "1"}});
    EXPECT_EQ(255, outcome.exitCode);
    EXPECT_EQ("", outcome.out);
    EXPECT_TRUE(exists(record));
    EXPECT_EQ(Names{}, listDir(linux("app")));
}

TEST_F(Fault, LogPathTakenByADirectory) {
    // The setup leaves a directory where its log belongs: no log to read is
    // not the same as no log, and what stands there is left alone.
    std::string setup = bench.hostPath(bench.installSetup());
    Outcome outcome =
        runRecorded({setup, "/D=" + win("app")}, {{"QIX_SETUP_LOG_AS_DIRECTORY", "1"}});
    EXPECT_EQ(255, outcome.exitCode);
    std::string log = parseSetupSwitches(readFile(record)).logPath;
    EXPECT_EQ(bench.lines("Can not read log " + log + "\n"), outcome.out + outcome.err);
    EXPECT_EQ(Names{log.substr(log.rfind('\\') + 1)}, listDir(linux("app")));
}

// What Windows or a setup would turn into something else is refused before
// anything is created or run.
TEST_F(Fault, RefusedBeforeAnythingRuns) {
    std::string setup = bench.hostPath(bench.installSetup());
    bench.installSetup("adv.exe");
    bench.writeFile("foo", "");
    std::string notFound = "\nFirst parameter must be setup path\n";
    // A Windows command line holds at most 32,767 characters.
    std::string longText(32000, 'x');
    std::string umlaut = "\xc3\xa4\xc3\xb6\xc3\xbc";
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{longText}, "Path not found: " + longText + notFound},
        {{setup, "/" + longText}, "Invalid parameter \"/" + longText + "\"\n"},
        {{setup, "/D=C:\\" + longText}, "Can not create directory C:\\" + longText + "\n"},
        // The existence test resolves "\.." where cmd or the table would cut.
        {{win("evil.exe\t\\..\\adv.exe")},
         "Path not found: " + win("evil.exe\t\\..\\adv.exe") + notFound},
        {{win("evil\n\\..\\adv.exe")}, "Path not found: " + win("evil\n\\..\\adv.exe") + notFound},
        {{win("evil\r\\..\\adv.exe")}, "Path not found: " + win("evil\r\\..\\adv.exe") + notFound},
        // The path that runs is the one with ".exe" appended.
        {{win("foo")}, "Path not found: " + win("foo") + notFound},
        // cmd would expand a defined variable, in quotes too.
        {{win("%QIX_X%\\..\\setup.exe")},
         "Path not found: " + win("%QIX_X%\\..\\setup.exe") + notFound},
        {{setup, "/D=" + win("%QIX_X%")}, "Can not create directory " + win("%QIX_X%") + "\n"},
        // A line break would make a table line of its own.
        {{setup, "/L=g\n[x]", "/D=" + win("app")}, "Invalid parameter \"/L=g\n[x]\"\n"},
        {{setup, "/D=" + win("app") + "\n/L=g"},
         "Invalid parameter \"/D=" + win("app") + "\n/L=g\"\n"},
        {{setup, "/x\ny"}, "Invalid parameter \"/x\ny\"\n"},
        // Windows drops a trailing blank or dot from a name.
        {{setup, "/D=" + win("app\\trail \\")},
         "Can not create directory " + win("app\\trail \\") + "\n"},
        {{setup, "/D=" + win("app\\mid \\sub")},
         "Can not create directory " + win("app\\mid \\sub") + "\n"},
        {{setup, "/D=" + win("app\\dots..\\sub")},
         "Can not create directory " + win("app\\dots..\\sub") + "\n"},
        {{"Z:\\" + umlaut + "\\setup", "/L=" + umlaut},
         "Path not found: Z:\\" + umlaut + "\\setup" + notFound},
        {{setup, "/DS=" + umlaut}, "Invalid parameter \"/DS=" + umlaut + "\"\n"},
        {{setup, "/L=" + umlaut, "/DS=" + umlaut}, "Invalid parameter \"/L=" + umlaut + "\"\n"},
        // An alternate data stream; a drive that is no letter.
        {{setup, "/D=" + win("x:stream")}, "Can not create directory " + win("x:stream") + "\n"},
        {{setup, "/D=1:\\x"}, "Specified installation directory must be an absolute path.\n"},
        {{setup, "/D=':\\x"}, "Specified installation directory must be an absolute path.\n"},
        {{setup, "/D=\\\\?\\" + win("app")},
         "Specified installation directory must be an absolute path.\n"},
        // What a setup without Unicode reads, by best fit, as '"', '\\' or '%'.
        {{setup, "/D=" + win("a\xef\xbc\x82"
                             "b")},
         "Can not create directory " +
             win("a\xef\xbc\x82"
                 "b") +
             "\n"},
        {{setup, "/D=" + win("g\xef\xbc\xbch")},
         "Can not create directory " + win("g\xef\xbc\xbch") + "\n"},
        // Each character judged on its own, also right after another non-ASCII one.
        {{setup, "/D=" + win("\xc3\xa4\xef\xbc\xbc"
                             "b")},
         "Can not create directory " +
             win("\xc3\xa4\xef\xbc\xbc"
                 "b") +
             "\n"},
        {{setup, "/D=" + win("p\xef\xbc\x85QIX_X\xef\xbc\x85")},
         "Can not create directory " + win("p\xef\xbc\x85QIX_X\xef\xbc\x85") + "\n"},
    };
    for (const Case& c : cases) {
        // A directory of the test's own, should a refusal fail to happen.
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("/D=" + win("app"));
        // The same from a build whose manifest names no code page, as every
        // program runs on Windows before 10 1903.
        for (const std::string& program : {bench.program(), kNoCodePageProgram}) {
            std::vector<std::string> line{program};
            line.insert(line.end(), arguments.begin(), arguments.end());
            Outcome outcome = bench.runUnderWine(
                line, {{"QIX_X", "elsewhere"}, {"QIX_SETUP_RECORD", win("record.txt")}});
            EXPECT_EQ(255, outcome.exitCode) << c.err;
            EXPECT_EQ("", outcome.out);
            EXPECT_EQ(bench.lines(c.err), outcome.err) << program;
        }
    }
    EXPECT_FALSE(exists(record));
    // Nothing made, not even the parents of what was refused.
    EXPECT_EQ((Names{"adv.exe", "foo", "setup.exe"}), listDir(bench.dir()));
}

// Names reach the setup in UTF-16 whatever code page the program has; a
// setup without Unicode reads them in the system's ANSI code page (1252 on
// this bench). ".." is resolved before anything is created.
TEST_F(Fault, NonLatinDirectoryIsCreatedAndPassedIntact) {
    fs::copy_file(std::string(QIX_WINDOWS_BUILD_DIR) + "/test_setup_ansi.exe", linux("ansi.exe"));
    fs::copy_file(std::string(QIX_WINDOWS_BUILD_DIR) + "/test_setup_narrow_main.exe",
                  linux("narrow.exe"));
    std::string setup = bench.hostPath(bench.installSetup());
    Share share(bench);
    std::string cyrillic =
        "\xd0\x9a\xd0\xb8\xd1\x80\xd0\xb8\xd0\xbb\xd0\xbb\xd0\xb8\xd1\x86\xd0\xb0";
    struct Case {
        std::string program;
        std::string setup;
        std::string name;      // the directory, as given and as created
        std::string received;  // the /D= value the setup reads, "" for the name
    } cases[] = {
        {bench.program(), setup, cyrillic, ""},
        {kNoCodePageProgram, setup, cyrillic, ""},
        {kNoCodePageProgram, setup, "50% off/%PROMPT%!x!", ""},
        {bench.program(), win("ansi.exe"), "Z\xc3\xbcrich", win("Z\xfcrich")},
        {kNoCodePageProgram, win("ansi.exe"), "Z\xc3\xbcrich", win("Z\xfcrich")},
        // Read in UTF-16 from a narrow main, which imports a narrow reader too.
        {bench.program(), win("narrow.exe"), cyrillic, ""},
        // A setup given in the long path form runs as given.
        {bench.program(), "\\\\?\\" + setup, "long form", ""},
        // Past U+FFFF: two UTF-16 units (a surrogate pair) each, kept whole.
        {bench.program(), setup, "\xf0\x9f\x98\x80\xf0\x9f\x90\x80", ""},
        // On a share: Wine serves \\qixsrv\<folder> from its dosdevices/unc.
        {bench.program(), share.path() + "\\setup.exe", "on share", ""},
    };
    for (const Case& c : cases) {
        // A name the ANSI code page lacks ends 0 only with the marker found.
        Outcome outcome = bench.runUnderWine({c.program, c.setup, "/D=" + win(c.name)},
                                             {{"QIX_SETUP_RECORD", win("record.txt")}});
        EXPECT_EQ(0, outcome.exitCode) << describe(outcome);
        EXPECT_TRUE(fs::is_directory(linux(c.name))) << c.name;
        EXPECT_EQ(c.received.empty() ? win(c.name) : c.received,
                  parseSetupSwitches(readFile(record)).directory);
        EXPECT_EQ(Names{}, listDir(linux(c.name)));
        fs::remove_all(linux(c.name.substr(0, c.name.find('/'))));
        fs::remove(record);
    }
    Outcome outcome = runRecorded({setup, "/D=" + win("n10/a/../../n10b")});
    EXPECT_EQ(0, outcome.exitCode) << outcome.err;
    EXPECT_EQ(win("n10b"), parseSetupSwitches(readFile(record)).directory);
    EXPECT_TRUE(fs::is_directory(linux("n10b")));
    EXPECT_FALSE(exists(linux("n10"))) << "a component that \"..\" cancels was created";
}

// A setup without Unicode would read a name its code page lacks as '?'s and
// install elsewhere: such a directory is refused before anything is made.
TEST_F(Fault, AnsiSetupGetsNoNameItCannotRead) {
    std::string directory = win("x/\xd0\x96\xd1\x83\xd0\xba");
    for (const char* name : {"AnsiSetup.exe", "test_setup_ansi.exe"}) {
        fs::copy_file(std::string(QIX_WINDOWS_BUILD_DIR) + "/" + name, linux(name));
        Outcome outcome = bench.run({win(name), "/D=" + directory});
        EXPECT_EQ(255, outcome.exitCode) << name;
        EXPECT_EQ(bench.lines("Can not create directory " + directory + "\n"), outcome.err);
    }
    EXPECT_EQ((Names{"AnsiSetup.exe", "test_setup_ansi.exe"}), listDir(bench.dir()));
}

// A wrapper that hands its line on as narrow calls do, through the ANSI code
// page, gives the setup inside '?'s for a name that page lacks: that setup
// installs nowhere and confirms no directory, which fails the run.
TEST_F(Fault, WrappedSetupThatMisreadsTheDirectoryFailsTheRun) {
    fs::copy_file(std::string(QIX_WINDOWS_BUILD_DIR) + "/test_setup_ansi.exe", linux("ansi.exe"));
    std::string setup = bench.hostPath(bench.installSetup());
    std::string directory = win("\xd0\x96\xd1\x83\xd0\xba");
    struct Case {
        std::string exitCodes;
        int exitCode;
        Outcome outcome;
    } cases[] = {
        {"", 255, {}},
        {"/EXITCODES=msi", 1603 & 0xFF, {}},
    };
    // Side by side: a wait for a marker that never comes is paid once.
    std::vector<std::thread> rows;
    for (Case& c : cases) {
        rows.emplace_back([&c, &setup, &directory, this] {
            std::vector<std::string> arguments{setup, "/D=" + directory};
            if (!c.exitCodes.empty()) {
                arguments.push_back(c.exitCodes);
            }
            c.outcome = bench.run(
                arguments, {{"QIX_SETUP_WRAP", win("ansi.exe")},
                            {"QIX_SETUP_RECORD", win("record" + std::to_string(c.exitCode))}});
        });
    }
    for (std::thread& row : rows) {
        row.join();
    }
    for (const Case& c : cases) {
        EXPECT_EQ(c.exitCode, c.outcome.exitCode) << c.exitCodes << describe(c.outcome);
        EXPECT_EQ("", c.outcome.out);
        EXPECT_EQ(bench.lines("Setup did not confirm directory " + directory + "\n"),
                  c.outcome.err);
        // The setup inside ran, and read what it could.
        EXPECT_EQ(
            win("???"),
            parseSetupSwitches(readFile(linux("record" + std::to_string(c.exitCode)))).directory);
    }
    EXPECT_EQ(Names{}, listDir(linux("\xd0\x96\xd1\x83\xd0\xba")));
}

}  // namespace
