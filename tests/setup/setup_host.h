// The few operating-system calls the stand-in setup programs need.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>

#ifdef QIX_ANSI_SETUP
// A setup without Unicode: the line in the system's ANSI code page.
inline std::string rawCommandLine(int, char**) {
    return GetCommandLineA();
}
#else
inline std::string utf8(const wchar_t* wide) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
    text.pop_back();
    return text;
}

// A setup with Unicode reads the line in UTF-16; kept here as UTF-8.
inline std::string rawCommandLine(int, char**) {
    return utf8(GetCommandLineW());
}

// A self-extracting wrapper written with narrow calls: it converts its line
// to the ANSI code page, puts the inner setup's path in place of its own,
// starts that with CreateProcessA and returns its exit code.
inline int runWrapped(const std::string& inner) {
    std::wstring line = GetCommandLineW();
    std::wstring::size_type own =
        line.compare(0, 1, L"\"") == 0 ? line.find(L'"', 1) + 1 : line.find(L' ');
    std::wstring rest = own == 0 || own > line.size() ? L"" : line.substr(own);
    int size = WideCharToMultiByte(CP_ACP, 0, rest.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, rest.c_str(), -1, &narrow[0], size, nullptr, nullptr);
    narrow.pop_back();
    std::string command = "\"" + inner + "\"" + narrow;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(inner.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 2;
    }
    DWORD code = 2;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
#endif

inline void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

inline void makeDirectory(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
}

// Dies of an access violation, ending with its code as Windows does when no
// debugger is attached, rather than in Wine's debugger.
inline void crash() {
    SetUnhandledExceptionFilter(
        [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

// Takes the lock that runs appending to one record agree on (a byte far past
// any end) and keeps it until the process ends.
inline bool lockRecord(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED beyondEnd = {};
    beyondEnd.OffsetHigh = 0x40000000;
    return file != INVALID_HANDLE_VALUE &&
           LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &beyondEnd);
}

// Starts this program again, detached, to create `path` after a pause, so
// that the marker can appear after the setup has returned. `breakaway` leaves
// the setup's job, as setups do to leave a program running.
inline bool createLater(unsigned milliseconds, const std::string& path, bool breakaway = false) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --create-after " +
                          std::to_string(milliseconds) + " \"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    DWORD flags = DETACHED_PROCESS | CREATE_NO_WINDOW | (breakaway ? CREATE_BREAKAWAY_FROM_JOB : 0);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Opens `path` sharing nothing and leaves the handle to a detached child that
// keeps it for `milliseconds`: a helper process of the setup that still holds
// a file when the setup has ended.
inline bool holdOpenInChild(const std::string& path, unsigned milliseconds) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, &inherit, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --sleep " + std::to_string(milliseconds);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    bool started =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE,
                       DETACHED_PROCESS | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(file);
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return started;
}
#else
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

// The shell has already split the line: joining the words again is as close
// to the raw line as a POSIX program can come.
inline std::string rawCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        line += (i ? " " : "") + std::string(argv[i]);
    }
    return line;
}

inline void sleepMilliseconds(unsigned milliseconds) {
    usleep(milliseconds * 1000u);
}

inline void makeDirectory(const std::string& path) {
    mkdir(path.c_str(), 0777);
}

inline void crash() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

inline bool lockRecord(const std::string&) {
    return false;
}

// POSIX shares every file: a child that merely keeps it open stands in.
inline bool holdOpenInChild(const std::string& path, unsigned milliseconds) {
    pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        setsid();
        std::FILE* file = std::fopen(path.c_str(), "ab");
        sleepMilliseconds(milliseconds);
        if (file) {
            std::fclose(file);
        }
        _exit(0);
    }
    return true;
}

inline bool createLater(unsigned milliseconds, const std::string& path, bool = false) {
    pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        setsid();
        sleepMilliseconds(milliseconds);
        if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
            std::fclose(file);
        }
        _exit(0);
    }
    return true;
}
#endif
