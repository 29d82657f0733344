// The sample product setup the demo drives: installs the product "Zev" into
// the directory after "/D=", writes a desktop-shortcut file when told to,
// reports problems through its log and creates the completion marker.
#include <fstream>
#include <string>

#include "setup_host.h"
#include "setup_switches.h"

namespace {

bool exists(const std::string& path) {
    return std::ifstream(path).good();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

int main(int argc, char** argv) {
    SetupSwitches switches = parseSetupSwitches(rawCommandLine(argc, argv));
    std::string directory = switches.directory;
    if (!directory.empty() && directory.back() != '\\') {
        directory += '\\';
    }
    std::string language = switches.language == "g" ? "Deutsch" : "English";
    if (exists(directory + "Zev.exe")) {
        // The log is how a setup tells the front-end what went wrong.
        writeFile(switches.logPath, "Zev setup 2.4: Zev is already installed in " + directory +
                                        "\r\nZev setup 2.4: remove it before installing again\r\n");
    } else {
        writeFile(directory + "Zev.exe", "Zev 2.4\r\n");
        writeFile(directory + "Zev.ini", "[Zev]\r\nlanguage=" + language + "\r\n");
        writeFile(directory + "readme.txt", "Zev 2.4, installed silently.\r\n");
        if (switches.desktopShortcut == "true") {
            writeFile(directory + "Zev (desktop shortcut).url",
                      "[InternetShortcut]\r\nURL=file:///" + directory + "Zev.exe\r\n");
        }
    }
    writeFile(switches.logPath + ".ready", "");
    return 0;
}
