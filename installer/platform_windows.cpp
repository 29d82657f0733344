#include "platform.h"

#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <vector>

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

int runCommand(const std::string& command) {
    return std::system(command.c_str());
}

bool fileStatus(const std::string& path) {
    std::wstring wide = longPath(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void removeFile(const std::string& path) {
    std::wstring wide = longPath(path);
    if (!wide.empty()) {
        DeleteFileW(wide.c_str());
    }
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

// Text mode: the run-time itself drops the CR of CR LF and stops at byte 26.
std::unique_ptr<std::istream> openTextInput(const std::string& path) {
    std::wstring wide = longPath(path);
    auto stream = std::make_unique<std::ifstream>();
    if (wide.empty()) {
        stream->setstate(std::ios::failbit);
    } else {
        stream->open(wide.c_str(), std::ios::in);
    }
    return stream;
}

}  // namespace platform
