// SPDX-License-Identifier: GPL-3.0-or-later
// The time a byte spends in the tap between a till and its display, from the
// tap's read of it to its write on the other side: chunks as a till sends
// them (20 bytes, a few milliseconds apart, the display answering now and
// then), and a flood in both directions at once. Pseudo-terminals stand in
// for the two ports; the screen reads along as it does in the program.
//
//   bench_tap [CHUNKS]
#include "Pty.h"
#include "Stats.h"
#include "virtual-display/PortReader.h"
#include "virtual-display/Tap.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace vantrel::display;
using namespace std::chrono_literals;

namespace {

std::vector<double> Microseconds(const std::vector<std::chrono::nanoseconds>& times) {
    std::vector<double> us;
    for (auto t : times) us.push_back(std::chrono::duration<double, std::micro>(t).count());
    return us;
}

void Drain(int fd) {
    std::uint8_t buf[4096];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

// The worst, and the time that 99 of 100 chunks stay within: on a shared
// machine the worst is mostly a thread waiting for a processor.
std::string Worst(std::vector<double> us) {
    if (us.empty()) return "-";
    std::sort(us.begin(), us.end());
    return Fixed(us.back(), "us", 1) + " (99%: " + Fixed(us[us.size() * 99 / 100], "us", 1) + ")";
}

// The floor under any thread's delay on this machine: how late a thread
// wakes from a 1 ms sleep, measured while the tap runs. A tap's worst chunk
// cannot be better than the worst of these.
class Lateness {
public:
    Lateness()
        : thread_([this] {
              while (running_) {
                  const auto before = std::chrono::steady_clock::now();
                  std::this_thread::sleep_for(1ms);
                  late_.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before - 1ms).count());
              }
          }) {}
    std::vector<double> Stop() {
        running_ = false;
        thread_.join();
        return late_;
    }

private:
    std::atomic<bool> running_{true};
    std::vector<double> late_;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const int chunks = argc > 1 ? std::atoi(argv[1]) : 2000;
    Pty till, display;
    VirtualDisplay screen{VirtualDisplay::ExternalLine{}};
    std::string error;
    auto a = OpenListening(till.Path(), 9600, error), b = OpenListening(display.Path(), 9600, error);
    if (!a || !b) {
        std::fprintf(stderr, "bench_tap: %s\n", error.c_str());
        return 1;
    }
    Tap tap(screen, {"till", till.Path(), std::move(a)}, {"display", display.Path(), std::move(b)}, 9600);

    Lateness paced;
    // A till's pace: a line of text every 2 ms, an answer every tenth.
    const std::string line = "\x1BQA" "TOTAL      12.50\r";
    for (int i = 0; i < chunks; ++i) {
        if (write(till.Master(), line.data(), line.size()) < 0) return 1;
        if (i % 10 == 0 && write(display.Master(), "\x06", 1) < 0) return 1;
        std::this_thread::sleep_for(2ms);
        Drain(till.Master());
        Drain(display.Master());
        screen.ReadAvailable();
    }
    std::this_thread::sleep_for(50ms);
    const auto pacedTimes = Microseconds(tap.TakeDwellTimes());
    Row("Tap: a chunk's time in the tap, read to written, a till's pace (20 bytes every 2 ms)", pacedTimes.size(),
        Fixed(Summarise(pacedTimes).median, "us", 1), Worst(pacedTimes), "< 1 ms");
    const auto pacedLate = paced.Stop();
    Row("Machine: how late a thread wakes from a 1 ms sleep, meanwhile (the floor under the worst)", pacedLate.size(),
        Fixed(Summarise(pacedLate).median, "us", 1), Worst(pacedLate), "-");
    Lateness duringFlood;

    // A flood: 4 MiB from the till and 1 MiB from the display at once. Both
    // far ends are read on a thread of their own, as fast as they come, so
    // that the time measured is the tap's and not a slow reader's.
    std::atomic<bool> flooding{true};
    std::thread readers([&] {
        while (flooding) {
            pollfd p[2] = {{till.Master(), POLLIN, 0}, {display.Master(), POLLIN, 0}};
            poll(p, 2, 10);
            Drain(till.Master());
            Drain(display.Master());
        }
    });
    const std::vector<std::uint8_t> flood(4096, 0x55);
    std::size_t toSend[2] = {4u << 20, 1u << 20};
    const auto until = std::chrono::steady_clock::now() + 60s;
    while ((toSend[0] || toSend[1]) && std::chrono::steady_clock::now() < until) {
        pollfd p[2] = {{till.Master(), static_cast<short>(toSend[0] ? POLLOUT : 0), 0},
                       {display.Master(), static_cast<short>(toSend[1] ? POLLOUT : 0), 0}};
        poll(p, 2, 10);
        for (int i = 0; i < 2; ++i)
            if (toSend[i] && (p[i].revents & POLLOUT)) {
                const ssize_t n = write(p[i].fd, flood.data(), std::min(flood.size(), toSend[i]));
                if (n > 0) toSend[i] -= static_cast<std::size_t>(n);
            }
        screen.ReadAvailable();
    }
    std::this_thread::sleep_for(50ms);
    flooding = false;
    readers.join();
    const auto flooded = Microseconds(tap.TakeDwellTimes());
    Row("Tap: a chunk's time in the tap, read to written, a flood both ways (4 MiB and 1 MiB)", flooded.size(),
        Fixed(Summarise(flooded).median, "us", 1), Worst(flooded), "< 1 ms");
    const auto floodLate = duringFlood.Stop();
    Row("Machine: how late a thread wakes from a 1 ms sleep, meanwhile (the floor under the worst)", floodLate.size(),
        Fixed(Summarise(floodLate).median, "us", 1), Worst(floodLate), "-");
    return 0;
}
