#include "install_dir.h"
#include "setup_command.h"

#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "platform.h"
#include "temp_dir.h"

namespace {

// Every string of up to `length` characters over an alphabet that holds the
// characters the path rules look at.
std::vector<std::string> shortStrings(std::size_t length) {
    const std::string alphabet = "a:/\\";
    std::vector<std::string> all{""};
    for (std::size_t begin = 0, size = 1; size <= length; ++size) {
        std::size_t end = all.size();
        for (std::size_t i = begin; i < end; ++i) {
            for (char c : alphabet) {
                all.push_back(all[i] + c);
            }
        }
        begin = end;
    }
    return all;
}

TEST(InstallDir, AppendSeparatorSamples) {
    struct Case {
        const char* path;
        const char* expected;
    } cases[] = {
        {"C:\\Target", "C:\\Target\\"},
        {"C:\\Target\\", "C:\\Target\\"},
        {"C:/Target/", "C:/Target/"},
        {"x", "x"},
        {"", ""},
        {"ab", "ab\\"},
        {"C:", "C:\\"},
    };
    for (const Case& c : cases) {
        std::string path = c.path;
        appendSeparator(path);
        EXPECT_EQ(c.expected, path) << c.path;
    }
}

// The separator rules were once the regular expressions ".+[^\\/]" (append a
// separator) and ".+[^:][\\/]" (drop one), where '.' matches anything but CR
// and LF. They became plain character tests because the standard regex engine
// recurses once per character and overflows the stack on a long path; the
// expressions stay here as the oracle, which the tests must agree with on
// every short input. Line breaks are refused before a path reaches these
// rules, so the inputs hold none.
TEST(InstallDir, AppendSeparatorAgreesWithItsRegularExpression) {
    const std::regex rule(".+[^\\\\/]");
    for (const std::string& path : shortStrings(5)) {
        std::string appended = path;
        appendSeparator(appended);
        std::string expected = std::regex_match(path, rule) ? path + "\\" : path;
        EXPECT_EQ(expected, appended) << path;
    }
}

TEST(InstallDir, TrailingSeparatorRuleAgreesWithItsRegularExpression) {
    const std::regex rule(".+[^:][\\\\/]");
    for (const std::string& path : shortStrings(5)) {
        std::string expected =
            std::regex_match(path, rule) ? path.substr(0, path.size() - 1) : path;
        EXPECT_EQ(expected, withoutTrailingSeparator(path)) << path;
    }
}

TEST(InstallDir, PathExistsDropsOneTrailingSeparatorOnly) {
    TempDir temp;
    std::string file = temp.file("setup.exe");
    std::filesystem::create_directory(temp.path() + "/dir");
    struct Case {
        std::string path;
        bool exists;
    } cases[] = {
        {file, true},
        {file + "/", true},  // a file with a separator after it is still asked about
        {file + "\\", true},
        {file + "//", false},  // only one separator goes
        {temp.path() + "/dir", true},
        {temp.path() + "/dir/", true},
        {temp.path() + "/missing", false},
        {"", false},
        {"/", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.exists, pathExists(c.path)) << c.path;
    }
}

TEST(InstallDir, PathExistsSurvivesVeryLongPaths) {
    EXPECT_FALSE(pathExists(std::string(200000, 'a') + "/"));
    EXPECT_FALSE(pathExists(std::string(200000, '/') + "x"));
}

TEST(InstallDir, AbsolutePathRuleSamples) {
    struct Case {
        const char* directory;
        bool absolute;
    } cases[] = {
        {"C:\\Apps\\Tool", true},
        {"C:/Apps/Tool", true},
        {"c:\\apps", true},
        {"?:\\x", false},
        {"1:\\x", false},
        {"':\\x", false},
        // The letters' ends, and the characters just outside them.
        {"A:\\", true},
        {"a:\\x", true},
        {"Z:\\x", true},
        {"z:\\x", true},
        {"@:\\x", false},
        {"[:\\x", false},
        {"`:\\x", false},
        {"{:\\x", false},
        {"Z:/x", true},
        {"C:\\", true},
        {"C:/", true},
        {"C:", false},
        {"C", false},
        {"", false},
        {"C:Apps", false},
        {"sub\\dir", false},
        {"..\\x", false},
        {"Apps", false},
        {"\\\\server\\share", false},
        {"\"C:\\Apps\"", false},
        {"C:\\Apps'", true},
        {"/Quenvarton AG/Zev/", false},
        {"ab/", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.absolute, isAbsoluteDrivePath(c.directory)) << c.directory;
    }
}

// What a setup's command line or Windows would turn into another path.
TEST(InstallDir, TextsThatWouldNotStayAsGiven) {
    setenv("QIX_DEFINED", "x", 1);
    setenv("QIX_EMPTY", "", 1);
    struct Case {
        const char* text;
        bool controlOrQuote;
        bool variable;
        bool renamed;
        bool plain;
    } cases[] = {
        {"C:\\Apps\\Zev", false, false, false, true},
        {"C:\\a\tb", true, false, false, true},
        {"C:\\new\\sub\x1f", true, false, false, true},
        {"C:\\new\\sub\x20", false, false, true, true},
        {"C:\\a\"b", true, false, false, true},
        {"C:\\100% off\\%NO_SUCH_NAME%", false, false, false, true},
        {"C:\\%QIX_DEFINED%", false, true, false, true},
        {"C:\\%QIX_DEFINED:~0,1%", false, true, false, false},
        {"C:\\50% %QIX_DEFINED%", false, true, false, true},
        {"C:\\%%QIX_DEFINED%", false, true, false, true},
        {"C:\\%QIX_EMPTY%", false, true, false, true},
        // Only a whole name counts, and nobody expands the names cmd defines.
        {"C:\\%QIX_DEF%\\%cd%\\%PROMPT%", false, false, false, true},
        {"C:\\%", false, false, false, true},
        {"C:\\trail \\", false, false, true, true},
        {"C:/dots../sub", false, false, true, true},
        {"C:\\a.\\sub", false, false, true, true},
        {"C:\\a.b\\.\\..\\ c\\", false, false, false, true},
        // An alternate data stream, not a directory.
        {"C:\\n7\\x:stream", false, false, false, false},
        {"C::", false, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.controlOrQuote, holdsControlCharacterOrQuote(c.text)) << c.text;
        EXPECT_EQ(c.variable, holdsDefinedVariable(c.text)) << c.text;
        EXPECT_EQ(c.renamed, hasComponentWindowsRenames(c.text)) << c.text;
        EXPECT_EQ(c.plain, namesPlainDirectory(c.text, false)) << c.text;
    }
}

// Whole resolutions, from a folder of the test's own, where a drive path is a
// relative one: what an accepted directory settles to and what is created;
// the one message of a refused one, and nothing created.
TEST(InstallDir, ResolveSamples) {
    TempDir temp;
    std::filesystem::create_directories(temp.path() + "/C:");
    temp.file("C:/file");
    // A folder nothing can be written in, whoever runs the test.
    std::filesystem::create_directory_symlink("/proc/self", temp.path() + "/R:");
    struct Case {
        std::string directory;
        bool accepted;
        std::string settled;  // or the message
        std::string created;
    } cases[] = {
        {"C:/Apps/Zev", true, "C:\\Apps\\Zev", "C:/Apps/Zev"},
        {"z:/Apps", true, "z:\\Apps", "z:/Apps"},
        {"C:/quoted/\"", true, "C:\\quoted\\", "C:/quoted"},
        {"C:/x/a/../b", true, "C:\\x\\b", "C:/x/b"},
        {"C:/file/sub", false, "Can not create directory C:/file/sub\n", ""},
        {"C:/new/sub\x1f", false, "Can not create directory C:/new/sub\x1f\n", ""},
        {"R:/", false, "No access rights for directory R:/\n", ""},
    };
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(temp.path());
    for (const Case& c : cases) {
        std::string directory = c.directory;
        std::ostringstream err;
        EXPECT_EQ(c.accepted, resolveInstallDir(directory, err)) << c.directory;
        EXPECT_EQ(c.accepted ? "" : c.settled, err.str()) << c.directory;
        if (c.accepted) {
            EXPECT_EQ(c.settled, directory);
            EXPECT_TRUE(std::filesystem::is_directory(c.created)) << c.created;
        }
    }
    std::filesystem::current_path(previous);
    // Nothing of a refused directory was made.
    EXPECT_EQ((std::vector<std::string>{"Apps", "file", "quoted", "x"}),
              namesIn(temp.path() + "/C:"));
    EXPECT_EQ((std::vector<std::string>{"C:", "R:", "z:"}), namesIn(temp.path()));
}

TEST(InstallDir, EnclosingQuoteSamples) {
    struct Case {
        std::string given;
        std::string stripped;
    } cases[] = {
        {"\"C:\\x\"", "C:\\x"},
        {"'C:\\x'", "C:\\x"},
        {"C:\\x\"", "C:\\x"},
        {"\"C:\\x", "C:\\x"},
        {"\"\"", ""},
        {"\"", ""},
        {"", ""},
        {"C:\\\"x", "C:\\\"x"},
    };
    for (const Case& c : cases) {
        std::string text = c.given;
        stripEnclosingQuotes(text);
        EXPECT_EQ(c.stripped, text) << c.given;
    }
}

TEST(InstallDir, ExeEndingSamples) {
    struct Case {
        const char* path;
        const char* completed;
    } cases[] = {
        {"", ".exe"},         {"e", "e.exe"},         {"xe", "xe.exe"},   {"exe", "exe.exe"},
        {".exe", ".exe"},     {"S.EXE", "S.EXE"},     {"s.eXe", "s.eXe"}, {"s.exe ", "s.exe .exe"},
        {"s.ex", "s.ex.exe"}, {"s.msi", "s.msi.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.completed, withExeEnding(c.path)) << c.path;
    }
}

// Directories are made as Windows makes them: open to everyone the umask
// allows, relative ones from the current directory.
TEST(InstallDir, MadeDirectoriesTakeTheUmaskAndTheCurrentDirectory) {
    TempDir temp;
    mode_t mask = umask(022);
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(temp.path());
    EXPECT_TRUE(createDirectory("rel/sub"));
    // Names that sort before ".." are names like any other.
    EXPECT_TRUE(createDirectory("+data/-x"));
    EXPECT_TRUE(std::filesystem::is_directory("+data/-x"));
    // Dots resolved first: what ".." cancels is never made.
    EXPECT_TRUE(createDirectory("dots/./../x"));
    // A relative path keeps the ".." it starts with.
    std::filesystem::create_directory("sub");
    std::filesystem::current_path("sub");
    EXPECT_TRUE(createDirectory("../up"));
    std::filesystem::current_path(temp.path());
    EXPECT_FALSE(std::filesystem::exists("dots"));
    EXPECT_TRUE(std::filesystem::is_directory("x"));
    EXPECT_TRUE(std::filesystem::is_directory("up"));
    std::filesystem::current_path(previous);
    umask(mask);
    struct stat status;
    ASSERT_EQ(0, stat((temp.path() + "/rel/sub").c_str(), &status));
    EXPECT_EQ(0755u, status.st_mode & 0777u);
}

// A chain that cannot be made in full leaves none of the folders made on the
// way, and what stood before stays.
TEST(InstallDir, FailedChainLeavesNothingItMade) {
    TempDir temp;
    std::filesystem::create_directory(temp.path() + "/kept");
    std::string tooLong(NAME_MAX + 1, 'n');
    EXPECT_FALSE(createDirectory(temp.path() + "/kept/a/b/" + tooLong + "/x"));
    EXPECT_EQ(std::vector<std::string>{"kept"}, namesIn(temp.path()));
    EXPECT_EQ(std::vector<std::string>{}, namesIn(temp.path() + "/kept"));
}

// Every missing parent is made; a file anywhere in the chain fails it.
TEST(InstallDir, CreateDirectoryMakesEveryMissingParent) {
    TempDir temp;
    temp.file("file");
    struct Case {
        std::string path;
        bool created;
    } cases[] = {
        {"", true},  // the directory that exists already
        {"/new/nested/deep", true},
        {"/new/nested/deep/", true},
        {"/again//twice/", true},
        {"/up/../over", true},
        {"/file", false},
        {"/file/sub", false},
    };
    for (const Case& c : cases) {
        std::string path = temp.path() + c.path;
        EXPECT_EQ(c.created, createDirectory(path)) << c.path;
        // As Windows resolves ".." before it looks at a component.
        EXPECT_EQ(c.created,
                  std::filesystem::is_directory(std::filesystem::path(path).lexically_normal()))
            << c.path;
    }
    EXPECT_TRUE(std::filesystem::is_directory(temp.path() + "/again/twice"));
    // Resolved before creation: nothing that ".." cancels is left behind.
    EXPECT_FALSE(std::filesystem::exists(temp.path() + "/up"));
    EXPECT_TRUE(std::filesystem::is_regular_file(temp.path() + "/file"));
}

// The directory the setup gets is the one Windows creates.
TEST(InstallDir, DotsResolvedSamples) {
    struct Case {
        const char* directory;
        const char* resolved;
    } cases[] = {
        {"C:\\x\\a\\..\\b", "C:\\x\\b"},
        {"C:/x/./y/", "C:/x/y/"},
        {"C:\\x\\a\\..", "C:\\x"},
        {"C:\\x\\a\\..\\", "C:\\x\\"},
        {"C:\\..\\..\\x", "C:\\x"},
        {"C:\\x\\..", "C:\\"},
        {"C:\\x\\\\y\\.", "C:\\x\\y"},
        {"C:\\x\\...\\.a", "C:\\x\\...\\.a"},
        {"C:\\", "C:\\"},
        {"rel\\..\\x", "rel\\..\\x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.resolved, withDotsResolved(c.directory)) << c.directory;
    }
}

// Each character on its own: a lone surrogate never takes the next along.
TEST(InstallDir, Utf8CharacterSamples) {
    using Characters = std::vector<std::string>;
    EXPECT_EQ((Characters{"a", "\xed\xa0\x80", "\xef\xbc\x82", "\xf0\x9f\x98\x80", "b"}),
              utf8Characters("a\xed\xa0\x80\xef\xbc\x82\xf0\x9f\x98\x80"
                             "b"));
    EXPECT_EQ((Characters{"\x80", "\xd0\x96"}), utf8Characters("\x80\xd0\x96"));
    EXPECT_EQ(Characters{}, utf8Characters(""));
}

TEST(InstallDir, ResolveRejectsWhatIsNotAnAbsoluteDrivePath) {
    // The native build has no Program Files folder, so the default is rejected too.
    for (std::string directory :
         {"", "C:Apps", "sub\\dir", "\\\\server\\share", "'C:\\Apps'", "':\\x", "1:\\x"}) {
        std::ostringstream err;
        std::string original = directory;
        EXPECT_FALSE(resolveInstallDir(directory, err)) << original;
        EXPECT_EQ("Specified installation directory must be an absolute path.\n", err.str());
    }
}

TEST(InstallDir, UniqueFileNameSkipsTakenNamesWithoutTheThreadNumber) {
    // In memory: the names must be in place before the clock passes them.
    TempDir temp("/dev/shm");
    std::string directory = temp.path() + "/";
    std::string thread = std::to_string(platform::currentThreadId());
    long now = platform::millisecondsSinceStart();
    std::string first = uniqueFileName(directory, "p", "log");
    std::string digits = first.substr(directory.size() + 1, first.size() - directory.size() - 5);
    EXPECT_EQ(directory + "p" + digits + ".log", first);
    EXPECT_EQ(thread, digits.substr(digits.size() - thread.size()));

    // Take every first candidate of the next few seconds: the next name must
    // be the clock plus one, with no thread number.
    for (long ms = now; ms < now + 3000; ++ms) {
        temp.file("p" + std::to_string(ms) + thread + ".log");
    }
    std::string next = uniqueFileName(directory, "p", ".log");
    EXPECT_FALSE(pathExists(next));
    long number = std::stol(next.substr(directory.size() + 1));
    EXPECT_EQ(directory + "p" + std::to_string(number) + ".log", next);
    EXPECT_GT(number, now);
    EXPECT_LE(number, now + 3000);
}

// The probe's file is created exclusively and disposed of through its own
// handle: whatever stands at the chosen name, or appears there, is left as it was.
TEST(InstallDir, ProbeNeverTouchesAFileItDidNotCreate) {
    TempDir temp;
    std::string taken = temp.file("taken", "someone else's");
    std::filesystem::create_symlink(taken, temp.path() + "/link");
    std::filesystem::create_symlink(temp.path() + "/nowhere", temp.path() + "/dangling");
    std::filesystem::create_directory(temp.path() + "/sub");
    using platform::FileResult;
    struct Case {
        std::string name;
        FileResult result;
    } cases[] = {
        {"taken", FileResult::kExists},    {"link", FileResult::kExists},
        {"dangling", FileResult::kExists}, {"sub", FileResult::kExists},
        {"no/file", FileResult::kFailed},  {"new", FileResult::kDone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, platform::probeNewFile(temp.path() + "/" + c.name, "test")) << c.name;
    }
    std::ifstream file(taken);
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ("someone else's", content);
    EXPECT_FALSE(std::filesystem::exists(temp.path() + "/nowhere"));
    EXPECT_EQ(4, std::distance(std::filesystem::directory_iterator(temp.path()), {}));
}

TEST(InstallDir, WriteProbeLeavesNothingBehind) {
    TempDir temp;
    EXPECT_TRUE(hasWriteAccess(temp.path() + "/"));
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
    EXPECT_FALSE(hasWriteAccess(temp.path() + "/missing/"));
}

}  // namespace
