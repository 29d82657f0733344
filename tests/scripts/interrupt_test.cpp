// The scripts with long steps, with a stand-in for cmake on PATH: interrupted
// by Ctrl+C (the terminal's whole group) or by SIGTERM (the script alone)
// while a step runs, and scripts/test with presets that run no test. Each must
// end FAILED with a non-zero code; an interrupt must end the running step, and
// scripts/test must stop the wineserver that step started.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "harness.h"

namespace fs = std::filesystem;

namespace {

const std::string kWineServer = "/usr/lib/wine/wineserver64";

struct Interrupt {
    const char* script;
    int signal;
    const char* step;  // the step its last line must name
};

// Whether `pid` runs: it exists and has not ended. An orphan that ended stays
// a zombie where nothing reaps it, as in a container whose first process is
// no init.
bool running(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::string::size_type name = stat.rfind(')');
    return pid > 0 && name != std::string::npos && stat.compare(name, 3, ") Z") != 0;
}

class ScriptsTest : public ::testing::Test {
  protected:
    ScriptsTest() {
        char pattern[] = "/tmp/qix-interrupt-test-XXXXXX";
        if (!mkdtemp(pattern)) {
            throw std::runtime_error("mkdtemp failed");
        }
        dir_ = pattern;
        fs::create_directories(dir_ + "/bin");
        fs::create_directories(prefix());
    }

    ~ScriptsTest() override {
        const std::string stop = "WINEPREFIX='" + prefix() + "' " + kWineServer +
                                 " -k 2>/dev/null; WINEPREFIX='" + prefix() + "' " + kWineServer +
                                 " -w 2>/dev/null";
        if (system(stop.c_str()) != 0) {
            // no server ran in the prefix
        }
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    // The Wine prefix the stand-in's wineserver serves.
    std::string prefix() const { return dir_ + "/prefix"; }
    std::string pidFile() const { return dir_ + "/cmake.pid"; }

    // The stand-in for cmake: `body` after the shebang.
    void standIn(const std::string& body) const {
        const std::string path = dir_ + "/bin/cmake";
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
    }

    // Starts scripts/`script` in a session of its own, as a terminal runs it,
    // with SIGINT as a terminal leaves it and the stand-in first on PATH.
    pid_t start(const std::string& script) const {
        const std::string path = std::string(QIX_SOURCE_DIR) + "/scripts/" + script;
        const std::string searchPath = dir_ + "/bin:" + getenv("PATH");
        const std::string output = dir_ + "/out";
        const pid_t pid = fork();
        if (pid == 0) {
            setsid();
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            setenv("PATH", searchPath.c_str(), 1);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    // Waits up to `seconds` for `pid` to end; true when it did, with `code`
    // as a shell reports it (128 + the signal's number when one ended it).
    static bool waitFor(pid_t pid, int seconds, int& code) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // The script's exit code once it has ended; a script still running after
    // `seconds` fails the test and is killed with all it started.
    int endOf(pid_t script, int seconds) {
        int code = 0;
        if (!waitFor(script, seconds, code)) {
            ADD_FAILURE() << "the script still runs after " << seconds << " s\n" << output();
            kill(-script, SIGKILL);
            waitFor(script, 20, code);
        }
        return code;
    }

    // What the script printed, and its last line.
    std::string output() const { return readFile(dir_ + "/out"); }
    std::string lastLine() const {
        std::string text = output();
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        return text.substr(text.rfind('\n') + 1);
    }

    // The pids of the wineservers that serve the stand-in's prefix.
    std::vector<pid_t> wineservers() const {
        std::vector<pid_t> pids;
        const std::string mark = std::string(1, '\0') + "WINEPREFIX=" + prefix() + '\0';
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/proc", error)) {
            const pid_t pid = atoi(entry.path().filename().c_str());
            if (pid > 0 && readFile(entry.path() / "comm") == "wineserver64\n" &&
                ('\0' + readFile(entry.path() / "environ")).find(mark) != std::string::npos) {
                pids.push_back(pid);
            }
        }
        return pids;
    }

    std::string dir_;
};

class Interrupted : public ScriptsTest, public ::testing::WithParamInterface<Interrupt> {};

// The stand-in waits in the step's cmake (after starting a wineserver, as the
// Windows tests do, for scripts/test), and the signal comes once it does;
// every other call of it, such as scripts/test's other presets beside the
// native one, ends at once and says nothing.
TEST_P(Interrupted, EndsTheStepAndFailsNamingIt) {
    const Interrupt& interrupt = GetParam();
    const bool test = std::string(interrupt.script) == "test";
    standIn("case \"$*\" in '--workflow --preset native' | *windows*) ;; *) exit 0 ;; esac\n" +
            (test ? "WINEPREFIX='" + prefix() + "' " + kWineServer + " -p >/dev/null 2>&1\n" : "") +
            "echo $$ >'" + pidFile() + "'\nexec sleep 60\n");
    const pid_t script = start(interrupt.script);
    for (int i = 0; i < 300 && readFile(pidFile()).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const pid_t standIn = atoi(readFile(pidFile()).c_str());
    EXPECT_GT(standIn, 0) << "the stand-in does not run\n" << output();
    if (test) {
        EXPECT_FALSE(wineservers().empty()) << "the stand-in started no wineserver";
    }
    kill(interrupt.signal == SIGINT ? -script : script, interrupt.signal);

    EXPECT_EQ(endOf(script, 20), 128 + interrupt.signal) << output();
    EXPECT_EQ(lastLine(), std::string(test ? "scripts/test" : interrupt.script) +
                              ": FAILED: interrupted during " + interrupt.step)
        << output();
    EXPECT_FALSE(running(standIn)) << "the step still runs";
    if (running(standIn)) {
        kill(standIn, SIGKILL);
    }
    if (test) {
        EXPECT_TRUE(wineservers().empty()) << "its wineserver still runs";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, Interrupted,
    ::testing::Values(
        Interrupt{"test", SIGINT, "preset native: configure, build, test"},
        Interrupt{"test", SIGTERM, "preset native: configure, build, test"},
        Interrupt{"release", SIGTERM, "building the program"},
        // A step whose output goes to a log: the last line still reaches the script's.
        Interrupt{"demo", SIGTERM,
                  "building the program and the sample installer (about a minute "
                  "the first time)"}));

TEST_F(ScriptsTest, NoTestRunFailsNamingEachPreset) {
    standIn("exit 0\n");
    const pid_t script = start("test");
    EXPECT_NE(endOf(script, 90), 0) << output();
    EXPECT_NE(lastLine().find(
                  "native: no tests run; native-asan: no tests run; fuzz: no tests run — FAILED"),
              std::string::npos)
        << output();
}

}  // namespace
