// The operating system as the fuzz targets see it: every answer follows from
// the arguments alone, nothing touches the disk and nothing is started, so a
// finding replays the same way on any machine.
#include "platform.h"

namespace platform {

std::string programFilesFolder() {
    return "C:\\Program Files";
}

std::uint32_t currentThreadId() {
    return 1;
}

std::uint32_t currentProcessId() {
    return 1;
}

void sleepMilliseconds(unsigned) {}

long millisecondsSinceStart() {
    // Advances on every call, so that a loop waiting for the clock still ends.
    static long now = 0;
    return ++now;
}

std::int64_t monotonicMilliseconds() {
    static std::int64_t now = 0;
    return now += 100;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void failWhenInterrupted(int, std::function<void()>) {}

class NoWatch : public DirectoryWatch {
  public:
    void waitForChange(unsigned) override {}
};

std::unique_ptr<DirectoryWatch> watchDirectoryOf(const std::string&) {
    return std::make_unique<NoWatch>();
}

std::unique_ptr<AppendFile> openAppendFile(const std::string&) {
    return nullptr;
}

std::unique_ptr<ProcessTree> startProcess(const std::string&, const std::string&,
                                          std::string& error) {
    error = "nothing starts here";
    return nullptr;
}

// Characters from U+FF00 on stand for those best fit would turn into ASCII
// ('"' here), other non-ASCII ones for those the code page lacks.
AnsiReading ansiReadingOf(const std::string& character) {
    if (character.compare(0, 2, "\xef\xbc") == 0) {
        return AnsiReading{"\"", false};
    }
    return static_cast<unsigned char>(character[0]) < 0x80 ? AnsiReading{character, false}
                                                           : AnsiReading{"?", true};
}

bool readsAnsiCommandLine(const std::string& program) {
    return program.size() % 3 == 0;
}

bool sameFile(const std::string&, const std::string&) {
    return false;
}

std::unique_ptr<ScratchFile> openScratchFile() {
    return nullptr;
}

// Paths of even length exist, so that arbitrary inputs meet both answers.
bool pathIsPresent(const std::string& path) {
    return !path.empty() && path.size() % 2 == 0;
}

// Only what is there already stands, and nothing can be made.
std::vector<std::string> directoryChain(const std::string& path) {
    return {path};
}

bool isDirectory(const std::string& path) {
    return pathIsPresent(path);
}

bool makeOneDirectory(const std::string&) {
    return false;
}

void removeEmptyDirectory(const std::string&) {}

// Names of one letter are set, so that %X% meets both answers.
bool hasEnvironmentVariable(const std::string& name) {
    return name.size() == 1;
}

FileResult removeFile(const std::string&) {
    return FileResult::kMissing;
}

// Some directories are writable, so that settled directories reach the
// setup's command line.
FileResult probeNewFile(const std::string& path, const std::string&) {
    return path.size() % 4 == 1 ? FileResult::kDone : FileResult::kFailed;
}

FileResult openInputFile(const std::string&, std::unique_ptr<InputFile>&) {
    return FileResult::kMissing;
}

}  // namespace platform
