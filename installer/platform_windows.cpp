#include "platform.h"

#include <shlobj.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <vector>

namespace platform {

std::string programFilesFolder() {
    std::vector<char> buffer(MAX_PATH, '\0');
    // Create flag FALSE: asking must never create the folder.
    SHGetSpecialFolderPathA(nullptr, buffer.data(), CSIDL_PROGRAM_FILES, FALSE);
    return std::string(buffer.data());
}

std::uint32_t currentThreadId() {
    return GetCurrentThreadId();
}

void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

// The Windows run-time's clock() counts wall-clock milliseconds since start-up.
long millisecondsSinceStart() {
    return static_cast<long>(std::clock());
}

int runCommand(const std::string& command) {
    return std::system(command.c_str());
}

bool fileStatus(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

CreateResult createNewFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateResult::kExists
                                                                           : CreateResult::kFailed;
    }
    CloseHandle(file);
    return CreateResult::kCreated;
}

// Text mode: the run-time itself drops the CR of CR LF and stops at byte 26.
std::unique_ptr<std::istream> openTextInput(const std::string& path) {
    return std::make_unique<std::ifstream>(path, std::ios::in);
}

}  // namespace platform
