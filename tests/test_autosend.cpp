// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFixture.h"
#include "app/PanelTables.h"
#include "content/AutoSend.h"

#include <QApplication>
#include <future>
#include <system_error>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

// The first n frames of the cycle as they go on the line: 0x0C, patterns 1..10,
// 0x0C, patterns 11..20, and again.
Bytes CycleFrames(int n, std::vector<std::size_t>* patternOffsets = nullptr) {
    Bytes out;
    for (int i = 0; i < n; ++i) {
        const int step = i % 22;
        if (step == 0 || step == 11) {
            out.push_back(0x0C);
            continue;
        }
        if (patternOffsets) patternOffsets->push_back(out.size());
        const char* p = AutoPatterns[step < 11 ? step - 1 : step - 2];
        out.insert(out.end(), p, p + 40);
    }
    return out;
}

class AutoSend : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Open();
    }
    void Toggle() { Click(1007); }
    void ExpectIdle() {
        EXPECT_EQ(panel->AutoIdle, 1);
        EXPECT_EQ(AutoRun.load(), 0);
        EXPECT_EQ(Label(1007), "Auto Send");
    }
};

}  // namespace

TEST_F(AutoSend, FirstTurnIsExactAndPaced) {
    LineRecorder line(pty.Master());
    const auto pressed = std::chrono::steady_clock::now();
    Toggle();
    EXPECT_EQ(Label(1007), "Stop Auto");
    EXPECT_EQ(panel->AutoIdle, 0);
    std::vector<std::size_t> offsets;
    const Bytes expected = CycleFrames(24, &offsets);  // one turn, then 0x0C and pattern 1 of the next
    ASSERT_TRUE(line.WaitFor(expected.size(), 60s));
    Toggle();
    const Bytes got = line.All();
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(ToHex(Bytes(got.begin(), got.begin() + expected.size())), ToHex(expected));
    // The pace summed over the turn: the worker never runs ahead of its own
    // schedule, a pause after each of the 20 patterns before the 21st, however
    // busy the machine. How close it keeps to that schedule is the benchmark's
    // to report (bench_panel: "Cycle pace").
    EXPECT_GE(line.TimeOfByte(offsets.back()) - pressed, 20 * PatternPause);
}

TEST_F(AutoSend, AStopPressNeverWaitsForTheWorker) {
    // The worker's thread is held before it runs: a stop press that waited for
    // it would come back only when the hold gives up.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const auto previous = AutoSender::SetLauncher([released](std::function<void()> body) {
        return std::thread([released, body = std::move(body)] {
            released.wait_for(60s);
            body();
        });
    });
    Toggle();
    Toggle();
    AutoSender::SetLauncher(previous);
    EXPECT_EQ(panel->AutoSenderForTest().LiveWorkers(), 1u) << "the press came back with its worker still held";
    ExpectIdle();
    release.set_value();
    // Released after its stop, the worker ends without a write.
    for (int i = 0; i < 6000 && panel->AutoSenderForTest().LiveWorkers() != 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(panel->AutoSenderForTest().LiveWorkers(), 0u);
    EXPECT_TRUE(pty.ReadUntilQuiet(100ms).empty());
}

TEST_F(AutoSend, CycleDisablesTheEightSendingControlsAndStopGivesThemBack) {
    Toggle();
    for (int id : SendingControls) EXPECT_FALSE(Item(id)->isEnabled()) << id;
    for (int id : {1003, 1007, 1114, 1115, 1001, 1002, 1000, 1004, 1010, 1105}) EXPECT_TRUE(Item(id)->isEnabled()) << id;
    Click(1114);  // the samples still cycle
    EXPECT_EQ(Label(1114), "String 2");
    Toggle();
    for (int id : SendingControls) EXPECT_TRUE(Item(id)->isEnabled()) << id;
    ExpectIdle();
}

TEST_F(AutoSend, StopDuringAPauseSendsNoFurtherByte) {
    LineRecorder line(pty.Master());
    Toggle();
    ASSERT_TRUE(line.WaitFor(41, 2s));
    std::this_thread::sleep_for(150ms);
    Toggle();
    ExpectIdle();
    std::this_thread::sleep_for(900ms);
    EXPECT_EQ(line.All(), CycleFrames(2));
    EXPECT_EQ(panel->AutoSenderForTest().LiveWorkers(), 0u);
}

TEST_F(AutoSend, StopThenStartGivesOneFreshCycle) {
    LineRecorder line(pty.Master());
    Toggle();
    ASSERT_TRUE(line.WaitFor(41, 2s));
    Toggle();
    Toggle();
    const Bytes first = CycleFrames(2);
    Bytes expected = first;
    const Bytes fresh = CycleFrames(4);
    expected.insert(expected.end(), fresh.begin(), fresh.end());
    ASSERT_TRUE(line.WaitFor(expected.size(), 3s));
    std::this_thread::sleep_for(200ms);  // long enough for an old worker's stray pattern
    Toggle();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ToHex(line.All()), ToHex(expected));
}

TEST_F(AutoSend, CloseDuringACycleEndsItAndLeavesTheLineSilent) {
    LineRecorder line(pty.Master());
    Toggle();
    ASSERT_TRUE(line.WaitFor(41, 2s));
    Click(1003);
    ExpectIdle();
    EXPECT_FALSE(Item(1007)->isEnabled());
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(line.All(), CycleFrames(2));
    // Reopened, the next press starts a new cycle from the clear byte and pattern 1.
    Open();
    EXPECT_EQ(Label(1007), "Auto Send");
    Toggle();
    ASSERT_TRUE(line.WaitFor(82, 2s));
    Toggle();
    Bytes twice = CycleFrames(2);
    twice.insert(twice.end(), twice.begin(), twice.end());
    EXPECT_EQ(line.All(), twice);
}

TEST_F(AutoSend, ListChangesDuringACycleEndItAsCloseDoes) {
    for (int list : {1001, 1002}) {
        LineRecorder line(pty.Master());
        Toggle();
        ASSERT_TRUE(line.WaitFor(41, 2s));
        Choose(list, list == 1001 ? 0 : 5);
        ExpectIdle();
        EXPECT_EQ(panel->PortOpen, 0);
        EXPECT_FALSE(PortHandleValid());
        std::this_thread::sleep_for(700ms);
        EXPECT_EQ(line.All(), CycleFrames(2)) << list;
        Open();
    }
}

TEST_F(AutoSend, UnpluggedAdapterMidCycleIsSilentAndStopStillWorks) {
    Toggle();
    ASSERT_EQ(pty.Read(41), CycleFrames(2));
    pty.CloseMaster();
    std::this_thread::sleep_for(1200ms);  // two failed patterns
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(panel->AutoIdle, 0);
    Toggle();
    ExpectIdle();
}

TEST_F(AutoSend, ToggleWithThePortClosedOnlyShowsTheMessage) {
    Click(1003);
    panel->OnAutoSend();  // the button is disabled; the handler guards itself too
    EXPECT_EQ(messages, QStringList{"Operation valid only when the port is open!"});
    ExpectIdle();
}

TEST_F(AutoSend, WorkerThatCannotStartLeavesThePanelIdle) {
    const auto previous = AutoSender::SetLauncher([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    Toggle();
    AutoSender::SetLauncher(previous);
    ExpectIdle();
    for (int id : SendingControls) EXPECT_TRUE(Item(id)->isEnabled()) << id;
    EXPECT_TRUE(pty.ReadUntilQuiet(100ms).empty());
    Toggle();  // a later press works
    EXPECT_EQ(pty.Read(41), CycleFrames(2));
    Toggle();
}

TEST_F(AutoSend, ClosingThePanelDuringACycleStopsAndJoinsTheWorker) {
    LineRecorder line(pty.Master());
    Toggle();
    ASSERT_TRUE(line.WaitFor(41, 2s));
    panel.reset();
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(line.All(), CycleFrames(2));
}

TEST_F(AutoSend, ButtonsGivenBackAtStopSendApartFromTheLastPattern) {
    LineRecorder line(pty.Master());
    Toggle();
    ASSERT_TRUE(line.WaitFor(41, 2s));
    Toggle();
    Click(1005);
    Click(1087);
    std::this_thread::sleep_for(600ms);
    Bytes expected = CycleFrames(2);
    expected.push_back(0x0C);
    expected.insert(expected.end(), 40, 0xB2);
    EXPECT_EQ(line.All(), expected);
}
