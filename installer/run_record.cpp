#include "run_record.h"

#include <ctime>

namespace {

// The most of a run's record held in memory before it goes to a scratch file.
const std::size_t kRecordHeld = 1 << 20;

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
    line += '\n';
    record->keep(line.data(), line.size());
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
    std::string line = utcNow() + " " + how + " " + std::to_string(exitCode) + "\n";
    keepLocked(line.data(), line.size());
    // Held only while the record is copied: nothing this run waits for
    // (its error stream, its setup) ever keeps other runs waiting.
    if (wait) {
        file_->lock();
    } else if (!file_->tryLock()) {
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
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') {
            held_ += '\r';
        }
        held_ += bytes[i];
    }
    if (held_.size() <= kRecordHeld) {
        return;
    }
    if (!spilled_) {
        spilled_ = openScratch_();
    }
    if (spilled_ && spilled_->write(held_)) {
        held_.clear();
        return;
    }
    // No room for it anywhere but the record itself: appended now, so its
    // lines may stand apart, but none is lost.
    file_->lock();
    written_ = file_->append(held_) && written_;
    file_->unlock();
    held_.clear();
}

bool RunRecord::appendAll() {
    if (spilled_) {
        std::vector<char> piece(kRecordHeld);
        written_ = spilled_->rewind() && written_;
        long got;
        while ((got = spilled_->read(piece.data(), piece.size())) > 0) {
            written_ =
                file_->append(std::string(piece.data(), static_cast<std::size_t>(got))) && written_;
        }
        written_ = got == 0 && written_;
    }
    written_ = file_->append(held_) && written_;
    held_.clear();
    return written_;
}
