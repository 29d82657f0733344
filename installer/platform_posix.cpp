#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

bool isDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

FileResult fileResult(int error) {
    return error == ENOENT || error == ENOTDIR ? FileResult::kMissing : FileResult::kFailed;
}

}  // namespace

std::string programFilesFolder() {
    return std::string();
}

std::uint32_t currentThreadId() {
    // Any stable number serves: it only makes probe names distinct.
    return static_cast<std::uint32_t>(getpid());
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

int runCommand(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

bool pathIsPresent(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

bool makeDirectory(const std::string& path) {
    // The name ends at its first zero byte, as every call given it would end it.
    const std::string name = path.c_str();
    const bool absolute = !name.empty() && name[0] == '/';
    std::string prefix;
    std::string::size_type start = 0;
    while (start < name.size()) {
        std::string::size_type end = std::min(name.find('/', start), name.size());
        // Between two adjacent separators stands no component.
        if (end > start) {
            if (absolute || !prefix.empty()) {
                prefix += '/';
            }
            prefix.append(name, start, end - start);
            if (!isDirectory(prefix) && mkdir(prefix.c_str(), 0777) != 0) {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

bool hasEnvironmentVariable(const std::string& name) {
    return !name.empty() && std::getenv(name.c_str()) != nullptr;
}

FileResult removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0 ? FileResult::kDone : fileResult(errno);
}

ProbeResult probeNewFile(const std::string& path, const std::string& bytes) {
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        return errno == EEXIST ? ProbeResult::kExists : ProbeResult::kFailed;
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
    return ok ? ProbeResult::kWritten : ProbeResult::kFailed;
}

FileResult openInputFile(const std::string& path, std::unique_ptr<InputFile>& file) {
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

// POSIX has no job objects, and the native build serves only development:
// its children are left as they are.
void* bindChildProcesses() {
    return nullptr;
}

void releaseChildProcesses(void*) {}

}  // namespace platform
