#include "platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace platform {

std::int64_t monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

namespace {

// Taken while the program starts, so that the count runs from start-up as the
// Windows clock() does (POSIX clock() counts processor time instead).
const std::int64_t startMilliseconds = monotonicMilliseconds();

class DescriptorInput : public InputFile {
  public:
    explicit DescriptorInput(int file) : file_(file) {}
    ~DescriptorInput() override { close(file_); }

    long read(char* buffer, std::size_t size) override {
        ssize_t got;
        do {
            got = ::read(file_, buffer, size);
        } while (got < 0 && errno == EINTR);
        return static_cast<long>(got);
    }

  private:
    int file_;
};

// The process group of the started program, for the signal handler; 0 while
// there is none.
volatile sig_atomic_t childGroup = 0;
volatile sig_atomic_t interruptedExitCode = 255;

void endOnSignal(int) {
    if (childGroup > 0) {
        kill(-childGroup, SIGKILL);
    }
    _exit(interruptedExitCode);
}

// inotify on the directory: every new, renamed or removed entry is an event.
class InotifyWatch : public DirectoryWatch {
  public:
    explicit InotifyWatch(const std::string& directory)
        : file_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        if (file_ >= 0 &&
            inotify_add_watch(file_, directory.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE) < 0) {
            close(file_);
            file_ = -1;
        }
    }
    ~InotifyWatch() override {
        if (file_ >= 0) {
            close(file_);
        }
    }

    void waitForChange(unsigned milliseconds) override {
        if (file_ < 0) {
            sleepMilliseconds(milliseconds);
            return;
        }
        pollfd wait = {file_, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(milliseconds)) > 0) {
            char events[4096];
            while (::read(file_, events, sizeof(events)) > 0) {
            }
        }
    }

  private:
    int file_;
};

bool writeAll(int file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = write(file, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// How often a held lock is tried again.
const unsigned kLockPollMilliseconds = 20;

class DescriptorAppend : public AppendFile {
  public:
    DescriptorAppend(int file, std::string path) : file_(file), path_(std::move(path)) {}
    ~DescriptorAppend() override { close(file_); }

    bool append(const std::string& bytes) override { return writeAll(file_, bytes); }
    bool lock(unsigned milliseconds) override {
        const std::int64_t start = monotonicMilliseconds();
        for (;;) {
            int locked = flock(file_, LOCK_EX | LOCK_NB);
            if (locked == 0) {
                return true;
            }
            if (errno != EINTR) {
                if (errno != EWOULDBLOCK || monotonicMilliseconds() - start >= milliseconds) {
                    return false;
                }
                sleepMilliseconds(kLockPollMilliseconds);
            }
        }
    }
    void unlock() override { flock(file_, LOCK_UN); }
    bool stillAtPath() override {
        struct stat opened;
        struct stat named;
        return fstat(file_, &opened) == 0 && lstat(path_.c_str(), &named) == 0 &&
               opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
    }

  private:
    int file_;
    std::string path_;
};

class DescriptorScratch : public ScratchFile {
  public:
    explicit DescriptorScratch(int file) : file_(file), input_(file) {}

    bool write(const std::string& bytes) override { return writeAll(file_, bytes); }
    bool rewind() override { return lseek(file_, 0, SEEK_SET) == 0; }
    long read(char* buffer, std::size_t size) override { return input_.read(buffer, size); }

  private:
    int file_;
    DescriptorInput input_;  // closes the descriptor
};

// A child in a process group of its own, so that its whole tree can be ended.
class ChildGroup : public ProcessTree {
  public:
    explicit ChildGroup(pid_t child) : child_(child) { childGroup = child; }
    ~ChildGroup() override {
        childGroup = 0;
        if (!released_) {
            kill(-child_, SIGKILL);
        }
    }

    WaitResult waitForExit(std::int64_t milliseconds, int& exitCode) override {
        const std::int64_t deadline = monotonicMilliseconds() + milliseconds;
        int status = 0;
        pid_t ended;
        while ((ended = waitpid(child_, &status, milliseconds < 0 ? 0 : WNOHANG)) == 0 ||
               (ended < 0 && errno == EINTR)) {
            if (ended == 0 && monotonicMilliseconds() >= deadline) {
                return WaitResult::kTimedOut;
            }
            if (ended == 0) {
                sleepMilliseconds(10);
            }
        }
        if (ended != child_) {
            return WaitResult::kFailed;
        }
        // A killed program did not end with an exit code of its own.
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return WaitResult::kExited;
    }

    void end() override {
        kill(-child_, SIGKILL);
        while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }

    void release() override {
        released_ = true;
        childGroup = 0;
    }

  private:
    pid_t child_;
    bool released_ = false;
};

// The command line without its first word, the program: the rest is split at
// every single blank, so that a child joining its arguments with one blank
// each reads the line exactly as Windows would hand it over.
std::vector<std::string> argumentsAfterProgram(const std::string& commandLine) {
    std::string::size_type end =
        commandLine[0] == '"' ? commandLine.find('"', 1) : commandLine.find(' ');
    if (end != std::string::npos && commandLine[0] == '"') {
        ++end;
    }
    std::vector<std::string> words;
    if (end == std::string::npos || end + 1 > commandLine.size()) {
        return words;
    }
    std::string::size_type start = end + 1;
    while (true) {
        std::string::size_type blank = commandLine.find(' ', start);
        words.push_back(commandLine.substr(start, blank - start));
        if (blank == std::string::npos) {
            return words;
        }
        start = blank + 1;
    }
}

FileResult fileResult(int error) {
    return error == ENOENT || error == ENOTDIR ? FileResult::kMissing : FileResult::kFailed;
}

}  // namespace

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void failWhenInterrupted(int exitCode, std::function<void()>) {
    interruptedExitCode = exitCode & 0xFF;
    struct sigaction action {};
    action.sa_handler = endOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

std::string programFilesFolder() {
    return std::string();
}

std::uint32_t currentThreadId() {
    // Distinct among the process's live threads, as Windows' identifiers are.
    return static_cast<std::uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id()));
}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

void sleepMilliseconds(unsigned milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

long millisecondsSinceStart() {
    return static_cast<long>(monotonicMilliseconds() - startMilliseconds);
}

std::unique_ptr<ProcessTree> startProcess(const std::string& program,
                                          const std::string& commandLine, std::string& error) {
    std::vector<std::string> words = argumentsAfterProgram(commandLine);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    // The child reports a failed exec through this pipe, which closes unread
    // when the exec succeeds.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    pid_t child = fork();
    int failure = child < 0 ? errno : 0;
    if (child == 0) {
        setpgid(0, 0);
        execv(program.c_str(), argv.data());
        failure = errno;
        ssize_t ignored = write(report[1], &failure, sizeof(failure));
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    if (child > 0) {
        // Set here too, so that the group exists before anyone signals it.
        setpgid(child, child);
        ssize_t got;
        while ((got = ::read(report[0], &failure, sizeof(failure))) < 0 && errno == EINTR) {
        }
        if (got != sizeof(failure)) {
            failure = 0;
        } else {
            waitpid(child, nullptr, 0);
        }
    }
    close(report[0]);
    if (failure != 0) {
        error = std::strerror(failure);
        return nullptr;
    }
    return std::make_unique<ChildGroup>(child);
}

bool pathIsPresent(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

std::vector<std::string> directoryChain(const std::string& path) {
    // The name ends at its first zero byte, as every call given it would end it.
    const std::string name = path.c_str();
    const bool absolute = !name.empty() && name[0] == '/';
    // "." and ".." resolved on the text first, as Windows does.
    std::vector<std::string> components;
    std::string::size_type start = 0;
    while (start < name.size()) {
        std::string::size_type end = std::min(name.find('/', start), name.size());
        std::string component = name.substr(start, end - start);
        if (component == ".." && !components.empty() && components.back() != "..") {
            components.pop_back();
        } else if (component == ".." && !absolute) {
            components.push_back(component);
        } else if (!component.empty() && component != "." && component != "..") {
            components.push_back(component);
        }
        start = end + 1;
    }
    std::vector<std::string> chain;
    std::string prefix = absolute ? "/" : "";
    if (absolute) {
        chain.push_back(prefix);
    }
    for (const std::string& component : components) {
        prefix += component;
        chain.push_back(prefix);
        prefix += '/';
    }
    return chain;
}

bool isDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool makeOneDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0;
}

void removeEmptyDirectory(const std::string& path) {
    rmdir(path.c_str());
}

bool hasEnvironmentVariable(const std::string& name) {
    return !name.empty() && std::getenv(name.c_str()) != nullptr;
}

std::unique_ptr<DirectoryWatch> watchDirectoryOf(const std::string& path) {
    std::string::size_type last = path.rfind('/');
    return std::make_unique<InotifyWatch>(last == std::string::npos ? "."
                                                                    : path.substr(0, last + 1));
}

std::unique_ptr<AppendFile> openAppendFile(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return nullptr;
    }
    // A link in a folder on the way: the real path is another.
    auto isItself = [](const std::string& name) {
        char* real = realpath(name.c_str(), nullptr);
        bool itself = real && name == real;
        std::free(real);
        return itself;
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW;
        int file = open(path.c_str(), flags);
        bool made = false;
        if (file < 0 && errno == ENOENT) {
            // Made only in a folder that is where its name says, so that a
            // refusal leaves no new file behind a link.
            std::string folder = path.substr(0, std::max<std::size_t>(path.rfind('/'), 1));
            if (!isItself(folder)) {
                return nullptr;
            }
            file = open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
            made = file >= 0;
            if (file < 0 && errno == EEXIST) {
                continue;
            }
        }
        if (file < 0) {
            return nullptr;
        }
        auto append = std::make_unique<DescriptorAppend>(file, path);
        if (isItself(path)) {
            return append;
        }
        // The folder became a link in between: what was made there goes.
        if (made) {
            unlink(path.c_str());
        }
        return nullptr;
    }
    return nullptr;
}

std::unique_ptr<ScratchFile> openScratchFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder && *folder ? folder : "/tmp") + "/qix-record-XXXXXX";
    int file = mkostemp(&name[0], O_CLOEXEC);
    if (file < 0) {
        return nullptr;
    }
    unlink(name.c_str());
    return std::make_unique<DescriptorScratch>(file);
}

bool sameFile(const std::string& first, const std::string& second) {
    struct stat one;
    struct stat two;
    return stat(first.c_str(), &one) == 0 && stat(second.c_str(), &two) == 0 &&
           one.st_dev == two.st_dev && one.st_ino == two.st_ino;
}

AnsiReading ansiReadingOf(const std::string& character) {
    return AnsiReading{character, false};
}

bool readsAnsiCommandLine(const std::string&) {
    return false;
}

FileResult removeFile(const std::string& path) {
    // Windows deletes a link, not its target; a link stays here all the same,
    // so that both builds leave what someone planted for a human to see.
    struct stat status;
    if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        return FileResult::kFailed;
    }
    return unlink(path.c_str()) == 0 ? FileResult::kDone : fileResult(errno);
}

FileResult probeNewFile(const std::string& path, const std::string& bytes) {
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        return errno == EEXIST ? FileResult::kExists : FileResult::kFailed;
    }
    bool ok = write(file, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    // POSIX cannot delete through a handle: remove the name only while it
    // still names the file this handle created.
    struct stat opened;
    struct stat named;
    if (fstat(file, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
        unlink(path.c_str());
    }
    ok = close(file) == 0 && ok;
    return ok ? FileResult::kDone : FileResult::kFailed;
}

FileResult openInputFile(const std::string& path, std::unique_ptr<InputFile>& file) {
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) {
        return fileResult(errno);
    }
    // Windows cannot open a directory as a file; POSIX can, so refuse it here.
    struct stat status;
    if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(descriptor);
        return FileResult::kFailed;
    }
    file = std::make_unique<DescriptorInput>(descriptor);
    return FileResult::kDone;
}

}  // namespace platform
