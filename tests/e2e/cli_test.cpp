// Command-line cases, run against the Windows program under Wine and against
// the native program (QIX_E2E_TARGET=windows or native).
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"

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

TEST(CommandLine, Samples) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
        {{}, 255, "", kUsageLine},
        {{"/h"}, 0, kUsageLine, ""},
        {{"/H"}, 0, kUsageLine, ""},
        {{"/?"}, 0, kUsageLine, ""},
        {{"/Help"}, 0, kUsageLine, ""},
        // Help anywhere wins over every error on the line, the first argument included.
        {{"{setup}", "/bad", "/?"}, 0, kUsageLine, ""},
        {{"missing.exe", "/L=x", "/Help"}, 0, kUsageLine, ""},
        {{"{setup}", "/help"}, 255, "", "Invalid parameter \"/help\"\n"},
        {{"{setup}", "/HELP"}, 255, "", "Invalid parameter \"/HELP\"\n"},
        {{"{setup}", "-h"}, 255, "", "Invalid parameter \"-h\"\n"},
        {{"missing.exe"},
         255,
         "",
         "Path not found: missing.exe\nFirst parameter must be setup path\n"},
        {{"", "/L=e"}, 255, "", "Path not found: \nFirst parameter must be setup path\n"},
        // The first-argument check looks at the path that runs, ".exe" appended:
        // the directory does not pass, the setup without its ending does, and
        // the relative /D= stops the run next.
        {{"{dir}", "/D=rel\\dir"},
         255,
         "",
         "Path not found: {dir}\nFirst parameter must be setup path\n"},
        {{"{dir}/setup", "/D=rel\\dir"}, 255, "", kNotAbsolute},
        {{"{setup}", "/x"}, 255, "", "Invalid parameter \"/x\"\n"},
        {{"{setup}", "/l=e"}, 255, "", "Invalid parameter \"/l=e\"\n"},
        {{"{setup}", "-L=e"}, 255, "", "Invalid parameter \"-L=e\"\n"},
        {{"{setup}", "/D"}, 255, "", "Invalid parameter \"/D\"\n"},
        {{"{setup}", "/Norestart"}, 255, "", "Invalid parameter \"/Norestart\"\n"},
        {{"{setup}", "/x", "/y"}, 255, "", "Invalid parameter \"/x\"\n"},
        {{"{setup}", "/L=x"}, 255, "", "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/L=E"}, 255, "", "Invalid parameter \"/L=E\"\n"},
        {{"{setup}", "/L=  eg  "}, 255, "", "Invalid parameter \"/L=eg\"\n"},
        {{"{setup}", "/DS=2"}, 255, "", "Invalid parameter \"/DS=2\"\n"},
        {{"{setup}", "/DS=true"}, 255, "", "Invalid parameter \"/DS=true\"\n"},
        {{"{setup}", "/DS=9", "/L=q"}, 255, "", "Invalid parameter \"/L=q\"\n"},
        // Accepted lines go on to the directory, where the relative one stops them.
        {{"{setup}", "/norestart", "/D=rel\\dir"}, 255, "", kNotAbsolute},
        {{"{setup}", "/D=rel\\dir", "/L=e", "/L=x"}, 255, "", kNotAbsolute},
        {{"{setup}", "/D=rel\\dir", "/L=x", "/L=e"}, 255, "", "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/D=rel\\dir", "/DS=0", "/DS=x"}, 255, "", kNotAbsolute},
        {{"{setup}", "/D=rel\\dir", "/L=   g"}, 255, "", kNotAbsolute},
        {{"{setup}", "/L=", "/DS=", "/D=rel\\dir"}, 255, "", kNotAbsolute},
        {{"{setup}", "/D=rel\\dir", "/D=C:\\x"}, 255, "", kNotAbsolute},
        // Windows Installer's codes: 1639 for a refused command line (103 as
        // Linux sees it), 1603 for any other failure (67). A bad value of the
        // option itself leaves the codes as they were.
        {{"missing.exe", "/EXITCODES=msi"},
         103,
         "",
         "Path not found: missing.exe\nFirst parameter must be setup path\n"},
        {{"{setup}", "/x", "/EXITCODES= msi "}, 103, "", "Invalid parameter \"/x\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/L=x"}, 103, "", "Invalid parameter \"/L=x\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/LOG="}, 103, "", "Invalid parameter \"/LOG=\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/D=rel\\dir"}, 67, "", kNotAbsolute},
        {{"{setup}", "/EXITCODES=MSI"}, 255, "", "Invalid parameter \"/EXITCODES=MSI\"\n"},
        {{"{setup}", "/EXITCODES="}, 255, "", "Invalid parameter \"/EXITCODES=\"\n"},
        {{"{setup}", "/TIMEOUT=0"}, 255, "", "Invalid parameter \"/TIMEOUT=0\"\n"},
        {{"{setup}", "/EXITCODES=msi", "/TIMEOUT= 86401"},
         103,
         "",
         "Invalid parameter \"/TIMEOUT=86401\"\n"},
        // Nothing is at a path with a blank before it.
        {{" {setup}"}, 255, "", "Path not found:  {setup}\nFirst parameter must be setup path\n"},
        // The record is opened first: a run that cannot keep it does nothing,
        // nor appends to the setup.
        {{"{setup}", "/LOG={setup}"}, 255, "", "Can not write log {setup}\n"},
        {{"{setup}", "/LOG=rel.log", "/D=rel\\dir"}, 255, "", "Can not write log rel.log\n"},
        {{"{setup}", "/EXITCODES=msi", "/LOG={dir}", "/D=rel\\dir"},
         67,
         "",
         "Can not write log {dir}\n"},
    };
    Bench bench(target());
    std::string setup = bench.hostPath(bench.installSetup());
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
    // Nothing was created: no relative directory, no probe file.
    EXPECT_EQ(std::vector<std::string>{"setup.exe"}, listDir(bench.dir()));
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
