// A stand-in for the product's setup, steered by its environment so that each
// end-to-end test decides what the setup does:
//   QIX_SETUP_RECORD   file to receive the raw command line, byte for byte
//   QIX_SETUP_LOG      file whose bytes become the log; unset: no log at all
//   QIX_SETUP_LOG_AS_DIRECTORY  when set, a directory takes the log's place
//   QIX_SETUP_MARKER   "now" (default), "never", or milliseconds after exit
//   QIX_SETUP_SLEEP_MS pause before exiting
//   QIX_SETUP_EXIT     exit code (default 0)
//   QIX_SETUP_CRASH    when set, dies of an access violation at the end, its
//                      log and marker written, instead of returning
//   QIX_SETUP_HOLD_LOG_MS, QIX_SETUP_HOLD_MARKER_MS
//                      a child process holds the log or the marker open,
//                      sharing nothing, for that long after the setup ends
//   QIX_SETUP_DETACHED_FILE, QIX_SETUP_DETACHED_MS, QIX_SETUP_BREAKAWAY
//                      a detached child creates that file after that pause,
//                      outside the setup's job when QIX_SETUP_BREAKAWAY is set
//   QIX_SETUP_DETACHED_GATE  the detached child creates its file only once
//                      this one exists (up to 60 s)
//   QIX_SETUP_DETACHED_STARTED  file the detached child creates as it starts
//   QIX_SETUP_DONE     file created just before exiting, after the pause
//   QIX_SETUP_WAIT_FOR once its command line is recorded, waits (up to 60 s)
//                      until this file exists
//   QIX_SETUP_SAY      text it prints on its standard output, and after
//                      "setup error: " on its standard error, as it starts
//   QIX_SETUP_WRAP     (Unicode setup only) the path of a setup without
//                      Unicode that it hands its line on to, as a wrapper
//                      would: through the ANSI code page (runWrapped)
// Run as "--lock <file> <locked> <release>" it holds the lock runs take on a
// run's record, creates <locked>, and lets go once <release> exists (60 s at
// most).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "setup_host.h"
#include "setup_switches.h"

namespace {

std::string environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

unsigned milliseconds(const char* name) {
    return static_cast<unsigned>(std::atoi(environment(name, "0").c_str()));
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
}

}  // namespace

bool exists(const std::string& path) {
    return std::ifstream(path).good();
}

void waitFor(const std::string& path) {
    for (int i = 0; i < 1200 && !exists(path); ++i) {
        sleepMilliseconds(50);
    }
}

int run(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--lock") {
        // Not 1, which Wine gives a process it failed to start.
        if (!lockRecord(argv[2])) {
            return 2;
        }
        writeFile(argv[3], "");
        waitFor(argv[4]);
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--create-after") {
        std::string started = environment("QIX_SETUP_DETACHED_STARTED", "");
        if (!started.empty()) {
            writeFile(started, "");
        }
        sleepMilliseconds(static_cast<unsigned>(std::atoi(argv[2])));
        std::string gate = environment("QIX_SETUP_DETACHED_GATE", "");
        if (!gate.empty()) {
            waitFor(gate);
        }
        writeFile(argv[3], "");
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--sleep") {
        sleepMilliseconds(static_cast<unsigned>(std::atoi(argv[2])));
        return 0;
    }
    std::string say = environment("QIX_SETUP_SAY", "");
    if (!say.empty()) {
        std::printf("%s\n", say.c_str());
        std::fprintf(stderr, "setup error: %s\n", say.c_str());
        std::fflush(stdout);
    }
    std::string raw = rawCommandLine(argc, argv);
    std::string record = environment("QIX_SETUP_RECORD", "");
    if (!record.empty()) {
        writeFile(record, raw);
    }
    std::string go = environment("QIX_SETUP_WAIT_FOR", "");
    if (!go.empty()) {
        waitFor(go);
    }
    SetupSwitches switches = parseSetupSwitches(raw);
    std::string logSource = environment("QIX_SETUP_LOG", "");
    if (!logSource.empty() && !switches.logPath.empty()) {
        // Streamed, so that the setup stays small even for a huge log.
        std::ifstream input(logSource, std::ios::binary);
        std::ofstream(switches.logPath, std::ios::binary) << input.rdbuf();
    }
    if (!environment("QIX_SETUP_LOG_AS_DIRECTORY", "").empty()) {
        makeDirectory(switches.logPath);
    }
    unsigned holdLog = milliseconds("QIX_SETUP_HOLD_LOG_MS");
    if (holdLog > 0) {
        holdOpenInChild(switches.logPath, holdLog);
    }
    std::string marker = environment("QIX_SETUP_MARKER", "now");
    std::string markerPath = switches.logPath + ".ready";
    if (marker == "now") {
        writeFile(markerPath, "");
    } else if (marker != "never") {
        createLater(static_cast<unsigned>(std::atoi(marker.c_str())), markerPath);
    }
    unsigned holdMarker = milliseconds("QIX_SETUP_HOLD_MARKER_MS");
    if (holdMarker > 0) {
        holdOpenInChild(markerPath, holdMarker);
    }
    std::string detached = environment("QIX_SETUP_DETACHED_FILE", "");
    if (!detached.empty()) {
        createLater(milliseconds("QIX_SETUP_DETACHED_MS"), detached,
                    !environment("QIX_SETUP_BREAKAWAY", "").empty());
    }
    sleepMilliseconds(milliseconds("QIX_SETUP_SLEEP_MS"));
    std::string done = environment("QIX_SETUP_DONE", "");
    if (!done.empty()) {
        writeFile(done, "");
    }
    if (!environment("QIX_SETUP_CRASH", "").empty()) {
        crash();
    }
    return std::atoi(environment("QIX_SETUP_EXIT", "0").c_str());
}

#if defined(_WIN32) && !defined(QIX_ANSI_SETUP) && !defined(QIX_NARROW_MAIN_SETUP)
// A Unicode setup: it imports only the wide readers of its command line.
int wmain(int argc, wchar_t** wide) {
    std::string inner = environment("QIX_SETUP_WRAP", "");
    if (!inner.empty()) {
        return runWrapped(inner);
    }
    std::vector<std::string> arguments(static_cast<std::size_t>(argc));
    std::vector<char*> argv;
    for (int i = 0; i < argc; ++i) {
        arguments[i] = utf8(wide[i]);
        argv.push_back(&arguments[i][0]);
    }
    return run(argc, argv.data());
}
#else
// Also a setup that reads its line in UTF-16 but has the run-time's narrow
// main: it imports narrow readers too.
int main(int argc, char** argv) {
    return run(argc, argv);
}
#endif
