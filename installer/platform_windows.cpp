#include "platform.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <wx/filename.h>
#include <wx/log.h>

namespace platform {
namespace {

// The path in the form every wide file call takes at any length: converted
// from the process's code page, made absolute and resolved as the narrow calls
// would ('/' and '\' alike, "." and ".." textually), then prefixed with \\?\.
// Empty when the bytes are no text in that code page.
std::wstring longPath(const std::string& path) {
    if (path.empty()) {
        return std::wstring();
    }
    int size = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(),
                                   static_cast<int>(path.size()), nullptr, 0);
    if (size <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                        &wide[0], size);
    // An embedded NUL would cut the path short at another file.
    if (wide.find(L'\0') != std::wstring::npos) {
        return std::wstring();
    }
    DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return std::wstring();
    }
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
    full.resize(length);
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
        return full;
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

}  // namespace

std::string programFilesFolder() {
    std::vector<char> buffer(MAX_PATH, '\0');
    // Create flag FALSE: asking must never create the folder.
    SHGetSpecialFolderPathA(nullptr, buffer.data(), CSIDL_PROGRAM_FILES, FALSE);
    return std::string(buffer.data());
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

bool isFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
           path.compare(0, 2, L"\\\\") == 0;
}

// The run-time starts COMSPEC, or "cmd.exe" by name, which Windows looks for
// in the current directory first: a cmd.exe planted there would run the
// setup command. Anything but an absolute path to a file is replaced by the
// system's own interpreter, which the setup then inherits as its COMSPEC too.
void settleInterpreter() {
    const wchar_t* comspec = _wgetenv(L"COMSPEC");
    if (comspec && isAbsolute(comspec) && isFile(comspec)) {
        return;
    }
    wchar_t system[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        _wputenv((L"COMSPEC=" + std::wstring(system) + L"\\cmd.exe").c_str());
    }
}

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

class HandleInput : public InputFile {
  public:
    explicit HandleInput(HANDLE file) : file_(file) {}
    ~HandleInput() override { CloseHandle(file_); }

    long read(char* buffer, std::size_t size) override {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!ReadFile(file_, buffer, want, &got, nullptr)) {
            return -1;
        }
        return static_cast<long>(got);
    }

  private:
    HANDLE file_;
};

}  // namespace

int runCommand(const std::string& command) {
    settleInterpreter();
    return std::system(command.c_str());
}

bool pathIsPresent(const std::string& path) {
    std::wstring wide = longPath(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool makeDirectory(const std::string& path) {
    // The bytes are in the process's code page, which is what the file-name
    // conversion assumes; a string it cannot read must not become an empty
    // (current) directory.
    wxString name(path.c_str(), *wxConvFileName);
    if (name.empty() && !path.empty()) {
        return false;
    }
    // The program reports failures itself, in one message of its own.
    wxLogNull quiet;
    return wxFileName::Mkdir(name, 511, wxPATH_MKDIR_FULL);
}

bool hasEnvironmentVariable(const std::string& name) {
    return !name.empty() && GetEnvironmentVariableA(name.c_str(), nullptr, 0) > 0;
}

FileResult removeFile(const std::string& path) {
    std::wstring wide = longPath(path);
    if (wide.empty()) {
        return FileResult::kFailed;
    }
    return DeleteFileW(wide.c_str()) ? FileResult::kDone : fileResult(GetLastError());
}

FileResult openInputFile(const std::string& path, std::unique_ptr<InputFile>& file) {
    std::wstring wide = longPath(path);
    if (wide.empty()) {
        return FileResult::kFailed;
    }
    // Shared for writing and deletion, so that the setup (or what it left
    // running) is never stopped by this reader.
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return fileResult(GetLastError());
    }
    file = std::make_unique<HandleInput>(handle);
    return FileResult::kDone;
}

void* bindChildProcesses() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    // The handle is the program's alone: when the program dies it closes, and
    // the limit ends every process in the job.
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

void releaseChildProcesses(void* job) {
    if (!job) {
        return;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    CloseHandle(job);
}

ProbeResult probeNewFile(const std::string& path, const std::string& bytes) {
    std::wstring wide = longPath(path);
    if (wide.empty()) {
        return ProbeResult::kFailed;
    }
    // Delete-on-close: the file goes with the handle that made it, never by name.
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? ProbeResult::kExists
                                                                           : ProbeResult::kFailed;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    ok = CloseHandle(file) && ok;
    return ok ? ProbeResult::kWritten : ProbeResult::kFailed;
}

}  // namespace platform
