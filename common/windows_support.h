// What both programs' Windows layers need alike: the text and path forms of
// wide_text.h, and the one owning type for handles. Included only by the
// files that implement a platform header for Windows.
#pragma once

#include <windows.h>

#include <utility>

#include "wide_text.h"

namespace windows_support {

// Owns one handle: a kernel handle, or another kind with the call that
// closes it (a change notification). An invalid or null one is no handle.
class ScopedHandle {
  public:
    using Closer = BOOL(WINAPI*)(HANDLE);

    explicit ScopedHandle(HANDLE handle = nullptr, Closer closer = CloseHandle)
        : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle), closer_(closer) {}
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.handle_), closer_(other.closer_) {
        other.handle_ = nullptr;
    }
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        std::swap(closer_, other.closer_);
        return *this;
    }
    ~ScopedHandle() { close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Gives the handle up: the caller closes it.
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    // Closes the handle now: false when the system says the close failed
    // (buffered bytes that could not be written, say).
    bool close() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return !handle || closer_(handle);
    }

  private:
    HANDLE handle_;
    Closer closer_;
};

}  // namespace windows_support
