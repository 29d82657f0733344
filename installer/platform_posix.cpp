#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <streambuf>

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

// Reads a byte stream as the Windows run-time's text mode does: CR LF becomes
// LF, a lone CR stays, and byte 26 ends the input.
class TextModeBuffer : public std::streambuf {
  public:
    explicit TextModeBuffer(std::unique_ptr<std::filebuf> source) : source_(std::move(source)) {}

  protected:
    int_type underflow() override {
        if (gptr() < egptr()) {
            return traits_type::to_int_type(*gptr());
        }
        std::size_t count = 0;
        while (count == 0 && !ended_) {
            std::streamsize read = source_->sgetn(raw_, sizeof(raw_));
            for (std::streamsize i = 0; i < read && !ended_; ++i) {
                char byte = raw_[i];
                // A CR is held back until the next byte shows whether it ends a line.
                if (heldReturn_ && byte != '\n') {
                    buffer_[count++] = '\r';
                }
                heldReturn_ = byte == '\r';
                if (byte == 26) {
                    ended_ = true;
                } else if (!heldReturn_) {
                    buffer_[count++] = byte;
                }
            }
            if (read <= 0) {
                ended_ = true;
                if (heldReturn_) {
                    buffer_[count++] = '\r';
                }
            }
        }
        setg(buffer_, buffer_, buffer_ + count);
        return count == 0 ? traits_type::eof() : traits_type::to_int_type(buffer_[0]);
    }

  private:
    std::unique_ptr<std::filebuf> source_;
    char raw_[65536];
    char buffer_[sizeof(raw_) + 1];  // a held CR may precede a whole block
    bool heldReturn_ = false;
    bool ended_ = false;
};

class TextModeInput : public std::istream {
  public:
    explicit TextModeInput(std::unique_ptr<std::filebuf> source)
        : std::istream(nullptr), buffer_(std::move(source)) {
        rdbuf(&buffer_);
    }

  private:
    TextModeBuffer buffer_;
};

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

bool fileStatus(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

void removeFile(const std::string& path) {
    unlink(path.c_str());
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

std::unique_ptr<std::istream> openTextInput(const std::string& path) {
    // Windows cannot open a directory as a file; POSIX can, so refuse it here.
    struct stat status;
    bool directory = stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    auto file = std::make_unique<std::filebuf>();
    bool opened = !directory && file->open(path, std::ios::in | std::ios::binary) != nullptr;
    auto stream = std::make_unique<TextModeInput>(std::move(file));
    if (!opened) {
        stream->setstate(std::ios::failbit);
    }
    return stream;
}

}  // namespace platform
