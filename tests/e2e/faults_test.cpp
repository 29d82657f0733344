// Bad input and faults around a run of the Windows program under Wine: the
// exact message and exit code, and nothing lost or left behind.
#include <filesystem>

#include <gtest/gtest.h>

#include "../setup/setup_switches.h"
#include "harness.h"

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

namespace {

using Fault = WindowsRunTest;

// Paths that the interpreter would cut at a blank or split at an operator
// reach the setup exactly as the user gave them.
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

// The failures below never see the marker, so each waits out the 10 s limit.
TEST_F(Fault, InterpreterThatCannotStart) {
    std::string setup = bench.hostPath(bench.installSetup());
    // Wine takes COMSPEC from its registry, so only cmd.exe can set it.
    Outcome outcome = bench.runInCmd(
        "set COMSPEC=C:\\missing\\cmd.exe&& set QIX_SETUP_RECORD=" + bench.hostPath(record) +
        "&& " + bench.hostPath(bench.program()) + " " + setup + " /D=" + win("app"));
    EXPECT_EQ(255, outcome.exitCode);
    EXPECT_EQ("", outcome.out + outcome.err);
    EXPECT_FALSE(exists(record));
    EXPECT_EQ(Names{}, listDir(linux("app")));
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
    // The setup leaves a directory where its log belongs: the program must
    // neither relay nor remove what stands there.
    std::string setup = bench.hostPath(bench.installSetup());
    Outcome outcome =
        runRecorded({setup, "/D=" + win("app")}, {{"QIX_SETUP_LOG_AS_DIRECTORY", "1"}});
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ("", outcome.out + outcome.err);
    std::string log = parseSetupSwitches(readFile(record)).logPath;
    EXPECT_EQ(Names{log.substr(log.rfind('\\') + 1)}, listDir(linux("app")));
}

TEST_F(Fault, LongArgumentsAndLineBreaksAndHighBytes) {
    std::string setup = bench.hostPath(bench.installSetup());
    // A Windows command line holds at most 32,767 characters.
    std::string longText(32000, 'x');
    std::string umlaut = "\xc3\xa4\xc3\xb6\xc3\xbc";
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{longText}, "Path not found: " + longText + "\nFirst parameter must be setup path\n"},
        {{setup, "/" + longText}, "Invalid parameter \"/" + longText + "\"\n"},
        {{setup, "/D=C:\\" + longText}, "Can not create directory C:\\" + longText + "\n"},
        // A line break inside an argument makes a line of its own for the table.
        {{setup, "/D=" + win("app") + "\n/L=q"}, "Invalid parameter \"/L=q\"\n"},
        {{setup, "/x\ny"}, "Invalid parameter \"/x\ny\"\n"},
        {{"Z:\\" + umlaut + "\\setup", "/L=" + umlaut},
         "Path not found: Z:\\" + umlaut + "\\setup\nFirst parameter must be setup path\n"},
        {{setup, "/DS=" + umlaut}, "Invalid parameter \"/DS=" + umlaut + "\"\n"},
        {{setup, "/L=" + umlaut, "/DS=" + umlaut}, "Invalid parameter \"/L=" + umlaut + "\"\n"},
    };
    for (const Case& c : cases) {
        Outcome outcome = runRecorded(c.arguments);
        EXPECT_EQ(255, outcome.exitCode);
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ(bench.lines(c.err), outcome.err);
    }
    EXPECT_FALSE(exists(record));
    EXPECT_EQ(Names{}, listDir(linux("app")));
}

TEST_F(Fault, NonLatinDirectoryIsCreatedAndPassedIntact) {
    std::string setup = bench.hostPath(bench.installSetup());
    std::string name = "\xd0\x9a\xd0\xb8\xd1\x80\xd0\xb8\xd0\xbb\xd0\xbb\xd0\xb8\xd1\x86\xd0\xb0";
    Outcome outcome = runRecorded({setup, "/D=" + win(name + "\\")});
    EXPECT_EQ(0, outcome.exitCode) << outcome.err;
    EXPECT_TRUE(fs::is_directory(linux(name)));
    EXPECT_EQ(win(name + "\\"), parseSetupSwitches(readFile(record)).directory);
    EXPECT_EQ(Names{}, listDir(linux(name)));
}

}  // namespace
