#include "check_flow.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "check_platform.h"
#include "declaration.h"
#include "judge.h"
#include "run_text.h"
#include "sha256.h"

namespace check {

const char kUsage[] =
    "Usage: qix-check [-c GROUP]... PROGRAM SETUP\n"
    "  PROGRAM   Qix_Console_Installer.exe\n"
    "  SETUP     the product's installer, with its declaration SETUP.qix beside it\n"
    "            when the setup kit wrote one\n"
    "  -c GROUP  only these groups of cases: forms, directories, long, unusable,\n"
    "            again, late, person (all when none is named)\n"
    "  -t SECONDS  the most one run of the program, the setup or its uninstaller\n"
    "            may take before all it started is ended (120 when not given)\n";

namespace {

// The program waits 10 s for a marker that never comes: a run that took less
// found it, however busy the machine was.
constexpr std::int64_t kAtOnceMs = 10000;
// No run of the program, the setup or an uninstaller may take longer,
// unless -t says otherwise.
constexpr unsigned kRunLimitMs = 120000;
constexpr unsigned kMostLimitSeconds = 86400;
// How long a person's run must go on to be taken as waiting for the person.
constexpr unsigned kPersonMs = 3000;
// A helper that reports after the installer has ended: its log or marker is
// looked for this long after the first run.
constexpr std::int64_t kLateMs = 15000;
// At most this many things the installation creates are put in the way.
constexpr std::size_t kSample = 16;

const char* const kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           lowered(text.substr(text.size() - end.size())) == lowered(end);
}

bool startsWith(const std::string& text, const std::string& start) {
    return lowered(text.substr(0, start.size())) == lowered(start);
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line;
}

std::string parentOf(const std::string& path) {
    return path.substr(0, path.rfind('\\'));
}

std::string seconds(std::int64_t ms) {
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

std::string valueOf(const std::vector<std::string>& values, const std::string& name) {
    for (const std::string& line : values) {
        if (line.compare(0, name.size() + 1, name + "=") == 0) {
            return line.substr(name.size() + 1);
        }
    }
    return "";
}

// A run of the program or of a setup.
struct Run {
    std::uint32_t code = 0;
    std::int64_t ms = 0;
    std::string said;
    bool zeros = false;
    std::vector<std::string> windows;
    bool timedOut = false;
    bool started = true;
    std::string error;
};

class Checker {
  public:
    int check(const std::vector<std::string>& arguments);

  private:
    bool wanted(const std::string& group) const {
        return groups_.empty() || groups_.count(group) != 0;
    }
    void pass(const std::string& name, const std::string& text) {
        say("PASS  " + name + ": " + text + "\n");
        ++passed_;
    }
    void fail(const std::string& name, const std::string& text) {
        say("FAIL  " + name + ": " + text + "\n");
        failed_.push_back(name);
    }
    void cannot(const std::string& name, const std::string& text) {
        say("CANNOT  " + name + ": " + text + "\n");
        unjudged_.push_back(name);
    }
    std::string exitCodeText() const {
        return std::to_string(static_cast<std::int32_t>(run_.code));
    }

    Run execute(const std::string& commandLine, unsigned limitMs, bool untilAllEnd);
    void findFolders();
    Snapshot snapshot();
    std::vector<std::string> newUninstallKeys(const Snapshot& before, const Snapshot& after) const;
    std::string landedWithoutDeclaration(const std::string& dir);
    std::string missingFromReference(const std::string& dir);
    std::string languageOf(const std::string& dir, const std::string& relative);
    std::string fingerprint(const std::string& dir);
    std::string contents(const std::string& dir);
    void caseRoot(const std::string& name);
    void install(const std::string& dir, const std::vector<std::string>& options,
                 const std::vector<std::string>& earlier = {});
    bool timedOutOrShowed(const std::string& name);
    void expectSuccess(const std::string& name, const std::string& shortcut);
    void expectFailure(const std::string& name);
    void expectEither(const std::string& name, const std::string& shortcut);
    std::string leftRegistered() const;
    void expectLanguages(const std::string& name, const std::string& english,
                         const std::string& german);
    bool uninstall(const std::string& name, const std::string& dir);
    void putBack();
    int finish();
    int leave(int exitCode);

    void reference();
    void forms();
    void directories();
    void longDirectories();
    void unusable();
    void again();
    void late();
    void person();

    std::set<std::string> groups_;
    std::string program_, setup_, setupName_, work_, root_, dir_;
    bool declared_ = false;
    Declaration declaration_;
    Folders folders_;
    // The folders watched, each with whether what Windows changes by itself
    // (excluded_) is left out of it.
    std::vector<std::pair<std::string, bool>> roots_;
    std::vector<std::string> excluded_;
    int cases_ = 0;
    int passed_ = 0;
    std::vector<std::string> failed_, unjudged_, restarts_;
    std::vector<std::pair<std::int64_t, std::string>> ran_;
    Snapshot before_, installed_, start_;
    Run run_;
    Form form_;
    std::string landed_, desktopLink_, print_, reference_;
    std::vector<std::pair<char, std::string>> things_;
    std::set<std::string> referenceFiles_;
    // What runs left running (a helper that reports late), until the check ends.
    std::vector<std::shared_ptr<void>> rests_;
    unsigned limitMs_ = kRunLimitMs;
    // An uninstaller left the machine changed: no further case can be trusted.
    bool broken_ = false;
    // The setup refuses because of what the machine had before the check.
    bool refused_ = false;
};

Run Checker::execute(const std::string& commandLine, unsigned limitMs, bool untilAllEnd) {
    Run run;
    std::int64_t start = monotonicMilliseconds();
    RunResult result = runProgram(commandLine, limitMs, untilAllEnd);
    run.ms = monotonicMilliseconds() - start;
    run.started = result.started;
    run.error = result.error;
    run.code = result.exitCode;
    run.timedOut = result.timedOut;
    run.windows = result.windows;
    run.said = cleanedOutput(result.output, run.zeros);
    if (result.rest) {
        rests_.push_back(result.rest);
    }
    return run;
}

void Checker::findFolders() {
    auto folder = [](const char* name) { return knownFolder(name); };
    auto both = [&](const char* user, const char* common) {
        std::vector<std::string> found;
        for (const char* name : {user, common}) {
            if (!folder(name).empty()) {
                found.push_back(folder(name));
            }
        }
        return found;
    };
    folders_["$DESKTOP"] = both("Desktop", "CommonDesktop");
    folders_["$SMPROGRAMS"] = both("Programs", "CommonPrograms");
    folders_["$STARTMENU"] = {parentOf(folder("Programs")), parentOf(folder("CommonPrograms"))};
    folders_["$PROGRAMFILES"] = both("ProgramFilesX86", "ProgramFiles");
    folders_["$PROGRAMFILES32"] = {folder("ProgramFilesX86")};
    folders_["$PROGRAMFILES64"] = {folder("ProgramFiles")};
    folders_["$COMMONFILES"] = {folder("CommonFiles")};
    folders_["$COMMONFILES64"] = {folder("CommonFiles")};
    folders_["$APPDATA"] = both("AppData", "CommonAppData");
    folders_["$LOCALAPPDATA"] = {folder("LocalAppData")};
    folders_["$PROFILE"] = {folder("Profile")};
    folders_["$DOCUMENTS"] = {folder("Documents")};
    folders_["$WINDIR"] = {folder("Windows")};
    folders_["$SYSDIR"] = {folder("System")};
    folders_["$TEMP"] = {folder("Temp")};
    folders_["$EXEDIR"] = {parentOf(setup_)};
    // What an installation may touch, apart from the system's own folders:
    // the broad folders without what Windows changes there by itself, and
    // the desktops and start menus whole (Wine links the user's desktop to
    // the Linux home folder, and a link is listed, not followed).
    for (const char* name : {"ProgramFiles", "ProgramFilesX86", "CommonAppData", "Profile"}) {
        roots_.push_back({folder(name), true});
    }
    for (const char* name : {"CommonDesktop", "CommonPrograms", "Desktop", "Programs"}) {
        roots_.push_back({folder(name), false});
    }
    roots_.push_back({folder("LocalAppData") + "\\Programs", false});
    roots_.push_back({work_ + "\\t", false});
    roots_.erase(std::remove_if(roots_.begin(), roots_.end(),
                                [](const auto& root) { return root.first.empty(); }),
                 roots_.end());
    std::sort(roots_.begin(), roots_.end());
    roots_.erase(std::unique(roots_.begin(), roots_.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 roots_.end());
    // Windows' churn, the engine's plug-ins, and the user's registry files.
    excluded_ = {folder("Temp"), folder("LocalAppData"), folder("AppData") + "\\Microsoft",
                 folder("CommonAppData") + "\\Microsoft", folder("Profile") + "\\ntuser*"};
}

Snapshot Checker::snapshot() {
    Snapshot taken;
    for (const auto& [root, broad] : roots_) {
        // A desktop itself may be a link to a whole home folder.
        bool desktop = std::find(folders_["$DESKTOP"].begin(), folders_["$DESKTOP"].end(), root) !=
                       folders_["$DESKTOP"].end();
        for (const auto& [relative, entry] : listTree(root, desktop ? 1 : -1)) {
            std::string path = root + "\\" + relative;
            bool skip = false;
            for (const std::string& excluded : excluded_) {
                skip = skip || (broad && isAtOrUnder(excluded, path));
            }
            if (!skip) {
                taken.files[path] = FileState{entry.folder, entry.size, entry.written};
            }
        }
    }
    auto readTree = [&taken](const std::string& key, int view) {
        for (auto& [name, values] : readRegistryTree(key, view)) {
            taken.keys[std::to_string(view) + ":" + name] = values;
        }
    };
    readTree(std::string("HKLM\\") + kUninstallKey, 64);
    readTree(std::string("HKLM\\") + kUninstallKey, 32);
    readTree(std::string("HKCU\\") + kUninstallKey, 64);
    // A file association is a new key among the classes.
    for (const char* classes : {"HKLM\\Software\\Classes", "HKCU\\Software\\Classes"}) {
        for (const std::string& name : registrySubkeys(classes, 64)) {
            taken.keys[std::string("64:") + classes + "\\" + name] = {};
        }
    }
    for (const Record& record : declaration_.records) {
        bool key = record.kind == Kind::kRegistry ||
                   (record.kind == Kind::kWritten && startsWith(record.path, "HK"));
        if (!key) {
            continue;
        }
        for (const std::string& key : registryKeysOf(record.path)) {
            if (record.kind == Kind::kRegistry) {
                readTree(key, record.view);
            } else {
                readTree(key, 64);
                readTree(key, 32);
            }
        }
    }
    return taken;
}

std::vector<std::string> Checker::newUninstallKeys(const Snapshot& before,
                                                   const Snapshot& after) const {
    std::vector<std::string> keys;
    for (const auto& [entry, values] : after.keys) {
        std::size_t at = lowered(entry).find(lowered(kUninstallKey) + "\\");
        if (at == std::string::npos) {
            continue;
        }
        std::string rest = entry.substr(at + std::string(kUninstallKey).size() + 1);
        if (rest.find('\\') == std::string::npos && !before.keys.count(entry)) {
            keys.push_back(entry);
        }
    }
    return keys;
}

std::string Checker::contents(const std::string& dir) {
    std::string listed;
    for (const auto& [relative, entry] : listTree(dir)) {
        listed += relative + "\n";
    }
    return listed;
}

std::string Checker::fingerprint(const std::string& dir) {
    std::string print;
    for (const auto& [relative, entry] : listTree(dir)) {
        if (entry.folder) {
            continue;
        }
        std::string bytes;
        readFile(dir + "\\" + relative, bytes);
        // The installation's own directory, wherever it is, reads the same.
        for (std::size_t at = bytes.find(dir); at != std::string::npos;
             at = bytes.find(dir, at + 3)) {
            bytes.replace(at, dir.size(), "DIR");
        }
        print += relative + " " + sha256Hex(bytes) + "\n";
    }
    for (const auto& [path, state] : installed_.files) {
        if (!before_.files.count(path) && endsWith(path, ".lnk")) {
            print += path + "\n";
        }
    }
    return print;
}

// The language whose file the declaration says `relative` in the
// installation directory `dir` is, or "".
std::string Checker::languageOf(const std::string& dir, const std::string& relative) {
    Folders folders = folders_;
    folders["$INSTDIR"] = {dir};
    for (const Record& record : declaration_.records) {
        if (record.kind != Kind::kFile || record.language.empty()) {
            continue;
        }
        for (const std::string& pattern : expandDeclaredPath(record.path, folders)) {
            if (matchesPattern(pattern, dir + "\\" + relative)) {
                return record.language;
            }
        }
    }
    return "";
}

// What a file the declaration allows but does not require (an INI file the
// script writes, say) tells: the same installer installs the same files each
// time, apart from those of one language.
std::string Checker::missingFromReference(const std::string& dir) {
    if (referenceFiles_.empty()) {
        return "";
    }
    std::map<std::string, TreeEntry> tree = listTree(dir);
    for (const std::string& relative : referenceFiles_) {
        if (!tree.count(relative) && languageOf(dir, relative).empty()) {
            return "did not install " + dir + "\\" + relative +
                   ", which its first installation did";
        }
    }
    return "";
}

// The old rules, for a setup without a declaration: nothing outside its
// directory, something inside it, and the same things as the reference.
std::string Checker::landedWithoutDeclaration(const std::string& dir) {
    for (const auto& [path, state] : installed_.files) {
        if (before_.files.count(path)) {
            continue;
        }
        if (isAtOrUnder(lowered(path), lowered(dir)) || isAtOrUnder(lowered(dir), lowered(path)) ||
            endsWith(path, ".lnk")) {
            continue;
        }
        bool holdsLink = false;
        for (const auto& [inside, s] : installed_.files) {
            holdsLink = holdsLink ||
                        (endsWith(inside, ".lnk") && isAtOrUnder(lowered(path), lowered(inside)));
        }
        if (!holdsLink) {
            return "wrote outside the directory: " + path;
        }
    }
    for (const std::string& key : newUninstallKeys(before_, installed_)) {
        const std::vector<std::string>& values = installed_.keys.at(key);
        std::string location = valueOf(values, "InstallLocation");
        while (!location.empty() && location.back() == '\\') {
            location.pop_back();
        }
        std::string name = key.substr(key.rfind('\\') + 1);
        if (!location.empty() && lowered(location) != lowered(dir)) {
            return "registered outside the directory: " + name + " has InstallLocation " +
                   valueOf(values, "InstallLocation");
        }
        std::string command = valueOf(values, "UninstallString");
        std::string unquoted = command.empty() || command[0] != '"' ? command : command.substr(1);
        if (!command.empty() && !startsWith(unquoted, dir + "\\")) {
            return "registered outside the directory: " + name + " has UninstallString " + command;
        }
    }
    std::string listed = contents(dir);
    if (listed.empty()) {
        return "installed nothing";
    }
    if (!reference_.empty() && listed != reference_) {
        auto joined = [](std::string text) {
            std::replace(text.begin(), text.end(), '\n', ' ');
            while (!text.empty() && text.back() == ' ') {
                text.pop_back();
            }
            return text;
        };
        return "installed " + joined(listed) + ", not " + joined(reference_);
    }
    return "";
}

void Checker::caseRoot(const std::string& name) {
    root_ = work_ + "\\t\\" + std::to_string(++cases_);
    makeFolders(root_);
    // A neighbour of the installation, which no uninstaller may take with it.
    writeFile(root_ + "\\neighbour.txt", "not the product's\r\n");
    dir_ = root_ + "\\" + name;
}

void Checker::install(const std::string& dir, const std::vector<std::string>& options,
                      const std::vector<std::string>& earlier) {
    before_ = snapshot();
    std::string line = quotedArgument(program_) + " " + quotedArgument(setup_);
    form_ = Form{dir, "", "", earlier};
    for (const std::string& option : options) {
        line += " " + quotedArgument(option);
        if (startsWith(option, "/L=")) {
            form_.language = option.substr(3);
        }
        if (startsWith(option, "/DS=")) {
            form_.shortcut = option.substr(4);
        }
    }
    run_ = execute(line, limitMs_, false);
    installed_ = snapshot();
    ran_.push_back({monotonicMilliseconds(), dir});
    desktopLink_.clear();
    for (const auto& [path, state] : installed_.files) {
        if (before_.files.count(path) || !endsWith(path, ".lnk")) {
            continue;
        }
        for (const std::string& desktop : folders_["$DESKTOP"]) {
            if (lowered(parentOf(path)) == lowered(desktop)) {
                desktopLink_ = path;
            }
        }
    }
    folders_["$INSTDIR"] = {dir};
    if (declared_) {
        landed_ = judgeInstallation(declaration_, form_, folders_, before_, installed_,
                                    [](const std::string& path) { return fileSha256(path); });
        if (landed_.empty()) {
            landed_ = missingFromReference(dir);
        }
    } else {
        landed_ = landedWithoutDeclaration(dir);
    }
    // Only a setup without a declaration is compared by what it installed.
    print_ = declared_ ? std::string() : fingerprint(dir);
}

bool Checker::timedOutOrShowed(const std::string& name) {
    if (!run_.started) {
        fail(name, "the program could not be started: " + run_.error);
    } else if (run_.timedOut) {
        fail(name, "did not end within " + seconds(limitMs_) + "; every process of it was ended");
    } else if (!run_.windows.empty()) {
        fail(name, "showed a window during a silent run: \"" + run_.windows.front() + "\"");
    } else {
        return false;
    }
    return true;
}

// The kit's line for a restart, in both languages.
void Checker::expectSuccess(const std::string& name, const std::string& shortcut) {
    if (timedOutOrShowed(name)) {
        return;
    }
    if (run_.code != 0 && onlyAsksForRestart(run_.said)) {
        say("RESTART  " + name + ": asks for a restart, which the program reports as " +
            exitCodeText() + " (3010 with /EXITCODES=msi): " + firstLine(run_.said) + "\n");
        restarts_.push_back(name);
    } else if (run_.code != 0 && run_.said.empty()) {
        fail(name,
             "ended with " + exitCodeText() + " and said nothing: the setup failed without a log");
    } else if (run_.code != 0) {
        fail(name, "ended with " + exitCodeText() + ", reporting: " + firstLine(run_.said));
    } else if (run_.ms >= kAtOnceMs) {
        fail(name, "took " + seconds(run_.ms) + ": the marker came late or never");
    } else if (!landed_.empty()) {
        fail(name, landed_);
    } else if (shortcut == "/DS=0" && !desktopLink_.empty()) {
        fail(name, "made a desktop shortcut under /DS=0: " + desktopLink_);
    } else if (!run_.said.empty()) {
        // A program the setup runs (sc.exe, a prerequisite) may print; the
        // program ended with 0, so no log was relayed.
        pass(name, "ended with 0 in " + seconds(run_.ms) +
                       ", installed where asked; its streams carried: " + firstLine(run_.said));
    } else {
        pass(name, "ended with 0 in " + seconds(run_.ms) + ", no log, installed where asked");
    }
}

void Checker::expectFailure(const std::string& name) {
    if (timedOutOrShowed(name)) {
        return;
    }
    if (run_.code == 0) {
        fail(name, "ended with 0: the setup did not notice that it could not install");
    } else if (run_.ms >= kAtOnceMs) {
        fail(name, "took " + seconds(run_.ms) + ": the marker came late or never");
    } else if (run_.said.empty()) {
        fail(name,
             "ended with " + exitCodeText() + " and said nothing: the setup failed without a log");
    } else if (run_.zeros) {
        fail(name, "its log holds zero bytes, as UTF-16 does, which the contract forbids: " +
                       firstLine(run_.said));
    } else if (onlySaysItFailed(run_.said)) {
        fail(name, "the log says that it failed, not why: " + run_.said);
    } else if (!leftRegistered().empty()) {
        fail(name, "failed, yet left " + leftRegistered() + " registered");
    } else {
        pass(name, "ended with -1 in " + seconds(run_.ms) + ", reporting: " + firstLine(run_.said));
    }
}

// An uninstall entry or a class (a file association) that the last run added.
std::string Checker::leftRegistered() const {
    for (const auto& [entry, values] : installed_.keys) {
        if (before_.keys.count(entry)) {
            continue;
        }
        std::string key = entry.substr(entry.find(':') + 1);
        std::string parent = parentOf(key);
        if (endsWith(parent, kUninstallKey) || endsWith(parent, "\\Software\\Classes")) {
            return key;
        }
    }
    return "";
}

void Checker::expectEither(const std::string& name, const std::string& shortcut) {
    if (run_.code == 0) {
        expectSuccess(name, shortcut);
    } else {
        expectFailure(name);
    }
}

void Checker::expectLanguages(const std::string& name, const std::string& english,
                              const std::string& german) {
    if (english.empty() || german.empty()) {
        return;
    }
    if (english == german) {
        fail(name, "the same text under /L=e and /L=g: " + firstLine(german));
    } else {
        pass(name, "German under /L=g: " + firstLine(german));
    }
}

// Runs the uninstaller of every entry the last installation registered, as a
// deployment tool would, and judges what it leaves: false when it left the
// machine changed, after which no case can be trusted.
bool Checker::uninstall(const std::string& name, const std::string& dir) {
    for (const std::string& key : newUninstallKeys(start_, installed_)) {
        const std::vector<std::string>& values = installed_.keys.at(key);
        std::string entry = key.substr(key.rfind('\\') + 1);
        std::string verdict = "uninstall after " + name;
        std::string problem;
        for (const char* value : {"UninstallString", "QuietUninstallString"}) {
            if (problem.empty()) {
                problem = uninstallCommandProblem(value, valueOf(values, value));
            }
        }
        std::string command = valueOf(values, "QuietUninstallString");
        if (command.empty() && !valueOf(values, "UninstallString").empty()) {
            command = valueOf(values, "UninstallString") + " /S";
        }
        if (problem.empty() && command.empty()) {
            problem = "its entry " + entry + " names no uninstaller";
        }
        if (problem.empty()) {
            run_ = execute(command, limitMs_, true);
            if (!run_.started) {
                problem = run_.error;
            } else if (run_.timedOut) {
                problem = command + " did not end within " + seconds(limitMs_);
            } else if (!run_.windows.empty()) {
                problem = command + " showed a window: \"" + run_.windows.front() + "\"";
            } else if (run_.code != 0) {
                problem = command + " ended with " + exitCodeText();
            }
        }
        if (problem.empty()) {
            Snapshot after = snapshot();
            problem = judgeUninstallation(before_, installed_, after, dir);
        }
        if (!problem.empty()) {
            fail(verdict, problem);
            broken_ = true;
            putBack();
            return false;
        }
        pass(verdict, entry + " removed what the installation made");
    }
    // The directory stays, empty, for a late report.
    removeTree(dir);
    makeFolders(dir);
    return true;
}

// After an uninstaller that failed: what the installation made goes, so that
// the machine is left as the check found it. The verdict stands.
void Checker::putBack() {
    Snapshot now = snapshot();
    for (const auto& [entry, values] : now.keys) {
        if (!start_.keys.count(entry)) {
            std::string key = entry.substr(entry.find(':') + 1);
            removeRegistryKey(key, entry.compare(0, 3, "32:") == 0 ? 32 : 64);
        }
    }
    for (const auto& [path, state] : now.files) {
        if (!start_.files.count(path) && exists(path)) {
            removeTree(path);
        }
    }
    say("NOTE  the checker removed what the installation left, and runs no other case\n");
}

void Checker::reference() {
    caseRoot("Product");
    install(dir_, {"/D=" + dir_, "/L=e", "/DS=0"});
    if (run_.code != 0) {
        // A refusal that names a product installed before the check began
        // (its own, most likely) is no verdict on the installer.
        std::string names;
        for (const auto& [entry, values] : start_.keys) {
            std::string display = valueOf(values, "DisplayName");
            if (!display.empty() && run_.said.find(display) != std::string::npos) {
                names += (names.empty() ? "" : ", ") + display;
            }
        }
        if (!names.empty()) {
            say("qix-check: cannot check " + setupName_ +
                ": it refuses to install while this is installed on the machine: " + names +
                "; uninstall it, or check on a machine without it (it said: " +
                firstLine(run_.said) + ")\n");
            refused_ = true;
            return;
        }
    }
    expectSuccess("reference", "/DS=0");
    if (run_.code == 0 && landed_.empty()) {
        reference_ = contents(dir_);
        std::map<std::string, TreeEntry> tree = listTree(dir_);
        std::vector<std::string> top;
        for (const auto& [relative, entry] : tree) {
            if (relative.find('\\') == std::string::npos) {
                top.push_back(relative);
            }
        }
        std::set<std::string> uninstallers;
        for (const std::string& key : newUninstallKeys(start_, installed_)) {
            std::string command = valueOf(installed_.keys.at(key), "UninstallString");
            if (!command.empty() && command[0] == '"') {
                command = command.substr(1);
            }
            uninstallers.insert(lowered(command.substr(0, command.find('"'))));
        }
        bool product = false;
        for (const auto& [relative, entry] : tree) {
            if (!entry.folder && !uninstallers.count(lowered(dir_ + "\\" + relative))) {
                product = true;
            }
            // Each file (at any depth) and each top-level folder.
            if (!entry.folder) {
                referenceFiles_.insert(relative);
                things_.push_back({'f', relative});
            } else if (relative.find('\\') == std::string::npos) {
                things_.push_back({'d', relative});
            }
        }
        std::sort(things_.begin(), things_.end(),
                  [](const auto& a, const auto& b) { return a.second < b.second; });
        if (top.size() == 1 && tree.at(top.front()).folder) {
            fail("reference",
                 "put everything into a folder of its own inside the directory: " + top.front());
        } else if (!product) {
            std::string listed = reference_;
            std::replace(listed.begin(), listed.end(), '\n', ' ');
            fail("reference",
                 "installed only its uninstaller: " + listed.substr(0, listed.size() - 1));
        }
    }
    uninstall("reference", dir_);
}

void Checker::forms() {
    std::map<std::string, std::string> prints;
    for (const std::string language : {"", "/L=e", "/L=g"}) {
        for (const std::string shortcut : {"", "/DS=1", "/DS=0"}) {
            caseRoot("Product");
            std::vector<std::string> options{"/D=" + dir_};
            if (!language.empty()) {
                options.push_back(language);
            }
            if (!shortcut.empty()) {
                options.push_back(shortcut);
            }
            install(dir_, options);
            std::string name = "forms " + (language.empty() ? "(no /L)" : language) + " " +
                               (shortcut.empty() ? "(no /DS)" : shortcut);
            expectSuccess(name, shortcut);
            if (run_.code == 0 && landed_.empty()) {
                prints[language + " " + shortcut] = print_;
            }
            if (!uninstall(name, dir_)) {
                return;
            }
        }
    }
    if (declared_) {
        // The declaration says what differs by language and shortcut, and
        // each installation was held to it.
        return;
    }
    // An option the installation does not follow looks like a product without
    // such a difference: the checker cannot tell which.
    auto judged = [&](const std::string& name, const std::string& a, const std::string& b,
                      const std::string& same, const std::string& differs) {
        if (!prints.count(a) || !prints.count(b)) {
            return;
        }
        if (prints[a] == prints[b]) {
            cannot(name, same);
        } else {
            pass(name, differs);
        }
    };
    judged("forms, language", "/L=e /DS=0", "/L=g /DS=0",
           "/L=e and /L=g install the same files with the same contents: either the product has "
           "no language of its own, or the installer ignores /L",
           "/L=g installs otherwise than /L=e");
    judged("forms, shortcut", "/L=e /DS=1", "/L=e /DS=0",
           "/DS=1 and /DS=0 install the same: either the product has no desktop shortcut, or the "
           "installer ignores /DS",
           "/DS=1 installs otherwise than /DS=0");
}

void Checker::directories() {
    const std::pair<const char*, const char*> cases[] = {
        {"with blanks\\Product 2", ""},
        {"R&D (x86) & more\\(Product)", "\\"},
        {"x^y 50% off", ""},
        {"\xD0\x9A\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0\\Product", "\\"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xC3\x86r\xC3\xB8\\Product",
         ""},
    };
    for (const auto& [name, trailing] : cases) {
        caseRoot(name);
        makeFolders(parentOf(dir_));
        install(dir_, {"/D=" + dir_ + trailing, "/DS=0"});
        std::string shown = name;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        expectSuccess("directories " + shown + trailing, "/DS=0");
        if (!uninstall("directories " + shown, dir_)) {
            return;
        }
    }
}

// A directory of `length` characters, below a case folder named `name`.
std::string longDirectory(const std::string& root, std::size_t length) {
    std::string dir = root;
    // Characters, not bytes: the case folder is ASCII.
    while (dir.size() + 50 < length) {
        dir += "\\" + std::string(49, 'a');
    }
    std::size_t rest = length > dir.size() + 1 ? length - dir.size() - 1 : 1;
    return dir + "\\" + std::string(rest, 'z');
}

void Checker::longDirectories() {
    // Past 250 characters Wine's profile functions misname their file; the
    // command line holds the directory twice, so around 475 an installer's
    // copy of it is cut. Either way the run must not succeed elsewhere.
    for (std::size_t length : {300, 520}) {
        caseRoot("long" + std::to_string(length));
        std::string dir = longDirectory(dir_, length);
        install(dir, {"/D=" + dir, "/DS=0"});
        std::string name = "long directory of " + std::to_string(length) + " characters";
        expectEither(name, "/DS=0");
        if (!uninstall(name, dir)) {
            return;
        }
    }
}

void Checker::unusable() {
    // One thing the installation creates at a time is in the way as the other
    // kind (a folder where a file goes, a file where a folder goes), so that
    // every write is seen to be checked: every file, nested ones too, and
    // every top-level folder, or an even sample of them. The first in both
    // languages, the others in turn.
    std::vector<std::pair<char, std::string>> things = things_;
    if (things.size() > kSample) {
        say("NOTE  unusable: a sample of " + std::to_string(kSample) + " of the " +
            std::to_string(things.size()) + " files and top-level folders\n");
        std::vector<std::pair<char, std::string>> sample;
        for (std::size_t i = 1; i <= things.size(); ++i) {
            if ((i - 1) * kSample / things.size() != i * kSample / things.size()) {
                sample.push_back(things[i - 1]);
            }
        }
        things = sample;
    }
    for (std::size_t index = 0; index < things.size(); ++index) {
        const auto& [kind, entry] = things[index];
        std::vector<std::string> languages;
        std::string own = languageOf(dir_, entry);
        if (!own.empty()) {
            // A file of one language is written only under its /L.
            languages = {"/L=" + own};
        } else if (index == 0) {
            languages = {"/L=e", "/L=g"};
        } else {
            languages = {index % 2 == 1 ? "/L=g" : "/L=e"};
        }
        std::string shown = entry;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        std::map<std::string, std::string> said;
        for (const std::string& language : languages) {
            caseRoot("Product");
            std::string inTheWay = dir_ + "\\" + entry;
            makeFolders(parentOf(inTheWay));
            if (kind == 'd') {
                writeFile(inTheWay, "");
            } else {
                makeFolders(inTheWay);
            }
            install(dir_, {"/D=" + dir_, language, "/DS=0"});
            std::string name = "unusable: " + shown + " in the way " + language;
            expectFailure(name);
            if (run_.code != 0 && !run_.said.empty()) {
                said[language] = run_.said;
            }
            if (!uninstall(name, dir_)) {
                return;
            }
        }
        expectLanguages("unusable: " + shown + " in the way, language of the log", said["/L=e"],
                        said["/L=g"]);
    }
}

void Checker::again() {
    // A second installation into the same directory, in another language,
    // and one into another directory: each may install as asked or refuse,
    // but a refusal comes at once and in the run's language.
    caseRoot("Product");
    install(dir_, {"/D=" + dir_, "/L=e", "/DS=0"});
    expectSuccess("again: the first installation", "/DS=0");
    Snapshot first = before_;
    Snapshot firstInstalled = installed_;
    std::string firstDir = dir_;
    std::map<std::string, std::string> said;
    for (const std::string language : {"/L=e", "/L=g"}) {
        install(dir_, {"/D=" + dir_, language, "/DS=0"});
        expectEither("again: a second one " + language, "/DS=0");
        if (run_.code != 0 && !run_.said.empty()) {
            said[language] = run_.said;
        }
    }
    expectLanguages("again: language of the refusal", said["/L=e"], said["/L=g"]);
    std::string other = root_ + "\\Other";
    install(other, {"/D=" + other, "/L=g", "/DS=0"}, {firstDir});
    expectEither("again: another directory /L=g", "/DS=0");
    // All that the three runs registered goes, as after one installation.
    before_ = first;
    installed_ = snapshot();
    for (const auto& [path, state] : firstInstalled.files) {
        installed_.files.emplace(path, state);
    }
    if (!uninstall("again", firstDir)) {
        return;
    }
    removeTree(other);
    makeFolders(other);
}

void Checker::late() {
    // A log or marker that appears after the run (a helper reporting late)
    // was seen by nobody. Looked for once the first run is that long past.
    if (ran_.empty()) {
        return;
    }
    std::int64_t wait = ran_.front().first + kLateMs - monotonicMilliseconds();
    if (wait > 0) {
        sleepMilliseconds(static_cast<unsigned>(wait));
    }
    for (const auto& [when, dir] : ran_) {
        for (const auto& [relative, entry] : listTree(dir)) {
            if (relative.find('\\') != std::string::npos || !startsWith(relative, "install") ||
                lowered(relative).find(".log") == std::string::npos) {
                continue;
            }
            std::string bytes;
            readFile(dir + "\\" + relative, bytes);
            bool zeros = false;
            fail("late", "a log or marker appeared after its run had ended: " + dir + "\\" +
                             relative + ": " +
                             firstLine(cleanedOutput(bytes.substr(0, 200), zeros)));
            return;
        }
    }
    pass("late", "no log or marker appeared after " + std::to_string(ran_.size()) +
                     " runs, looked for " + std::to_string(kLateMs / 1000) +
                     " s or more after the first");
}

void Checker::person() {
    // A person starts the setup, without /S and /LOG, with a directory it
    // cannot use: a refusal must show itself (and wait for the person), not
    // end unseen.
    caseRoot("person");
    std::string dir = longDirectory(dir_, 1100);
    run_ = execute(quotedArgument(setup_) + " /D=" + dir, kPersonMs, false);
    if (!run_.started) {
        fail("person", "the setup could not be started: " + run_.error);
    } else if (!run_.windows.empty()) {
        pass("person",
             "a run without /S and /LOG shows \"" + run_.windows.front() + "\" to the person");
    } else if (run_.timedOut) {
        pass("person", "a run without /S and /LOG waits for the person");
    } else {
        fail("person",
             "a run without /S and /LOG into a directory it cannot use ended at once "
             "with " +
                 exitCodeText() + ", showing nothing");
    }
}

// Ends what runs left running, and the check's own folder with it.
int Checker::leave(int exitCode) {
    rests_.clear();
    removeTree(work_);
    return exitCode;
}

int Checker::finish() {
    std::string unjudged;
    for (const std::string& name : unjudged_) {
        unjudged += (unjudged.empty() ? "" : "; ") + name;
    }
    if (!unjudged.empty()) {
        unjudged = "; not judged: " + unjudged;
    }
    std::string restarts;
    for (const std::string& name : restarts_) {
        restarts += (restarts.empty() ? "" : "; ") + name;
    }
    if (!restarts.empty()) {
        restarts = "; asked for a restart: " + restarts;
    }
    int total = passed_ + static_cast<int>(failed_.size());
    if (failed_.empty()) {
        say("qix-check: " + setupName_ + " honours the contract: " + std::to_string(passed_) +
            " of " + std::to_string(total) + " cases passed" + unjudged + restarts + "\n");
        return leave(0);
    }
    std::string joined;
    for (const std::string& name : failed_) {
        joined += (joined.empty() ? "" : "; ") + name;
    }
    say("qix-check: " + setupName_ + " fails the contract: " + std::to_string(failed_.size()) +
        " of " + std::to_string(total) + " cases failed (" + joined + ")" + unjudged + restarts +
        "\n");
    return leave(1);
}

int Checker::check(const std::vector<std::string>& arguments) {
    static const std::set<std::string> kGroups{"forms", "directories", "long",  "unusable",
                                               "again", "late",        "person"};
    std::vector<std::string> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "-c" && i + 1 < arguments.size() && kGroups.count(arguments[i + 1])) {
            groups_.insert(arguments[++i]);
        } else if (arguments[i] == "-t" && i + 1 < arguments.size() && !arguments[i + 1].empty() &&
                   arguments[i + 1].size() <= 5 &&
                   arguments[i + 1].find_first_not_of("0123456789") == std::string::npos &&
                   std::stoul(arguments[i + 1]) >= 1 &&
                   std::stoul(arguments[i + 1]) <= kMostLimitSeconds) {
            limitMs_ = static_cast<unsigned>(std::stoul(arguments[++i])) * 1000;
        } else if (arguments[i].size() > 1 && arguments[i][0] == '-') {
            files.clear();
            break;
        } else {
            files.push_back(arguments[i]);
        }
    }
    if (files.size() != 2 || !exists(files[0]) || !exists(files[1])) {
        say(kUsage);
        return 2;
    }
    program_ = files[0];
    setupName_ = files[1].substr(files[1].find_last_of("\\/") + 1);
    std::string declarationText;
    if (readFile(files[1] + ".qix", declarationText)) {
        std::string error;
        if (!parseDeclaration(declarationText, declaration_, error)) {
            say("qix-check: cannot check " + setupName_ + ": its declaration " + setupName_ +
                ".qix is unreadable: " + error + "\n");
            return 2;
        }
        declared_ = true;
    }
    // On the system drive, as installations go.
    std::string drive = knownFolder("Windows").substr(0, 2);
    work_ = drive + "\\qix-check." + std::to_string(currentProcessId());
    if (!makeFolders(work_ + "\\media") || !makeFolders(work_ + "\\t") ||
        !copyFile(files[1], work_ + "\\media\\" + setupName_)) {
        say("qix-check: cannot check " + setupName_ + ": cannot prepare " + work_ + "\n");
        removeTree(work_);
        return 2;
    }
    setup_ = work_ + "\\media\\" + setupName_;
    findFolders();
    say(declared_ ? "NOTE  judged against its declaration, " + setupName_ + ".qix (" +
                        std::to_string(declaration_.records.size()) + " records)\n"
                  : "NOTE  no declaration beside it: judged against its first installation\n");
    start_ = snapshot();

    reference();
    if (refused_) {
        return leave(2);
    }
    if (!failed_.empty()) {
        say("qix-check: " + setupName_ + " fails the contract: " +
            (broken_ ? "its uninstaller does not put the machine back"
                     : "an ordinary installation does not succeed") +
            ", so no other case was run\n");
        return leave(1);
    }
    using Group = void (Checker::*)();
    const std::pair<const char*, Group> order[] = {
        {"forms", &Checker::forms},          {"directories", &Checker::directories},
        {"long", &Checker::longDirectories}, {"unusable", &Checker::unusable},
        {"again", &Checker::again},          {"late", &Checker::late},
        {"person", &Checker::person}};
    for (const auto& [group, method] : order) {
        if (broken_) {
            break;
        }
        if (wanted(group)) {
            (this->*method)();
        }
    }
    return finish();
}

}  // namespace

int runCheck(const std::vector<std::string>& arguments) {
    Checker checker;
    return checker.check(arguments);
}

}  // namespace check
