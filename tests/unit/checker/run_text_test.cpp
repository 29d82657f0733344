#include "run_text.h"

#include <gtest/gtest.h>

namespace {

// Each as CommandLineToArgvW must read it back.
TEST(RunText, QuotesArgumentsTheSystemReadsBackWhole) {
    struct Row {
        const char* argument;
        const char* quoted;
    } rows[] = {
        {"/L=e", "/L=e"},
        {"", "\"\""},
        {"/D=C:\\with blanks\\Product 2", "\"/D=C:\\with blanks\\Product 2\""},
        {"/D=C:\\R&D (x86)\\(Product)\\", "\"/D=C:\\R&D (x86)\\(Product)\\\\\""},
        {"a\\\\b c", "\"a\\\\b c\""},          // backslashes before no quote stay
        {"say \"hi\"", "\"say \\\"hi\\\"\""},  // a quote escaped
        {"x\\\"y", "\"x\\\\\\\"y\""},          // backslashes before a quote doubled
        {"tab\there", "\"tab\there\""},
        {"C:\\x^y 50% off", "\"C:\\x^y 50% off\""},  // nothing else is touched
    };
    for (const Row& row : rows) {
        EXPECT_EQ(check::quotedArgument(row.argument), row.quoted) << row.argument;
    }
}

TEST(RunText, CleansOutput) {
    bool zeros = true;
    EXPECT_EQ(check::cleanedOutput("a\r\nb\r\n\r\n", zeros), "a\nb");
    EXPECT_FALSE(zeros);
    EXPECT_EQ(check::cleanedOutput(std::string("B\0r\0\r\0\n\0", 8), zeros), "Br");
    EXPECT_TRUE(zeros);
}

TEST(RunText, TellsARestartFromAFailure) {
    struct Row {
        const char* said;
        bool restart;
        bool failedOnly;
    } rows[] = {
        {"Zev: the installation into C:\\Z needs a restart to complete", true, false},
        {"Zev: Die Installation in C:\\Z wird erst nach einem Neustart vollst\xC3\xA4ndig", true,
         false},
        {"Zev: the prerequisite ended with exit code 3\nZev: the installation into C:\\Z needs a "
         "restart to complete",
         false, false},
        {"Zev: the installation into C:\\Z needs a restart to complete\nZev: Die Installation in "
         "C:\\Z wird erst nach einem Neustart vollst\xC3\xA4ndig",
         true, false},
        {"", false, false},
        {"x", false, false},
        {"\nZev: the installation into C:\\Z needs a restart to complete", false, false},
        {"Zev: the installation into C:\\Z failed", false, true},
        {"Zev: Die Installation in C:\\Z ist fehlgeschlagen", false, true},
        {"Zev: cannot write C:\\Z\nZev: the installation into C:\\Z failed", false, false},
        {"Zev: the installation into C:\\Z ended with exit code 5", false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(check::onlyAsksForRestart(row.said), row.restart) << row.said;
        EXPECT_EQ(check::onlySaysItFailed(row.said), row.failedOnly) << row.said;
    }
}

}  // namespace
