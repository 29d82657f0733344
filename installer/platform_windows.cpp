#include "platform.h"

#include <shlobj.h>
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <functional>
#include <vector>

#include <wx/filename.h>
#include <wx/log.h>

#include "program_image.h"
#include "windows_support.h"

namespace platform {
namespace {

using windows_support::longPathOfFull;
using windows_support::ScopedHandle;
using windows_support::toUtf8;
using windows_support::toWide;

// The path made absolute and resolved as the system resolves it ('/' and '\'
// alike, "." and ".." on the text). Empty when it is no text.
std::wstring fullPath(const std::string& path) {
    std::wstring wide;
    if (path.empty() || !toWide(path, wide)) {
        return std::wstring();
    }
    DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return std::wstring();
    }
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
    full.resize(length);
    return full;
}

std::wstring longPath(const std::string& path) {
    return longPathOfFull(fullPath(path));
}

// Where the system says an opened file or folder is; empty when it cannot say.
std::wstring finalPathOf(HANDLE handle) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    DWORD length = GetFinalPathNameByHandleW(handle, nullptr, 0, flags);
    if (length == 0) {
        return std::wstring();
    }
    std::wstring path(length, L'\0');
    length = GetFinalPathNameByHandleW(handle, &path[0], length, flags);
    path.resize(length < path.size() ? length : 0);
    return path;
}

// The path with its short (8.3) names spelled out where the system can.
std::wstring withLongNames(const std::wstring& path) {
    DWORD length = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (length == 0) {
        return path;
    }
    std::wstring named(length, L'\0');
    length = GetLongPathNameW(path.c_str(), &named[0], length);
    named.resize(length < named.size() ? length : 0);
    return named.empty() ? path : named;
}

bool sameText(const std::wstring& first, const std::wstring& second) {
    return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

bool hasReparsePoint(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information = {};
    return !GetFileInformationByHandle(file, &information) ||
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether a handle opened at `path` (in the long form) is a link. Under Wine
// a Unix symbolic link shows no reparse point, but its final path is its
// target's. `anywhere` looks at every folder on the way too; otherwise only
// the last component counts, as the folder's own final path is compared.
// When the system cannot say where the file is, only a reparse point counts,
// and `anywhere` refuses.
bool isLink(HANDLE file, const std::wstring& path, bool anywhere) {
    if (hasReparsePoint(file)) {
        return true;
    }
    std::wstring final = finalPathOf(file);
    if (final.empty()) {
        return anywhere;
    }
    std::wstring named = withLongNames(path);
    if (!anywhere) {
        std::wstring::size_type last = named.find_last_of(L'\\');
        if (last == std::wstring::npos) {
            return true;
        }
        ScopedHandle folder(CreateFileW(named.substr(0, last + 1).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
        std::wstring folderFinal = folder ? finalPathOf(folder.get()) : std::wstring();
        if (folderFinal.empty()) {
            return false;
        }
        if (folderFinal.back() != L'\\') {
            folderFinal += L'\\';
        }
        named = folderFinal + named.substr(last + 1);
    }
    return !sameText(final, named);
}

}  // namespace

std::vector<std::string> commandLineArguments(int, char**) {
    // argv has been through the process's code page, where best fit turns
    // U+FF3C into '\\' and U+FF02 into '"' before any check could see them.
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        return arguments;
    }
    for (int i = 0; i < count; ++i) {
        arguments.push_back(toUtf8(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

std::string programFilesFolder() {
    wchar_t buffer[MAX_PATH] = {};
    // Create flag FALSE: asking must never create the folder.
    SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE);
    return toUtf8(buffer);
}

std::uint32_t currentThreadId() {
    return GetCurrentThreadId();
}

std::uint32_t currentProcessId() {
    return GetCurrentProcessId();
}

void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

// The Windows run-time's clock() counts wall-clock milliseconds since start-up.
long millisecondsSinceStart() {
    return static_cast<long>(std::clock());
}

std::int64_t monotonicMilliseconds() {
    return static_cast<std::int64_t>(GetTickCount64());
}

namespace {

FileResult fileResult(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return FileResult::kMissing;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return FileResult::kInUse;
        default:
            return FileResult::kFailed;
    }
}

// Writes all of `bytes` where the handle stands; false when not all got there.
bool writeWhole(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return bytes.size() < (1u << 30) &&
           WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// As InputFile::read: the count read, 0 at the end, -1 when the read failed.
long readSome(HANDLE file, char* buffer, std::size_t size) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    return ReadFile(file, buffer, want, &got, nullptr) ? static_cast<long>(got) : -1;
}

class HandleInput : public InputFile {
  public:
    explicit HandleInput(ScopedHandle file) : file_(std::move(file)) {}

    long read(char* buffer, std::size_t size) override {
        return readSome(file_.get(), buffer, size);
    }

  private:
    ScopedHandle file_;
};

}  // namespace

bool pathIsPresent(const std::string& path) {
    std::wstring wide = longPath(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Where the first component below the root of a full path starts: after
// "C:\", "\\server\share\" or "\\?\C:\"; npos when there is none.
std::wstring::size_type belowRoot(const std::wstring& full) {
    std::wstring::size_type at = full.compare(0, 2, L"\\\\") == 0 ? 2 : 0;
    for (int part = at == 0 ? 1 : 2; part > 0 && at != std::wstring::npos; --part) {
        at = full.find(L'\\', at);
        at = at == std::wstring::npos ? at : at + 1;
    }
    return at;
}

}  // namespace

std::vector<std::string> directoryChain(const std::string& path) {
    // Resolved first: created component by component as typed, "a\..\b"
    // would leave an empty "a" beside "b".
    std::wstring full = fullPath(path);
    std::wstring::size_type start = full.empty() ? std::wstring::npos : belowRoot(full);
    if (start == std::wstring::npos) {
        return {full.empty() ? path : toUtf8(full)};
    }
    std::vector<std::string> chain{toUtf8(full.substr(0, start))};
    for (std::wstring::size_type at = start; at < full.size();) {
        std::wstring::size_type end = std::min(full.find(L'\\', at), full.size());
        if (end > at) {
            chain.push_back(toUtf8(full.substr(0, end)));
        }
        at = end + 1;
    }
    return chain;
}

bool isDirectory(const std::string& path) {
    std::wstring wide = longPath(path);
    DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool makeOneDirectory(const std::string& path) {
    std::wstring full = fullPath(path);
    // The program reports failures itself, in one message of its own.
    wxLogNull quiet;
    return !full.empty() && wxFileName::Mkdir(wxString(full.c_str()), 511);
}

void removeEmptyDirectory(const std::string& path) {
    std::wstring wide = longPath(path);
    if (!wide.empty()) {
        RemoveDirectoryW(wide.c_str());
    }
}

bool hasEnvironmentVariable(const std::string& name) {
    std::wstring wide;
    if (name.empty() || !toWide(name, wide)) {
        return false;
    }
    // An empty value gives 0 too, without the error a missing name sets.
    SetLastError(ERROR_SUCCESS);
    return GetEnvironmentVariableW(wide.c_str(), nullptr, 0) > 0 ||
           GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

AnsiReading ansiReadingOf(const std::string& character) {
    AnsiReading reading{character, false};
    // The code page of programs without Unicode, not this process's own.
    UINT codePage = 0;
    std::wstring wide;
    if (!GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        reinterpret_cast<LPWSTR>(&codePage), sizeof(codePage) / sizeof(WCHAR)) ||
        codePage == CP_UTF8 || !toWide(character, wide) || wide.empty()) {
        return reading;
    }
    char converted[8] = {};
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                   converted, sizeof(converted), nullptr, &usedDefault);
    wchar_t back[4] = {};
    int backSize = size > 0 ? MultiByteToWideChar(codePage, 0, converted, size, back, 4) : 0;
    reading.lost = size <= 0 || usedDefault;
    reading.text =
        reading.lost ? "?" : toUtf8(std::wstring(back, static_cast<std::size_t>(backSize)));
    return reading;
}

namespace {

// The job holding the started setup's tree, and the setup's id and start,
// for the console control handler, which has no other way to reach them. The
// lock keeps the handler from acting while a setup is started but not yet in
// its job.
SRWLOCK treeLock = SRWLOCK_INIT;
HANDLE treeJob = nullptr;
DWORD treeSetupId = 0;
FILETIME treeSetupStarted = {};
UINT interruptedExitCode = static_cast<UINT>(-1);
std::function<void()> lastWordsOnInterrupt;

FILETIME startOf(HANDLE process) {
    FILETIME times[4] = {};
    GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3]);
    return times[0];
}

// A process of the setup's tree, held open so that its id stays its own
// while the search for its children goes on, also once it has ended.
struct TreeProcess {
    DWORD id;
    FILETIME started;
    ScopedHandle handle;
};

// Holds process `id` as one of the tree when it started no earlier than
// `after`: an id read from a list may since name a newer process, never an
// older one. True when it is new to the tree.
bool holdTreeProcess(DWORD id, FILETIME after, std::vector<TreeProcess>& tree) {
    for (const TreeProcess& known : tree) {
        if (known.id == id) {
            return false;
        }
    }
    ScopedHandle process(OpenProcess(
        PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
    FILETIME started = process ? startOf(process.get()) : FILETIME{};
    if (!process || CompareFileTime(&started, &after) < 0) {
        return false;
    }
    tree.push_back(TreeProcess{id, started, std::move(process)});
    return true;
}

// Adds the job's processes and every process started by one of the tree
// after it started, however it left the job; never a process by its name.
// True when it found a new one.
bool growTree(HANDLE job, std::vector<TreeProcess>& tree) {
    bool grew = false;
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[1023];
    } inJob = {};
    // A list too long for the buffer still fills it.
    if (job && (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &inJob, sizeof(inJob),
                                          nullptr) ||
                GetLastError() == ERROR_MORE_DATA)) {
        DWORD count = std::min<DWORD>(inJob.list.NumberOfProcessIdsInList, 1024);
        for (DWORD i = 0; i < count; ++i) {
            grew = holdTreeProcess(static_cast<DWORD>(inJob.list.ProcessIdList[i]), tree[0].started,
                                   tree) ||
                   grew;
        }
    }
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        auto parent = std::find_if(tree.begin(), tree.end(), [&entry](const TreeProcess& known) {
            return known.id == entry.th32ParentProcessID;
        });
        if (parent != tree.end()) {
            grew = holdTreeProcess(entry.th32ProcessID, parent->started, tree) || grew;
        }
    }
    return grew;
}

// Ends the setup, its job and everything the setup started, however far
// down, also a process that broke away from the job, and waits up to
// `milliseconds` for them all to go. They are found by their parents before
// anything ends, since an ended process no longer shows whose child it was,
// and looked for again until no new one turns up: a child may start another
// meanwhile. The handles held keep the chain through what ended.
void endSetupTree(DWORD setupId, FILETIME setupStarted, HANDLE job, UINT exitCode,
                  DWORD milliseconds) {
    std::vector<TreeProcess> tree;
    tree.push_back(
        TreeProcess{setupId, setupStarted,
                    ScopedHandle(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, setupId))});
    std::size_t ended = 0;
    do {
        while (growTree(job, tree)) {
        }
        if (job) {
            TerminateJobObject(job, exitCode);
        }
        for (; ended < tree.size(); ++ended) {
            TerminateProcess(tree[ended].handle.get(), exitCode);
        }
    } while (growTree(job, tree));
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (const TreeProcess& process : tree) {
        ULONGLONG now = GetTickCount64();
        WaitForSingleObject(process.handle.get(),
                            now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    }
}

BOOL WINAPI endOnInterrupt(DWORD) {
    AcquireSRWLockExclusive(&treeLock);
    UINT exitCode = interruptedExitCode;
    if (treeSetupId) {
        endSetupTree(treeSetupId, treeSetupStarted, treeJob, exitCode, 0);
    }
    if (lastWordsOnInterrupt) {
        lastWordsOnInterrupt();
    }
    // No clean-up: the log stays where the setup wrote it.
    TerminateProcess(GetCurrentProcess(), exitCode);
    return TRUE;
}

// A change notification on the directory's file names; a handle that could
// not be had leaves a plain sleep.
class NotificationWatch : public DirectoryWatch {
  public:
    explicit NotificationWatch(HANDLE change) : change_(change, FindCloseChangeNotification) {}

    void waitForChange(unsigned milliseconds) override {
        if (!change_) {
            Sleep(milliseconds);
        } else if (WaitForSingleObject(change_.get(), milliseconds) == WAIT_OBJECT_0) {
            FindNextChangeNotification(change_.get());
        }
    }

  private:
    ScopedHandle change_;
};

// How often a held lock is tried again.
const DWORD kLockPollMilliseconds = 20;

// The volume and index that name a file, whatever path it is reached by.
bool identityOf(HANDLE file, BY_HANDLE_FILE_INFORMATION& information) {
    return file && GetFileInformationByHandle(file, &information);
}

bool sameIdentity(const BY_HANDLE_FILE_INFORMATION& one, const BY_HANDLE_FILE_INFORMATION& two) {
    return one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

class HandleAppend : public AppendFile {
  public:
    HandleAppend(ScopedHandle file, std::wstring path)
        : file_(std::move(file)), path_(std::move(path)) {}

    // Opened for appending only: Windows puts each write at the end, whole.
    bool append(const std::string& bytes) override { return writeWhole(file_.get(), bytes); }
    // A byte far past any end stands for the whole file, so that readers of
    // the file are never stopped by the lock. Tried at intervals rather than
    // waited for, as a wait on the lock has no time limit.
    bool lock(unsigned milliseconds) override {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            OVERLAPPED beyondEnd = farByte();
            if (LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                           0, &beyondEnd)) {
                return true;
            }
            if (GetTickCount64() - start >= milliseconds) {
                return false;
            }
            Sleep(kLockPollMilliseconds);
        }
    }
    void unlock() override {
        OVERLAPPED beyondEnd = farByte();
        UnlockFileEx(file_.get(), 0, 1, 0, &beyondEnd);
    }
    bool stillAtPath() override {
        ScopedHandle named(CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
        BY_HANDLE_FILE_INFORMATION opened = {};
        BY_HANDLE_FILE_INFORMATION there = {};
        return identityOf(file_.get(), opened) && identityOf(named.get(), there) &&
               sameIdentity(opened, there);
    }

  private:
    static OVERLAPPED farByte() {
        OVERLAPPED beyondEnd = {};
        beyondEnd.OffsetHigh = 0x40000000;
        return beyondEnd;
    }

    ScopedHandle file_;
    std::wstring path_;
};

class HandleScratch : public ScratchFile {
  public:
    explicit HandleScratch(ScopedHandle file) : file_(std::move(file)) {}

    bool write(const std::string& bytes) override { return writeWhole(file_.get(), bytes); }
    bool rewind() override {
        LARGE_INTEGER start = {};
        return SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN);
    }
    long read(char* buffer, std::size_t size) override {
        return readSome(file_.get(), buffer, size);
    }

  private:
    ScopedHandle file_;
};

void forgetTree() {
    AcquireSRWLockExclusive(&treeLock);
    treeJob = nullptr;
    treeSetupId = 0;
    ReleaseSRWLockExclusive(&treeLock);
}

// While the program holds the job's handle, its kill-on-close limit ends the
// tree when the handle closes, which it does when the program dies. A kill
// of the program runs no code of its own: then only what is in the job ends,
// and a process that broke away from it is out of reach. A time limit and an
// interrupt end that one too (endSetupTree).
class JobTree : public ProcessTree {
  public:
    JobTree(ScopedHandle process, ScopedHandle job)
        : process_(std::move(process)),
          job_(std::move(job)),
          id_(GetProcessId(process_.get())),
          started_(startOf(process_.get())) {}
    ~JobTree() override { forgetTree(); }

    WaitResult waitForExit(std::int64_t milliseconds, int& exitCode) override {
        // The longest limit, a day, stays well below INFINITE.
        DWORD limit = milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds);
        DWORD waited = WaitForSingleObject(process_.get(), limit);
        if (waited == WAIT_TIMEOUT) {
            return WaitResult::kTimedOut;
        }
        DWORD code = 0;
        if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(process_.get(), &code)) {
            return WaitResult::kFailed;
        }
        exitCode = static_cast<int>(code);
        return WaitResult::kExited;
    }

    void end() override {
        const UINT code = static_cast<UINT>(-1);
        // The tree's processes go one by one: give them time to let go of
        // the setup's log.
        endSetupTree(id_, started_, job_.get(), code, 5000);
        TerminateProcess(process_.get(), code);
        WaitForSingleObject(process_.get(), 5000);
    }

    void release() override {
        forgetTree();
        if (!job_) {
            return;
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
        SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof(limits));
        job_.close();
    }

  private:
    ScopedHandle process_;
    ScopedHandle job_;
    DWORD id_;
    FILETIME started_;
};

ScopedHandle newTreeJob() {
    ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return job;
    }
    // Breakaway allowed: a setup may start its product outside the job on
    // purpose, as setups do to leave a program running.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        job.close();
    }
    return job;
}

// One line of the system's text for an error, with the program in place of
// the "%1" some of them hold.
std::string systemReason(DWORD error, const std::string& program) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string reason = length > 0 ? toUtf8(std::wstring(buffer, length)) : std::string();
    LocalFree(buffer);
    std::replace_if(
        reason.begin(), reason.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    reason.erase(reason.find_last_not_of(' ') + 1);
    std::string::size_type insert = reason.find("%1");
    if (insert != std::string::npos) {
        reason.replace(insert, 2, program);
    }
    return reason.empty() ? "error " + std::to_string(error) : reason;
}

// A copy of a standard handle the child can inherit; null stays null.
ScopedHandle inheritable(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (handle && handle != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS)) {
        return ScopedHandle(copy);
    }
    return ScopedHandle();
}

}  // namespace

void failWhenInterrupted(int exitCode, std::function<void()> lastWords) {
    // Under the handler's lock: a handler already running keeps what it had.
    AcquireSRWLockExclusive(&treeLock);
    interruptedExitCode = static_cast<UINT>(exitCode);
    lastWordsOnInterrupt = std::move(lastWords);
    ReleaseSRWLockExclusive(&treeLock);
    SetConsoleCtrlHandler(endOnInterrupt, TRUE);
}

namespace {

// The program file's image, read through one handle; nothing when the file
// cannot be opened, which CreateProcessW then reports in its own words.
bool inspectFile(const std::wstring& application, ProgramImage& image) {
    ScopedHandle file(CreateFileW(longPathOfFull(application).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return false;
    }
    image = inspectProgramImage([&file](std::uint64_t offset, std::size_t size) {
        std::string bytes(size, '\0');
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (size >= (1u << 30) ||
            !ReadFile(file.get(), &bytes[0], static_cast<DWORD>(size), &got, &at)) {
            got = 0;
        }
        bytes.resize(got);
        return bytes;
    });
    return true;
}

// PROC_THREAD_ATTRIBUTE_JOB_LIST (Windows 10), which older headers lack.
const DWORD_PTR kJobListAttribute = 13 | 0x00020000;

// Starts the program inside `job` from its first instruction where the system
// can (Windows 10 and later); false when it cannot, with nothing started.
bool startInJob(const std::wstring& application, std::wstring& line, STARTUPINFOW startup,
                HANDLE job, PROCESS_INFORMATION& process) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> buffer(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data());
    if (!job || size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        return false;
    }
    STARTUPINFOEXW extended = {};
    extended.StartupInfo = startup;
    extended.StartupInfo.cb = sizeof(extended);
    extended.lpAttributeList = list;
    bool started = UpdateProcThreadAttribute(list, 0, kJobListAttribute, &job, sizeof(job), nullptr,
                                             nullptr) &&
                   CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, TRUE,
                                  EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
                                  nullptr, nullptr, &extended.StartupInfo, &process);
    DeleteProcThreadAttributeList(list);
    return started;
}

}  // namespace

std::unique_ptr<ProcessTree> startProcess(const std::string& program,
                                          const std::string& commandLine, std::string& error) {
    std::wstring application = fullPath(program);
    std::wstring line;
    if (application.empty() || !toWide(commandLine, line)) {
        error = systemReason(ERROR_INVALID_NAME, program);
        return nullptr;
    }
    // Windows would run a script or a program of another system that Wine
    // runs natively, outside any job: only a Windows program starts.
    ProgramImage image;
    if (inspectFile(application, image) && !image.isProgram) {
        error = systemReason(ERROR_BAD_EXE_FORMAT, program);
        return nullptr;
    }
    ScopedHandle input = inheritable(STD_INPUT_HANDLE);
    ScopedHandle output = inheritable(STD_OUTPUT_HANDLE);
    ScopedHandle errors = inheritable(STD_ERROR_HANDLE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = errors.get();
    PROCESS_INFORMATION process = {};
    // Held from the start to the job: an interrupt in between must not leave
    // a suspended setup behind.
    AcquireSRWLockExclusive(&treeLock);
    ScopedHandle job = newTreeJob();
    bool inJob = startInJob(application, line, startup, job.get(), process);
    // Elsewhere it starts suspended and joins the job before it runs; where
    // Windows allows no job of the program's own (before Windows 8, in a job
    // that allows no other), it runs without one.
    BOOL started = inJob || CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, TRUE,
                                           CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr,
                                           nullptr, &startup, &process);
    DWORD failure = GetLastError();
    if (!started) {
        ReleaseSRWLockExclusive(&treeLock);
        error = systemReason(failure, program);
        return nullptr;
    }
    ScopedHandle setup(process.hProcess);
    ScopedHandle thread(process.hThread);
    if (!inJob && job && !AssignProcessToJobObject(job.get(), setup.get())) {
        job.close();
    }
    treeJob = job.get();
    treeSetupId = process.dwProcessId;
    treeSetupStarted = startOf(setup.get());
    ReleaseSRWLockExclusive(&treeLock);
    if (!inJob) {
        ResumeThread(thread.get());
    }
    return std::make_unique<JobTree>(std::move(setup), std::move(job));
}

bool readsAnsiCommandLine(const std::string& program) {
    ProgramImage image;
    return !inspectFile(fullPath(program), image) || image.readsAnsiCommandLine;
}

std::unique_ptr<DirectoryWatch> watchDirectoryOf(const std::string& path) {
    std::wstring wide = fullPath(path);
    std::wstring::size_type last = wide.find_last_of(L"\\/");
    if (last != std::wstring::npos) {
        wide = longPathOfFull(wide.substr(0, last + 1));
    }
    HANDLE change = wide.empty() ? INVALID_HANDLE_VALUE
                                 : FindFirstChangeNotificationW(wide.c_str(), FALSE,
                                                                FILE_NOTIFY_CHANGE_FILE_NAME);
    return std::make_unique<NotificationWatch>(change);
}

std::unique_ptr<AppendFile> openAppendFile(const std::string& path) {
    auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                 path[1] == ':' && isSeparator(path[2]);
    bool unc = path.size() >= 3 && isSeparator(path[0]) && isSeparator(path[1]);
    std::wstring wide = longPath(path);
    if (!(drive || unc) || wide.empty()) {
        return nullptr;
    }
    // Opened where it stands, and made only as a new file: under Wine, opening
    // a Unix link to nothing with OPEN_ALWAYS would create its target. Not
    // shared for deletion, so that the record cannot be deleted or renamed
    // away from under a run.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    for (int attempt = 0; attempt < 50; ++attempt) {
        ScopedHandle file(CreateFileW(
            wide.c_str(), FILE_APPEND_DATA | GENERIC_READ, share, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file) {
            if (isLink(file.get(), wide, true)) {
                return nullptr;
            }
            return std::make_unique<HandleAppend>(std::move(file), wide);
        }
        DWORD error = GetLastError();
        // Another run that is making the file holds it for a moment.
        if (error == ERROR_SHARING_VIOLATION) {
            Sleep(10);
            continue;
        }
        if (error != ERROR_FILE_NOT_FOUND) {
            return nullptr;
        }
        // Made, judged where it landed, and removed through the handle that
        // made it when it is refused: a refusal leaves nothing anywhere.
        ScopedHandle made(CreateFileW(
            wide.c_str(), FILE_READ_ATTRIBUTES | DELETE, share | FILE_SHARE_DELETE, nullptr,
            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!made && GetLastError() != ERROR_FILE_EXISTS) {
            return nullptr;
        }
        if (made && isLink(made.get(), wide, true)) {
            FILE_DISPOSITION_INFO disposition = {TRUE};
            SetFileInformationByHandle(made.get(), FileDispositionInfo, &disposition,
                                       sizeof(disposition));
            return nullptr;
        }
    }
    return nullptr;
}

std::unique_ptr<ScratchFile> openScratchFile() {
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
        return nullptr;
    }
    static LONG count = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name = std::wstring(folder) + L"qix-record-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(InterlockedIncrement(&count)) + L".tmp";
        ScopedHandle file(CreateFileW(
            longPathOfFull(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
            CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
            nullptr));
        if (file) {
            return std::make_unique<HandleScratch>(std::move(file));
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            return nullptr;
        }
    }
    return nullptr;
}

bool sameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION information[2] = {};
    const std::string* paths[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        std::wstring wide = longPath(*paths[i]);
        ScopedHandle file(wide.empty()
                              ? nullptr
                              : CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
        if (!identityOf(file.get(), information[i])) {
            return false;
        }
    }
    return sameIdentity(information[0], information[1]);
}

FileResult removeFile(const std::string& path) {
    std::wstring wide = longPath(path);
    if (wide.empty()) {
        return FileResult::kFailed;
    }
    // Opened as what stands at the path, a link included, and deleted through
    // that handle: what was checked is what goes.
    ScopedHandle file(CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return fileResult(GetLastError());
    }
    if (isLink(file.get(), wide, false)) {
        return FileResult::kFailed;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                      sizeof(disposition))
               ? FileResult::kDone
               : fileResult(GetLastError());
}

FileResult openInputFile(const std::string& path, std::unique_ptr<InputFile>& file) {
    std::wstring wide = longPath(path);
    if (wide.empty()) {
        return FileResult::kFailed;
    }
    // Shared for writing and deletion, so that the setup (or what it left
    // running) is never stopped by this reader. A link is opened as itself,
    // and refused.
    ScopedHandle handle(CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
        return fileResult(GetLastError());
    }
    if (isLink(handle.get(), wide, false)) {
        return FileResult::kFailed;
    }
    file = std::make_unique<HandleInput>(std::move(handle));
    return FileResult::kDone;
}

FileResult probeNewFile(const std::string& path, const std::string& bytes) {
    std::wstring wide = longPath(path);
    if (wide.empty()) {
        return FileResult::kFailed;
    }
    // Delete-on-close: the file goes with the handle that made it, never by name.
    // A link at the name, even one to nothing, counts as something there.
    ScopedHandle file(CreateFileW(
        wide.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    if (!file) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? FileResult::kExists
                                                                           : FileResult::kFailed;
    }
    bool ok = writeWhole(file.get(), bytes);
    ok = file.close() && ok;
    return ok ? FileResult::kDone : FileResult::kFailed;
}

}  // namespace platform
