#include "setup_command.h"

#include <gtest/gtest.h>

namespace {

// Whole command lines: nothing escaped, the setup path quoted only where a
// setup would cut it, the directory and the log path exactly as given.
TEST(SetupCommand, Samples) {
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
        {"C:\\a b\\s.exe", "", true, "C:\\T",
         "\"C:\\a b\\s.exe\" /S  /DStrue /LOG\"" + log + "\" /D=C:\\T"},
        {"C:\\R&D (x86) ^x\\s.exe", "g", true, "C:\\R&D|<>^ (x86)\\",
         "\"C:\\R&D (x86) ^x\\s.exe\" /S  /Lg /DStrue /LOG\"" + log + "\" /D=C:\\R&D|<>^ (x86)\\"},
        {"@s.exe", "", true, "C:\\a;b,c=d",
         "\"@s.exe\" /S  /DStrue /LOG\"" + log + "\" /D=C:\\a;b,c=d"},
        // '%' and '!' pieces that an interpreter would pair across the line.
        {"C:\\t\\%PATH:~9999\\..\\adv.exe", "", true, "C:\\n2b\\x%evil.exe zz",
         "C:\\t\\%PATH:~9999\\..\\adv.exe /S  /DStrue /LOG\"" + log +
             "\" /D=C:\\n2b\\x%evil.exe zz"},
        {"C:\\s.exe", "", true, "C:\\n1\\%PROMPT%!x!",
         "C:\\s.exe /S  /DStrue /LOG\"" + log + "\" /D=C:\\n1\\%PROMPT%!x!"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.command,
                  composeSetupCommand(c.setup, c.language, c.shortcut, log, c.directory));
    }
}

TEST(SetupCommand, LogPathLiesInsideTheDirectory) {
    EXPECT_EQ("C:\\T\\install1700000000123-7.log", composeLogPath("C:\\T\\", 1700000000, 123, 7));
    EXPECT_EQ("C:\\T\\install170000000042-4294967295.log",
              composeLogPath("C:\\T", 1700000000, 42, 4294967295u));
    EXPECT_EQ("C:\\install10-0.log", composeLogPath("C:\\", 1, 0, 0));
}

}  // namespace
