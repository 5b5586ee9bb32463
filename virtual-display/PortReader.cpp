// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/PortReader.h"

#include "serial/NetPort.h"
#include "serial/Platform.h"
#include "serial/PortMap.h"
#include "serial/PortDiscovery.h"
#include "serial/PortTables.h"
#include "virtual-display/Ranking.h"

#include <algorithm>
#include <chrono>
#include <array>
#include <utility>

namespace vantrel::display {

namespace {

// The order in which --baud auto tries the speeds: the common ones first.
constexpr std::array<int, 10> TrialOrder{9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200, 600, 300};
static_assert(AutoBaud == KeepSpeed, "auto: a port's speed as it is, until one is chosen");

bool OwnRate(int baud) { return std::find(BaudRates.begin(), BaudRates.end(), baud) != BaudRates.end(); }

}  // namespace

int ParseBaud(const std::string& text) {
    if (text == "auto") return AutoBaud;
    for (int rate : LineRates)
        if (text == std::to_string(rate)) return rate;
    return -1;
}

std::string ListenDevice(const std::string& name, std::string& error) {
    // The names vantrel send and the panel take, read by their rule.
    const NamedPort named = ReadPortName(name, ThisPlatform);
    if (!named.refusal.empty()) {
        error = named.refusal;
        return {};
    }
    if (!named.panel) return named.device;
    const std::string device = ResolvePort(("COM" + std::to_string(named.panel)).c_str()).device;
    if (IsNetworkPort(device)) {
        error = name + " is mapped to the network port " + device + ", which vantrel-display does not listen on";
        return {};
    }
    return device;
}

std::unique_ptr<Port> OpenListening(const std::string& device, int baud, std::string& error, bool* missing) {
    std::unique_ptr<Port> port;
    const PortResult opened = OpenSerialPort(device, PortUse::Listen, baud, port);
    if (missing) *missing = opened.error == PortError::NoDevice;
    if (!opened.Ok()) {
        const OpenFailure failure = OpenFailureOf(opened.error);
        error = failure == OpenFailure::Other && !opened.words.empty() ? opened.words : DescribeFailure(failure);
    }
    return port;
}

std::string PortLabel(const std::string& name, const std::string& device) {
    return name == device ? device : name + " (" + device + ")";
}

bool ReadsAsCommands(std::span<const std::uint8_t> bytes) {
    // Every display shows bytes above 7F as characters of its code page, and
    // that is what a wrong speed mostly makes of text: a till sends few.
    const auto high = std::count_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b >= 0x80; });
    if (bytes.empty() || static_cast<std::size_t>(high) * 4 > bytes.size()) return false;
    Ranking ranking;
    ranking.Feed(bytes, PowerOnBaud);
    return ranking.ReadPercent(ranking.Ranks().front()) >= 90;
}

PortReader::PortReader(VirtualDisplay& display, std::unique_ptr<Port> port, std::string name, std::string device, int baud)
    : display_(display), port_(std::move(port)), name_(std::move(name)), device_(std::move(device)),
      label_(PortLabel(name_, device_)), auto_(baud == AutoBaud), pty_(port_->PseudoTerminal()), baud_(baud) {
    display_.SetSpeedMeasured(false);
    if (auto_ && pty_) {
        // Its settings are this end's, not the writer's: whatever the bytes
        // come at, they are read at the display's own speed.
        baud_ = display_.Model().OwnBaud();
        display_.SetReceiverBaud(baud_);
        found_ = true;
        display_.Notice("--baud auto: " + label_ + " is a pseudo-terminal that another program made, which does not show " +
                        "its writer's speed: the speed is not known on this line; read at the display's own " +
                        std::to_string(baud_) + " bit/s");
    } else if (auto_) {
        baud_ = trial_.Speed();
        port_->SetBaud(baud_);
        if (!OwnRate(baud_)) display_.SetReceiverBaud(baud_);
        display_.Notice("--baud auto: listening on " + label_ + " at " + std::to_string(baud_) + " bit/s first");
    } else {
        display_.Notice("listening on " + label_ + " at " + std::to_string(baud_) + " bit/s, as --baud says: not measured");
    }
    thread_ = std::thread([this] { Run(); });
}

PortReader::~PortReader() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        if (port_) port_->Interrupt();
    }
    stopped_.notify_all();
    display_.EndDeliveries();
    thread_.join();
}

bool PortReader::WaitForStop(int ms) {
    std::unique_lock lock(mutex_);
    return stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

bool PortReader::Replace(std::unique_ptr<Port> port) {
    std::lock_guard lock(mutex_);
    port_ = std::move(port);
    return !stop_;
}

void PortReader::Run() {
    std::string said;  // the last reason a reopen failed, said once
    for (;;) {
        if (!port_) {
            if (WaitForStop(RetryMs)) return;
            std::string error;
            bool missing = false;
            std::unique_ptr<Port> port = OpenListening(device_, baud_, error, &missing);
            if (!port) {
                if (!missing && error != said) display_.Notice(label_ + " is back but cannot be opened: " + error + "; trying again");
                said = missing ? "" : error;
                continue;
            }
            said.clear();
            if (!Replace(std::move(port))) return;
            display_.Notice(label_ + " is back: listening again at " + std::to_string(baud_) + " bit/s");
        }
        std::vector<ReadRun> runs;
        // Bytes a speed trial holds are decided on when the line goes quiet.
        const bool holding = auto_ && !found_ && trial_.Holding();
        const PortResult read = port_->Read(runs, holding ? QuietMs : -1);
        if (read.error == PortError::Stopped) {
            if (holding) Quiet(false);  // recorded, at the end
            return;
        }
        if (!read.Ok()) {
            if (holding) Quiet(false);
            Replace(nullptr);
            display_.Notice(label_ + " is gone (a pulled adapter?): waiting for it to come back");
            continue;
        }
        if (runs.empty()) {
            if (holding) Quiet(true);
        } else if (auto_ && !found_) {
            Trial(runs);
        } else {
            Hand(runs);
        }
    }
}

void PortReader::Hand(const std::vector<ReadRun>& runs, bool givenUp) {
    // A real line is never held back for the screen: its UART would drop what
    // the display does not read. A pseudo-terminal's writer waits instead.
    // Held bytes keep the time they came; the bytes of a speed given up came
    // at no speed known, and are garbage.
    const auto at = std::exchange(heldAt_, std::nullopt);
    for (const auto& run : runs)
        display_.Deliver(run.bytes, givenUp && !run.framingErrors ? UnknownBaud : baud_, Direction::TillToDisplay,
                         run.framingErrors, pty_, at);
}

int SpeedTrial::Speed() const { return TrialOrder[static_cast<std::size_t>(index_)]; }

SpeedTrial::Verdict SpeedTrial::Take(const std::vector<ReadRun>& read, std::vector<ReadRun>& out) {
    out.clear();
    for (const auto& run : read) {
        held_.push_back(run);
        if (run.framingErrors) errors_ += run.bytes.size();
        else clean_.insert(clean_.end(), run.bytes.begin(), run.bytes.end());
    }
    if (errors_ * 4 > clean_.size()) return GiveUp(out);
    if (clean_.size() < TrialBytes) return Verdict::Wait;
    if (!ReadsAsCommands(clean_)) return GiveUp(out);
    out = std::exchange(held_, {});
    clean_.clear();
    errors_ = 0;
    return Verdict::Found;
}

SpeedTrial::Verdict SpeedTrial::Quiet(std::vector<ReadRun>& out) {
    out.clear();
    if (held_.empty()) return Verdict::Wait;
    if (!ReadsAsCommands(clean_)) return GiveUp(out);
    out = std::exchange(held_, {});
    return Verdict::Wait;
}

SpeedTrial::Verdict SpeedTrial::GiveUp(std::vector<ReadRun>& out) {
    out = std::exchange(held_, {});
    clean_.clear();
    errors_ = 0;
    index_ = (index_ + 1) % static_cast<int>(TrialOrder.size());
    return Verdict::Next;
}

void PortReader::TryNext(const std::string& why) {
    baud_ = trial_.Speed();
    port_->SetBaud(baud_);
    display_.SetReceiverBaud(OwnRate(baud_) ? 0 : baud_);
    display_.Notice("--baud auto: " + why + ", trying " + std::to_string(baud_) + " bit/s");
}

void PortReader::Trial(const std::vector<ReadRun>& runs) {
    if (!heldAt_) heldAt_ = VirtualDisplay::Clock::now();
    std::vector<ReadRun> out;
    const SpeedTrial::Verdict verdict = trial_.Take(runs, out);
    if (verdict == SpeedTrial::Verdict::Found) {
        found_ = true;
        display_.SetSpeedMeasured(true);
        display_.Notice("--baud auto: " + std::to_string(baud_) + " bit/s, measured: the bytes come without framing errors and read as commands",
                        false, baud_);
        Hand(out);
    } else if (verdict == SpeedTrial::Verdict::Next) {
        const bool errors = std::any_of(out.begin(), out.end(), [](const ReadRun& r) { return r.framingErrors; });
        Hand(out, true);
        TryNext(errors ? "framing errors" : "the bytes read as no command set");
    }
}

void PortReader::Quiet(bool goOn) {
    std::vector<ReadRun> out;
    if (trial_.Quiet(out) == SpeedTrial::Verdict::Next) {
        Hand(out, true);
        if (goOn) TryNext("the line went quiet with bytes that read as no command set");
    } else {
        Hand(out);
    }
}

}  // namespace vantrel::display
