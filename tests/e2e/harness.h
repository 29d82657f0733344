// Runs the real programs as a user would: the Windows program under Wine or
// the native one, with its streams sent to files and its exit code taken as
// the Linux side sees it.
#pragma once

#include <functional>
#include <map>
#include <shared_mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "usage_text.h"

enum class Target { kWindows, kNative };

// Where a run's standard error goes: a file the outcome is read from, nowhere
// (closed), a device on which every write fails (a full disk), or the named
// pipe "err.fifo" that the test made in its folder and reads at its own pace.
enum class ErrStream { kCaptured, kClosed, kFull, kNamedPipe };

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
    // Whether this is the outcome of a run repeated because Wine failed to
    // start the first one: it is never repeated again.
    bool repeated = false;
};

// How a run ended and what it wrote, for a failure message.
std::string describe(const Outcome& outcome);

// The one rule that tells a run Wine failed to start. Under load Wine now and
// then fails a process at its start: exit code 1 with nothing printed, or
// glibc's loader complaining on standard error. And now and then Wine fails
// the setup's start with "Internal error" (ERROR_INTERNAL_ERROR, which no path
// the tests give makes Windows report), or the setup dies at its start: the
// program ends with -1 (255) while the setup left no trace; `setupLeftTrace`
// says whether it did, where a test can tell. A run that ended 0 is never
// such a run: that is the program's own outcome, and a test must see it.
//
// Every run of the installer program goes by this rule where the bench starts
// it (the program never ends with 1 itself): one that Wine failed to start is
// repeated once, alone, and the test's output says so in a line starting
// "wine failed to start the program; repeated once".
bool wineFailedToStart(const Outcome& outcome, bool setupLeftTrace = true);

// For what only the test can tell, whether the setup left its trace, and for
// other programs than the installer: runs `run(i)` again, alone, once for
// each outcome that Wine failed to start and that was not repeated already,
// and says so; `setupRan(i)` tells whether run i's setup left its trace.
void repeatRunsWineFailed(std::vector<Outcome>& outcomes,
                          const std::function<Outcome(std::size_t)>& run,
                          const std::function<bool(std::size_t)>& setupRan = {});

// One fresh folder per test, removed at the end with every process its runs
// left behind; paths are Linux paths unless said otherwise.
class Bench {
  public:
    explicit Bench(Target target);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    Target target() const { return target_; }
    const std::string& dir() const { return dir_; }

    // The path the program sees for a Linux path: Z:\... under Wine.
    std::string hostPath(const std::string& linuxPath) const;

    // The line end of the program's redirected streams.
    std::string lines(const std::string& text) const;

    // Copies the stand-in setup program into the folder; returns its Linux path.
    std::string installSetup(const std::string& name = "setup.exe") const;

    std::string writeFile(const std::string& name, const std::string& bytes) const;

    // Runs the installer with `arguments`, adding `environment` to its own.
    // Safe to call from several threads at once.
    Outcome run(const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& environment = {},
                ErrStream errStream = ErrStream::kCaptured) const;

    // Runs the installer as run() does and sends it `signal` as soon as
    // `killWhen` is true: SIGKILL as a deployment tool's time limit does, or
    // SIGINT, which Wine delivers as Ctrl+C.
    Outcome runKilledWhen(const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment,
                          const std::function<bool()>& killWhen, int signal = 9) const;

    // Runs a command line in Wine's cmd.exe, for what only it can set up.
    Outcome runInCmd(const std::string& commandLine,
                     const std::map<std::string, std::string>& environment = {}) const;

    // Runs Wine's reg with `arguments`, each one argument, without cmd. A run
    // that failed and said nothing of reg's own (reg failed to start) is
    // repeated once.
    Outcome runReg(const std::vector<std::string>& arguments) const;

    // Deletes a registry key under Wine (reg delete) and says whether it is
    // gone: true only when reg query says it cannot find it.
    bool removeRegistryKey(const std::string& key) const;

    // Runs a Windows program under Wine, each argument passed as one; for
    // paths that a command line given to cmd.exe would need quotes for.
    Outcome runUnderWine(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {}) const;

    // The installer as seen from the Linux side.
    std::string program() const;

    // The command lines of the processes the bench's runs left running. Wine
    // ends a process on its server at once and its Linux process moments
    // later: one still there after 5 s runs on.
    std::vector<std::string> processesLeft() const;

  private:
    // Starts `argv` and, for a run of the installer that Wine failed to
    // start, starts it once more, alone.
    Outcome spawn(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& environment,
                  ErrStream errStream = ErrStream::kCaptured,
                  const std::function<bool()>& killWhen = {}, int signal = 9) const;
    Outcome spawnOnce(std::vector<std::string> argv,
                      const std::map<std::string, std::string>& environment, ErrStream errStream,
                      const std::function<bool()>& killWhen, int signal) const;

    Target target_;
    std::string dir_;
    // Runs of the installer share it; a repeated one waits to hold it alone.
    mutable std::shared_timed_mutex installerRuns_;
};

// The bench's folder as a share, \\qixsrv\<folder>, which Wine serves from
// its dosdevices\unc, for as long as this lives.
class Share {
  public:
    explicit Share(const Bench& bench);
    ~Share();
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string link_;
    std::string path_;
};

// Whether reg said that the key or value it was given is not there.
bool regFoundNothing(const Outcome& outcome);

// The seconds `work` took.
double secondsOf(const std::function<void()>& work);

// How long the program looks for a setup's completion marker. A run that
// missed the marker took at least this long, whatever the machine's load:
// one that took less found it (the only margin a loaded machine cannot
// break, as load only makes runs longer).
const double kMarkerWaitSeconds = 10.0;

std::string readFile(const std::string& path);
bool exists(const std::string& path);
// The names in a directory, sorted; empty when it does not exist.
std::vector<std::string> listDir(const std::string& path);

// The Linux folder of drive C: in the test Wine prefix.
std::string driveC();

// A test of whole runs of the Windows program, whose stand-in setup records
// the command line it received.
class WindowsRunTest : public ::testing::Test {
  protected:
    Bench bench{Target::kWindows};
    std::string record = bench.dir() + "/record.txt";

    // `name` inside the test's folder, as the program sees it and as Linux does.
    std::string win(const std::string& name) const { return bench.hostPath(linux(name)); }
    std::string linux(const std::string& name) const { return bench.dir() + "/" + name; }

    Outcome runRecorded(const std::vector<std::string>& arguments,
                        std::map<std::string, std::string> environment = {},
                        ErrStream errStream = ErrStream::kCaptured) const {
        environment["QIX_SETUP_RECORD"] = bench.hostPath(record);
        return bench.run(arguments, environment, errStream);
    }
};
