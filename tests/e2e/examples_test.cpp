// The deployment examples and settings that docs/deploying.md shows, run as
// an administrator or a deployment tool runs them: under Wine's cmd, from a
// package folder that holds the program and the product's setup. And
// the recipe for running the program by hand (docs/developing.md).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "harness.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

// The product setup the examples install; the script expects it beside itself
// as ZevSetup.exe.
const std::string kSampleSetup = QIX_WINDOWS_BUILD_DIR "/ZevSetup.exe";

const std::string kExamples = QIX_SOURCE_DIR "/examples/deploy";

const char* const kUninstallKey =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zev";

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// A run record's lines without the times at their start, which a test cannot
// know; a line whose time is malformed stays whole.
std::string withoutTimes(const std::string& record) {
    static const std::regex time(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC )");
    std::istringstream lines(record);
    std::string result;
    for (std::string line; std::getline(lines, line);) {
        bool timed = line.size() >= 24 && std::regex_match(line.substr(0, 24), time);
        result += (timed ? line.substr(24) : line) + "\n";
    }
    return result;
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
        EXPECT_TRUE(bench.removeRegistryKey(kUninstallKey)) << "clean-up: reg delete";
        EXPECT_TRUE(setImmutable(log, false) || !exists(log)) << "clean-up: chattr -i " << log;
        fs::remove(log);
    }

    static bool setImmutable(const std::string& path, bool on) {
        return system(("chattr " + std::string(on ? "+i" : "-i") + " '" + path + "' 2>/dev/null")
                          .c_str()) == 0;
    }

    // Runs the script from another one, whose exit code is then the
    // script's (Linux sees its low byte). Not through `call`: after it, Wine's
    // cmd shows every code but 0 as 1.
    Outcome runScript(const std::string& directory) const {
        std::string caller =
            bench.writeFile("caller.cmd", "@\"" + bench.hostPath(package + "/install-zev.cmd") +
                                              "\" \"" + directory + "\"\r\n");
        return bench.runInCmd(bench.hostPath(caller));
    }

    // The first line of the program's record of a run into `directory`: an
    // argument with a blank in quotes.
    std::string started(const std::string& directory) const {
        std::string option = "/D=" + directory;
        if (option.find(' ') != std::string::npos) {
            option = "\"" + option + "\"";
        }
        return "started: \"" + bench.hostPath(package + "/ZevSetup.exe") +
               "\" /L=g /DS=0 /EXITCODES=msi /LOG=C:\\ProgramData\\Zev-install.log " + option +
               "\r\n";
    }

    std::string installed(const std::string& directory) const {
        return bench.lines("Zev installed in \"" + directory + "\" (exit code 0)\n");
    }

    std::string notInstalled(const std::string& directory) const {
        return bench.lines("Zev was not installed in \"" + directory +
                           "\" (exit code 1603), see \"C:\\ProgramData\\Zev-install.log\"\n");
    }

    Names packageFiles() const {
        return {"Qix_Console_Installer.exe", "ZevSetup.exe", "install-zev.cmd"};
    }
};

// The script ends with the program's code, which Linux sees as its low byte:
// 0, or 67 for 1603.
const int k1603 = 1603 & 0xFF;

TEST_F(CmdExample, InstallsAndEndsWithZero) {
    std::string directory = bench.hostPath(target);
    Outcome outcome = runScript(directory);
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ(installed(directory), outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(started(directory) + "exit code 0\r\n", withoutTimes(readFile(log)));
    EXPECT_EQ(packageFiles(), listDir(package));
    EXPECT_TRUE(exists(target + "/Zev.exe"));
    EXPECT_EQ(Names{}, runFilesIn(target));
}

// Directories holding what cmd acts on outside quotes: the script passes
// them on and echoes them intact.
TEST_F(CmdExample, InstallsIntoDirectoriesThatCmdWouldSplit) {
    for (const char* name : {"R&D/Zev", "Apps (x86)/R&D (new)/Zev"}) {
        std::string directory = bench.hostPath(bench.dir() + "/" + name);
        Outcome outcome = runScript(directory);
        EXPECT_EQ(0, outcome.exitCode) << name;
        EXPECT_EQ(installed(directory), outcome.out);
        EXPECT_EQ("", outcome.err);
        EXPECT_TRUE(exists(bench.dir() + "/" + name + "/Zev.exe")) << name;
        forgetInstallation();
    }
}

TEST_F(CmdExample, ShowsTheSetupsLogAndEnds1603WhenTheSetupFails) {
    std::string directory = bench.hostPath(target);
    ASSERT_EQ(installed(directory), runScript(directory).out);
    // A second installation into the same directory: the setup refuses it.
    Outcome outcome = runScript(directory);
    EXPECT_EQ(k1603, outcome.exitCode);
    EXPECT_NE(std::string::npos, outcome.err.find("bereits installiert")) << outcome.err;
    EXPECT_EQ(notInstalled(directory), outcome.out);
    // The record keeps both runs, the setup's log between the second one's
    // first and last line.
    EXPECT_EQ(started(directory) + "exit code 0\r\n" + started(directory) + outcome.err +
                  "exit code 1603\r\n",
              withoutTimes(readFile(log)));
    EXPECT_EQ(packageFiles(), listDir(package));
    EXPECT_TRUE(exists(target + "/Zev.exe"));
    EXPECT_EQ(Names{}, runFilesIn(target));
}

TEST_F(CmdExample, ShowsTheProgramsMessageAndEnds1603WhenTheProgramRefuses) {
    Outcome outcome = runScript("Apps\\Zev");
    std::string message =
        bench.lines("Specified installation directory must be an absolute path.\n");
    EXPECT_EQ(k1603, outcome.exitCode);
    EXPECT_EQ(message, outcome.err);
    EXPECT_EQ(notInstalled("Apps\\Zev"), outcome.out);
    EXPECT_EQ(started("Apps\\Zev") + message + "exit code 1603\r\n", withoutTimes(readFile(log)));
    EXPECT_EQ(packageFiles(), listDir(package));
}

// A distribution system's package cache is often read-only: the script
// installs from there all the same, and its log goes elsewhere.
TEST_F(CmdExample, InstallsFromAReadOnlyPackageFolder) {
    ASSERT_TRUE(setImmutable(package, true)) << "the test needs chattr (root)";
    std::string directory = bench.hostPath(target);
    Outcome outcome = runScript(directory);
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ(installed(directory), outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(started(directory) + "exit code 0\r\n", withoutTimes(readFile(log)));
    EXPECT_TRUE(exists(target + "/Zev.exe"));
    EXPECT_EQ(packageFiles(), listDir(package));
}

// A log the program cannot write: it installs nothing and says so.
TEST_F(CmdExample, InstallsNothingWhenTheLogCannotBeWritten) {
    std::ofstream(log) << "an earlier run's log\n";
    ASSERT_TRUE(setImmutable(log, true)) << "the test needs chattr (root)";
    std::string directory = bench.hostPath(target);
    Outcome outcome = runScript(directory);
    EXPECT_EQ(k1603, outcome.exitCode);
    EXPECT_EQ(notInstalled(directory), outcome.out);
    EXPECT_EQ(bench.lines("Can not write log C:\\ProgramData\\Zev-install.log\n"), outcome.err);
    EXPECT_EQ("an earlier run's log\n", readFile(log));
    EXPECT_FALSE(exists(target)) << "the program ran";
}

// The install and uninstall commands docs/deploying.md gives for Intune and
// Configuration Manager, and the command lines its Ansible playbook makes
// win_package run. Wine's cmd stands in for the tools, which start the
// install command in the package's folder.
class DeploymentSettings : public CmdExample {
  protected:
    const std::string kInstallCommand =
        "Qix_Console_Installer.exe ZevSetup.exe /L=g /DS=0 /EXITCODES=msi "
        "/LOG=C:\\ProgramData\\Zev-install.log \"/D=C:\\Program Files\\Quenvarton AG\\Zev\"";
    const std::string kUninstallCommand =
        "\"C:\\Program Files\\Quenvarton AG\\Zev\\Uninstall.exe\" /S "
        "_?=C:\\Program Files\\Quenvarton AG\\Zev";
    std::string installed = driveC() + "/Program Files/Quenvarton AG/Zev";
    std::string deployed = driveC() + "/Deploy/Zev";

    void TearDown() override {
        CmdExample::TearDown();
        fs::remove_all(driveC() + "/Program Files/Quenvarton AG");
        fs::remove_all(driveC() + "/Deploy");
    }

    // The exit code as cmd shows it, of `command` run in `folder`.
    std::string runIn(const std::string& folder, const std::string& command) const {
        std::string script =
            bench.writeFile("command.cmd", "@cd /d \"" + bench.hostPath(folder) + "\"\r\n@" +
                                               command + "\r\n@echo %ERRORLEVEL%\r\n");
        std::string out = withoutCarriageReturns(bench.runInCmd(bench.hostPath(script)).out);
        return out.substr(out.rfind('\n', out.size() - 2) + 1);
    }

    // A value of the uninstall key; empty when there is none.
    std::string registered(const std::string& name) const {
        Outcome query = bench.runReg({"query", kUninstallKey, "/v", name});
        EXPECT_TRUE(query.exitCode == 0 || regFoundNothing(query)) << describe(query);
        std::string out = withoutCarriageReturns(query.out);
        std::size_t type = out.find("REG_SZ    ");
        return type == std::string::npos ? ""
                                         : out.substr(type + 10, out.find('\n', type) - type - 10);
    }

    // The values of `key:` in the playbook, in order.
    static std::vector<std::string> playbook(const std::string& key) {
        std::istringstream lines(readFile(kExamples + "/zev-playbook.yml"));
        std::vector<std::string> values;
        for (std::string line; std::getline(lines, line);) {
            std::size_t at = line.find_first_not_of(' ');
            if (at != std::string::npos && line.compare(at, key.size() + 2, key + ": ") == 0) {
                values.push_back(line.substr(at + key.size() + 2));
            }
        }
        return values;
    }
};

TEST_F(DeploymentSettings, InstallAndRemoveZevAsTheDocumentSays) {
    std::string document = readFile(QIX_SOURCE_DIR "/docs/deploying.md");
    ASSERT_NE(std::string::npos, document.find("\n    " + kInstallCommand + "\n"));
    ASSERT_NE(std::string::npos, document.find("\n    " + kUninstallCommand + "\n"));

    EXPECT_EQ("0\n", runIn(package, kInstallCommand));
    // The detection rule's key and value.
    EXPECT_EQ("2.4", registered("DisplayVersion"));
    EXPECT_TRUE(exists(installed + "/Zev.exe"));
    // Installed already: the setup refuses, and the record says why.
    EXPECT_EQ("1603\n", runIn(package, kInstallCommand));
    std::string started = "started: " + kInstallCommand.substr(26) + "\r\n";
    std::string record = withoutTimes(readFile(log));
    EXPECT_EQ(0u, record.find(started + "exit code 0\r\n" + started)) << record;
    EXPECT_NE(std::string::npos,
              record.find("ist bereits installiert in C:\\Program Files\\Quenvarton AG\\Zev\r\n"))
        << record;
    EXPECT_EQ(record.size() - 16, record.rfind("exit code 1603\r\n")) << record;
    // The uninstaller runs in place and ends when Zev is gone, but for itself.
    EXPECT_EQ("0\n", runIn(package, kUninstallCommand));
    EXPECT_EQ("", registered("DisplayVersion"));
    EXPECT_EQ(Names{"Uninstall.exe"}, listDir(installed));

    // Ansible: the program's path and the task's arguments; for the removal,
    // the key's QuietUninstallString and the task's arguments.
    std::vector<std::string> paths = playbook("path");
    std::vector<std::string> arguments = playbook("arguments");
    ASSERT_EQ(1u, paths.size());
    ASSERT_EQ(2u, arguments.size());
    EXPECT_EQ("C:\\Deploy\\Zev\\Qix_Console_Installer.exe", paths[0]);
    fs::create_directories(deployed);
    fs::copy_file(bench.program(), deployed + "/Qix_Console_Installer.exe");
    fs::copy_file(kSampleSetup, deployed + "/ZevSetup.exe");
    EXPECT_EQ("0\n", runIn(bench.dir(), paths[0] + " " + arguments[0]));
    EXPECT_EQ("2.4", registered("DisplayVersion"));
    std::string quietUninstall = registered("QuietUninstallString");
    EXPECT_EQ("\"C:\\Program Files\\Quenvarton AG\\Zev\\Uninstall.exe\" /S", quietUninstall);
    EXPECT_EQ("0\n", runIn(bench.dir(), quietUninstall + " " + arguments[1]));
    EXPECT_EQ("", registered("DisplayVersion"));
    EXPECT_EQ(Names{"Uninstall.exe"}, listDir(installed));
}

// The documents link the example files rather than copy them: each link
// names the file where it stands (docs.LinksResolve checks that it resolves).
TEST(Documents, LinkTheExampleFiles) {
    struct Shown {
        const char* document;
        const char* link;
    } shown[] = {
        {"docs/deploying.md", "](../examples/deploy/install-zev.cmd)"},
        {"docs/deploying.md", "](../examples/deploy/install-zev.ps1)"},
        {"docs/deploying.md", "](../examples/deploy/zev-playbook.yml)"},
        {"docs/developing.md", "](../examples/by-hand/zev-under-wine.sh)"},
    };
    for (const Shown& s : shown) {
        std::string document = readFile(QIX_SOURCE_DIR "/" + std::string(s.document));
        EXPECT_NE(std::string::npos, document.find(s.link)) << s.document << ": " << s.link;
    }
}

// The recipe for running the program by hand (docs/developing.md), run as a
// reader runs it: in a prefix of its own (under a HOME of the test's), which it makes, where
// it installs Zev and removes it again.
TEST(ByHandRecipe, InstallsAndRemovesZevInAPrefixOfItsOwn) {
    Bench bench{Target::kWindows};
    std::string home = bench.dir() + "/home";
    std::string out = bench.dir() + "/out.txt";
    fs::create_directories(home);
    int status = system(("HOME='" + home +
                         "' timeout 300 '" QIX_SOURCE_DIR
                         "/examples/by-hand/zev-under-wine.sh' </dev/null >'" +
                         out + "' 2>&1")
                            .c_str());
    std::string printed = withoutTimes(withoutCarriageReturns(readFile(out)));
    EXPECT_EQ(0, status) << printed;
    EXPECT_NE(std::string::npos, printed.find(kUsageText)) << printed;
    EXPECT_NE(std::string::npos,
              printed.find("\nexit code 0\n"
                           "started: C:\\ZevSetup.exe /L=g /D=C:\\Apps\\Zev /EXITCODES=msi "
                           "/LOG=C:\\zev-install.log\n"
                           "exit code 0\n"
                           "uninstall exit code 0\n"))
        << printed;
    EXPECT_EQ(Names{"Uninstall.exe"}, listDir(home + "/.wine-qix-by-hand/drive_c/Apps/Zev"));
}

}  // namespace
