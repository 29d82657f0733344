#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char* const kWine = "/usr/lib/wine/wine64";
const char* const kCmd = "C:\\windows\\system32\\cmd.exe";
const int kRunLimitSeconds = 60;

// Every process a run starts carries this variable with the bench's folder,
// Wine's Windows processes too: they inherit the Linux environment.
const char* const kBenchVariable = "QIX_E2E_BENCH";

// What the runs of the bench in `dir` left running, by process id with its
// command line: the processes that carry its mark and name its folder on
// their command line. Wine's server and services carry the mark too when a
// run started them, but name no test's folder; an ended process that is not
// yet reaped has no command line.
std::map<pid_t, std::string> leftovers(const std::string& dir) {
    const std::string mark = std::string(1, '\0') + kBenchVariable + "=" + dir + '\0';
    const std::string folder = fs::path(dir).filename().string();
    std::map<pid_t, std::string> left;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        pid_t pid = atoi(entry.path().filename().c_str());
        std::string process = entry.path().string();
        std::string command = readFile(process + "/cmdline");
        if (pid > 0 && command.find(folder) != std::string::npos &&
            ('\0' + readFile(process + "/environ")).find(mark) != std::string::npos) {
            std::replace(command.begin(), command.end(), '\0', ' ');
            left[pid] = command;
        }
    }
    return left;
}

void endLeftovers(const std::string& dir) {
    for (const auto& process : leftovers(dir)) {
        kill(process.first, SIGKILL);
    }
}

// The builds of the installer program, as their paths end.
const char* const kInstallerBuilds[] = {"Qix_Console_Installer.exe",
                                        "Qix_Console_Installer_NoCodePage.exe"};

// Whether a run starts the installer under Wine, itself or in cmd's line.
bool startsInstaller(const std::vector<std::string>& argv) {
    if (argv.size() < 2 || argv[0] != kWine) {
        return false;
    }
    bool throughCmd = argv[1] == kCmd && argv.size() == 4;
    for (const char* build : kInstallerBuilds) {
        if (fs::path(argv[1]).filename() == build ||
            (throughCmd && argv[3].find(build) != std::string::npos)) {
            return true;
        }
    }
    return false;
}

// How long a repeated run waits for the bench's other runs to end.
const int kAloneWaitSeconds = 20;

// Set while repeatRunsWineFailed repeats a run, which is then that run's
// one repeat.
thread_local bool repeatingAlready = false;

std::string buildDir(Target target) {
    return target == Target::kWindows ? QIX_WINDOWS_BUILD_DIR : QIX_NATIVE_BUILD_DIR;
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The build's Wine prefix, the one every Windows test and script uses.
std::string winePrefix() {
    return QIX_WINEPREFIX;
}

std::string driveC() {
    return winePrefix() + "/drive_c";
}

Bench::Bench(Target target) : target_(target) {
    char pattern[] = "/tmp/qix-e2e-XXXXXX";
    if (!mkdtemp(pattern)) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
}

Bench::~Bench() {
    // A failed test may leave a run's setup, or a child it started, running.
    endLeftovers(dir_);
    // Undo any immutable flag a test set, then remove everything.
    std::string command = "chattr -R -i '" + dir_ + "' 2>/dev/null";
    if (system(command.c_str()) != 0) {
        // nothing was flagged, or chattr is missing: removal below still runs
    }
    std::error_code error;
    fs::remove_all(dir_, error);
}

std::vector<std::string> Bench::processesLeft() const {
    std::map<pid_t, std::string> left = leftovers(dir_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        left = leftovers(dir_);
    }
    std::vector<std::string> commands;
    for (const auto& process : left) {
        commands.push_back(process.second);
    }
    return commands;
}

std::string Bench::hostPath(const std::string& linuxPath) const {
    if (target_ == Target::kNative) {
        return linuxPath;
    }
    std::string path = "Z:" + linuxPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string Bench::lines(const std::string& text) const {
    if (target_ == Target::kNative) {
        return text;
    }
    std::string crlf;
    for (char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    return crlf;
}

std::string Bench::installSetup(const std::string& name) const {
    std::string source =
        buildDir(target_) + (target_ == Target::kWindows ? "/test_setup.exe" : "/test_setup");
    std::string target = dir_ + "/" + name;
    fs::create_directories(fs::path(target).parent_path());
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    return target;
}

std::string Bench::writeFile(const std::string& name, const std::string& bytes) const {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string Bench::program() const {
    return buildDir(target_) +
           (target_ == Target::kWindows ? "/Qix_Console_Installer.exe" : "/Qix_Console_Installer");
}

Outcome Bench::run(const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment,
                   ErrStream errStream) const {
    std::vector<std::string> argv;
    if (target_ == Target::kWindows) {
        argv.push_back(kWine);
    }
    argv.push_back(program());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return spawn(argv, environment, errStream);
}

Outcome Bench::runKilledWhen(const std::vector<std::string>& arguments,
                             const std::map<std::string, std::string>& environment,
                             const std::function<bool()>& killWhen, int signal) const {
    std::vector<std::string> argv{kWine, program()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return spawn(argv, environment, ErrStream::kCaptured, killWhen, signal);
}

Outcome Bench::runInCmd(const std::string& commandLine,
                        const std::map<std::string, std::string>& environment) const {
    // By its full path: a test may plant a cmd.exe in the working folder.
    return spawn({kWine, kCmd, "/c", commandLine}, environment);
}

Outcome Bench::runReg(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{"reg"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Outcome outcome = runUnderWine(argv);
    if (outcome.exitCode != 0 && (outcome.out + outcome.err).find("reg: ") == std::string::npos) {
        outcome = runUnderWine(argv);
    }
    return outcome;
}

Share::Share(const Bench& bench) {
    std::string folder = fs::path(bench.dir()).filename().string();
    link_ = winePrefix() + "/dosdevices/unc/qixsrv/" + folder;
    fs::create_directories(fs::path(link_).parent_path());
    fs::create_directory_symlink(bench.dir(), link_);
    path_ = "\\\\qixsrv\\" + folder;
}

Share::~Share() {
    std::error_code error;
    fs::remove(link_, error);
}

bool regFoundNothing(const Outcome& outcome) {
    return outcome.exitCode == 1 &&
           (outcome.out + outcome.err).find("reg: Unable to find") != std::string::npos;
}

bool Bench::removeRegistryKey(const std::string& key) const {
    runReg({"delete", key, "/f"});
    return regFoundNothing(runReg({"query", key}));
}

double secondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Outcome Bench::runUnderWine(const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment) const {
    std::vector<std::string> argv{kWine};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return spawn(argv, environment);
}

Outcome Bench::spawn(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& environment, ErrStream errStream,
                     const std::function<bool()>& killWhen, int signal) const {
    if (!startsInstaller(argv)) {
        return spawnOnce(argv, environment, errStream, killWhen, signal);
    }
    Outcome outcome;
    {
        std::shared_lock<std::shared_timed_mutex> beside(installerRuns_);
        outcome = spawnOnce(argv, environment, errStream, killWhen, signal);
    }
    if (repeatingAlready || !wineFailedToStart(outcome)) {
        return outcome;
    }
    // Alone once the bench's other runs have ended; a run that waits on the
    // test itself (a reader that stalls on purpose) may keep going longer.
    std::unique_lock<std::shared_timed_mutex> alone(installerRuns_, std::defer_lock);
    bool isAlone = alone.try_lock_for(std::chrono::seconds(kAloneWaitSeconds));
    std::cout << "wine failed to start the program; repeated once, "
              << (isAlone ? "alone" : "beside runs still going") << ": " << describe(outcome)
              << std::endl;
    outcome = spawnOnce(argv, environment, errStream, killWhen, signal);
    outcome.repeated = true;
    return outcome;
}

Outcome Bench::spawnOnce(std::vector<std::string> argv,
                         const std::map<std::string, std::string>& environment, ErrStream errStream,
                         const std::function<bool()>& killWhen, int signal) const {
    std::vector<char*> raw;
    for (std::string& argument : argv) {
        raw.push_back(&argument[0]);
    }
    raw.push_back(nullptr);

    // Everything the child needs is made here: after a fork in a threaded
    // test only async-signal-safe calls are allowed.
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        std::string::size_type equals = text.find('=');
        variables[text.substr(0, equals)] =
            equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    // Wine reads the Linux argument bytes in the locale's character set.
    variables["LC_ALL"] = "C.UTF-8";
    variables["WINEPREFIX"] = winePrefix();
    variables["WINEDEBUG"] = "-all";
    variables[kBenchVariable] = dir_;
    for (const auto& variable : environment) {
        variables[variable.first] = variable.second;
    }
    std::vector<std::string> entries;
    for (const auto& variable : variables) {
        entries.push_back(variable.first + "=" + variable.second);
    }
    std::vector<char*> envp;
    for (std::string& entry : entries) {
        envp.push_back(&entry[0]);
    }
    envp.push_back(nullptr);

    static std::atomic<int> runs{0};
    std::string stem = dir_ + "/.run" + std::to_string(++runs);
    std::string outPath = stem + ".stdout";
    std::string errPath = errStream == ErrStream::kFull        ? "/dev/full"
                          : errStream == ErrStream::kNamedPipe ? dir_ + "/err.fifo"
                                                               : stem + ".stderr";
    pid_t child = fork();
    if (child == 0) {
        // A group of its own, which cmd and the setup join under Wine too: the
        // run limit ends them all.
        setpgid(0, 0);
        // The program's working folder is the test's, so nothing it might
        // create by a relative name lands elsewhere.
        if (chdir(dir_.c_str()) != 0) {
            _exit(126);
        }
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        if (errStream == ErrStream::kClosed) {
            close(2);
        } else {
            dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        }
        execve(raw[0], raw.data(), envp.data());
        _exit(127);
    }
    setpgid(child, child);
    Outcome outcome;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (killWhen && killWhen()) {
            kill(child, signal);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
            throw std::runtime_error("the program did not end within the run limit");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = readFile(outPath);
    fs::remove(outPath);
    if (errStream == ErrStream::kCaptured) {
        outcome.err = readFile(errPath);
        fs::remove(errPath);
    }
    return outcome;
}

std::string describe(const Outcome& outcome) {
    return "exit code " + std::to_string(outcome.exitCode) + "\nstandard output: " + outcome.out +
           "\nstandard error: " + outcome.err;
}

bool wineFailedToStart(const Outcome& outcome, bool setupLeftTrace) {
    bool loader = outcome.err.find("Inconsistency detected by ld.so") != std::string::npos;
    return (outcome.exitCode == 1 && (outcome.out + outcome.err).empty()) ||
           (outcome.exitCode != 0 && loader) ||
           (outcome.exitCode == 255 &&
            (!setupLeftTrace || (outcome.err.rfind("Can not start setup ", 0) == 0 &&
                                 outcome.err.find(": Internal error.") != std::string::npos)));
}

void repeatRunsWineFailed(std::vector<Outcome>& outcomes,
                          const std::function<Outcome(std::size_t)>& run,
                          const std::function<bool(std::size_t)>& setupRan) {
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        Outcome& outcome = outcomes[i];
        if (outcome.repeated || !wineFailedToStart(outcome, !setupRan || setupRan(i))) {
            continue;
        }
        std::cout << "wine failed to start the program; repeated once, alone: run " << i << ", "
                  << describe(outcome) << std::endl;
        // This is the run's one repeat: the bench must not add another.
        repeatingAlready = true;
        try {
            outcome = run(i);
        } catch (const std::exception& error) {
            outcome = Outcome{};
            outcome.err = error.what();
        }
        repeatingAlready = false;
        outcome.repeated = true;
    }
}
