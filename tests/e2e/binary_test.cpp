// The released Windows program: one self-contained .exe that imports only what
// Windows itself ships, with its version and manifest embedded.
#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <set>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

std::string exePath() {
    return std::string(QIX_WINDOWS_BUILD_DIR) + "/Qix_Console_Installer.exe";
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The same text as the UTF-16 the version resource stores.
std::string utf16(const std::string& text) {
    std::string wide;
    for (char c : text) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

TEST(Binary, ImportsOnlyDllsThatWindowsShips) {
    const std::set<std::string> shipped = {"kernel32.dll", "user32.dll",  "advapi32.dll",
                                           "shell32.dll",  "shlwapi.dll", "ole32.dll",
                                           "oleaut32.dll", "version.dll", "msvcrt.dll"};
    std::string command = "x86_64-w64-mingw32-objdump -p '" + exePath() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::vector<std::string> imports;
    char line[4096];
    const std::string marker = "DLL Name: ";
    while (fgets(line, sizeof(line), pipe)) {
        std::string text = line;
        auto at = text.find(marker);
        if (at != std::string::npos) {
            std::string name = text.substr(at + marker.size());
            name.erase(name.find_last_not_of(" \r\n") + 1);
            imports.push_back(lower(name));
        }
    }
    ASSERT_EQ(0, pclose(pipe));
    EXPECT_FALSE(imports.empty());
    for (const std::string& name : imports) {
        EXPECT_TRUE(shipped.count(name)) << name << " is not part of Windows";
    }
}

TEST(Binary, CarriesVersionAndManifest) {
    std::string exe = readFile(exePath());
    ASSERT_FALSE(exe.empty());
    EXPECT_NE(std::string::npos, exe.find(utf16("ProductVersion")));
    EXPECT_NE(std::string::npos, exe.find(utf16(kVersion)));
    EXPECT_NE(std::string::npos, exe.find(utf16("Qix_Console_Installer")));
    EXPECT_NE(std::string::npos, exe.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, exe.find(">UTF-8</activeCodePage>"));
    EXPECT_NE(std::string::npos, exe.find(">true</longPathAware>"));
}

}  // namespace
