#include "declaration.h"

#include <gtest/gtest.h>

namespace {

const std::string kHash = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
const std::string kUpperHash = "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08";

TEST(Declaration, ReadsEveryKindOfRecord) {
    check::Declaration d;
    std::string error;
    ASSERT_TRUE(
        check::parseDeclaration("qix-declaration 1\r\n"
                                "# a comment\n"
                                "\n"
                                "file\t\t\t$INSTDIR\\Zev.exe\t40960\t" +
                                    kUpperHash +
                                    "\n"
                                    "file\tDocs\tg\t$INSTDIR\\liesmich.txt\t\t\n"
                                    "tree\t*\t$INSTDIR\\doc\n"
                                    "folder\t\t$INSTDIR\\bin\n"
                                    "written\t\tHKLM\\Software\\Zev\n"
                                    "registry\t\t32\tHKLM\\Software\\Zev\n",
                                d, error))
        << error;
    ASSERT_EQ(d.records.size(), 6u);
    EXPECT_EQ(d.records[0].kind, check::Kind::kFile);
    EXPECT_TRUE(d.records[0].sized);
    EXPECT_EQ(d.records[0].size, 40960u);
    EXPECT_EQ(d.records[0].sha256, kHash);
    EXPECT_EQ(d.records[1].section, "Docs");
    EXPECT_EQ(d.records[1].language, "g");
    EXPECT_FALSE(d.records[1].sized);
    EXPECT_EQ(d.records[2].kind, check::Kind::kTree);
    EXPECT_EQ(d.records[2].path, "$INSTDIR\\doc");
    EXPECT_EQ(d.records[3].kind, check::Kind::kFolder);
    EXPECT_EQ(d.records[4].kind, check::Kind::kWritten);
    EXPECT_EQ(d.records[5].kind, check::Kind::kRegistry);
    EXPECT_EQ(d.records[5].view, 32);
    // A last record without a line feed is read all the same.
    ASSERT_TRUE(check::parseDeclaration("qix-declaration 1\nfolder\t\t$INSTDIR\\a", d, error));
    ASSERT_EQ(d.records.size(), 1u);
    EXPECT_EQ(d.records[0].path, "$INSTDIR\\a");
    // Read again into the same declaration: its records, not twice.
    ASSERT_TRUE(check::parseDeclaration("qix-declaration 1\nfolder\t\t$INSTDIR\n", d, error));
    EXPECT_EQ(d.records.size(), 1u);
}

// A declaration is read whole or refused, naming the line.
TEST(Declaration, RefusesWhatBreaksARule) {
    struct Row {
        std::string text;
        std::string error;
    } rows[] = {
        {"", "line 1: no declaration: the file is empty"},
        {"qix-declaration 2\n", "line 1: \"qix-declaration 2\": a later version"},
        {"Qix-declaration 1\n", "line 1: no declaration"},
        {"qix-declaration 1\nfile\t\t\t$INSTDIR\\a\t4\n",
         "line 2: a file record has 6 fields, not 5"},
        {"qix-declaration 1\ndirectory\t\t$INSTDIR\n",
         "line 2: unknown kind of record \"directory\""},
        {"qix-declaration 1\nfile\t\tf\t$INSTDIR\\a\t\t\n", "line 2: unknown language \"f\""},
        {"qix-declaration 1\nfile\t\t\t$INSTDIR\\a\t-4\t" + kHash + "\n",
         "line 2: the size \"-4\" is no number"},
        {"qix-declaration 1\nfile\t\t\t$INSTDIR\\a\t4\t" + kHash.substr(1) + "\n", "is no SHA-256"},
        {"qix-declaration 1\nfile\t\t\t$INSTDIR\\a\t4\t" + kHash.substr(1) + "g\n",
         "is no SHA-256"},
        {"qix-declaration 1\nfile\t\t\t$INSTDIR\\a\t\t" + kHash + "\n",
         "line 2: the size \"\" is no number"},
        {"qix-declaration 1\nregistry\t\t16\tHKLM\\x\n", "line 2: the registry view \"16\""},
        {"qix-declaration 1\nregistry\t\t64\tC:\\t\\x\n", "line 2: a registry record names no key"},
        {"qix-declaration 1\nshortcut\t\tx\n", "line 2: unknown kind of record \"shortcut\""},
        {"qix-declaration 1\ntree\t\t\n", "line 2: a tree record names no path"},
        {"qix-declaration 1\nwritten\t\t$INSTDIR\nwritten\t\n", "line 3: a written record has 3"},
    };
    for (const Row& row : rows) {
        check::Declaration d;
        std::string error;
        EXPECT_FALSE(check::parseDeclaration(row.text, d, error)) << row.text;
        EXPECT_NE(error.find(row.error), std::string::npos) << row.text << " gave " << error;
        EXPECT_TRUE(d.records.empty()) << row.text;
    }
}

}  // namespace
