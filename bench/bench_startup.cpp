// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up time and memory of a desktop program under an X server:
//   bench_startup RUNS NAME COMMAND [ARGS...]
// Each run starts the command and times it from fork to the mapping of its
// first real top-level window, then reads its resident memory two seconds later.
#include "Stats.h"

#include <X11/Xlib.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_startup RUNS NAME COMMAND [ARGS...]\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    const std::string name = argv[2];
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_startup: no X display\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    std::vector<double> times, memory;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms the caches and is not counted
        while (XPending(display)) {
            XEvent e;
            XNextEvent(display, &e);
        }
        const auto start = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            dup2(quiet, 2);
            execvp(argv[3], argv + 3);
            _exit(127);
        }
        double mappedMs = -1;
        while (mappedMs < 0) {
            XEvent e;
            XNextEvent(display, &e);
            if (e.type != MapNotify) continue;
            XWindowAttributes a;
            if (XGetWindowAttributes(display, e.xmap.window, &a) && a.width >= 100 && a.height >= 100)
                mappedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const long kib = ResidentKiB(pid);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        if (run == 0) continue;
        times.push_back(mappedMs);
        memory.push_back(kib / 1024.0);
    }
    const Summary t = Summarise(times), m = Summarise(memory);
    // Machine-readable lines for the bench script.
    std::printf("startup %s %.1f %.1f %.1f %.1f %d\n", name.c_str(), t.median, t.worst, m.median, m.worst, runs);
    XCloseDisplay(display);
    return 0;
}
