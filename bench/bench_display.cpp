// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual display under a host that sends configuration frames in a row:
// 3,001 frames from the first byte written to the last one read, with and
// without a state file, and how long SIGTERM takes to end the display when it
// comes as the last frame is written.
//
//   bench_display PATH_TO_vantrel-display [RUNS]
#include "Stats.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Run {
    double frames = 0, end = 0;
    bool saved = true;
};

// One run: 3,000 frames switching the international set between USA and
// France, then one to Germany, which the display prints once it has read it;
// or, with `stopAtOnce`, SIGTERM as soon as the last frame is written.
Run Once(const std::string& program, const std::string& state, bool stopAtOnce) {
    int out[2];
    if (pipe(out) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        std::vector<const char*> args{program.c_str(), "--headless"};
        if (!state.empty()) args.insert(args.end(), {"--state", state.c_str()});
        args.push_back(nullptr);
        execv(program.c_str(), const_cast<char* const*>(args.data()));
        _exit(127);
    }
    close(out[1]);
    std::string seen;
    char buf[65536];
    auto readUntil = [&](const std::string& what) {
        while (seen.find(what) == std::string::npos) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0) return false;
            // Only the tail can still hold the start of `what`.
            seen = seen.substr(seen.size() > 64 ? seen.size() - 64 : 0) + std::string(buf, static_cast<std::size_t>(n));
        }
        return true;
    };
    Run run;
    if (!readUntil("\n")) std::abort();
    const int line = open(seen.substr(0, seen.find('\n')).c_str(), O_WRONLY | O_NOCTTY);
    if (line < 0) std::abort();
    std::string frames;
    for (int i = 0; i < 3000; ++i) frames += std::string("\x02\x05S") + static_cast<char>('0' + i % 2) + "\x03";
    frames += "\x02\x05S2\x03";
    const auto start = Clock::now();
    for (std::size_t at = 0; at < frames.size();) {
        const ssize_t n = write(line, frames.data() + at, frames.size() - at);
        if (n <= 0) std::abort();
        at += static_cast<std::size_t>(n);
    }
    if (!stopAtOnce) {
        if (!readUntil("Germany")) std::abort();
        run.frames = Ms(Clock::now() - start);
    }
    const auto stop = Clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    run.end = Ms(Clock::now() - stop);
    close(line);
    close(out[0]);
    if (!state.empty() && !stopAtOnce) {
        std::ifstream in(state);
        run.saved = std::string(std::istreambuf_iterator<char>(in), {}).find("international=Germany") != std::string::npos;
    }
    std::remove(state.c_str());
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_display PATH_TO_vantrel-display [RUNS]\n");
        return 2;
    }
    const std::string program = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    char folder[] = "/tmp/bench-display-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string state = std::string(folder) + "/display.state";
    std::vector<double> withFile, without, endWithFile;
    for (int i = 0; i < runs; ++i) {
        const Run a = Once(program, state, false);
        if (!a.saved) std::fprintf(stderr, "the state file does not hold the last set-up\n");
        withFile.push_back(a.frames);
        without.push_back(Once(program, "", false).frames);
        endWithFile.push_back(Once(program, state, true).end);
    }
    rmdir(folder);
    const Summary a = Summarise(withFile), b = Summarise(without), e = Summarise(endWithFile);
    Row("Virtual display: 3,001 configuration frames, first byte to the last one read, with --state", withFile.size(),
        Fixed(a.median, "ms", 1), Fixed(a.worst, "ms", 1), "close to the run without");
    Row("Virtual display: the same 3,001 frames without --state", without.size(), Fixed(b.median, "ms", 1),
        Fixed(b.worst, "ms", 1), "(floor)");
    Row("Virtual display with --state: SIGTERM as the last of those frames is written, to its end", endWithFile.size(),
        Fixed(e.median, "ms", 1), Fixed(e.worst, "ms", 1), "< 1 s");
    return 0;
}
