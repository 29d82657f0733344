// The run's record: what /LOG= keeps of a run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "platform.h"

// The run's record in the file /LOG= names: a first line with the time and
// the command line, every line the run writes to `err` (the relayed log
// among them), a last line with the time and the exit code. Lines end in CR
// LF. Runs appending to one file at once keep their records whole: a record
// is appended in one piece at the end, under the file's lock, which a run
// takes only then, waits for at most kLockWaitMilliseconds, and holds only
// while it copies; nothing reaches the file before, so a killed run leaves no
// record. Past 1 MiB the record waits in a scratch file of its own; without
// one (or after a write to it failed), in memory up to 4 MiB. The lines past
// that are left out, and one line in their place says how many went to `err`
// only; the record is then not whole.
class RunRecord : public std::streambuf {
  public:
    // How long the end of a run waits for another process to let go of the
    // file's lock: our own runs hold it only while they copy.
    static const unsigned kLockWaitMilliseconds = 5000;

    // Null when the file cannot be opened for appending.
    static std::unique_ptr<RunRecord> open(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           std::ostream& err);
    // Ends the record with a line of the time, `how` and the exit code; false
    // when not all of it got there, or the file is no longer at its path.
    // Only the first call writes. Without `wait`, as an interrupt ends the
    // record from another thread, it writes only when neither the record nor
    // the file's lock is busy at that moment.
    bool finish(int exitCode, const std::string& how = "exit code", bool wait = true);

    // `openScratch` makes the scratch file a long record waits in.
    using ScratchOpener = std::function<std::unique_ptr<platform::ScratchFile>()>;
    RunRecord(std::unique_ptr<platform::AppendFile> file, std::ostream& err,
              ScratchOpener openScratch = platform::openScratchFile)
        : file_(std::move(file)), openScratch_(std::move(openScratch)), err_(err) {}

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int sync() override;

  private:
    void keep(const char* bytes, std::size_t count);
    void keepLocked(const char* bytes, std::size_t count);
    bool appendAll();

    std::unique_ptr<platform::AppendFile> file_;
    ScratchOpener openScratch_;
    std::unique_ptr<platform::ScratchFile> spilled_;
    std::uint64_t spilledBytes_ = 0;  // what the scratch file surely holds
    bool scratchFailed_ = false;      // what follows waits in memory
    std::uint64_t linesLeftOut_ = 0;
    bool partLeftOut_ = false;
    std::ostream& err_;
    std::mutex mutex_;
    std::string first_;
    std::string held_;
    std::string last_;
    bool finished_ = false;
};
