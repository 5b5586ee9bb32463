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

// The order in which --baud auto tries the speeds of the list: the common ones first.
constexpr std::array<int, 8> TrialOrder{9600, 19200, 38400, 4800, 2400, 1200, 600, 300};
static_assert(TrialOrder.size() == BaudRates.size());
static_assert(AutoBaud == KeepSpeed, "auto: a port's speed as it is, until one is chosen");

}  // namespace

int ParseBaud(const std::string& text) {
    if (text == "auto") return AutoBaud;
    for (int rate : BaudRates)
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
    if (auto_ && pty_) {
        baud_ = port_->Baud();
        found_ = true;
        WriterSpeed(label_ + " is a pseudo-terminal: the writer's speed is ");
    } else if (auto_) {
        baud_ = trial_.Speed();
        port_->SetBaud(baud_);
        display_.Notice("--baud auto: listening on " + label_ + " at " + std::to_string(baud_) + " bit/s first");
    } else {
        display_.Notice("listening on " + label_ + " at " + std::to_string(baud_) + " bit/s");
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
            std::unique_ptr<Port> port = OpenListening(device_, auto_ && pty_ ? AutoBaud : baud_, error, &missing);
            if (!port) {
                if (!missing && error != said) display_.Notice(label_ + " is back but cannot be opened: " + error + "; trying again");
                said = missing ? "" : error;
                continue;
            }
            said.clear();
            if (auto_ && pty_) baud_ = port->Baud();
            if (!Replace(std::move(port))) return;
            display_.Notice(label_ + " is back: listening again at " + std::to_string(baud_) + " bit/s");
        }
        std::vector<ReadRun> runs;
        const PortResult read = port_->Read(runs, -1);
        if (read.error == PortError::Stopped) return;
        if (!read.Ok()) {
            Replace(nullptr);
            display_.Notice(label_ + " is gone (a pulled adapter?): waiting for it to come back");
            continue;
        }
        // On a pseudo-terminal the writer may change its speed at any time.
        if (auto_ && pty_ && !runs.empty()) {
            if (const int now = port_->Baud(); now != baud_) {
                baud_ = now;
                WriterSpeed("the writer's speed is now ");
            }
        }
        for (const auto& run : runs) Take(run.bytes, run.framingErrors);
    }
}

void PortReader::WriterSpeed(const std::string& words) {
    const bool own = std::find(BaudRates.begin(), BaudRates.end(), baud_) != BaudRates.end();
    display_.Notice(words + (baud_ == UnknownBaud ? std::string("not a standard rate") : std::to_string(baud_) + " bit/s") +
                        (own ? ", taken as the display's own" : ", none of the display's speeds: its bytes are shown as garbage"),
                    false, own ? baud_ : 0);
}

void PortReader::Take(std::span<const std::uint8_t> bytes, bool errors) {
    if (auto_ && !found_) Trial(bytes, errors);
    else Hand(bytes, errors);
}

void PortReader::Hand(std::span<const std::uint8_t> bytes, bool errors) {
    // A real line is never held back for the screen: its UART would drop what
    // the display does not read. A pseudo-terminal's writer waits instead.
    display_.Deliver(bytes, baud_, Direction::TillToDisplay, errors, pty_);
}

int SpeedTrial::Speed() const { return TrialOrder[static_cast<std::size_t>(index_)]; }

SpeedTrial::Verdict SpeedTrial::Take(std::span<const std::uint8_t> run, bool errors, std::vector<std::uint8_t>& bytes) {
    held_.insert(held_.end(), run.begin(), run.end());
    if (!errors && held_.size() < TrialBytes) return Verdict::Wait;
    const bool found = !errors && ReadsAsCommands(held_);
    bytes = std::exchange(held_, {});
    if (found) return Verdict::Found;
    index_ = (index_ + 1) % static_cast<int>(TrialOrder.size());
    return Verdict::Next;
}

void PortReader::Trial(std::span<const std::uint8_t> run, bool errors) {
    std::vector<std::uint8_t> bytes;
    const SpeedTrial::Verdict verdict = trial_.Take(run, errors, bytes);
    if (verdict == SpeedTrial::Verdict::Found) {
        found_ = true;
        display_.Notice("--baud auto: " + std::to_string(baud_) + " bit/s, the bytes come without framing errors and read as commands",
                        false, baud_);
        Hand(bytes, false);
    } else if (verdict == SpeedTrial::Verdict::Next) {
        Hand(bytes, errors);  // read as they came: garbage at a speed other than the display's own
        baud_ = trial_.Speed();
        port_->SetBaud(baud_);
        display_.Notice(std::string("--baud auto: ") + (errors ? "framing errors" : "the bytes read as no command set") +
                        ", trying " + std::to_string(baud_) + " bit/s");
    }
}

}  // namespace vantrel::display
