// The zips that scripts/release made for the tests in tests/CMakeLists.txt,
// unpacked beside them: what the unsigned one holds, byte for byte, with its
// entries' modes and times; and the signed programs under Wine, which must
// run as the unsigned ones do.
#include <stdio.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "harness.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

const std::string kRelease = QIX_RELEASE_DIR;
const std::string kName = QIX_RELEASE_NAME;
const std::string kZip = kRelease + "/plain/" + kName + ".zip";
// The programs that the build makes and scripts/release may sign.
// The programs the build makes, where the zip holds them.
const Names kBuilt{"Qix_Console_Installer.exe", "ZevSetup.exe", "setup-kit/qix-check.exe"};

// The folder of a run's unpacked zip.
std::string unpacked(const std::string& run) {
    return kRelease + "/" + run + "/unpacked/" + kName;
}

// Every file under `dir`, relative to it, in byte order as the release sorts them.
Names filesUnder(const std::string& dir) {
    Names files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), dir).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool contains(const Names& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

struct ZipEntry {
    std::string name;
    unsigned mode;
    std::string time;  // as YYYYMMDD.hhmmss
    unsigned extraLength;
};

unsigned little(const std::string& bytes, std::size_t at, int size) {
    unsigned value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

// The zip's central directory: each entry's name, Unix mode, time and the
// length of its extra fields (where owner ids and other times would go).
std::vector<ZipEntry> zipEntries(const std::string& zip) {
    const std::string bytes = readFile(zip);
    const std::size_t end = bytes.rfind(std::string("PK\5\6", 4));
    if (end == std::string::npos) {
        ADD_FAILURE() << zip << " has no central directory";
        return {};
    }
    std::vector<ZipEntry> entries;
    std::size_t at = little(bytes, end + 16, 4);
    for (unsigned count = little(bytes, end + 10, 2); count > 0; --count) {
        const unsigned time = little(bytes, at + 12, 2), date = little(bytes, at + 14, 2);
        char text[16];
        snprintf(text, sizeof text, "%04u%02u%02u.%02u%02u%02u", (date >> 9) + 1980, date >> 5 & 15,
                 date & 31, time >> 11, time >> 5 & 63, (time & 31) * 2);
        const unsigned nameLength = little(bytes, at + 28, 2);
        const unsigned extraLength = little(bytes, at + 30, 2);
        entries.push_back({bytes.substr(at + 46, nameLength), little(bytes, at + 38, 4) >> 16, text,
                           extraLength});
        at += 46 + nameLength + extraLength + little(bytes, at + 32, 2);
    }
    return entries;
}

// The time of the source's last commit, in seconds since 1970.
long long lastCommitTime() {
    const std::string command = "git -C '" QIX_SOURCE_DIR "' log -1 --format=%ct";
    FILE* git = popen(command.c_str(), "r");
    long long seconds = 0;
    if (!git || fscanf(git, "%lld", &seconds) != 1) {
        ADD_FAILURE() << "no commit time from: " << command;
    }
    if (git) {
        pclose(git);
    }
    return seconds;
}

TEST(Package, HoldsOneFolderWithTheProgramsTheSampleSourceTheDocumentsAndChecksums) {
    Names names;
    for (const ZipEntry& entry : zipEntries(kZip)) {
        EXPECT_EQ(entry.name.rfind(kName + "/", 0), 0u) << entry.name;
        names.push_back(entry.name.substr(kName.size() + 1));
    }
    for (const char* file :
         {"Qix_Console_Installer.exe", "ZevSetup.exe", "README.md", "SHA256SUMS",
          "examples/zev/Zev.nsi", "examples/zev/files/Zev.exe", "examples/zev/files/readme.txt",
          "setup-kit/QixContract.nsh", "setup-kit/README.md", "setup-kit/qix-check",
          "setup-kit/qix-check.exe", "ZevSetup.exe.qix"}) {
        EXPECT_TRUE(contains(names, file)) << file;
    }
    EXPECT_EQ(listDir(kRelease + "/plain/unpacked"), Names{kName});
    EXPECT_EQ(filesUnder(unpacked("plain")), [&] {
        std::sort(names.begin(), names.end());
        return names;
    }());
}

TEST(Package, UnsignedProgramsAreTheOnesBuilt) {
    for (const std::string& program : kBuilt) {
        const std::string built =
            readFile(QIX_WINDOWS_BUILD_DIR "/" + program.substr(program.rfind('/') + 1));
        EXPECT_FALSE(built.empty()) << program;
        EXPECT_TRUE(readFile(unpacked("plain") + "/" + program) == built) << program;
    }
}

TEST(Package, EveryOtherFileIsTheProjectsOwn) {
    for (const std::string& file : filesUnder(unpacked("plain"))) {
        if (file != "SHA256SUMS" && file != "ZevSetup.exe.qix" && !contains(kBuilt, file)) {
            const std::string source = QIX_SOURCE_DIR "/" + file;
            EXPECT_TRUE(exists(source) &&
                        readFile(unpacked("plain") + "/" + file) == readFile(source))
                << file;
        }
    }
}

// release.Checksums.* check that the sums match.
TEST(Package, ChecksumsListEveryOtherFileInOrder) {
    Names listed;
    std::istringstream sums(readFile(unpacked("plain") + "/SHA256SUMS"));
    for (std::string line; std::getline(sums, line);) {
        EXPECT_EQ(line.find("  "), 64u) << line;
        listed.push_back(line.substr(std::min<std::size_t>(line.size(), 66)));
    }
    Names others = filesUnder(unpacked("plain"));
    others.erase(std::find(others.begin(), others.end(), "SHA256SUMS"));
    EXPECT_EQ(listed, others);
}

TEST(Package, EveryEntryHasTheLastCommitsTimeAFixedModeAndNoOwner) {
    // Zip keeps times in steps of two seconds, rounding up; the release packs in UTC.
    long long seconds = lastCommitTime();
    const std::time_t rounded = seconds + seconds % 2;
    char expected[16];
    std::strftime(expected, sizeof expected, "%Y%m%d.%H%M%S", std::gmtime(&rounded));
    const std::vector<ZipEntry> entries = zipEntries(kZip);
    EXPECT_FALSE(entries.empty());
    for (const ZipEntry& entry : entries) {
        // What the tree holds as a program for Linux is 755, the rest 644.
        std::error_code error;
        const fs::perms source =
            fs::status(QIX_SOURCE_DIR + entry.name.substr(kName.size()), error).permissions();
        const bool runs = !error && (source & fs::perms::owner_exec) != fs::perms::none;
        EXPECT_EQ(entry.mode, runs ? 0100755u : 0100644u) << entry.name;
        EXPECT_EQ(entry.time, expected) << entry.name;
        EXPECT_EQ(entry.extraLength, 0u) << entry.name;
    }
}

TEST(Package, AWrongPasswordLeavesNoZip) {
    EXPECT_FALSE(exists(kRelease + "/wrong/" + kName + ".zip"));
}

TEST(SignedRelease, ProgramPrintsTheUsageAsTheUnsignedOne) {
    Bench bench{Target::kWindows};
    const Outcome plain =
        bench.runUnderWine({unpacked("plain") + "/Qix_Console_Installer.exe", "/?"});
    const Outcome signed_ =
        bench.runUnderWine({unpacked("signed") + "/Qix_Console_Installer.exe", "/?"});
    EXPECT_EQ(signed_.exitCode, 0) << describe(signed_);
    EXPECT_NE(signed_.out.find("Usage: Qix_Console_Installer.exe"), std::string::npos)
        << describe(signed_);
    EXPECT_EQ(signed_.exitCode, plain.exitCode);
    EXPECT_EQ(signed_.out, plain.out);
    EXPECT_EQ(signed_.err, plain.err);
}

// The signed sample's installer passes its own integrity check and ends as
// the unsigned one: both refuse, at their start, a directory that already
// holds Zev, so the machine stays as it was.
TEST(SignedRelease, SampleSetupRefusesAsTheUnsignedOne) {
    Bench bench{Target::kWindows};
    bench.writeFile("Zev.exe", "");
    auto install = [&](const std::string& run) {
        return bench.runUnderWine({unpacked(run) + "/Qix_Console_Installer.exe",
                                   bench.hostPath(unpacked(run) + "/ZevSetup.exe"),
                                   "/D=" + bench.hostPath(bench.dir())});
    };
    const Outcome plain = install("plain");
    const Outcome signed_ = install("signed");
    EXPECT_EQ(signed_.exitCode, 255) << describe(signed_);
    EXPECT_NE(signed_.err.find("Zev 2.4"), std::string::npos) << describe(signed_);
    EXPECT_EQ(signed_.exitCode, plain.exitCode);
    EXPECT_EQ(signed_.out, plain.out);
    EXPECT_EQ(signed_.err, plain.err);
}

}  // namespace
