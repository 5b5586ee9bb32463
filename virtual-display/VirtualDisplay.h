// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual display's line: a pseudo-terminal whose slave the panel opens as
// its serial port. It keeps a descriptor of the slave open itself, so the panel
// closing the port never hangs the line up, and publishes the slave's path.
//
// A thread of its own reads the line as soon as bytes or a change of the line's
// settings arrive, so that bytes are judged at the speed they were sent with,
// and holds at most QueueLimit bytes: a writer that floods the line waits, as
// on a real line, and memory stays flat. The model is fed on the caller's
// thread, a bounded slice at a time.
#pragma once

#include "display/DisplayModel.h"
#include "recording/LineChunk.h"
#include "serial/PseudoTerminal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::display {

class Ranking;

class VirtualDisplay {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t QueueLimit = 64 * 1024;  // bytes read but not yet taken
    static constexpr std::size_t SliceLimit = 16 * 1024;  // bytes that one ReadAvailable takes

    // A chunk as the line delivered it.
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        int lineBaud;
        Clock::duration sincePrevious;
        std::vector<Reading> readings;  // how the display took the bytes, and the last ones taken at the wrong speed
        std::size_t readingsLeftOut;    // readings past the model's limit, counted only
        std::size_t garbage = 0;        // of the bytes, those shown as garbage (the wrong speed, framing errors)
        std::vector<std::uint8_t> printer = {};  // the bytes the display passed to the printer
        std::size_t printerDropped = 0;           // older printer bytes dropped to make room for them
        std::uint64_t answersDropped = 0;         // printer answers dropped since the last chunk: the host did not read them
        // A line other than the display's own (ExternalLine): which way the
        // bytes went, whether they came with framing errors (then every one of
        // them is shown as garbage), and a notice of the line itself instead
        // of bytes ("COM1 (/dev/ttyS0) is gone ...").
        Direction direction = Direction::TillToDisplay;
        bool framingErrors = false;
        std::string notice = {};
        bool end = false;  // nothing comes after it (a replay's end)
        int ownBaud = 0;   // with a notice: the display took this speed as its own
        // Whether lineBaud was measured on the line (the display's own
        // pseudo-terminal's writer, a speed trial of a real port) rather than
        // given (--baud, or the display's own where the line cannot tell).
        bool speedMeasured = false;
        // What a recording keeps of it (Recorder::Add), valid while the chunk is.
        operator LineChunk() const { return {direction, bytes, lineBaud, framingErrors, notice, ownBaud, printer}; }
    };

    // Opens the pseudo-terminal and starts reading it.
    VirtualDisplay();
    // A display without a pseudo-terminal of its own: the bytes come through
    // Deliver, from a port reader, a tap or a replay on a thread of theirs.
    struct ExternalLine {};
    explicit VirtualDisplay(ExternalLine);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Makes `link` a symbolic link to the slave. Only nothing, a dangling link
    // or a link to a pseudo-terminal (an earlier display's) is replaced; anything
    // else is refused with std::runtime_error. At the end the link is removed if
    // it still points at this display.
    void Publish(const std::string& link);
    // Puts a printer behind the display (serial/PseudoTerminal.h), its
    // pseudo-terminal linked at `link` (if given) by the rules of Publish.
    // Without it, the bytes for the printer are only counted and nothing is
    // written to the line.
    void AttachPrinter(const std::string& link);
    PrinterPort* Printer() const { return printer_.get(); }

    const std::string& SlavePath() const { return slavePath_; }
    // The path published with Publish, as given; empty without one.
    const std::string& Link() const { return link_; }
    // Calls `ready`, from any thread, whenever read bytes come to wait for
    // ReadAvailable while none did: a window's wake-up. Empty: none.
    void OnReady(std::function<void()> ready);
    // Waits up to `ms` for read bytes to take; true when some wait.
    bool WaitReady(int ms) const;
    DisplayModel& Model() { return model_; }
    const DisplayModel& Model() const { return model_; }

    // The speed the line runs at now, as the port's user set it; UnknownBaud
    // for a speed that is not a standard rate.
    int LineBaud() const;
    // The speed the bytes from the till were last read at, and whether it was
    // measured on the line, as ReadAvailable took them (before any: the
    // display's own pseudo-terminal's, or on another line the display's own
    // speed, not measured).
    struct LineSpeed {
        int baud = 0;
        bool measured = false;
    };
    LineSpeed Speed() const;
    // Takes up to SliceLimit of the bytes read so far, at most `chunks` chunks,
    // and feeds them to the model; empty when none wait.
    std::vector<Chunk> ReadAvailable(std::size_t chunks = SIZE_MAX);
    // Reads and feeds for `time`, then everything written before it ended; the chunks.
    std::vector<Chunk> Pump(std::chrono::milliseconds time);

    // ---- A line other than the pseudo-terminal (ExternalLine) ----
    // Hands bytes to the display from any thread (also the printer's answers
    // on the display's own line, the other way). With `wait`, a full queue
    // makes the caller wait, as the pseudo-terminal's writer does; without, the
    // bytes that do not fit are not shown and are counted (a tap never holds
    // the line back for the screen). False when they were not taken. `at`:
    // the chunk's own time (a replay's), else the time it is handed over.
    bool Deliver(std::span<const std::uint8_t> bytes, int lineBaud, Direction direction = Direction::TillToDisplay,
                 bool framingErrors = false, bool wait = true, std::optional<Clock::time_point> at = std::nullopt);
    // Deliver takes nothing more from here on, and a caller waiting in it
    // returns: the end of a thread that delivers.
    void EndDeliveries();
    // Whether the speed of the bytes handed to Deliver from here on was
    // measured on the line; at first not. A notice that gives the display a
    // speed of its own (a speed trial's find, a recording's) says it was.
    void SetSpeedMeasured(bool measured) { measured_ = measured; }
    // Bytes handed to Deliver at `baud`, a line speed outside the display's
    // own eight, are read as if at the display's own speed: the port at that
    // speed is the display's receiver (--baud 115200). 0: none.
    void SetReceiverBaud(int baud) { receiverBaud_ = baud; }
    // A notice of the line ("gone", "back", "speed chosen"): shown in the
    // monitor and kept in the status line until the next one. `end`: the last.
    // A speed in `ownBaud` (one that --baud auto found) becomes the
    // display's own as the chunks before it are read; one none of its own
    // eight is its receiver's (SetReceiverBaud).
    void Notice(const std::string& text, bool end = false, int ownBaud = 0, std::optional<Clock::time_point> at = std::nullopt);
    // When the display began: a replay's chunks are timed from here.
    Clock::time_point Started() const { return started_; }
    // From here on the model's clock (blinking, scrolling, the counter) moves
    // by the gaps between the chunks' own times, before each chunk is read,
    // and not by the caller's Elapse: a replay reads the same at any speed.
    // A gap is gone through a step (StepMs) at a time; `changed` is called
    // after each step that changed the screen, with its time since Started.
    void ElapseByChunks(std::function<void(Clock::duration)> changed) {
        elapseByChunks_ = true;
        clockChanged_ = std::move(changed);
    }
    // Keeps a ranking of the ten emulations (Ranking.h) over every chunk from
    // the till, shown in the status line. With `follow`, the display takes
    // the likely command set as its own once the ranking is clear
    // (Ranking::Answer::clear), before it reads the chunk that made it so,
    // and says so in a notice (which a recording keeps).
    void KeepRanking(bool follow = false);
    const Ranking* Ranks() const { return ranking_.get(); }
    // Called now and then while no chunk comes (the window's clock, the
    // headless loop): once the till has been quiet for Ranking::QuietGap,
    // commands left open are given up in the ranking. True when the ranking
    // changed. A replay's quiet is its own gaps, not the clock's.
    bool LineWentQuiet();
    // A recording's view of the line: called with every chunk as the line
    // delivers it, on the line's thread and before the screen takes it (so
    // also with bytes the screen could not take), and with the line's notices;
    // then, as the display reads, with the bytes it passed to the printer (a
    // chunk of `printer` alone). One call at a time, each with its time.
    using LineObserver = std::function<void(const Chunk&, Clock::time_point)>;
    void OnLine(LineObserver observer);
    // The line's own words for the status line: framing errors, bytes not
    // shown, a speed not measured, the latest notice. Empty for the
    // pseudo-terminal.
    std::string LineStatus() const;
    // A note of a failure beside the line (a recording stopped), kept in the
    // status line; from any thread.
    void SetSideNote(std::string note);

private:
    struct Raw {
        std::vector<std::uint8_t> bytes;
        int lineBaud;
        Clock::time_point at;
        Direction direction = Direction::TillToDisplay;
        bool framingErrors = false;
        std::string notice = {};
        bool end = false;
        int ownBaud = 0;
        bool speedMeasured = false;
    };
    void QueueRaw(Raw raw);
    static Chunk ChunkOf(Raw raw, Clock::duration sincePrevious);
    // Hands a chunk of the line to the line observer.
    void Observe(const Raw& raw);
    void Reader();
    // Reads what the line holds now (or until the queue is full).
    void ReadPending(int& baud);
    void Queue(const std::uint8_t* data, std::size_t n, int baud);
    // Feeds the model; how many of the last bytes it took at the wrong speed.
    std::size_t Feed(const std::vector<std::uint8_t>& bytes, int lineBaud);
    // The ranking's quiet; the command set followed, when the display takes
    // another: the notice that says so.
    void Quiet();
    std::string Follow();
    // The model's clock through a gap before a chunk (ElapseByChunks).
    void ElapseGap(Clock::duration gap);
    // Waits until the reader has read everything written before the call.
    void Sync();

    std::unique_ptr<PseudoTerminal> line_;  // the display's own line; none for an external one
    std::string slavePath_;
    std::string link_;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastChunk_ = started_;
    bool elapseByChunks_ = false;
    std::function<void(Clock::duration)> clockChanged_;
    Clock::duration elapseOwed_{};  // of the gaps, less than a millisecond not yet elapsed
    DisplayModel model_;
    std::unique_ptr<PrinterPort> printer_;
    std::vector<std::uint8_t> passed_;  // passed to the printer by the chunk being fed
    std::size_t passedDropped_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;  // the queue, the stop and the syncs
    std::function<void()> onReady_;
    std::deque<Raw> queue_;
    std::size_t queued_ = 0;
    std::uint64_t syncWanted_ = 0, syncDone_ = 0;
    bool stop_ = false;
    std::thread reader_;

    // An external line's counts and words (taken on the caller's thread).
    std::unique_ptr<Ranking> ranking_;
    bool follow_ = false;
    bool rankingOpen_ = false;     // bytes fed to the ranking since its last quiet
    Clock::time_point lastTill_{};  // when the till's last bytes came
    std::mutex observerMutex_;  // observer_, and one call of it at a time
    LineObserver observer_;
    std::uint64_t framingErrorBytes_ = 0;
    std::atomic<std::uint64_t> notShown_{0};  // bytes Deliver could not queue
    std::string lineNote_;
    std::string sideNote_;  // under mutex_
    std::atomic<bool> measured_{false};  // of the bytes delivered from here on
    std::atomic<int> receiverBaud_{0};
    LineSpeed speed_;  // of the last chunk from the till read, on the reading thread
    bool seenSpeed_ = false;
};

// One chunk of the line monitor: "   +12.345 ms 0C 41 42  .AB" (a second or
// more: "     +50.3 s  "), then how the display read it, a line each:
// "      FF  clear".
std::string MonitorLine(const VirtualDisplay::Chunk& chunk);
// The model's status, and with a printer behind the display its counts:
// "...  |  120 bytes for the printer, 0 dropped; 3 answer bytes, 0 dropped".
std::string StatusLine(const VirtualDisplay& display);
// The bytes a chunk passed to the printer: "printer 1B 40 41  .@A".
std::string PrinterLine(const VirtualDisplay::Chunk& chunk);
// A chunk from the display to the till (a tap's other way, a printer's
// answer): "<- 12 16  ..".
std::string ToTillLine(const VirtualDisplay::Chunk& chunk);

// The stored set-up in a state file: "emulation=AEDEX", "speed=9600",
// "international=USA", "codepage=PC437", one per line.
std::string SetupText(const Setup& setup);
// The most a state file may hold; a larger one is damaged.
inline constexpr std::size_t StateFileLimit = 4096;
// False, with `error` set, for anything but a complete and known set-up.
bool ParseSetup(const std::string& text, DisplayModel& model, std::string& error);
// Writes the set-up to `path` atomically: a temporary file of a unique name in
// the same folder (never through a link), then a rename. Only nothing or a
// regular file at `path` is replaced.
bool SaveSetup(const std::string& path, const Setup& setup);
// Restores the set-up from `path` and says where to save it: `path`, or the
// file that a symbolic link at `path` names, so the link stays. A missing file
// is a first start: power-on settings. Anything but a small regular file with
// a known set-up prints one line on standard error, leaves the power-on
// settings and gives nullopt: the file is refused and never written, the
// set-up lives in memory only.
std::optional<std::string> LoadSetup(const std::string& path, DisplayModel& model);
// The one line on standard error for a state file that is refused.
void RefuseState(const std::string& path, const char* kind, const std::string& why);

// Saves the set-up in a state file on a thread of its own, so the display's
// reading never waits for the disk. A set-up handed over replaces one not yet
// saved; saves are at least `interval` apart; the end saves the latest one
// still waiting before the thread stops. A failed save is said once on
// standard error, until a save succeeds again.
class StateSaver {
public:
    static constexpr std::chrono::milliseconds SaveInterval{250};
    explicit StateSaver(std::string path, std::chrono::milliseconds interval = SaveInterval);
    ~StateSaver();
    StateSaver(const StateSaver&) = delete;
    StateSaver& operator=(const StateSaver&) = delete;

    // Never waits for a save.
    void Save(const Setup& setup);
    // Saves made so far, written or failed.
    int Saves();

private:
    void Run();

    const std::string path_;
    const std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> waiting_;  // the text of the latest set-up not yet saved
    bool stop_ = false;
    int saves_ = 0;
    std::thread thread_;
};

}  // namespace vantrel::display
