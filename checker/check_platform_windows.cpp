#include "check_platform.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <set>

#include "sha256.h"
#include "windows_support.h"

namespace check {
namespace {

using windows_support::ScopedHandle;
using windows_support::toUtf8;

// UTF-8 to UTF-16. Bytes that are no such text give a name no file has.
std::wstring toWide(const std::string& text) {
    std::wstring wide;
    return windows_support::toWide(text, wide) ? wide : std::wstring(L"\xFFFD");
}

// The path made absolute as the system resolves it; empty for no path.
std::wstring fullPath(const std::wstring& path) {
    if (path.empty()) {
        return path;
    }
    DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return std::wstring();
    }
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
    full.resize(length < full.size() ? length : 0);
    return full;
}

// The \\?\ form, which every wide file call takes at any length; the path is
// resolved first, as that form skips the system's own resolving.
std::wstring longPath(const std::wstring& path) {
    return windows_support::longPathOfFull(fullPath(path));
}

std::wstring longPath(const std::string& path) {
    return longPath(toWide(path));
}

// Owns one open registry key.
class ScopedKey {
  public:
    explicit ScopedKey(HKEY key = nullptr) : key_(key) {}
    ScopedKey(ScopedKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    ScopedKey& operator=(ScopedKey&& other) noexcept {
        std::swap(key_, other.key_);
        return *this;
    }
    ~ScopedKey() {
        if (key_) {
            RegCloseKey(key_);
        }
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

  private:
    HKEY key_;
};

// One line of the system's text for an error, with its number.
std::string systemReason(DWORD error) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::unique_ptr<wchar_t, HLOCAL (*)(HLOCAL)> owned(text, LocalFree);
    std::wstring reason(text ? text : L"", length);
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                               reason.back() == L' ' || reason.back() == L'.')) {
        reason.pop_back();
    }
    std::string number = " (error " + std::to_string(error) + ")";
    return reason.empty() ? "error " + std::to_string(error) : toUtf8(reason) + number;
}

// ---- Windows that appear during a run ----

BOOL CALLBACK collectVisibleWindow(HWND window, LPARAM found) {
    if (IsWindowVisible(window)) {
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    }
    return TRUE;
}

std::vector<HWND> visibleTopLevelWindows() {
    std::vector<HWND> found;
    EnumWindows(collectVisibleWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string windowTitle(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring title(length > 0 ? length + 1 : 1, L'\0');
    length = GetWindowTextW(window, &title[0], static_cast<int>(title.size()));
    title.resize(length > 0 ? length : 0);
    return title.empty() ? "(untitled)" : toUtf8(title);
}

// Notes each visible top-level window that was not there when it began, once,
// and asks it to close: a dialog nobody sees would hold a run to its limit.
class WindowWatch {
  public:
    WindowWatch() {
        for (HWND window : visibleTopLevelWindows()) {
            known_.insert(window);
        }
    }

    void look(std::vector<std::string>& titles) {
        for (HWND window : visibleTopLevelWindows()) {
            if (known_.insert(window).second) {
                titles.push_back(windowTitle(window));
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
        }
    }

  private:
    // A handle may be reused by a later window; within one run that is rare
    // enough that such a window going unnoticed is accepted.
    std::set<HWND> known_;
};

// ---- Running a program ----

// The read end of a pipe that the run's processes write to. Read with
// overlapped calls, so that a read can be given up: a process outside the
// run's job (a Wine service started by it, say) may hold the write end open
// forever, and the run must end anyway.
class OutputPipe {
  public:
    // False when no pipe could be made; `error` then says why.
    bool open(ScopedHandle& writeEnd, std::string& error) {
        for (int attempt = 0; attempt < 8 && !read_; ++attempt) {
            LARGE_INTEGER counter = {};
            QueryPerformanceCounter(&counter);
            name_ = L"\\\\.\\pipe\\qix-check-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(counter.QuadPart) + L"-" + std::to_wstring(attempt);
            read_ = ScopedHandle(CreateNamedPipeW(
                name_.c_str(),
                PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
                64 * 1024, 0, nullptr));
        }
        if (!read_) {
            error = "cannot make a pipe for the output: " + systemReason(GetLastError());
            return false;
        }
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        writeEnd = ScopedHandle(CreateFileW(name_.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
                                            &inherited, OPEN_EXISTING, 0, nullptr));
        event_ = ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!writeEnd || !event_) {
            error = "cannot open the output pipe: " + systemReason(GetLastError());
            return false;
        }
        return true;
    }

    // Signalled when the pending read has finished.
    HANDLE event() const { return event_.get(); }
    bool ended() const { return ended_; }

    // Starts a read unless one is pending, taking in whatever finished at
    // once. Ends the pipe at end of file or on any failure.
    void startRead(std::string& output) {
        while (!pending_ && !ended_) {
            ResetEvent(event_.get());
            overlapped_ = OVERLAPPED();
            overlapped_.hEvent = event_.get();
            DWORD count = 0;
            if (ReadFile(read_.get(), buffer_, sizeof buffer_, &count, &overlapped_)) {
                output.append(buffer_, count);
            } else if (GetLastError() == ERROR_IO_PENDING) {
                pending_ = true;
            } else {
                ended_ = true;
            }
        }
    }

    // Takes in the pending read when it has finished; true when it had.
    bool finishRead(std::string& output) {
        if (!pending_) {
            return false;
        }
        DWORD count = 0;
        if (GetOverlappedResult(read_.get(), &overlapped_, &count, FALSE)) {
            output.append(buffer_, count);
        } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
            return false;
        } else {
            ended_ = true;
        }
        pending_ = false;
        return true;
    }

    // The read may still be pending: it must be over before the buffer goes.
    ~OutputPipe() {
        if (pending_) {
            CancelIoEx(read_.get(), &overlapped_);
            DWORD count = 0;
            GetOverlappedResult(read_.get(), &overlapped_, &count, TRUE);
        }
    }

  private:
    std::wstring name_;
    ScopedHandle read_;
    ScopedHandle event_;
    OVERLAPPED overlapped_ = {};
    bool pending_ = false;
    bool ended_ = false;
    char buffer_[16 * 1024];
};

// A job that ends every process in it when its handle closes.
ScopedHandle newJob() {
    ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
    }
    return job;
}

const DWORD kWindowLookMilliseconds = 100;
// How long output is still awaited once every process of the run is gone: a
// process outside the job may hold the pipe, and then no end of file comes.
const DWORD kDrainMilliseconds = 500;
// How long an ended process may take to go; the system ends it at once.
const DWORD kEndMilliseconds = 10000;

// Reads output and watches windows until `process` ends or `deadline` (on
// GetTickCount64's clock) passes; true when the process ended.
bool watchRun(HANDLE process, std::uint64_t deadline, OutputPipe& pipe, WindowWatch& windows,
              RunResult& result) {
    std::uint64_t nextLook = GetTickCount64() + kWindowLookMilliseconds;
    for (;;) {
        pipe.startRead(result.output);
        std::uint64_t now = GetTickCount64();
        if (now >= nextLook) {
            windows.look(result.windows);
            nextLook = now + kWindowLookMilliseconds;
        }
        if (now >= deadline) {
            return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        }
        DWORD wait = static_cast<DWORD>(std::min(deadline, nextLook) - now);
        HANDLE waited[2] = {process, pipe.event()};
        DWORD count = pipe.ended() ? 1 : 2;
        DWORD woke = WaitForMultipleObjects(count, waited, FALSE, wait);
        if (woke == WAIT_OBJECT_0) {
            return true;
        }
        if (woke == WAIT_OBJECT_0 + 1) {
            pipe.finishRead(result.output);
        } else if (woke == WAIT_FAILED) {
            Sleep(wait);
        }
    }
}

// Takes in what is left in the pipe until its end, or until it stays quiet
// for kDrainMilliseconds.
void drain(OutputPipe& pipe, std::string& output) {
    for (;;) {
        pipe.startRead(output);
        if (pipe.ended() ||
            WaitForSingleObject(pipe.event(), kDrainMilliseconds) != WAIT_OBJECT_0) {
            return;
        }
        pipe.finishRead(output);
    }
}

// ---- Files ----

bool isFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isDotName(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') ||
           (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Without separators at the end, but a drive's root keeps its own: \\?\C:
// without it names the volume, not its root folder.
std::wstring withoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && isSeparator(path.back()) && path[path.size() - 2] != L':') {
        path.pop_back();
    }
    return path;
}

std::wstring joined(const std::wstring& folder, const wchar_t* name) {
    return folder.empty() || isSeparator(folder.back()) ? folder + name : folder + L"\\" + name;
}

// `call` for each entry of the folder `longFolder` (in the \\?\ form), "."
// and ".." left out.
template <typename Call>
void forEachEntry(const std::wstring& longFolder, Call call) {
    WIN32_FIND_DATAW found;
    ScopedHandle find(FindFirstFileExW(joined(longFolder, L"*").c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH),
                      FindClose);
    if (!find) {
        return;
    }
    do {
        if (!isDotName(found.cFileName)) {
            call(found);
        }
    } while (FindNextFileW(find.get(), &found));
}

void listInto(const std::wstring& longFolder, const std::string& prefix, int depth,
              std::map<std::string, TreeEntry>& tree) {
    forEachEntry(longFolder, [&](const WIN32_FIND_DATAW& found) {
        std::string relative = prefix + toUtf8(found.cFileName, wcslen(found.cFileName));
        TreeEntry& entry = tree[relative];
        entry.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size =
            entry.folder ? 0 : (std::uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entry.written = entry.folder ? 0
                                     : (std::uint64_t(found.ftLastWriteTime.dwHighDateTime) << 32) |
                                           found.ftLastWriteTime.dwLowDateTime;
        if (entry.folder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            depth != 1) {
            listInto(joined(longFolder, found.cFileName), relative + "\\", depth - 1, tree);
        }
    });
}

// Where the system says the file or folder at `longPathText` is, a link
// itself rather than its target where the system knows links; empty when it
// cannot say.
std::wstring finalPathOf(const std::wstring& longPathText) {
    ScopedHandle file(
        CreateFileW(longPathText.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return std::wstring();
    }
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    DWORD length = GetFinalPathNameByHandleW(file.get(), nullptr, 0, flags);
    std::wstring final(length, L'\0');
    length = length ? GetFinalPathNameByHandleW(file.get(), &final[0], length, flags) : 0;
    final.resize(length < final.size() ? length : 0);
    return final;
}

bool sameText(const std::wstring& first, const std::wstring& second) {
    return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

// Removes the file or folder at `finalPath` (spelt as finalPathOf spells it)
// with all in it; a link is removed, never what it points to. Under Wine a
// Unix symbolic link to a file shows no reparse point, and deleting it
// deletes its target: such a link, told by a final path that is its
// target's, is left alone. (Wine cannot say a final path past MAX_PATH;
// there the file is deleted.)
void removeLong(const std::wstring& finalPath) {
    DWORD attributes = GetFileAttributesW(finalPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool reparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!folder && !reparsePoint) {
        std::wstring final = finalPathOf(finalPath);
        if (!final.empty() && !sameText(final, finalPath)) {
            return;
        }
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(finalPath.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!folder) {
        DeleteFileW(finalPath.c_str());
        return;
    }
    if (!reparsePoint) {
        forEachEntry(finalPath, [&](const WIN32_FIND_DATAW& found) {
            removeLong(joined(finalPath, found.cFileName));
        });
    }
    RemoveDirectoryW(finalPath.c_str());
}

// ---- Registry ----

// The root and the rest of a key's path; false for a root it does not know.
bool splitKey(const std::string& key, HKEY& root, std::wstring& rest) {
    static const struct {
        const wchar_t* name;
        HKEY root;
    } kRoots[] = {
        {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKCU", HKEY_CURRENT_USER},  {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKCR", HKEY_CLASSES_ROOT},  {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    };
    std::wstring wide = toWide(key);
    std::size_t separator = wide.find(L'\\');
    std::wstring first = wide.substr(0, separator);
    rest = separator == std::wstring::npos ? std::wstring() : wide.substr(separator + 1);
    for (const auto& known : kRoots) {
        if (CompareStringOrdinal(first.c_str(), -1, known.name, -1, TRUE) == CSTR_EQUAL) {
            root = known.root;
            return true;
        }
    }
    return false;
}

ScopedKey openKey(const std::string& key, int view) {
    HKEY root = nullptr;
    std::wstring rest;
    HKEY opened = nullptr;
    REGSAM access = KEY_READ | (view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    if (!splitKey(key, root, rest) ||
        RegOpenKeyExW(root, rest.c_str(), 0, access, &opened) != ERROR_SUCCESS) {
        return ScopedKey();
    }
    return ScopedKey(opened);
}

std::vector<std::wstring> subkeysOf(HKEY key) {
    std::vector<std::wstring> names;
    DWORD longest = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    std::wstring name;
    for (DWORD index = 0;;) {
        name.assign(std::max<DWORD>(longest, 255) + 1, L'\0');
        DWORD length = static_cast<DWORD>(name.size());
        LONG status =
            RegEnumKeyExW(key, index, &name[0], &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            longest = static_cast<DWORD>(name.size()) * 2;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return names;
        }
        names.push_back(name.substr(0, length));
        ++index;
    }
}

std::string hexOf(const unsigned char* data, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0xF];
    }
    return hex;
}

std::string valueText(DWORD type, const std::vector<unsigned char>& data, DWORD size) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        // Stored strings usually carry their NUL, and some carry more.
        while (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        }
        return toUtf8(text);
    }
    if (type == REG_DWORD && size == 4) {
        std::uint32_t number = 0;
        std::copy(data.begin(), data.begin() + 4, reinterpret_cast<unsigned char*>(&number));
        return std::to_string(number);
    }
    if (type == REG_QWORD && size == 8) {
        std::uint64_t number = 0;
        std::copy(data.begin(), data.begin() + 8, reinterpret_cast<unsigned char*>(&number));
        return std::to_string(number);
    }
    return hexOf(data.data(), size);
}

std::vector<std::string> valuesOf(HKEY key) {
    std::vector<std::string> lines;
    DWORD longestName = 0;
    DWORD longestData = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &longestName, &longestData, nullptr, nullptr);
    std::wstring name;
    std::vector<unsigned char> data;
    for (DWORD index = 0;;) {
        name.assign(longestName + 1, L'\0');
        data.assign(longestData + sizeof(wchar_t), 0);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        LONG status =
            RegEnumValueW(key, index, &name[0], &nameLength, nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            // The value grew since the key was asked: ask again with room.
            longestName = std::max<DWORD>(longestName * 2, 16384);
            longestData = std::max<DWORD>(longestData * 2, size);
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        name.resize(nameLength);
        lines.push_back((name.empty() ? "@" : toUtf8(name)) + "=" + valueText(type, data, size));
        ++index;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void readKeyInto(HKEY key, const std::string& path, int view,
                 std::map<std::string, std::vector<std::string>>& tree) {
    tree[path] = valuesOf(key);
    REGSAM access = KEY_READ | (view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    for (const std::wstring& name : subkeysOf(key)) {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, name.c_str(), 0, access, &opened) == ERROR_SUCCESS) {
            ScopedKey subkey(opened);
            readKeyInto(subkey.get(), path + "\\" + toUtf8(name), view, tree);
        }
    }
}

// How many processes of the job still run; 0 when the system cannot say.
DWORD activeProcesses(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, nullptr)) {
        return 0;
    }
    return accounting.ActiveProcesses;
}

// Until the job has no process left or `deadline` passes, taking in output
// and windows as watchRun does: true when none is left.
bool watchJob(HANDLE job, std::uint64_t deadline, OutputPipe& pipe, WindowWatch& windows,
              RunResult& result) {
    while (activeProcesses(job) > 0) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        pipe.startRead(result.output);
        if (WaitForSingleObject(pipe.event(), kWindowLookMilliseconds) == WAIT_OBJECT_0) {
            pipe.finishRead(result.output);
        }
        windows.look(result.windows);
    }
    return true;
}

}  // namespace

RunResult runProgram(const std::string& commandLine, unsigned timeoutMilliseconds,
                     bool untilAllEnd) {
    RunResult result;
    WindowWatch windows;
    OutputPipe pipe;
    ScopedHandle writeEnd;
    if (!pipe.open(writeEnd, result.error)) {
        return result;
    }
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    ScopedHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherited, OPEN_EXISTING, 0, nullptr));
    ScopedHandle job = newJob();
    if (!input || !job) {
        result.error = "cannot prepare the run: " + systemReason(GetLastError());
        return result;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    std::wstring line = toWide(commandLine);
    line.push_back(L'\0');
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &started)) {
        result.error = "cannot start " + commandLine + ": " + systemReason(GetLastError());
        return result;
    }
    ScopedHandle process(started.hProcess);
    ScopedHandle thread(started.hThread);
    // Only the run's processes may hold the write end, or no end of file comes.
    writeEnd.close();
    input.close();
    // Fails when the checker sits in a job that allows no other (before
    // Windows 8); the run then goes on, its main process ended by hand.
    bool inJob = AssignProcessToJobObject(job.get(), process.get()) != 0;
    result.started = true;
    ResumeThread(thread.get());
    thread.close();

    std::uint64_t deadline = GetTickCount64() + timeoutMilliseconds;
    bool ended = watchRun(process.get(), deadline, pipe, windows, result);
    if (ended && untilAllEnd && inJob) {
        ended = watchJob(job.get(), deadline, pipe, windows, result);
    }
    if (!ended) {
        result.timedOut = true;
        if (!inJob || !TerminateJobObject(job.get(), 1)) {
            TerminateProcess(process.get(), 1);
        }
        WaitForSingleObject(process.get(), kEndMilliseconds);
    } else {
        windows.look(result.windows);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    result.exitCode = exitCode;
    if (inJob && !result.timedOut && !untilAllEnd) {
        // What the run started and left behind lives on, held by the caller.
        HANDLE rest = job.release();
        result.rest = std::shared_ptr<void>(rest, [](void* handle) {
            TerminateJobObject(handle, 1);
            CloseHandle(handle);
        });
    } else if (inJob) {
        TerminateJobObject(job.get(), 1);
    }
    job.close();
    drain(pipe, result.output);
    return result;
}

std::map<std::string, TreeEntry> listTree(const std::string& root, int depth) {
    std::map<std::string, TreeEntry> tree;
    std::wstring folder = withoutTrailingSeparators(longPath(root));
    if (isFolder(GetFileAttributesW(folder.c_str()))) {
        listInto(folder, "", depth, tree);
    }
    return tree;
}

std::string fileSha256(const std::string& path) {
    ScopedHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return std::string();
    }
    Sha256 hash;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count,
                      nullptr)) {
            return std::string();
        }
        if (count == 0) {
            return hash.hexDigest();
        }
        hash.update(buffer.data(), count);
    }
}

std::map<std::string, std::vector<std::string>> readRegistryTree(const std::string& key, int view) {
    std::map<std::string, std::vector<std::string>> tree;
    ScopedKey opened = openKey(key, view);
    if (opened) {
        readKeyInto(opened.get(), key, view, tree);
    }
    return tree;
}

bool removeRegistryKey(const std::string& key, int view) {
    HKEY root = nullptr;
    std::wstring rest;
    if (!splitKey(key, root, rest) || rest.empty()) {
        return false;
    }
    REGSAM access = KEY_ALL_ACCESS | (view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExW(root, rest.c_str(), 0, access, &opened);
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    ScopedKey held(opened);
    if (RegDeleteTreeW(held.get(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    held = ScopedKey();
    return RegDeleteKeyExW(root, rest.c_str(), view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY, 0) ==
           ERROR_SUCCESS;
}

std::vector<std::string> registrySubkeys(const std::string& key, int view) {
    std::vector<std::string> names;
    ScopedKey opened = openKey(key, view);
    if (opened) {
        for (const std::wstring& name : subkeysOf(opened.get())) {
            names.push_back(toUtf8(name));
        }
    }
    return names;
}

std::string knownFolder(const std::string& name) {
    if (name == "Temp") {
        wchar_t temp[MAX_PATH + 2];
        DWORD length = GetTempPathW(MAX_PATH + 2, temp);
        if (length == 0 || length > MAX_PATH + 1) {
            return std::string();
        }
        return toUtf8(withoutTrailingSeparators(std::wstring(temp, length)));
    }
    static const struct {
        const char* name;
        const KNOWNFOLDERID* id;
    } kFolders[] = {
        {"Desktop", &FOLDERID_Desktop},
        {"CommonDesktop", &FOLDERID_PublicDesktop},
        {"Programs", &FOLDERID_Programs},
        {"CommonPrograms", &FOLDERID_CommonPrograms},
        {"ProgramFiles", &FOLDERID_ProgramFiles},
        {"ProgramFilesX86", &FOLDERID_ProgramFilesX86},
        {"CommonFiles", &FOLDERID_ProgramFilesCommon},
        {"AppData", &FOLDERID_RoamingAppData},
        {"LocalAppData", &FOLDERID_LocalAppData},
        {"CommonAppData", &FOLDERID_ProgramData},
        {"Windows", &FOLDERID_Windows},
        {"System", &FOLDERID_System},
        {"Profile", &FOLDERID_Profile},
        {"Documents", &FOLDERID_Documents},
    };
    for (const auto& folder : kFolders) {
        if (name == folder.name) {
            wchar_t* path = nullptr;
            HRESULT status = SHGetKnownFolderPath(*folder.id, KF_FLAG_DONT_VERIFY, nullptr, &path);
            std::unique_ptr<wchar_t, void (*)(void*)> owned(path, CoTaskMemFree);
            return SUCCEEDED(status) && path ? toUtf8(path, wcslen(path)) : std::string();
        }
    }
    return std::string();
}

bool makeFolders(const std::string& path) {
    std::wstring full = withoutTrailingSeparators(longPath(path));
    if (full.empty()) {
        return false;
    }
    // From the deepest folder that is there down to the path itself.
    std::vector<std::wstring> missing;
    for (std::wstring folder = full; !isFolder(GetFileAttributesW(folder.c_str()));) {
        missing.push_back(folder);
        std::size_t separator = folder.find_last_of(L'\\');
        if (separator == std::wstring::npos || separator < 4 || isSeparator(folder.back())) {
            return false;
        }
        // A drive's root keeps its separator.
        folder.resize(folder[separator - 1] == L':' ? separator + 1 : separator);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        CreateDirectoryW(folder->c_str(), nullptr);
    }
    return isFolder(GetFileAttributesW(full.c_str()));
}

bool removeTree(const std::string& path) {
    std::wstring full = withoutTrailingSeparators(longPath(path));
    if (full.empty()) {
        return false;
    }
    // Spelt as finalPathOf spells it (long names, the system's case), but
    // through the parent: the root's own final path is its target's when it
    // is a link.
    WIN32_FIND_DATAW found;
    ScopedHandle find(FindFirstFileW(full.c_str(), &found), FindClose);
    std::size_t separator = full.find_last_of(L'\\');
    std::wstring parent =
        separator == std::wstring::npos ? std::wstring() : full.substr(0, separator);
    if (!parent.empty() && parent.back() == L':') {
        parent += L'\\';
    }
    std::wstring parentFinal = find && !parent.empty() ? finalPathOf(parent) : std::wstring();
    removeLong(parentFinal.empty() ? full : joined(parentFinal, found.cFileName));
    return GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool copyFile(const std::string& from, const std::string& to) {
    return CopyFileW(longPath(from).c_str(), longPath(to).c_str(), FALSE) != 0;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    ScopedHandle file(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    for (std::size_t written = 0; written < bytes.size();) {
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1 << 20));
        DWORD count = 0;
        if (!WriteFile(file.get(), bytes.data() + written, piece, &count, nullptr) || count == 0) {
            return false;
        }
        written += count;
    }
    return file.close();
}

bool readFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    ScopedHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return false;
    }
    char buffer[64 * 1024];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        bytes.append(buffer, count);
    }
}

bool exists(const std::string& path) {
    std::wstring full = longPath(path);
    return !full.empty() && GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> arguments() {
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::unique_ptr<wchar_t*, HLOCAL (*)(HLOCAL)> owned(list, LocalFree);
    std::vector<std::string> result;
    for (int i = 0; list && i < count; ++i) {
        result.push_back(toUtf8(list[i], wcslen(list[i])));
    }
    return result;
}

void say(const std::string& text) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode)) {
        std::wstring wide = toWide(text);
        for (std::size_t written = 0; written < wide.size();) {
            DWORD piece = static_cast<DWORD>(std::min<std::size_t>(wide.size() - written, 8192));
            DWORD count = 0;
            if (!WriteConsoleW(output, wide.data() + written, piece, &count, nullptr) ||
                count == 0) {
                return;
            }
            written += count;
        }
        return;
    }
    for (std::size_t written = 0; written < text.size();) {
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(text.size() - written, 1 << 20));
        DWORD count = 0;
        if (!WriteFile(output, text.data() + written, piece, &count, nullptr) || count == 0) {
            return;
        }
        written += count;
    }
}

std::uint32_t currentProcessId() {
    return GetCurrentProcessId();
}

std::int64_t monotonicMilliseconds() {
    return static_cast<std::int64_t>(GetTickCount64());
}

void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

}  // namespace check
