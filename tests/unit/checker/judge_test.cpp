#include "judge.h"

#include <gtest/gtest.h>

namespace {

using check::FileState;
using check::Snapshot;

const check::Folders kFolders{
    {"$DESKTOP", {"C:\\users\\root\\Desktop", "C:\\users\\Public\\Desktop"}},
    {"$PROGRAMFILES64", {"C:\\Program Files"}},
};

TEST(Judge, ExpandsDeclaredPaths) {
    struct Row {
        const char* declared;
        std::vector<std::string> patterns;
    } rows[] = {
        {"$INSTDIR\\a.txt", {"*\\a.txt"}},  // no $INSTDIR among the folders here
        {"$DESKTOP\\Zev.lnk",
         {"C:\\users\\root\\Desktop\\Zev.lnk", "C:\\users\\Public\\Desktop\\Zev.lnk"}},
        {"$PROGRAMFILES64\\more$0.txt", {"C:\\Program Files\\more*.txt"}},
        {"x\\$(LanguageName).ini", {"x\\*.ini"}},
        {"x\\${PRODUCT}", {"x\\*"}},
        {"x\\a$$b", {"x\\a$b"}},
        {"x\\a$", {"x\\a$"}},
        {"x\\$DESKTOPS", {"x\\*"}},  // another variable, not $DESKTOP
        {"x\\$DESKTOPz", {"x\\*"}},
        {"x\\$Zone\\a", {"x\\*\\a"}},  // 'Z' and 'z' belong to a name too
        {"x\\$ZONE_z9.ini", {"x\\*.ini"}},
        {"x\\${P}.ini", {"x\\*.ini"}},
        {"x\\a$(L)b$0", {"x\\a*b*"}},
        {"x\\a$-b$~c", {"x\\a$-b$~c"}},  // no variable starts there
    };
    for (const Row& row : rows) {
        EXPECT_EQ(check::expandDeclaredPath(row.declared, kFolders), row.patterns) << row.declared;
    }
}

TEST(Judge, MatchesPatterns) {
    struct Row {
        const char* pattern;
        const char* path;
        bool matches;
        bool atOrUnder;
    } rows[] = {
        {"C:\\A\\more*.txt", "c:\\a\\MORE12.TXT", true, true},
        {"C:\\A\\more*.txt", "C:\\A\\more.txt", true, true},
        {"C:\\A\\*.txt", "C:\\A\\b\\c.txt", false, false},  // one component only
        {"C:\\A", "C:\\A\\b\\c.txt", false, true},
        {"C:\\A", "C:\\AB\\c.txt", false, false},
        {"C:\\A\\b", "C:\\A", false, false},
        {"C:\\A\\", "C:\\A\\b", false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(check::matchesPattern(row.pattern, row.path), row.matches)
            << row.pattern << " " << row.path;
        EXPECT_EQ(check::isAtOrUnder(row.pattern, row.path), row.atOrUnder)
            << row.pattern << " " << row.path;
    }
}

// One installation into C:\t\P, read against a declaration.
TEST(Judge, InstallationSamples) {
    const std::string zev = "file\t\t\t$INSTDIR\\Zev.exe\t3\t" + std::string(64, 'a') + "\n";
    const std::string base = "qix-declaration 1\n" + zev +
                             "written\t\t$INSTDIR\\Uninstall.exe\n"
                             "written\t\t$DESKTOP\\Zev.lnk\n"
                             "folder\t\t$INSTDIR\\bin\n"
                             "registry\t\t64\tHKLM\\Software\\Zev\n";
    const std::string languages = base +
                                  "file\t\te\t$INSTDIR\\readme.txt\t\t\n"
                                  "file\t\tg\t$INSTDIR\\liesmich.txt\t\t\n";
    const std::string sections = base +
                                 "file\tDocs\t\t$INSTDIR\\doc\\a.txt\t\t\n"
                                 "file\tDocs\t\t$INSTDIR\\doc\\b.txt\t\t\n"
                                 "tree\t\t$INSTDIR\\plugins\n";
    const FileState file{false, 3}, folder{true, 0};
    struct Row {
        std::string declaration;
        std::string language, shortcut;
        std::map<std::string, FileState> added;
        std::map<std::string, std::vector<std::string>> keys;
        std::string problem;
    } rows[] = {
        {base,
         "",
         "",
         {{"C:\\t\\P", folder}, {"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\Uninstall.exe", file}},
         {{"64:HKLM\\Software\\Zev", {"a=b"}}},
         ""},
        // Nothing installed, or a truncated file, or one of other content.
        {base, "", "", {{"C:\\t\\P", folder}}, {}, "did not install C:\\t\\P\\Zev.exe"},
        {base,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", {false, 2}}},
         {},
         "installed C:\\t\\P\\Zev.exe with 2 bytes, not the 3 declared"},
        {base,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\odd", file}},
         {},
         "installed C:\\t\\P\\odd, which its declaration does not name"},
        // A folder record is the folder alone.
        {base, "", "", {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\bin", folder}}, {}, ""},
        {base,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\bin\\x.dll", file}},
         {},
         "installed C:\\t\\P\\bin\\x.dll, which its declaration does not name"},
        {base,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\Program Files\\Zev", folder}},
         {},
         "wrote outside the directory: C:\\Program Files\\Zev"},
        // The file that makes a folder matter is named, not the folder.
        {base,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\Other", folder}, {"C:\\Other\\x.txt", file}},
         {},
         "wrote outside the directory: C:\\Other\\x.txt"},
        // Its parents, and the shortcut's folder, are covered.
        {base,
         "",
         "1",
         {{"C:\\t", folder},
          {"C:\\t\\P\\Zev.exe", file},
          {"C:\\users\\Public\\Desktop", folder},
          {"C:\\users\\Public\\Desktop\\Zev.lnk", file}},
         {},
         ""},
        {base,
         "",
         "1",
         {{"C:\\t\\P\\Zev.exe", file}},
         {},
         "made no desktop shortcut under /DS=1: C:\\users\\root\\Desktop\\Zev.lnk"},
        // The registry: the declared key and below it, in its view only.
        {base, "", "", {{"C:\\t\\P\\Zev.exe", file}}, {{"64:HKLM\\Software\\Zev\\Sub", {}}}, ""},
        {base,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}},
         {{"32:HKLM\\Software\\Zev", {}}},
         "registered HKLM\\Software\\Zev (32-bit view), which its declaration does not name"},
        {base,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}},
         {{"64:HKLM\\Software\\Classes\\.zev", {}}},
         "registered HKLM\\Software\\Classes\\.zev"},
        // A key written, checked by the kit, in either view.
        {base + "written\t\tHKLM\\Software\\Zev2\n",
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}},
         {{"32:HKLM\\Software\\Zev2", {}}},
         ""},
        // A class declared under HKCR is one of the classes Windows merges there.
        {base + "registry\t\t64\tHKEY_CLASSES_ROOT\\.zev\n",
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}},
         {{"64:HKCU\\Software\\Classes\\.zev", {}}},
         ""},
        // Languages follow /L; without it, one language's files.
        {languages,
         "g",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\liesmich.txt", file}},
         {},
         ""},
        {languages,
         "g",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\readme.txt", file}},
         {},
         "installed C:\\t\\P\\readme.txt, a file for /L=e, under /L=g"},
        {languages,
         "e",
         "",
         {{"C:\\t\\P\\Zev.exe", file}},
         {},
         "did not install C:\\t\\P\\readme.txt"},
        {languages,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\liesmich.txt", file}},
         {},
         ""},
        {languages,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file},
          {"C:\\t\\P\\readme.txt", file},
          {"C:\\t\\P\\liesmich.txt", file}},
         {},
         "installed C:\\t\\P\\liesmich.txt, a file for /L=g, under /L=e"},
        // A named section whole or not at all; a tree with something in it.
        {sections,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\plugins\\x.dll", file}},
         {},
         ""},
        {sections,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file},
          {"C:\\t\\P\\plugins\\x.dll", file},
          {"C:\\t\\P\\doc\\b.txt", file}},
         {},
         "did not install C:\\t\\P\\doc\\a.txt of the section Docs, whose other files it "
         "installed"},
        {sections,
         "",
         "",
         {{"C:\\t\\P\\Zev.exe", file}, {"C:\\t\\P\\plugins", folder}},
         {},
         "installed nothing under C:\\t\\P\\plugins"},
    };
    for (const Row& row : rows) {
        check::Declaration declaration;
        std::string error;
        ASSERT_TRUE(check::parseDeclaration(row.declaration, declaration, error)) << error;
        check::Folders folders = kFolders;
        folders["$INSTDIR"] = {"C:\\t\\P"};
        Snapshot before, after;
        before.files["C:\\t\\neighbour.txt"] = file;
        before.keys["64:HKLM\\Software\\Other"] = {"x=1"};
        after = before;
        after.files.insert(row.added.begin(), row.added.end());
        after.keys.insert(row.keys.begin(), row.keys.end());
        std::string problem = check::judgeInstallation(
            declaration, check::Form{"C:\\t\\P", row.language, row.shortcut, {}}, folders, before,
            after, [](const std::string&) { return std::string(64, 'a'); });
        if (row.problem.empty()) {
            EXPECT_EQ(problem, "") << row.declaration;
        } else {
            EXPECT_NE(problem.find(row.problem), std::string::npos)
                << "expected " << row.problem << "\ngot " << problem;
        }
    }
}

TEST(Judge, InstallationThatChangesOrTakesWhatWasThereFails) {
    check::Declaration declaration;
    Snapshot before, after;
    before.files["C:\\t\\neighbour.txt"] = FileState{};
    before.keys["64:HKLM\\Software\\Other"] = {};
    after.keys = before.keys;
    // Written again, at the same size.
    after.files["C:\\t\\neighbour.txt"] = FileState{false, 0, 1};
    EXPECT_EQ(check::judgeInstallation(declaration, {"C:\\t\\P", "", "", {}}, kFolders, before,
                                       after, nullptr),
              "wrote outside the directory: C:\\t\\neighbour.txt");
    after.files.clear();
    EXPECT_EQ(check::judgeInstallation(declaration, {"C:\\t\\P", "", "", {}}, kFolders, before,
                                       after, nullptr),
              "deleted C:\\t\\neighbour.txt");
    // An upgrade removes the earlier installation it replaces.
    EXPECT_EQ(check::judgeInstallation(declaration, {"C:\\t\\P", "", "", {"C:\\T"}}, kFolders,
                                       before, after, nullptr),
              "");
    after.files = before.files;
    after.keys.clear();
    EXPECT_EQ(check::judgeInstallation(declaration, {"C:\\t\\P", "", "", {}}, kFolders, before,
                                       after, nullptr),
              "deleted the registry key HKLM\\Software\\Other");
    EXPECT_EQ(check::judgeInstallation(declaration, {"C:\\t\\P", "", "", {}}, kFolders, before,
                                       before, nullptr),
              "");
}

TEST(Judge, UninstallationSamples) {
    Snapshot before, installed, after;
    before.files["C:\\t\\neighbour.txt"] = FileState{};
    installed = before;
    installed.files["C:\\t\\P"] = FileState{true, 0};
    installed.files["C:\\t\\P\\Zev.exe"] = FileState{};
    installed.keys["64:HKLM\\Uninstall\\Zev"] = {};
    after = before;
    after.files["C:\\t\\P"] = FileState{true, 0};  // an empty folder left is no fault
    EXPECT_EQ(check::judgeUninstallation(before, installed, after, "C:\\t\\P"), "");
    after.files["C:\\t\\P\\Zev.exe"] = FileState{};
    EXPECT_EQ(check::judgeUninstallation(before, installed, after, "C:\\t\\P"),
              "left C:\\t\\P\\Zev.exe");
    after = before;
    after.keys = installed.keys;
    EXPECT_EQ(check::judgeUninstallation(before, installed, after, "C:\\t\\P"),
              "left the registry key HKLM\\Uninstall\\Zev (64-bit view)");
    after = Snapshot{};
    EXPECT_EQ(check::judgeUninstallation(before, installed, after, "C:\\t\\P"),
              "deleted C:\\t\\neighbour.txt, which was there before");
    // What was in the installation directory may go with it.
    before.files["C:\\t\\P\\in the way"] = FileState{};
    after = installed;
    after.files.erase("C:\\t\\P\\Zev.exe");
    after.keys.clear();
    EXPECT_EQ(check::judgeUninstallation(before, installed, after, "C:\\t\\P"), "");
}

TEST(Judge, UninstallCommands) {
    struct Row {
        const char* command;
        bool unsafe;
    } rows[] = {
        {"\"C:\\x y\\Uninstall.exe\" /S", false},
        {"C:\\xy\\Uninstall.exe /S", false},
        {"C:\\xy\\UNINSTALL.EXE", false},
        {"foo /S", true},
        {"C:\\x y\\Uninstall.exe", true},
        {"C:\\x y\\Uninstall.exe /S", true},
        {"", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(!check::uninstallCommandProblem("UninstallString", row.command).empty(),
                  row.unsafe)
            << row.command;
    }
}

}  // namespace
