// Runs one program once for scripts/bench and prints, on one line:
//   <wall ms> <marker-to-exit ms, or -1> <exit status> <peak RSS KiB>
// Usage: run_once [--out FILE] [--err FILE] [--watch DIR] -- PROGRAM ARGS...
// --watch times the first "*.ready" file created in DIR; the program's exit
// is measured against it, so the poll latency is seen from outside.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

int usage() {
    std::fprintf(stderr, "usage: run_once [--out FILE] [--err FILE] [--watch DIR] -- PROGRAM...\n");
    return 2;
}

// Reads inotify events until `stop` becomes readable, keeping the time the
// first marker appeared. Each event is stamped when it is read, which is as
// soon as the kernel queues it because the thread does nothing else.
void watchMarkers(int watchFd, int stop, std::atomic<bool>& seen, Clock::time_point& when) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        pollfd fds[2] = {{watchFd, POLLIN, 0}, {stop, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            return;
        }
        Clock::time_point now = Clock::now();
        if (fds[0].revents & POLLIN) {
            ssize_t size = read(watchFd, buffer, sizeof(buffer));
            for (ssize_t at = 0; at < size;) {
                const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && !seen && endsWith(event->name, ".ready")) {
                    when = now;
                    seen = true;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (fds[1].revents & POLLIN) {
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string outPath = "/dev/null";
    std::string errPath = "/dev/null";
    std::string watchDir;
    int at = 1;
    for (; at < argc; ++at) {
        std::string option = argv[at];
        if (option == "--") {
            ++at;
            break;
        }
        if (at + 1 >= argc) {
            return usage();
        }
        if (option == "--out") {
            outPath = argv[++at];
        } else if (option == "--err") {
            errPath = argv[++at];
        } else if (option == "--watch") {
            watchDir = argv[++at];
        } else {
            return usage();
        }
    }
    if (at >= argc) {
        return usage();
    }

    int watchFd = -1;
    int stopPipe[2] = {-1, -1};
    std::atomic<bool> markerSeen{false};
    Clock::time_point markerTime;
    std::thread watcher;
    if (!watchDir.empty()) {
        watchFd = inotify_init1(IN_CLOEXEC);
        if (watchFd < 0 ||
            inotify_add_watch(watchFd, watchDir.c_str(), IN_CREATE | IN_MOVED_TO) < 0 ||
            pipe2(stopPipe, O_CLOEXEC) != 0) {
            std::perror("run_once: inotify");
            return 2;
        }
        watcher = std::thread(watchMarkers, watchFd, stopPipe[0], std::ref(markerSeen),
                              std::ref(markerTime));
    }

    Clock::time_point start = Clock::now();
    pid_t child = fork();
    if (child < 0) {
        std::perror("run_once: fork");
        return 2;
    }
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(126);
        }
        execvp(argv[at], argv + at);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
    }
    Clock::time_point end = Clock::now();

    if (watcher.joinable()) {
        if (write(stopPipe[1], "x", 1) != 1) {
            std::perror("run_once: stop");
        }
        watcher.join();
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    double markerToExit = markerSeen ? millisecondsBetween(markerTime, end) : -1.0;
    std::printf("%.3f %.3f %d %ld\n", millisecondsBetween(start, end), markerToExit, code,
                usage.ru_maxrss);
    return 0;
}
