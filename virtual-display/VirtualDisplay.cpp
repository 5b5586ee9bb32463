// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/VirtualDisplay.h"

#include "common/ControlCharacters.h"
#include "common/SmallFile.h"
#include "serial/PortTables.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <map>
#include <sstream>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "common/SavedFile.h"
#include "virtual-display/Ranking.h"

#include <chrono>

namespace vantrel::display {

static std::string BaudWords(int baud) { return baud == UnknownBaud ? "an unknown speed" : std::to_string(baud) + " bit/s"; }

VirtualDisplay::VirtualDisplay() {
    // Until a port user configures it, the line is raw at the display's own
    // speed, and every change of its settings is told when it happens.
    if (const PortResult opened = OpenPseudoTerminal(true, PowerOnBaud, line_); !opened.Ok())
        throw std::runtime_error(opened.words);
    slavePath_ = line_->SlavePath();
    reader_ = std::thread([this] { Reader(); });
}

VirtualDisplay::VirtualDisplay(ExternalLine) {
    // No printer stands behind it: the bytes it passes to one are still
    // shown and recorded, as a replay gives them again.
    model_.OnPrinterBytes(
        [this](std::span<const std::uint8_t> bytes) { passed_.insert(passed_.end(), bytes.begin(), bytes.end()); });
}

VirtualDisplay::~VirtualDisplay() {
    EndDeliveries();
    if (line_) line_->Wake();
    if (reader_.joinable()) reader_.join();
    printer_.reset();
    if (!link_.empty()) RemoveOwnLink(link_, slavePath_);
}

void VirtualDisplay::Publish(const std::string& link) {
    if (const PortResult published = PublishLink("--link", link, slavePath_); !published.Ok())
        throw std::runtime_error(published.words);
    link_ = link;
}

void VirtualDisplay::AttachPrinter(const std::string& link) {
    if (!line_) throw std::runtime_error("a printer is for the display's own pseudo-terminal");
    // The answers the host gets are the line's other way: shown and recorded
    // as a tap's are, never holding the printer back for the screen.
    const PortResult opened = OpenPrinterPort(
        *line_, [this](std::span<const std::uint8_t> answer) { Deliver(answer, LineBaud(), Direction::DisplayToTill, false, false); },
        printer_);
    if (!opened.Ok()) throw std::runtime_error(opened.words);
    if (!link.empty())
        if (const PortResult published = printer_->Publish(link); !published.Ok()) throw std::runtime_error(published.words);
    model_.OnPrinterBytes([this](std::span<const std::uint8_t> bytes) {
        passed_.insert(passed_.end(), bytes.begin(), bytes.end());
        passedDropped_ += printer_->Send(bytes);
    });
}

int VirtualDisplay::LineBaud() const { return line_ ? line_->SlaveBaud() : UnknownBaud; }

VirtualDisplay::LineSpeed VirtualDisplay::Speed() const {
    if (seenSpeed_) return speed_;
    if (line_) return {LineBaud(), true};
    const int receiver = receiverBaud_;
    return {receiver > 0 ? receiver : model_.OwnBaud(), false};
}

void VirtualDisplay::Reader() {
    int baud = LineBaud();
    for (;;) {
        std::uint64_t wanted = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || queued_ < QueueLimit || syncWanted_ > syncDone_; });
            if (stop_) return;
            wanted = syncWanted_;
        }
        ReadPending(baud);
        bool sleep = false;
        {
            std::lock_guard lock(mutex_);
            syncDone_ = wanted;
            sleep = queued_ < QueueLimit && syncWanted_ == syncDone_ && !stop_;
        }
        changed_.notify_all();
        if (sleep) line_->Wait();
    }
}

void VirtualDisplay::ReadPending(int& baud) {
    // A user that cleared the notices of changes sends none: its speed is
    // then taken as the bytes are read.
    if (!line_->Notices()) baud = LineBaud();
    bool changed = false;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (queued_ >= QueueLimit) break;
        }
        std::uint8_t buf[4096];
        std::size_t n = 0;
        bool notice = false;
        line_->ReadNow(buf, sizeof buf, n, notice);
        // A notice comes before the bytes still pending: those were sent
        // before the change, at the old speed. Read them first.
        if (notice) changed = true;
        else if (n == 0) break;
        else Queue(buf, n, baud);
    }
    if (changed) baud = LineBaud();
}

void VirtualDisplay::Queue(const std::uint8_t* data, std::size_t n, int baud) {
    // The writer's own speed, as it set it on the display's own line.
    Raw raw{{data, data + n}, baud, Clock::now()};
    raw.speedMeasured = true;
    Observe(raw);
    QueueRaw(std::move(raw));
}

void VirtualDisplay::OnReady(std::function<void()> ready) {
    std::lock_guard lock(mutex_);
    onReady_ = std::move(ready);
}

bool VirtualDisplay::WaitReady(int ms) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty(); });
}

void VirtualDisplay::QueueRaw(Raw raw) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        if (onReady_) onReady_();
        changed_.notify_all();
    }
    queued_ += raw.bytes.size();
    queue_.push_back(std::move(raw));
}

bool VirtualDisplay::Deliver(std::span<const std::uint8_t> bytes, int lineBaud, Direction direction, bool framingErrors,
                             bool wait, std::optional<Clock::time_point> at) {
    if (bytes.empty()) return true;
    Raw raw{{bytes.begin(), bytes.end()}, lineBaud, at.value_or(Clock::now()), direction, framingErrors};
    raw.speedMeasured = measured_;
    if (wait) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || queued_ < QueueLimit; });
        if (stop_) return false;  // the end, for a caller that waits: nothing more
    }
    // Recorded whether the screen takes them or not: a tap's bytes have passed.
    Observe(raw);
    {
        std::lock_guard lock(mutex_);
        if (stop_ || queued_ >= QueueLimit) {
            notShown_ += bytes.size();
            return false;
        }
    }
    QueueRaw(std::move(raw));
    return true;
}

void VirtualDisplay::OnLine(LineObserver observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = std::move(observer);
}

VirtualDisplay::Chunk VirtualDisplay::ChunkOf(Raw raw, Clock::duration sincePrevious) {
    Chunk chunk{std::move(raw.bytes), raw.lineBaud, sincePrevious, {}, 0};
    chunk.direction = raw.direction;
    chunk.framingErrors = raw.framingErrors;
    chunk.notice = std::move(raw.notice);
    chunk.end = raw.end;
    chunk.ownBaud = raw.ownBaud;
    chunk.speedMeasured = raw.speedMeasured;
    return chunk;
}

void VirtualDisplay::Observe(const Raw& raw) {
    std::lock_guard lock(observerMutex_);
    if (observer_) observer_(ChunkOf(raw, {}), raw.at);
}

void VirtualDisplay::SetSideNote(std::string note) {
    std::lock_guard lock(mutex_);
    sideNote_ = std::move(note);
}

void VirtualDisplay::EndDeliveries() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
}

void VirtualDisplay::Notice(const std::string& text, bool end, int ownBaud, std::optional<Clock::time_point> at) {
    // One line, whatever the names in it hold (a port's, a recording's).
    if (ownBaud > 0) measured_ = true;
    Raw raw{{}, UnknownBaud, at.value_or(Clock::now()), Direction::TillToDisplay, false, Escaped(text), end, ownBaud, measured_};
    Observe(raw);
    QueueRaw(std::move(raw));
}

void VirtualDisplay::KeepRanking(bool follow) {
    ranking_ = std::make_unique<Ranking>();
    follow_ = follow;
}

void VirtualDisplay::Quiet() {
    if (ranking_ && std::exchange(rankingOpen_, false)) ranking_->Quiet();
}

std::string VirtualDisplay::Follow() {
    if (!follow_ || !ranking_) return {};
    const Ranking::Answer answer = ranking_->Result();
    if (!answer.clear || std::string_view(answer.ranks[0].emulation) == model_.Emulation()) return {};
    model_.SetEmulation(answer.ranks[0].emulation);
    return std::string("the till speaks ") + answer.ranks[0].emulation + " (" + std::to_string(answer.ranks[0].read) +
           "% read): the display follows it; --emulation fixes the command set";
}

bool VirtualDisplay::LineWentQuiet() {
    if (elapseByChunks_ || !rankingOpen_ || Clock::now() - lastTill_ < Ranking::QuietGap) return false;
    Quiet();
    if (const std::string followed = Follow(); !followed.empty()) Notice(followed);
    return true;
}

std::string VirtualDisplay::LineStatus() const {
    std::string s;
    const auto add = [&s](const std::string& words) {
        if (!words.empty()) s += (s.empty() ? "" : "  |  ") + words;
    };
    if (framingErrorBytes_)
        add(std::to_string(framingErrorBytes_) +
            " bytes with framing errors, shown as garbage: the till sends at another speed, or the line is noisy");
    if (const std::uint64_t notShown = notShown_) add(std::to_string(notShown) + " bytes passed on but not shown: the screen fell behind");
    if (ranking_ && ranking_->Bytes()) add("likely " + ranking_->Best());
    if (const LineSpeed speed = Speed(); !speed.measured)
        add("the speed is not known on this line: read at " + BaudWords(speed.baud));
    add(lineNote_);
    std::lock_guard lock(mutex_);
    add(sideNote_);
    return s;
}

void VirtualDisplay::Sync() {
    if (!reader_.joinable()) return;  // an external line: everything delivered is queued
    std::unique_lock lock(mutex_);
    const std::uint64_t mine = ++syncWanted_;
    changed_.notify_all();
    if (line_) line_->Wake();
    changed_.wait_for(lock, std::chrono::seconds(1), [&] { return syncDone_ >= mine; });
}

void VirtualDisplay::ElapseGap(Clock::duration gap) {
    using std::chrono::milliseconds;
    constexpr milliseconds step{StepMs};
    constexpr int StepLimit = 1 << 16;  // past it, the rest of a long gap at once
    // The model's clock stands behind the last chunk by what is still owed.
    Clock::time_point at = lastChunk_ - elapseOwed_;
    elapseOwed_ += gap;
    for (int steps = 0; elapseOwed_ >= milliseconds(1); ++steps) {
        const auto ms = steps < StepLimit ? std::min(step, std::chrono::duration_cast<milliseconds>(elapseOwed_))
                                          : std::chrono::duration_cast<milliseconds>(elapseOwed_);
        elapseOwed_ -= ms;
        at += ms;
        if (model_.Elapse(static_cast<int>(std::min<std::int64_t>(ms.count(), INT32_MAX))) && clockChanged_)
            clockChanged_(at - started_);
    }
}

std::vector<VirtualDisplay::Chunk> VirtualDisplay::ReadAvailable(std::size_t chunks) {
    std::vector<Raw> taken;
    {
        std::lock_guard lock(mutex_);
        std::size_t bytes = 0;
        while (!queue_.empty() && bytes < SliceLimit && taken.size() < chunks) {
            bytes += queue_.front().bytes.size();
            taken.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        queued_ -= bytes;
    }
    changed_.notify_all();  // room again for the reader
    std::vector<Chunk> read;
    for (Raw& raw : taken) {
        // Never backwards: a printer's answer during a replay has the time of now.
        const Clock::duration gap = std::max(raw.at - lastChunk_, Clock::duration{});
        Chunk chunk = ChunkOf(std::move(raw), gap);
        if (elapseByChunks_) ElapseGap(chunk.sincePrevious);
        lastChunk_ += chunk.sincePrevious;
        if (!chunk.notice.empty()) lineNote_ = chunk.notice;
        if (chunk.ownBaud > 0 && chunk.ownBaud != model_.OwnBaud()) {
            Setup setup = model_.StoredSetup();
            setup.ownBaud = chunk.ownBaud;
            // A speed none of the display's own: the port's, as its receiver's.
            if (!model_.Restore(setup)) receiverBaud_ = chunk.ownBaud;
        }
        std::size_t garbage = 0;
        // Bytes with framing errors are garbage whatever the speeds; bytes at
        // the speed of a port that is the display's receiver are read as its own.
        const int receiver = receiverBaud_;
        const int line = chunk.framingErrors                          ? FramingErrorsBaud
                         : receiver > 0 && chunk.lineBaud == receiver ? model_.OwnBaud()
                                                                      : chunk.lineBaud;
        if (chunk.direction == Direction::TillToDisplay && !chunk.bytes.empty()) {
            seenSpeed_ = true;
            speed_ = {chunk.lineBaud, chunk.speedMeasured};
            if (chunk.framingErrors) framingErrorBytes_ += chunk.bytes.size();
            if (ranking_) {
                if (lastChunk_ - lastTill_ >= Ranking::QuietGap) Quiet();
                ranking_->Feed(chunk.bytes, chunk.lineBaud, chunk.framingErrors);
                rankingOpen_ = true;
                lastTill_ = lastChunk_;
                // Said with the chunk it is read by, and recorded as a notice of its time.
                if (std::string followed = Follow(); !followed.empty()) {
                    Observe({{}, UnknownBaud, lastChunk_, Direction::TillToDisplay, false, followed});
                    lineNote_ = chunk.notice = std::move(followed);
                }
            }
            garbage = Feed(chunk.bytes, line);
        }
        if (chunk.end) Quiet();  // nothing comes after it to follow with
        chunk.readings = model_.TakeReadings();
        chunk.garbage = garbage;
        if (garbage) {
            // Read as the display reads no byte at the wrong speed: the first
            // bytes of them, as a reading keeps them, and why.
            const std::size_t from = chunk.bytes.size() - garbage;
            chunk.readings.push_back(
                {std::string(chunk.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                             chunk.bytes.begin() + static_cast<std::ptrdiff_t>(from + std::min<std::size_t>(garbage, 256))),
                 chunk.framingErrors
                     ? "shown as garbage: they came with framing errors at " + BaudWords(chunk.lineBaud) +
                           ": the till sends at another speed, or the line is noisy"
                     : "shown as garbage: the line runs at " + BaudWords(line) + ", the display expects " +
                           std::to_string(model_.OwnBaud()),
                 ReadingKind::Garbage, false});
        }
        chunk.readingsLeftOut = model_.TakeReadingsLeftOut();
        chunk.printer = std::exchange(passed_, {});
        chunk.printerDropped = std::exchange(passedDropped_, 0);
        if (printer_) chunk.answersDropped = printer_->TakeAnswersDropped();
        if (!chunk.printer.empty()) {
            std::lock_guard lock(observerMutex_);
            if (observer_) {
                Chunk printed{{}, chunk.lineBaud, {}, {}, 0};
                printed.printer = chunk.printer;
                observer_(printed, lastChunk_);
            }
        }
        read.push_back(std::move(chunk));
    }
    return read;
}

// Fed a frame at a time (DisplayModel::UpToFrameEnd), so that the bytes after
// a change of the display's own speed are known.
std::size_t VirtualDisplay::Feed(const std::vector<std::uint8_t>& bytes, int lineBaud) {
    for (std::size_t at = 0; at < bytes.size();) {
        if (lineBaud != model_.OwnBaud()) {  // nothing is understood now, no frame either
            model_.Feed(bytes.data() + at, bytes.size() - at, lineBaud);
            return bytes.size() - at;
        }
        const std::size_t n = DisplayModel::UpToFrameEnd(bytes.data() + at, bytes.size() - at);
        model_.Feed(bytes.data() + at, n, lineBaud);
        at += n;
    }
    return 0;
}

std::vector<VirtualDisplay::Chunk> VirtualDisplay::Pump(std::chrono::milliseconds time) {
    std::vector<Chunk> chunks;
    auto take = [&chunks](std::vector<Chunk> more) {
        std::move(more.begin(), more.end(), std::back_inserter(chunks));
        return !more.empty();
    };
    const auto until = Clock::now() + time;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) break;
        if (WaitReady(static_cast<int>(left))) take(ReadAvailable());
    }
    Sync();
    for (int i = 0; i < 8 && take(ReadAvailable()); ++i) {
    }
    return chunks;
}

static std::string HexAndText(std::span<const std::uint8_t> bytes) {
    std::string hex, text;
    for (std::uint8_t b : bytes) {
        char h[4];
        std::snprintf(h, sizeof h, "%02X ", b);
        hex += h;
        text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    return hex + " " + text;
}

std::string MonitorLine(const VirtualDisplay::Chunk& chunk) {
    // In the same columns: milliseconds below a second, then seconds.
    const double ms = std::chrono::duration<double, std::milli>(chunk.sincePrevious).count();
    char head[48];
    if (ms < 999.9995) std::snprintf(head, sizeof head, "%+10.3f ms ", ms);
    else std::snprintf(head, sizeof head, "%+10.1f s  ", ms / 1000);
    if (!chunk.notice.empty()) return head + std::string("-- ") + chunk.notice;
    // The other way, and bytes that came with framing errors, say so first.
    std::string line = std::string(head) + (chunk.direction == Direction::DisplayToTill ? ToTillLine(chunk)
                                            : chunk.framingErrors ? "framing errors: " + HexAndText(chunk.bytes)
                                                                  : HexAndText(chunk.bytes));
    for (const Reading& reading : chunk.readings) line += "\n      " + DescribeReading(reading);
    if (chunk.readingsLeftOut) line += "\n      ... " + std::to_string(chunk.readingsLeftOut) + " more readings left out";
    if (!chunk.printer.empty()) line += "\n      " + PrinterLine(chunk);
    if (chunk.printerDropped)
        line += "\n      printer: " + std::to_string(chunk.printerDropped) + " older bytes dropped, nobody reads the printer side";
    if (chunk.answersDropped)
        line += "\n      printer: " + std::to_string(chunk.answersDropped) + " older answer bytes dropped, the host does not read them";
    return line;
}

std::string StatusLine(const VirtualDisplay& display) {
    std::string printer;
    if (display.Printer()) printer = "  |  " + display.Printer()->Counts();
    const std::string line = display.LineStatus();
    return display.Model().Status() + printer + (line.empty() ? "" : "  |  " + line);
}

std::string PrinterLine(const VirtualDisplay::Chunk& chunk) { return "printer " + HexAndText(chunk.printer); }

std::string ToTillLine(const VirtualDisplay::Chunk& chunk) { return "<- " + HexAndText(chunk.bytes); }

std::string SetupText(const Setup& setup) {
    return std::string("emulation=") + setup.emulation + "\nspeed=" + std::to_string(setup.ownBaud) +
           "\ninternational=" + setup.international + "\ncodepage=" + setup.codePage + "\n" +
           (setup.userCharacters.empty() ? "" : "userchars=" + setup.userCharacters + "\n");
}

bool ParseSetup(const std::string& text, DisplayModel& model, std::string& error) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const auto eq = line.find('=');
        if (eq == std::string::npos || !values.emplace(line.substr(0, eq), line.substr(eq + 1)).second) {
            error = "line " + std::to_string(number) + " is not KEY=VALUE once per key";
            return false;
        }
    }
    for (const char* key : {"emulation", "speed", "international", "codepage"})
        if (!values.count(key)) {
            error = std::string("no ") + key;
            return false;
        }
    // A key the display does not know would be lost at the next save.
    for (const auto& [key, value] : values)
        if (key != "emulation" && key != "speed" && key != "international" && key != "codepage" && key != "userchars") {
            error = "a key the display does not know: " + key;
            return false;
        }
    std::array<Pattern, 256> patterns{};
    std::bitset<256> defined;
    if (!ParseUserCharacters(values["userchars"], patterns, defined)) {
        error = "userchars is not CC=P1P2P3P4P5 ... in hex, each CC from 20 to 7E";
        return false;
    }
    const std::string& speed = values["speed"];
    const bool digits = !speed.empty() && speed.size() < 7 && speed.find_first_not_of("0123456789") == std::string::npos;
    const Setup setup{values["emulation"].c_str(), digits ? std::stoi(speed) : 0, values["international"].c_str(),
                      values["codepage"].c_str(), values["userchars"]};
    if (!model.Restore(setup)) {
        error = "a value the display does not know";
        return false;
    }
    return true;
}

void RefuseState(const std::string& path, const char* kind, const std::string& why) {
    std::fprintf(stderr, "vantrel-display: %s: %s (%s); power-on settings, kept in memory only: the file is not written\n",
                 path.c_str(), kind, why.c_str());
}

bool SaveSetup(const std::string& path, const Setup& setup) { return ReplaceSavedFile(path, SetupText(setup)).empty(); }

std::optional<std::string> LoadSetup(const std::string& path, DisplayModel& model) {
    const SavePlace place = SavePlaceOf(path);
    if (!place.problem.empty()) {
        RefuseState(path, "cannot be used", place.problem);
        return std::nullopt;
    }
    const SmallFile file = ReadSmallFile(place.path, StateFileLimit);
    if (!file.exists) return place.path;  // a first start
    if (!file.problem.empty()) {
        RefuseState(path, "cannot be used", file.problem);
        return std::nullopt;
    }
    if (const std::string why = Unsaveable(place.path); !why.empty()) {
        RefuseState(path, "cannot be used", why);
        return std::nullopt;
    }
    std::string error;
    if (!ParseSetup(file.text, model, error)) {
        RefuseState(path, "damaged state file", error);
        return std::nullopt;
    }
    return place.path;
}

StateSaver::StateSaver(std::string path, std::chrono::milliseconds interval)
    : path_(std::move(path)), interval_(interval), thread_([this] { Run(); }) {}

StateSaver::~StateSaver() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void StateSaver::Save(const Setup& setup) {
    std::string text = SetupText(setup);
    {
        std::lock_guard lock(mutex_);
        waiting_ = std::move(text);
    }
    changed_.notify_all();
}

int StateSaver::Saves() {
    std::lock_guard lock(mutex_);
    return saves_;
}

void StateSaver::Run() {
    std::string said;  // the failure last said, until a save works
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || waiting_; });
        if (!waiting_) return;  // the end, with nothing left to save
        const std::string text = std::move(*waiting_);
        waiting_.reset();
        lock.unlock();
        const std::string error = ReplaceSavedFile(path_, text);
        if (!error.empty() && error != said)
            std::fprintf(stderr, "vantrel-display: cannot save the set-up in %s: %s\n", path_.c_str(), error.c_str());
        said = error;
        lock.lock();
        ++saves_;
        // At most a few saves a second; what comes meanwhile waits, the latest
        // replacing the rest. The end does not wait.
        changed_.wait_for(lock, interval_, [this] { return stop_; });
    }
}

}  // namespace vantrel::display
