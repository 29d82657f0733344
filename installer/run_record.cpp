#include "run_record.h"

#include <algorithm>
#include <ctime>

namespace {

// The most of a run's record held in memory before it goes to a scratch file,
// and without one.
const std::size_t kRecordHeld = 1 << 20;
const std::size_t kRecordHeldWithoutScratch = 4 << 20;

std::string utcNow() {
    std::time_t now = std::time(nullptr);
    char text[32] = {};
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    return text;
}

}  // namespace

std::unique_ptr<RunRecord> RunRecord::open(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           std::ostream& err) {
    std::unique_ptr<platform::AppendFile> file = platform::openAppendFile(path);
    if (!file) {
        return nullptr;
    }
    auto record = std::make_unique<RunRecord>(std::move(file), err);
    std::string line = utcNow() + " started:";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
        line += quote ? " \"" + argument + "\"" : " " + argument;
    }
    // Kept apart, so that it heads the record whatever is left out after it.
    record->first_ = line + "\r\n";
    return record;
}

bool RunRecord::finish(int exitCode, const std::string& how, bool wait) {
    std::unique_lock<std::mutex> hold(mutex_, std::defer_lock);
    if (wait) {
        hold.lock();
    } else if (!hold.try_lock()) {
        return false;
    }
    if (finished_) {
        return false;
    }
    finished_ = true;
    last_ = utcNow() + " " + how + " " + std::to_string(exitCode) + "\r\n";
    // Held only while the record is copied: nothing this run waits for
    // (its error stream, its setup) ever keeps other runs waiting, and a
    // stranger holding it keeps this run waiting a bounded time only.
    if (!file_->lock(wait ? kLockWaitMilliseconds : 0)) {
        return false;
    }
    bool written = appendAll();
    file_->unlock();
    return written;
}

RunRecord::int_type RunRecord::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize RunRecord::xsputn(const char* bytes, std::streamsize count) {
    keep(bytes, static_cast<std::size_t>(count));
    // The error stream's own failures show through, so that a relay that did
    // not reach it keeps the log.
    return err_.rdbuf()->sputn(bytes, count);
}

int RunRecord::sync() {
    return err_.rdbuf()->pubsync();
}

void RunRecord::keep(const char* bytes, std::size_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!finished_) {
        keepLocked(bytes, count);
    }
}

void RunRecord::keepLocked(const char* bytes, std::size_t count) {
    if (partLeftOut_) {
        linesLeftOut_ += static_cast<std::uint64_t>(std::count(bytes, bytes + count, '\n'));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') {
            held_ += '\r';
        }
        held_ += bytes[i];
    }
    if (held_.size() <= (scratchFailed_ ? kRecordHeldWithoutScratch : kRecordHeld)) {
        return;
    }
    if (scratchFailed_) {
        // Memory is full too: the lines from here to the end are left out, and
        // the record says so in their place.
        std::size_t kept = held_.rfind('\n', kRecordHeldWithoutScratch - 1);
        kept = kept == std::string::npos ? 0 : kept + 1;
        linesLeftOut_ =
            static_cast<std::uint64_t>(std::count(held_.begin() + kept, held_.end(), '\n'));
        held_.resize(kept);
        partLeftOut_ = true;
        return;
    }
    // Whole lines move on; a line longer than what memory holds goes in
    // pieces.
    std::size_t lines = held_.rfind('\n');
    lines = lines == std::string::npos ? held_.size() : lines + 1;
    if (!spilled_) {
        spilled_ = openScratch_();
    }
    if (spilled_ && spilled_->write(held_.substr(0, lines))) {
        spilledBytes_ += lines;
        held_.erase(0, lines);
        return;
    }
    // No scratch file, or one that is full: after what it surely holds, the
    // record waits in memory, so that no line is out of place or there twice.
    scratchFailed_ = true;
    held_.reserve(kRecordHeldWithoutScratch + kRecordHeld);
}

bool RunRecord::appendAll() {
    bool written = true;
    std::string rest = first_;
    if (spilledBytes_ > 0) {
        written = file_->append(first_);
        rest.clear();
        std::vector<char> piece(kRecordHeld);
        std::uint64_t left = spilledBytes_;
        written = spilled_->rewind() && written;
        while (written && left > 0) {
            std::size_t size =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
            long got = spilled_->read(piece.data(), size);
            written =
                got > 0 && file_->append(std::string(piece.data(), static_cast<std::size_t>(got)));
            left -= written ? static_cast<std::uint64_t>(got) : 0;
        }
    }
    rest += held_;
    held_.clear();
    if (partLeftOut_) {
        rest += "(" + std::to_string(linesLeftOut_) +
                " lines left out here: they went to standard error only)\r\n";
    }
    rest += last_;
    written = file_->append(rest) && written;
    return written && !partLeftOut_ && file_->stillAtPath();
}
