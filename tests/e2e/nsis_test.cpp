// Whole installations of the sample product Zev with its real NSIS installer,
// built 64-bit and 32-bit, driven by the Windows program under Wine: what reaches the installer
// shows on disk and in the registry, failures come back through the log at once, and the
// uninstaller leaves nothing behind. The installer registers itself machine-wide, so these tests
// clean the prefix before and after each one and never run at the same time as each other (a lock
// in tests/CMakeLists.txt).
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "harness.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using Values = std::map<std::string, std::string>;

namespace {

const char* const kUninstallKey =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zev";
const Names kInstalled{"Uninstall.exe", "Zev.exe", "Zev.ini", "readme.txt"};
const std::string kCyrillic =
    "\xd0\x9a\xd0\xb8\xd1\x80\xd0\xb8\xd0\xbb\xd0\xbb\xd0\xb8\xd1\x86\xd0\xb0";

// `reg export` writes UTF-16LE; the tests compare UTF-8. Names here stay in
// the Basic Multilingual Plane.
std::string utf8FromUtf16le(const std::string& bytes) {
    std::string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned code =
            static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xc0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            text += static_cast<char>(0xe0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3f));
            text += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    return text;
}

// The values of a .reg file's lines such as "Name"="C:\\dir".
Values regValues(const std::string& text) {
    Values values;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? end : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        std::size_t separator = line.find("\"=\"");
        if (line.empty() || line[0] != '"' || separator == std::string::npos) {
            continue;
        }
        std::string value;
        for (std::size_t i = separator + 3; i < line.size() && line[i] != '"'; ++i) {
            value += line[i] == '\\' && i + 1 < line.size() ? line[++i] : line[i];
        }
        values[line.substr(1, separator - 1)] = value;
    }
    return values;
}

class Zev : public WindowsRunTest {
  protected:
    void SetUp() override {
        removeTraces();
        setup = placeSetup("media");
    }
    void TearDown() override { removeTraces(); }

    virtual std::string build() const { return "ZevSetup.exe"; }

    std::string setup;
    std::string shortcut = driveC() + "/users/Public/Desktop/Zev.lnk";
    std::string company = driveC() + "/Program Files/Quenvarton AG";

    // Copies the installer into `folder` of the test's folder; returns its path
    // as the program sees it.
    std::string placeSetup(const std::string& folder) const {
        std::string target = linux(folder + "/ZevSetup.exe");
        fs::create_directories(linux(folder));
        fs::copy_file(std::string(QIX_WINDOWS_BUILD_DIR "/") + build(), target,
                      fs::copy_options::overwrite_existing);
        return bench.hostPath(target);
    }

    Outcome install(const std::string& setupPath, const std::vector<std::string>& options,
                    double* seconds = nullptr) const {
        std::vector<std::string> arguments{setupPath};
        arguments.insert(arguments.end(), options.begin(), options.end());
        double taken = 0;
        auto run = [&](std::size_t) {
            Outcome outcome;
            taken = secondsOf([&] { outcome = bench.run(arguments); });
            return outcome;
        };
        std::vector<Outcome> outcomes{run(0)};
        // The installer's trace: a word, or its marker before the wait ran out.
        repeatRunsWineFailed(outcomes, run, [&](std::size_t) {
            const Outcome& o = outcomes[0];
            return !o.out.empty() || !o.err.empty() || taken < 10.0;
        });
        if (seconds) {
            *seconds = taken;
        }
        return outcomes[0];
    }

    // The installer's uninstall entry; empty when there is none.
    Values entry() const {
        std::string file = linux("entry.reg");
        fs::remove(file);
        Outcome exported = bench.runReg({"export", kUninstallKey, bench.hostPath(file), "/y"});
        if (exported.exitCode != 0) {
            EXPECT_TRUE(regFoundNothing(exported)) << "reg export failed: " << describe(exported);
            return {};
        }
        return regValues(utf8FromUtf16le(readFile(file)));
    }

    // Runs the entry's quiet uninstall command, "<program>" /S, as a deployment
    // tool would. The uninstaller hands over to a copy of itself in the
    // temporary folder and returns at once, so the test waits for the entry to
    // go, which is the copy's last step.
    void uninstall() const {
        std::string command = entry()["QuietUninstallString"];
        std::size_t close = command.find('"', 1);
        ASSERT_TRUE(command[0] == '"' && close != std::string::npos) << command;
        ASSERT_EQ(" /S", command.substr(close + 1));
        auto run = [&](std::size_t) {
            return bench.runUnderWine({command.substr(1, close - 1), "/S"});
        };
        std::vector<Outcome> outcomes{run(0)};
        repeatRunsWineFailed(outcomes, run);
        EXPECT_EQ(0, outcomes[0].exitCode) << "the uninstaller: " << describe(outcomes[0]);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!entry().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        EXPECT_EQ(Values{}, entry());
    }

    // What an installation, finished or not, may have left in the shared prefix.
    void removeTraces() const {
        EXPECT_TRUE(bench.removeRegistryKey(kUninstallKey)) << "clean-up: reg delete";
        // What is not there is no failure; what cannot be removed is.
        auto remove = [](const std::string& path) {
            std::error_code error;
            fs::remove_all(path, error);
            EXPECT_FALSE(error) << "clean-up: remove " << path << ": " << error.message();
        };
        remove(shortcut);
        remove(company);
        for (const std::string& user : listDir(driveC() + "/users")) {
            std::string temp = driveC() + "/users/" + user + "/Temp";
            for (const std::string& name : listDir(temp)) {
                if (name.rfind("~nsu", 0) == 0) {
                    remove(temp + "/" + name);
                }
            }
        }
    }
};

// Both builds of the sample, which install and register alike.
class ZevBuilds : public Zev, public ::testing::WithParamInterface<const char*> {
  protected:
    std::string build() const override { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Both, ZevBuilds, ::testing::Values("ZevSetup.exe", "ZevSetup32.exe"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "ZevSetup.exe" ? "Bits64" : "Bits32";
                         });

// In the default directory under Program Files, on drive C: as on Windows.
// (A shortcut to a program on Wine's drive Z:, the Linux root, makes Wine
// print a line about the volume's label on the setup's error stream.)
TEST_P(ZevBuilds, EveryLanguageAndShortcutReachesTheInstaller) {
    struct Language {
        std::string option;
        std::string ini;
    } languages[] = {{"", "English"}, {"/L=e", "English"}, {"/L=g", "Deutsch"}};
    struct Shortcut {
        std::string option;
        bool created;
    } shortcuts[] = {{"", true}, {"/DS=1", true}, {"/DS=0", false}};
    const std::string directory = "C:\\Program Files\\Quenvarton AG\\Zev";
    for (const Language& language : languages) {
        for (const Shortcut& wanted : shortcuts) {
            std::vector<std::string> options;
            for (const std::string& option : {language.option, wanted.option}) {
                if (!option.empty()) {
                    options.push_back(option);
                }
            }
            std::string with = language.option + " " + wanted.option;
            double seconds = 0;
            Outcome outcome = install(setup, options, &seconds);
            EXPECT_EQ(0, outcome.exitCode) << with << outcome.err;
            EXPECT_EQ("", outcome.out + outcome.err) << with;
            EXPECT_LT(seconds, kMarkerWaitSeconds) << with << ": the marker was not found at once";
            EXPECT_EQ(kInstalled, listDir(company + "/Zev")) << with;
            EXPECT_EQ("[Zev]\r\nlanguage=" + language.ini + "\r\n",
                      readFile(company + "/Zev/Zev.ini"))
                << with;
            EXPECT_EQ(wanted.created, exists(shortcut)) << with;
            Values registered = entry();
            EXPECT_EQ("Zev", registered["DisplayName"]) << with;
            EXPECT_EQ("2.4", registered["DisplayVersion"]) << with;
            EXPECT_EQ(directory, registered["InstallLocation"]) << with;
            EXPECT_EQ("\"" + directory + "\\Uninstall.exe\"", registered["UninstallString"]);
            uninstall();
            // The company folder the program created goes with its last product.
            EXPECT_FALSE(exists(company)) << with;
            EXPECT_FALSE(exists(shortcut)) << with;
        }
    }
}

TEST_P(ZevBuilds, DirectoriesReachTheInstallerIntact) {
    struct Case {
        std::string setupFolder;
        std::string directory;  // under the test's folder, with '/'
        std::string trailing;   // what follows it on the command line
    } cases[] = {
        {"media", "with blanks/Zev 2", ""},
        {"media", "R&D (x86) & more/(Zev)", "\\"},
        {"Zev media (x86) & more", "dir with blanks", ""},
        {"media", "x^y 50% off", ""},
        {"media", kCyrillic + "/Zev", "\\"},
    };
    for (const Case& c : cases) {
        std::string setupPath = placeSetup(c.setupFolder);
        Outcome outcome = install(setupPath, {"/D=" + win(c.directory) + c.trailing, "/DS=0"});
        EXPECT_EQ(0, outcome.exitCode) << c.directory << outcome.err;
        EXPECT_EQ("", outcome.out + outcome.err) << c.directory;
        EXPECT_EQ(kInstalled, listDir(linux(c.directory))) << c.directory;
        EXPECT_EQ(win(c.directory), entry()["InstallLocation"]);
        uninstall();
        EXPECT_FALSE(exists(linux(c.directory))) << c.directory;
    }
}

// An abort in .onInit runs no callback after it, and a failed section ends in
// .onInstFailed: in both the marker must come at once and the log with it.
TEST_P(ZevBuilds, FailuresComeBackThroughTheLogAtOnce) {
    struct Case {
        std::string what;
        bool installedBefore;
        std::string blockingFolder;
        std::vector<std::string> options;
        std::string err;
        Names left;
    } cases[] = {
        {"installed in the same directory (.onInit)",
         true,
         "",
         {"/D=" + win("zev")},
         "Zev 2.4 is already installed in " + win("zev") +
             "\nZev 2.4: remove it before installing again\n",
         kInstalled},
        {"installed elsewhere, in German (.onInit)",
         true,
         "",
         {"/D=" + win("other"), "/L=g"},
         "Zev 2.4 ist bereits installiert in " + win("zev") +
             "\nZev 2.4: vor einer neuen Installation bitte zuerst entfernen\n",
         {}},
        {"a file that cannot be written (section)",
         false,
         "zev/readme.txt",
         {"/D=" + win("zev"), "/L=g"},
         "Zev 2.4: Schreiben nicht m\xc3\xb6glich: " + win("zev") + "\\readme.txt\n",
         {"readme.txt"}},
    };
    for (const Case& c : cases) {
        if (c.installedBefore) {
            ASSERT_EQ(0, install(setup, {"/D=" + win("zev"), "/DS=0"}).exitCode) << c.what;
        }
        if (!c.blockingFolder.empty()) {
            fs::create_directories(linux(c.blockingFolder));
        }
        double seconds = 0;
        Outcome outcome = install(setup, c.options, &seconds);
        EXPECT_EQ(255, outcome.exitCode) << c.what;
        EXPECT_EQ("", outcome.out) << c.what;
        EXPECT_EQ(bench.lines(c.err), outcome.err) << c.what;
        EXPECT_LT(seconds, kMarkerWaitSeconds) << c.what << ": the marker was not found at once";
        std::string directory = c.options[0].substr(3);
        EXPECT_EQ(c.left, listDir(linux(directory.substr(directory.rfind('\\') + 1)))) << c.what;
        if (c.installedBefore) {
            uninstall();
        } else {
            EXPECT_EQ(Values{}, entry()) << c.what;
        }
        fs::remove_all(linux("zev"));
        fs::remove_all(linux("other"));
    }
}

// A directory the engine takes for invalid it silently swaps for its default;
// the kit turns that into a failure. The program cannot pass such a directory
// (it cannot create it), so the installer runs directly, as cmd would run it.
TEST_P(ZevBuilds, KitRefusesADirectoryTheEngineWouldReplace) {
    std::string line = setup + " /S  /DSfalse /LOG\"" + win("kit.log") + "\" /D=Y:\\nowhere";
    Outcome outcome = bench.runInCmd(bench.hostPath(bench.writeFile("kit.cmd", "@" + line)));
    EXPECT_EQ(2, outcome.exitCode);
    EXPECT_EQ("Zev 2.4: cannot install into Y:\\nowhere\r\n", readFile(linux("kit.log")));
    EXPECT_TRUE(exists(linux("kit.log.ready")));
    EXPECT_EQ(Values{}, entry());
    EXPECT_FALSE(exists(company));
}

// The kit's README shows its two examples, indented as code blocks; the same
// scripts, built, honour the contract, in German too.
TEST_F(Zev, KitExamplesRunAsReadmeShowsThem) {
    struct Example {
        std::string script;
        std::string installer;
        std::string file;
        std::string content;
    } examples[] = {
        {"Minimal.nsi", "ExampleSetup.exe", "example.txt", "language=g shortcut=false"},
        {"Mui2.nsi", "ExampleMui2Setup.exe", "example.ini", "[Example]\r\nlanguage=Deutsch\r\n"},
    };
    for (const Example& e : examples) {
        std::istringstream lines(readFile(QIX_SOURCE_DIR "/setup-kit/" + e.script));
        std::string block;
        for (std::string line; std::getline(lines, line);) {
            block += (line.empty() ? "" : "    ") + line + "\n";
        }
        EXPECT_NE(std::string::npos, readFile(QIX_SOURCE_DIR "/setup-kit/README.md").find(block))
            << e.script;

        std::string example = linux("media/" + e.installer);
        fs::copy_file(QIX_WINDOWS_BUILD_DIR "/" + e.installer, example);
        std::string directory = "app-" + e.file;
        struct Case {
            int exitCode;
            std::string err;
        } cases[] = {
            {0, ""},
            {255, "Example ist bereits installiert in " + win(directory) + "\n"},
        };
        for (const Case& c : cases) {
            double seconds = 0;
            Outcome outcome = install(bench.hostPath(example),
                                      {"/D=" + win(directory), "/L=g", "/DS=0"}, &seconds);
            EXPECT_EQ(c.exitCode, outcome.exitCode) << e.script;
            EXPECT_EQ(bench.lines(c.err), outcome.out + outcome.err) << e.script;
            EXPECT_LT(seconds, kMarkerWaitSeconds)
                << e.script << ": the marker was not found at once";
            EXPECT_EQ(Names{e.file}, listDir(linux(directory))) << e.script;
            EXPECT_EQ(e.content, readFile(linux(directory + "/" + e.file))) << e.script;
        }
    }
}

// What the engine would end with silently the kit reports, in the run's
// language: a restart request, an exit code set without a report, an early
// end from a section, a log path longer than an NSIS string, a file too big
// for the disk, and what its macros check.
TEST_F(Zev, KitReportsWhatWouldOtherwiseBeLost) {
    const std::string part(200, 'a');
    struct Case {
        std::string doing;
        std::string language;
        std::string err;
        std::string directory = "";  // under the test's folder; a new one when empty
        bool prefix = false;         // err is only the start of the line
        std::string shortcut = "/DS=0";
        int exitCode = 255;
        bool smallDisk = false;  // the directory on a disk of 64 KiB
    } cases[] = {
        {"restart", "/L=e", "Broken: the installation into DIR needs a restart to complete\n"},
        {"restart", "/L=g",
         "Broken: Die Installation in DIR wird erst nach einem Neustart vollst\xc3\xa4ndig\n"},
        {"errorlevel", "/L=e", "Broken: the installation into DIR ended with exit code 5\n"},
        {"errorlevel", "/L=g", "Broken: Die Installation in DIR endete mit dem Exit-Code 5\n"},
        {"quitkit", "/L=g", "Broken: vorzeitig beendet\n"},
        {"", "/L=e", "Broken: the directory is too long: the setup's command line has ",
         "long/" + part + "/" + part + "/" + part + "/" + part + "/" + part, true},
        {"multiuser", "/L=e",
         "Broken: the installer changed its directory from DIR to C:\\Program Files\\Broken "
         "before QixInit, which must come first in .onInit\n"},
        {"single", "/L=g",
         "Broken: Ein anderes Setup l\xc3\xa4uft; bitte erneut versuchen, wenn es beendet ist\n"},
        {"prerequisite", "/L=e", "Broken: the prerequisite ended with exit code 1603\n"},
        {"reboot", "/L=e", "Broken: the installation into DIR needs a restart to complete\n"},
        {"folder", "/L=e", "Broken: cannot write DIR\\data\n"},
        {"tree", "/L=e", "Broken: cannot write DIR\\headers\n"},
        {"subfolder", "/L=e",
         "Broken: installed into DIR\\Broken, not into the directory given, DIR\n"},
        {"outpath", "/L=e", "Broken: cannot write DIR\\bin\n"},
        {"uninstallold", "/L=g",
         "Broken: Die \xc3\xa4ltere Version in DIR\\old kann nicht entfernt werden\n"},
        {"shortcutsection", "/L=e", "Broken: the shortcut section ran\n", "", false, "/DS=1"},
        {"shortcutsection", "/L=e", "", "", false, "/DS=0", 0},
        {"diskfull", "/L=e", "Broken: cannot write DIR\\big.bin: the disk is full\n", "", false,
         "/DS=0", 255, true},
        {"diskfull", "/L=g",
         "Broken: Schreiben nicht m\xc3\xb6glich: DIR\\big.bin: Der Datentr\xc3\xa4ger ist voll\n",
         "", false, "/DS=0", 255, true},
    };
    std::string installer = linux("media/BrokenSetup.exe");
    fs::copy_file(QIX_WINDOWS_BUILD_DIR "/BrokenSetup.exe", installer);
    const std::string brokenKey =
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Broken";
    int round = 0;
    for (const Case& c : cases) {
        ++round;
        std::string directory =
            c.directory.empty() ? "broken" + std::to_string(round) : c.directory;
        // It registers itself, and refuses while registered.
        ASSERT_TRUE(bench.removeRegistryKey(brokenKey)) << c.doing << ": clean-up: reg delete";
        struct Unmount {
            std::string path;
            ~Unmount() {
                if (!path.empty()) {
                    if (system(("umount '" + path + "'").c_str()) != 0) {
                        ADD_FAILURE() << "clean-up: umount " << path;
                    }
                }
            }
        } unmount;
        if (c.smallDisk) {
            fs::create_directories(linux(directory));
            ASSERT_EQ(
                0, system(("mount -t tmpfs -o size=64k tmpfs '" + linux(directory) + "'").c_str()))
                << "the test needs to mount a small tmpfs (root)";
            unmount.path = linux(directory);
        }
        std::vector<std::string> arguments{bench.hostPath(installer), "/D=" + win(directory),
                                           c.language, c.shortcut};
        Outcome outcome;
        double seconds = secondsOf([&] {
            outcome = bench.run(arguments, {{"QIX_BROKEN", c.doing}});
        });
        std::string err = c.err;
        for (std::size_t at; (at = err.find("DIR")) != std::string::npos;) {
            err.replace(at, 3, win(directory));
        }
        std::string said = outcome.out + outcome.err;
        EXPECT_EQ(c.exitCode, outcome.exitCode) << c.doing << c.shortcut;
        if (c.prefix) {
            EXPECT_EQ(bench.lines(err), said.substr(0, bench.lines(err).size())) << c.doing;
        } else {
            EXPECT_EQ(bench.lines(err), said) << c.doing << c.language;
        }
        EXPECT_LT(seconds, kMarkerWaitSeconds) << c.doing << ": the marker was not found at once";
    }
    EXPECT_TRUE(bench.removeRegistryKey(brokenKey)) << "clean-up: reg delete";
}

}  // namespace
