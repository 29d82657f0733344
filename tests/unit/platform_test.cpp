// The POSIX platform layer answers as the Windows one does, as far as the
// program's logic can tell.
#include "platform.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace {

// Both clocks count whole seconds too: a sleep across one is seen in full.
TEST(Platform, ClockAndSleep) {
    for (unsigned pause : {50u, 1100u}) {
        std::int64_t before = platform::monotonicMilliseconds();
        long sinceStart = platform::millisecondsSinceStart();
        platform::sleepMilliseconds(pause);
        EXPECT_GE(platform::monotonicMilliseconds() - before, pause);
        EXPECT_GE(platform::millisecondsSinceStart() - sinceStart, static_cast<long>(pause));
    }
}

// An interrupt before any program was started ends the process at once, with
// the code given, and signals nothing else.
TEST(Platform, InterruptWithNoProgramEndsWithTheCodeGiven) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A group of its own: were the whole group signalled, only this would go.
            setpgid(0, 0);
            platform::failWhenInterrupted(7);
            raise(signal);
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status)) << signal;
        EXPECT_EQ(7, WEXITSTATUS(status)) << signal;
    }
}

// With standard input closed, descriptor 0 is the first free one: it serves
// as any other for the probe, the record, its scratch file and the log.
TEST(Platform, DescriptorZeroServesAsAnyOther) {
    TempDir temp;
    int input = dup(0);
    close(0);
    platform::FileResult probe = platform::probeNewFile(temp.path() + "/probe", "test");
    bool scratch = platform::openScratchFile() != nullptr;
    bool appended = false;
    if (std::unique_ptr<platform::AppendFile> record =
            platform::openAppendFile(temp.path() + "/r")) {
        appended = record->append("line\n") && record->append("x");
    }
    std::unique_ptr<platform::InputFile> log;
    platform::FileResult opened = platform::openInputFile(temp.path() + "/r", log);
    char bytes[8] = {};
    long got = log ? log->read(bytes, sizeof(bytes)) : -1;
    log.reset();
    dup2(input, 0);
    close(input);
    EXPECT_EQ(platform::FileResult::kDone, probe);
    EXPECT_TRUE(scratch);
    EXPECT_TRUE(appended);
    EXPECT_EQ(platform::FileResult::kDone, opened);
    EXPECT_EQ(6, got);
}

// A record's file: its lock waits a bounded time for another holder, and it
// tells when it is no longer at its path.
TEST(Platform, RecordFileLocksBoundedAndKnowsItsPath) {
    TempDir temp;
    std::string path = temp.path() + "/r";
    std::unique_ptr<platform::AppendFile> first = platform::openAppendFile(path);
    std::unique_ptr<platform::AppendFile> second = platform::openAppendFile(path);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->lock(0));
    EXPECT_FALSE(second->lock(50)) << "held by the first";
    first->unlock();
    EXPECT_TRUE(second->lock(0));
    EXPECT_TRUE(second->stillAtPath());
    std::filesystem::remove(path);
    EXPECT_FALSE(second->stillAtPath());
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
        // Its code once it has ended, not while it still runs.
        {"/bin/sh", "/bin/sh -c sleep\t0.3;exit\t3", true, 3, 60000},
        // Past its limit it runs on until it is ended, and then has no code.
        {"/bin/sh", "/bin/sh -c sleep\t60", true, -1, 1000, WaitResult::kTimedOut},
        {"/no/such/setup.exe", "/no/such/setup.exe /S ", false, 0},
        {"/tmp", "/tmp /S ", false, 0},
    };
    // Starts leave no descriptor of their own open, whether they ran or not.
    const auto descriptors = openDescriptors();
    const pid_t self = getpid();
    TempDir temp;
    // Waiting takes no processor: the waits last over a second here.
    auto processorMicroseconds = [] {
        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
               usage.ru_stime.tv_usec;
    };
    long waiting = 0;
    for (const Case& c : cases) {
        std::string reason;
        std::unique_ptr<platform::ProcessTree> tree =
            platform::startProcess(c.program, c.commandLine, reason);
        ASSERT_EQ(c.starts, tree != nullptr) << c.commandLine << ": " << reason;
        if (tree) {
            int status = 99;
            long before = processorMicroseconds();
            EXPECT_EQ(c.result, tree->waitForExit(c.limit, status)) << c.commandLine;
            waiting += processorMicroseconds() - before;
            if (c.result == WaitResult::kTimedOut) {
                tree->end();
                EXPECT_EQ(WaitResult::kFailed, tree->waitForExit(-1, status)) << "not reaped";
            }
            EXPECT_EQ(c.status, c.result == WaitResult::kExited ? status : -1) << c.commandLine;
            tree->release();
        } else {
            EXPECT_NE("", reason);
            // A start that failed returns here once, not also in a copy of this process.
            if (getpid() != self) {
                std::ofstream(temp.path() + "/copy") << c.program;
                _exit(0);
            }
        }
    }
    EXPECT_FALSE(std::filesystem::exists(temp.path() + "/copy"));
    EXPECT_LT(waiting, 200000) << "microseconds of processor time";
    EXPECT_EQ(descriptors, openDescriptors());
}

// A released tree leaves what the setup started running; one not released
// takes it along when it goes.
TEST(Platform, ReleasedTreeLeavesTheChildRunning) {
    for (bool released : {true, false}) {
        TempDir temp;
        std::string pidFile = temp.path() + "/child";
        std::string reason;
        std::unique_ptr<platform::ProcessTree> tree =
            platform::startProcess("/bin/sh", "/bin/sh -c sleep\t30&echo\t$!>" + pidFile, reason);
        ASSERT_NE(nullptr, tree) << reason;
        int status = 99;
        ASSERT_EQ(platform::WaitResult::kExited, tree->waitForExit(60000, status));
        EXPECT_EQ(0, status);
        if (released) {
            tree->release();
        }
        tree.reset();
        pid_t child = std::stoi(readAll(pidFile));
        if (released) {
            EXPECT_EQ(0, kill(child, 0)) << "the setup's child was ended";
            kill(child, SIGKILL);
        } else {
            // Gone once the system has reaped it.
            for (int i = 0; i < 1000 && kill(child, 0) == 0; ++i) {
                platform::sleepMilliseconds(10);
            }
            EXPECT_NE(0, kill(child, 0)) << "the setup's child outlived its tree";
        }
    }
}

}  // namespace
