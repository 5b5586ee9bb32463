// SPDX-License-Identifier: GPL-3.0-or-later
// The auto-send pattern cycle and its worker thread.
//
// A cycle: 0x0C, patterns 1..10 each followed by a 500 ms pause and a check,
// 0x0C, patterns 11..20 the same, for ever. Each worker has a stop signal of its
// own, checked under the link mutex just before every write, so a stopped worker
// never writes again, even when a new cycle starts before it wakes.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel {

inline constexpr std::size_t PatternLength = 40;
inline constexpr int AutoSendControl = 1007;  // the button whose cycle writes, as the line log names it
inline constexpr std::chrono::milliseconds PatternPause{500};

// Set by the interface thread: 1 while a cycle is to go on.
extern std::atomic<int> AutoRun;

inline constexpr std::array<const char*, 20> AutoPatterns{
    "1                  11                  1",
    "12                2112                21",
    "123              321123              321",
    "1234            43211234            4321",
    "12345          5432112345          54321",
    "123456        654321123456        654321",
    "1234567      76543211234567      7654321",
    "12345678    8765432112345678    87654321",
    "123456789  987654321123456789  987654321",
    "1234567890098765432112345678900987654321",
    "A                  AA                  A",
    "AB                BAAB                BA",
    "ABC              CBAABC              CBA",
    "ABCD            DCBAABCD            DCBA",
    "ABCDE          EDCBAABCDE          EDCBA",
    "ABCDEF        FEDCBAABCDEF        FEDCBA",
    "ABCDEFG      GFEDCBAABCDEFG      GFEDCBA",
    "ABCDEFGH    HGFEDCBAABCDEFGH    HGFEDCBA",
    "ABCDEFGHI  IHGFEDCBAABCDEFGHI  IHGFEDCBA",
    "ABCDEFGHIJJIHGFEDCBAABCDEFGHIJJIHGFEDCBA",
};

// Pattern k (1..10) of an alphabet: half(k) = the first k symbols, 20 - 2k
// spaces, the k symbols reversed; the pattern is half(k) twice.
constexpr bool PatternFollowsRule(const char* pattern, const char* alphabet, int k) {
    for (int line = 0; line < 2; ++line) {
        for (int i = 0; i < 20; ++i) {
            const char expected = i < k ? alphabet[i] : i >= 20 - k ? alphabet[19 - i] : ' ';
            if (pattern[line * 20 + i] != expected) return false;
        }
    }
    return pattern[40] == '\0';
}

constexpr bool PatternsFollowRule() {
    for (int k = 1; k <= 10; ++k)
        if (!PatternFollowsRule(AutoPatterns[k - 1], "1234567890", k) ||
            !PatternFollowsRule(AutoPatterns[k + 9], "ABCDEFGHIJ", k))
            return false;
    return true;
}
static_assert(PatternsFollowRule());

// Owns the worker threads. Start and Stop are for the interface thread; Stop
// never waits. The destructor stops and joins every worker.
class AutoSender {
public:
    // Starts a thread running `body`; tests replace it to make a start fail.
    using Launcher = std::function<std::thread(std::function<void()> body)>;

    AutoSender();
    ~AutoSender();
    AutoSender(const AutoSender&) = delete;
    AutoSender& operator=(const AutoSender&) = delete;

    // Starts a new worker; false when no thread could be created.
    bool Start();
    // Tells the current worker to stop and wakes it from its pause.
    void Stop();
    // Stop, then wait for every worker to end.
    void StopAndJoin();
    // Workers whose threads have not ended yet.
    std::size_t LiveWorkers() const;

    static Launcher SetLauncher(Launcher launcher);

private:
    struct Worker;
    void ReapFinished();

    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace vantrel
