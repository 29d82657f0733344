// The POSIX platform layer answers as the Windows one does, as far as the
// program's logic can tell.
#include "platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace {

TEST(Platform, ClockAndSleep) {
    std::int64_t before = platform::monotonicMilliseconds();
    long sinceStart = platform::millisecondsSinceStart();
    platform::sleepMilliseconds(50);
    EXPECT_GE(platform::monotonicMilliseconds() - before, 50);
    EXPECT_GE(platform::millisecondsSinceStart() - sinceStart, 50);
}

// The started program's own exit code; a program killed by a signal has
// none and counts as a failure; one that cannot start says why.
TEST(Platform, StartedProgramsEndWithTheirOwnStatus) {
    using platform::WaitResult;
    struct Case {
        const char* program;
        const char* commandLine;
        bool starts;
        int status;
        std::int64_t limit = -1;
        WaitResult result = WaitResult::kExited;
    } cases[] = {
        {"/bin/sh", "/bin/sh -c exit\t0", true, 0},
        {"/bin/sh", "\"/bin/sh\" -c exit\t3", true, 3},
        {"/bin/sh", "/bin/sh -c kill\t-9\t$$", true, -1},
        {"/bin/sh", "/bin/sh -c exit\t4", true, 4, 60000},
        // Past its limit it runs on until it is ended, and then has no code.
        {"/bin/sh", "/bin/sh -c sleep\t60", true, -1, 1, WaitResult::kTimedOut},
        {"/no/such/setup.exe", "/no/such/setup.exe /S ", false, 0},
        {"/tmp", "/tmp /S ", false, 0},
    };
    for (const Case& c : cases) {
        std::string reason;
        std::unique_ptr<platform::ProcessTree> tree =
            platform::startProcess(c.program, c.commandLine, reason);
        ASSERT_EQ(c.starts, tree != nullptr) << c.commandLine << ": " << reason;
        if (tree) {
            int status = 99;
            EXPECT_EQ(c.result, tree->waitForExit(c.limit, status)) << c.commandLine;
            if (c.result == WaitResult::kTimedOut) {
                tree->end();
                EXPECT_EQ(WaitResult::kFailed, tree->waitForExit(-1, status)) << "not reaped";
            }
            EXPECT_EQ(c.status, c.result == WaitResult::kExited ? status : -1) << c.commandLine;
            tree->release();
        } else {
            EXPECT_NE("", reason);
        }
    }
}

// Directories are made as Windows makes them: open to everyone the umask
// allows, relative ones from the current directory.
TEST(Platform, MadeDirectoriesTakeTheUmaskAndTheCurrentDirectory) {
    TempDir temp;
    mode_t mask = umask(022);
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(temp.path());
    EXPECT_TRUE(platform::makeDirectory("rel/sub"));
    std::filesystem::current_path(previous);
    umask(mask);
    struct stat status;
    ASSERT_EQ(0, stat((temp.path() + "/rel/sub").c_str(), &status));
    EXPECT_EQ(0755u, status.st_mode & 0777u);
}

}  // namespace
