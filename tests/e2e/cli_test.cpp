// Command-line cases, run against the Windows program under Wine and against
// the native program (QIX_E2E_TARGET=windows or native).
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"

namespace fs = std::filesystem;

namespace {

Target target() {
    const char* name = std::getenv("QIX_E2E_TARGET");
    return name && std::string(name) == "native" ? Target::kNative : Target::kWindows;
}

// Replaces {setup} and {dir} with the bench's paths as the program sees them.
std::string expand(const Bench& bench, std::string text, const std::string& setup) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"{setup}", setup},
                              {"{dir}", bench.hostPath(bench.dir())}}) {
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
            text.replace(at, key.size(), value);
            at += value.size();
        }
    }
    return text;
}

const std::string kUsageLine = std::string(kUsageText) + "\n";
const char* const kNotAbsolute = "Specified installation directory must be an absolute path.\n";

// What the real program's streams and exit code carry: the usage text on
// each stream, and the exit codes as Linux sees them (-1 as 255, 1639 as 103,
// 1603 as 67). Every refusal's text is a unit row (Installer.CommandLineSamples).
TEST(CommandLine, Samples) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
        {{}, 255, "", kUsageLine},
        {{"{setup}", "/bad", "/?"}, 0, kUsageLine, ""},
        {{"missing.exe"},
         255,
         "",
         "Path not found: missing.exe\nFirst parameter must be setup path\n"},
        {{"{setup}", "/L=x"}, 255, "", "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/L=x"}, 103, "", "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/D=rel\\dir"}, 67, "", kNotAbsolute},
        {{"{setup}", "/LOG={setup}"}, 255, "", "Can not write log {setup}\n"},
        // A linked folder on the way: refused, and nothing made where it leads.
        {{"{setup}", "/LOG={dir}/ldir/rec.txt"}, 255, "", "Can not write log {dir}/ldir/rec.txt\n"},
    };
    Bench bench(target());
    std::string setup = bench.hostPath(bench.installSetup());
    fs::create_directory(bench.dir() + "/target");
    fs::create_directory_symlink(bench.dir() + "/target", bench.dir() + "/ldir");
    for (const Case& c : cases) {
        std::vector<std::string> arguments;
        std::string shown;
        for (const std::string& argument : c.arguments) {
            arguments.push_back(expand(bench, argument, setup));
            shown += "[" + arguments.back() + "] ";
        }
        Outcome outcome = bench.run(arguments);
        EXPECT_EQ(c.exitCode, outcome.exitCode) << shown;
        EXPECT_EQ(bench.lines(expand(bench, c.out, setup)), outcome.out) << shown;
        EXPECT_EQ(bench.lines(expand(bench, c.err, setup)), outcome.err) << shown;
    }
    // Nothing was created: no relative directory, no probe file, no record.
    EXPECT_EQ((std::vector<std::string>{"ldir", "setup.exe", "target"}), listDir(bench.dir()));
    EXPECT_EQ(std::vector<std::string>{}, listDir(bench.dir() + "/target"));
    EXPECT_EQ(readFile(bench.installSetup("copy.exe")), readFile(bench.dir() + "/setup.exe"));
}

// Arguments far beyond what a Windows command line can carry: only the native
// program can receive them.
TEST(CommandLine, HugeArgumentsOnTheNativeProgram) {
    if (target() != Target::kNative) {
        GTEST_SKIP() << "a Windows command line holds at most 32,767 characters";
    }
    Bench bench(Target::kNative);
    std::string setup = bench.installSetup();
    std::string huge(100000, 'x');
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{huge}, "Path not found: " + huge + "\nFirst parameter must be setup path\n"},
        {{setup, "/" + huge}, "Invalid parameter \"/" + huge + "\"\n"},
        {{setup, "/L=" + huge}, "Invalid parameter \"/L=" + huge + "\"\n"},
        {{setup, "/D=" + huge}, kNotAbsolute},
    };
    for (const Case& c : cases) {
        Outcome outcome = bench.run(c.arguments);
        EXPECT_EQ(255, outcome.exitCode);
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ(c.err, outcome.err);
    }
}

}  // namespace
