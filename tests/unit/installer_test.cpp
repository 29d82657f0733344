#include "installer.h"

#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace {

TEST(Installer, UsageTextIsExactlyElevenLines) {
    std::string usage = kUsageText;
    EXPECT_EQ(395u, usage.size());
    EXPECT_EQ(11, std::count(usage.begin(), usage.end(), '\n'));
    EXPECT_EQ('\n', usage.back());
}

TEST(Installer, SetupCommandSamples) {
    const std::string log = "C:\\T\\install1.log";
    struct Case {
        const char* setup;
        const char* language;
        bool shortcut;
        const char* directory;
        std::string command;
    } cases[] = {
        {"C:\\s.exe", "", true, "C:\\T\\", "C:\\s.exe /S  /DStrue /LOG\"" + log + "\" /D=C:\\T\\"},
        {"C:\\s.exe", "g", false, "C:\\T\\",
         "C:\\s.exe /S  /Lg /DSfalse /LOG\"" + log + "\" /D=C:\\T\\"},
        {"C:/a/s.exe", "e", true, "C:\\x y",
         "C:/a/s.exe /S  /Le /DStrue /LOG\"" + log + "\" /D=C:\\x y"},
        {"C:\\s.exe", "", true, "", "C:\\s.exe /S  /DStrue /LOG\"" + log + "\""},
        // Only what the interpreter would cut or split is quoted or escaped.
        {"C:\\a b\\s.exe", "", true, "C:\\T",
         "\"\"C:\\a b\\s.exe\" /S  /DStrue /LOG\"" + log + "\" /D=C:\\T\""},
        {"C:\\R&D (x86) ^x\\s.exe", "g", true, "C:\\R&D|<>^ (x86)\\",
         "\"\"C:\\R&D (x86) ^x\\s.exe\" /S  /Lg /DStrue /LOG\"" + log +
             "\" /D=C:\\R^&D^|^<^>^^ (x86)\\\""},
        {"C:\\s.exe", "", true, "C:\\R&D\\",
         "C:\\s.exe /S  /DStrue /LOG\"" + log + "\" /D=C:\\R^&D\\"},
        {"C:\\(x86)\\s.exe", "", true, "C:\\(x86)",
         "\"\"C:\\(x86)\\s.exe\" /S  /DStrue /LOG\"" + log + "\" /D=C:\\(x86)\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.command,
                  composeSetupCommand(c.setup, c.language, c.shortcut, log, c.directory));
    }
}

TEST(Installer, LogPathLiesInsideTheDirectory) {
    EXPECT_EQ("C:\\T\\install1700000000123.log", composeLogPath("C:\\T\\", 1700000000, 123));
    EXPECT_EQ("C:\\T\\install170000000042.log", composeLogPath("C:\\T", 1700000000, 42));
    EXPECT_EQ("C:\\install10.log", composeLogPath("C:\\", 1, 0));
}

// The relay on the native build: the log's bytes in, the error stream out.
TEST(Installer, RelaySamples) {
    struct Case {
        std::string log;
        std::string relayed;
    } cases[] = {
        {"", ""},
        {"one\ntwo\n", "one\ntwo\n"},
        {"one\r\ntwo\r\n", "one\ntwo\n"},
        {"last without end", "last without end\n"},
        {"a\rb\r\r\nc\r", "a\rb\r\nc\r\n"},
        {"\n\nx\n", "\n\nx\n"},
        {"before\x1a"
         "after\nmore\n",
         "before\n"},
        {"line\n\x1a"
         "after",
         "line\n"},
        {std::string("nul\0byte\n", 9), std::string("nul\0byte\n", 9)},
        {std::string(10000, 'x') + "\r", std::string(10000, 'x') + "\r\n"},
        // A CR LF split across two reads of the file.
        {std::string(65535, 'a') + "\r\nb\n", std::string(65535, 'a') + "\nb\n"},
        {std::string(65535, 'a') + "\r\x1a", std::string(65535, 'a') + "\r\n"},
        {"a\r\x1a"
         "b",
         "a\r\n"},
    };
    for (const Case& c : cases) {
        TempDir temp;
        std::string log = temp.file("install.log", c.log);
        temp.file("install.log.ready");
        std::ostringstream err;
        EXPECT_FALSE(waitForSetupAndRelayLog(log, err));
        EXPECT_EQ(c.relayed, err.str());
        EXPECT_TRUE(std::filesystem::is_empty(temp.path())) << "marker and log removed";
    }
}

TEST(Installer, MissingLogIsNotRelayed) {
    TempDir temp;
    temp.file("install.log.ready");
    std::ostringstream err;
    EXPECT_TRUE(waitForSetupAndRelayLog(temp.path() + "/install.log", err));
    EXPECT_EQ("", err.str());
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
}

TEST(Installer, CommandLineGivesTheRunValues) {
    TempDir temp;
    std::string setup = temp.file("setup.exe");
    std::string bare = temp.file("setup");
    std::string other = temp.file("setup.msi");
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
        // A line break inside an argument makes another line of the argument text.
        {{setup, "/D=C:\\x\n/L=g"}, setup, "g", "C:\\x", true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"prog"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        std::ostringstream out, err;
        RunOptions options;
        int exitCode = 42;
        ASSERT_TRUE(readCommandLine(arguments, out, err, options, exitCode)) << err.str();
        EXPECT_EQ(c.setupPath, options.setupPath);
        EXPECT_EQ(c.language, options.language);
        EXPECT_EQ(c.directory, options.directory);
        EXPECT_EQ(c.shortcut, options.desktopShortcut);
        EXPECT_EQ("", out.str() + err.str());
    }
}

}  // namespace
