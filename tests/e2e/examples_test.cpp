// The deployment examples that docs/deploying.md shows, run as an
// administrator runs them: the cmd script under Wine's cmd, from a package
// folder that holds the program and the product's setup.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "harness.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

// The product setup the examples install; the script expects it beside itself
// as ZevSetup.exe.
const std::string kSampleSetup = QIX_WINDOWS_BUILD_DIR "/ZevSetup.exe";

const std::string kExamples = QIX_SOURCE_DIR "/examples/deploy";

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Names in `directory` that the program or the setup's contract leave there
// only while a run is going on: the log and its marker.
Names runFilesIn(const std::string& directory) {
    Names left;
    for (const std::string& name : listDir(directory)) {
        if (name.compare(0, 7, "install") == 0) {
            left.push_back(name);
        }
    }
    return left;
}

class CmdExample : public ::testing::Test {
  protected:
    Bench bench{Target::kWindows};
    // Blanks in both paths: the script must quote everything it passes on.
    std::string package = bench.dir() + "/Zev package";
    std::string log = driveC() + "/ProgramData/Zev-install.log";
    std::string target = bench.dir() + "/Apps/Zev 2";

    // The sample registers itself machine-wide and refuses a second
    // installation, and the script's log lies outside the package: every test
    // starts and ends on a machine without either.
    void SetUp() override {
        forgetInstallation();
        fs::create_directories(package);
        fs::copy_file(kExamples + "/install-zev.cmd", package + "/install-zev.cmd");
        fs::copy_file(bench.program(), package + "/Qix_Console_Installer.exe");
        fs::copy_file(kSampleSetup, package + "/ZevSetup.exe");
    }

    void TearDown() override { forgetInstallation(); }

    void forgetInstallation() const {
        bench.runInCmd(
            "reg delete HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zev /f");
        setImmutable(log, false);
        fs::remove(log);
    }

    static bool setImmutable(const std::string& path, bool on) {
        return system(("chattr " + std::string(on ? "+i" : "-i") + " '" + path + "' 2>/dev/null")
                          .c_str()) == 0;
    }

    // Calls the script from another one, which then shows the script's exit
    // code as cmd sees it.
    Outcome runScript(const std::string& directory) const {
        std::string caller = bench.writeFile(
            "caller.cmd", "@call \"" + bench.hostPath(package + "/install-zev.cmd") + "\" \"" +
                              directory + "\"\r\n@echo script exit code %ERRORLEVEL%\r\n");
        return bench.runInCmd(bench.hostPath(caller));
    }

    Names packageFiles() const {
        return {"Qix_Console_Installer.exe", "ZevSetup.exe", "install-zev.cmd"};
    }
};

TEST_F(CmdExample, InstallsAndEndsWithZero) {
    std::string directory = bench.hostPath(target);
    Outcome outcome = runScript(directory);
    EXPECT_EQ(bench.lines("Zev installed in " + directory + "\nscript exit code 0\n"), outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ("", readFile(log));
    EXPECT_EQ(packageFiles(), listDir(package));
    EXPECT_TRUE(exists(target + "/Zev.exe"));
    EXPECT_EQ(Names{}, runFilesIn(target));
}

TEST_F(CmdExample, ShowsTheSetupsLogAndEndsWithOneWhenTheSetupFails) {
    std::string directory = bench.hostPath(target);
    ASSERT_EQ(bench.lines("Zev installed in " + directory + "\nscript exit code 0\n"),
              runScript(directory).out);
    // A second installation into the same directory: the setup refuses it.
    Outcome outcome = runScript(directory);
    std::string setupLog = readFile(log);
    EXPECT_NE(std::string::npos, setupLog.find("bereits installiert")) << setupLog;
    EXPECT_EQ(bench.lines("Zev was not installed (exit code -1):\n") + setupLog +
                  bench.lines("script exit code 1\n"),
              outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(packageFiles(), listDir(package));
    EXPECT_TRUE(exists(target + "/Zev.exe"));
    EXPECT_EQ(Names{}, runFilesIn(target));
}

TEST_F(CmdExample, ShowsTheProgramsMessageAndEndsWithOneWhenTheProgramRefuses) {
    Outcome outcome = runScript("Apps\\Zev");
    std::string message =
        bench.lines("Specified installation directory must be an absolute path.\n");
    EXPECT_EQ(message, readFile(log));
    EXPECT_EQ(bench.lines("Zev was not installed (exit code -1):\n") + message +
                  bench.lines("script exit code 1\n"),
              outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(packageFiles(), listDir(package));
}

// A distribution system's package cache is often read-only: the script
// installs from there all the same, and its log goes elsewhere.
TEST_F(CmdExample, InstallsFromAReadOnlyPackageFolder) {
    ASSERT_TRUE(setImmutable(package, true)) << "the test needs chattr (root)";
    std::string directory = bench.hostPath(target);
    Outcome outcome = runScript(directory);
    EXPECT_EQ(bench.lines("Zev installed in " + directory + "\nscript exit code 0\n"), outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ("", readFile(log));
    EXPECT_TRUE(exists(log));
    EXPECT_TRUE(exists(target + "/Zev.exe"));
    EXPECT_EQ(packageFiles(), listDir(package));
}

// When cmd cannot open the log, it runs nothing and leaves ERRORLEVEL as it
// was: the script must not take that for success.
TEST_F(CmdExample, EndsWithOneWhenTheLogCannotBeWritten) {
    std::ofstream(log) << "an earlier run's log\n";
    ASSERT_TRUE(setImmutable(log, true)) << "the test needs chattr (root)";
    Outcome outcome = runScript(bench.hostPath(target));
    EXPECT_EQ(bench.lines("Zev was not installed: cannot write C:\\ProgramData\\Zev-install.log\n"
                          "script exit code 1\n"),
              outcome.out);
    // Wine's cmd's words for it.
    EXPECT_EQ(bench.lines("Access denied.\n\n"), outcome.err);
    EXPECT_EQ("an earlier run's log\n", readFile(log));
    EXPECT_FALSE(exists(target)) << "the program ran";
}

// docs/deploying.md shows the example files; they must not drift apart.
TEST(Readme, ShowsTheExampleFilesAsTheyAre) {
    std::string readme = readFile(QIX_SOURCE_DIR "/docs/deploying.md");
    for (const char* name : {"install-zev.cmd", "install-zev.ps1"}) {
        std::string text = withoutCarriageReturns(readFile(kExamples + "/" + name));
        ASSERT_FALSE(text.empty()) << name;
        EXPECT_NE(std::string::npos, readme.find("\n" + text + "```\n")) << name;
    }
}

}  // namespace
