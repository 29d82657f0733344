// The run's record: what /LOG= keeps of a run.
#pragma once

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
// takes only then and holds only while it copies; past 1 MiB the record waits
// in a scratch file of its own meanwhile.
class RunRecord : public std::streambuf {
  public:
    // Null when the file cannot be opened for appending.
    static std::unique_ptr<RunRecord> open(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           std::ostream& err);
    // Ends the record with a line of the time, `how` and the exit code; false
    // when not all of it got there. Only the first call writes. Without
    // `wait`, as an interrupt ends the record from another thread, it writes
    // only when neither the record nor the file's lock is busy at that moment.
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
    std::ostream& err_;
    std::mutex mutex_;
    std::string held_;
    bool written_ = true;
    bool finished_ = false;
};
