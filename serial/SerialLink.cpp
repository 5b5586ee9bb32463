// SPDX-License-Identifier: GPL-3.0-or-later
// The portable core of the link: the one port behind its mutex, the write
// step and the line log. The ports themselves are Port.h's.
#include "serial/SerialLink.h"

#include "common/ControlCharacters.h"

#include "serial/Platform.h"
#include "serial/NetPort.h"
#include "serial/PortDiscovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

namespace vantrel {

char PortName[5] = "COM1";
std::array<std::uint8_t, TxBufferSize> TxBuffer{};

namespace {

using Clock = std::chrono::steady_clock;

// Guards every field below and every use of the port.
std::mutex LinkMutex;
// The open port; none after any close, so no later write reaches a device or
// file that reuses its descriptor.
std::unique_ptr<vantrel::Port> OpenedPort;
int OpenBaud = 9600;
OpenFailure LastFailure = OpenFailure::None;
std::string LastDevice;
std::string LastDetail;
FailureReporter Reporter;
WriteResult LastResult = WriteResult::Ok;

// ---- The line log's ring: records and the store of their bytes ----
thread_local WriteSource CurrentSource;
// Guards the ring. Taken inside LinkMutex by the writers, alone by the readers.
std::mutex LogMutex;

// Plain fields only: the ring is zero-initialised at load and touches no page
// until it is used.
struct Slot {
    std::uint64_t sequence;
    std::int64_t timeOfDayUs;
    std::int32_t durationUs;
    int controlId;
    const char* option;
    int number;
    WriteResult result;
    bool open;
    bool close;
    bool takenByServer;
    bool handedToNetwork;
    int baud;
    std::uint32_t notTaken;
    std::uint32_t earlierRows;
    bool earlierRuns;
    OpenFailure openFailure;
    std::uint64_t byteStart;  // in the byte store, counted from its beginning
    std::uint32_t length;
};
std::array<Slot, LineLogRows> Slots;  // zero pages until used: costs nothing at start-up
std::array<char, LineLogBytes> Store;
std::uint64_t NextSequence = 1;
std::uint64_t FirstKept = 1;  // records before this one were cleared
std::uint64_t StoreHead = 0;

using SystemClock = std::chrono::system_clock;

// What a record is besides its bytes.
struct Event {
    WriteResult result = WriteResult::Ok;
    bool open = false;
    bool close = false;
    bool takenByServer = false;
    bool handedToNetwork = false;
    std::uint32_t notTaken = 0;
    std::size_t earlierDiscarded = 0;  // bytes before this write that its discard may have taken
    OpenFailure openFailure = OpenFailure::None;
};

// The rows just before the next one whose bytes fit in `bytes`: back to the
// last open or failure, which nothing queued before it can outlast. `bytes`
// keeps what these rows do not account for: bytes queued before the open.
std::uint32_t RowsWithin(std::size_t& bytes) {
    std::uint32_t rows = 0;
    for (std::uint64_t seq = NextSequence - 1; bytes > 0 && seq >= FirstKept && seq + LineLogRows >= NextSequence && seq > 0; --seq) {
        const Slot& s = Slots[seq % LineLogRows];
        if (s.open || s.close || s.result != WriteResult::Ok) break;
        ++rows;
        bytes -= std::min<std::size_t>(bytes, s.length);
    }
    return rows;
}

void Record(const std::uint8_t* data, std::size_t n, const Event& event, int baud, SystemClock::time_point when,
            Clock::duration took) {
    std::lock_guard lock(LogMutex);
    const std::size_t kept = std::min(n, LineLogBytes / 4);  // a write larger than that keeps its beginning
    std::size_t beyondRows = event.earlierDiscarded;
    const std::uint32_t earlierRows = beyondRows ? RowsWithin(beyondRows) : 0;
    Slot& slot = Slots[NextSequence % LineLogRows];
    slot = {NextSequence++,
            std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count(),
            static_cast<std::int32_t>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()),
            CurrentSource.controlId, CurrentSource.option, CurrentSource.number, event.result, event.open, event.close,
            event.takenByServer, event.handedToNetwork, baud, event.notTaken, earlierRows, beyondRows > 0, event.openFailure, StoreHead, static_cast<std::uint32_t>(kept)};
    for (std::size_t i = 0; i < kept;) {
        const std::size_t at = (StoreHead + i) % LineLogBytes, run = std::min(kept - i, LineLogBytes - at);
        std::memcpy(Store.data() + at, data + i, run);
        i += run;
    }
    StoreHead += kept;
}


}  // namespace

const char* DescribeFailure(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::None: return "can be opened";
    case OpenFailure::NoDevice: return "no such device";
    case OpenFailure::Busy: return "device busy: another program holds it";
    case OpenFailure::AccessDenied:
        return "permission denied: add your user to the dialout group (sudo adduser $USER dialout) and log in again";
    case OpenFailure::NotATerminal: return "not a serial device";
    case OpenFailure::Other: break;
    }
    return "cannot be opened";
}


OpenFailure OpenFailureOf(PortError error) {
    switch (error) {
    case PortError::None: return OpenFailure::None;
    case PortError::NoDevice:
    case PortError::Gone: return OpenFailure::NoDevice;
    case PortError::Busy: return OpenFailure::Busy;
    case PortError::AccessDenied: return OpenFailure::AccessDenied;
    case PortError::NotATerminal: return OpenFailure::NotATerminal;
    default: return OpenFailure::Other;
    }
}

WriteResult WriteResultOf(PortError error) {
    switch (error) {
    case PortError::None: return WriteResult::Ok;
    case PortError::Stalled: return WriteResult::Stalled;
    case PortError::ConnectionDropped: return WriteResult::ConnectionDropped;
    case PortError::NotTaken: return WriteResult::NotTaken;
    default: return WriteResult::DeviceGone;  // the port takes nothing more
    }
}

PortError PortErrorOf(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::None: return PortError::None;
    case OpenFailure::NoDevice: return PortError::NoDevice;
    case OpenFailure::Busy: return PortError::Busy;
    case OpenFailure::AccessDenied: return PortError::AccessDenied;
    case OpenFailure::NotATerminal: return PortError::NotATerminal;
    case OpenFailure::Other: break;
    }
    return PortError::Other;
}

PortError PortErrorOf(WriteResult result) {
    switch (result) {
    case WriteResult::Ok: return PortError::None;
    case WriteResult::NotOpen:
    case WriteResult::DeviceGone: return PortError::Gone;
    case WriteResult::Stalled: return PortError::Stalled;
    case WriteResult::ConnectionDropped: return PortError::ConnectionDropped;
    case WriteResult::NotTaken: return PortError::NotTaken;
    }
    return PortError::Other;
}

OpenFailure ProbeDevice(const std::string& path) { return OpenFailureOf(ProbeSerialPort(path).error); }

OpenFailure LookAtDevice(const std::string& path) { return OpenFailureOf(LookAtSerialPort(path).error); }

void OpenDevice(const std::string& path, int baudValue) {
    OpenWith(path, baudValue, [&](std::unique_ptr<Port>& port) { return OpenSerialPort(path, PortUse::Write, baudValue, port); });
}

int WriteBoundMs(std::size_t n, int baud) {
    const long threeTimesOnLineMs = 3L * static_cast<long>(n) * 10L * 1000L / std::max(baud, 1);
    return static_cast<int>(std::max(1000L, threeTimesOnLineMs));
}

void OpenWith(const std::string& device, int baudValue, const PortOpener& opener) {
    std::lock_guard lock(LinkMutex);
    OpenedPort.reset();  // the panel never opens twice; this only keeps one port at a time
    LastDevice = device;
    LastDetail.clear();
    LastFailure = OpenFailure::None;
    {
        const OpeningScope opening;
        const PortResult opened = opener(OpenedPort);
        LastFailure = OpenFailureOf(opened.error);
        LastDetail = opened.words;
        if (opened.Ok() != (OpenedPort != nullptr)) {  // a port, or why none
            OpenedPort.reset();
            if (LastFailure == OpenFailure::None) LastFailure = OpenFailure::Other;
        }
    }
    if (!OpenedPort) {
        if (LastFailure == OpenFailure::None) LastFailure = OpenFailure::Other;
        std::string why = LastFailure == OpenFailure::Other && !LastDetail.empty() ? LastDetail : DescribeFailure(LastFailure);
        if (LastFailure != OpenFailure::Other && !LastDetail.empty()) why += ": " + LastDetail;
        // A port given by its device or URL alone (vantrel send --port) has no COM name.
        // The device as the user gave it, and a server's own words: one line whatever they hold.
        const std::string shown = Shortened(device);
        std::string reason = Escaped(why);
        // A missing device: which ones are there, as the panel's message says.
        if (LastFailure == OpenFailure::NoDevice && !IsNetworkPort(device)) reason += "; " + PortsFoundWords();
        Say(PortName[0] ? "vantrel: cannot open " + std::string(PortName) + " (" + shown + "): " + reason
                        : "vantrel: cannot open " + shown + ": " + reason);
        // The failed open in the line log, with its device as the record's bytes.
        Record(reinterpret_cast<const std::uint8_t*>(device.data()), device.size(),
               {.result = WriteResult::NotOpen, .open = true, .openFailure = LastFailure}, baudValue, SystemClock::now(), {});
        return;
    }
    OpenBaud = baudValue;
    Record(nullptr, 0, {.open = true}, baudValue, SystemClock::now(), {});
}


namespace {

// Ends the open port cleanly, closes it and records how the end went. Under LinkMutex.
WriteResult EndPort(std::uint32_t* notTaken) {
    const auto when = SystemClock::now();
    const auto start = Clock::now();
    Event end{.close = true};
    end.result = WriteResultOf(OpenedPort->End(end.notTaken).error);
    OpenedPort.reset();
    Record(nullptr, 0, end, OpenBaud, when, Clock::now() - start);
    if (notTaken) *notTaken = end.notTaken;
    return end.result;
}

}  // namespace

WriteResult ClosePort(std::uint32_t* notTaken) {
    std::lock_guard lock(LinkMutex);
    if (notTaken) *notTaken = 0;
    return OpenedPort ? EndPort(notTaken) : WriteResult::Ok;
}

void ReapplyAndClose() {
    std::lock_guard lock(LinkMutex);
    if (!OpenedPort) return;  // never opened, failed or closed: touch nothing
    OpenedPort->Reapply();
    // Closed whatever the re-apply answered: a panel that shows the port closed
    // must not keep the device held.
    EndPort(nullptr);
}

bool PortHandleValid() {
    std::lock_guard lock(LinkMutex);
    return OpenedPort != nullptr;
}

std::string LastOpenDetail() {
    std::lock_guard lock(LinkMutex);
    return LastDetail;
}

OpenFailure LastOpenFailure() {
    std::lock_guard lock(LinkMutex);
    return LastFailure;
}

std::string LastOpenDevice() {
    std::lock_guard lock(LinkMutex);
    return LastDevice;
}


bool WriteBytes(const std::uint8_t* data, std::size_t n, const std::atomic<bool>* stop) {
    std::lock_guard lock(LinkMutex);
    if (stop && stop->load()) return false;  // a stopped worker makes no attempt
    const auto when = SystemClock::now();
    const auto start = Clock::now();
    LastResult = OpenedPort ? WriteResultOf(OpenedPort->Write(data, n, WriteBoundMs(n, OpenBaud)).error) : WriteResult::NotOpen;
    const bool toServer = LastResult == WriteResult::Ok && OpenedPort->KnownTakenByServerOnly();
    const bool acknowledged = toServer && OpenedPort->LastWriteAcknowledged();
    Event write{.result = LastResult, .takenByServer = acknowledged, .handedToNetwork = toServer && !acknowledged};
    if (LastResult == WriteResult::Stalled) write.earlierDiscarded = OpenedPort->EarlierDiscarded();
    Record(data, n, write, OpenBaud, when, Clock::now() - start);
    return LastResult == WriteResult::Ok;
}

WriteResult LastWriteResult() {
    std::lock_guard lock(LinkMutex);
    return LastResult;
}

std::string DescribeWriteResult(WriteResult result, std::uint32_t bytes, bool takenByServer) {
    switch (result) {
    case WriteResult::Ok: return takenByServer ? "taken by the server" : "written";
    case WriteResult::NotOpen: return "the port is not open";
    case WriteResult::DeviceGone: return "the device is gone (unplugged?): reconnect it, then close and open the port";
    case WriteResult::Stalled:
        return "the line took nothing within the write's bound: the far end holds it with flow control, or the cable is wrong";
    case WriteResult::ConnectionDropped: return "the network connection dropped";
    case WriteResult::NotTaken: return "the server did not take at least the last " + std::to_string(bytes) + " bytes";
    }
    return "failed";
}

std::string DescribeNetworkWrite(bool acknowledged) {
    return acknowledged ? DescribeWriteResult(WriteResult::Ok, 0, true) : "handed to the network (the server had not acknowledged it yet)";
}

WriteSourceScope::WriteSourceScope(WriteSource source) : previous_(std::exchange(CurrentSource, source)) {}
WriteSourceScope::~WriteSourceScope() { CurrentSource = previous_; }

std::vector<LoggedWrite> ReadLineLog(std::uint64_t after, std::uint64_t& lost) {
    std::lock_guard lock(LogMutex);
    // The oldest record still whole: in the ring, and its bytes not yet overwritten.
    std::uint64_t first = std::max({after + 1, FirstKept, NextSequence > LineLogRows ? NextSequence - LineLogRows : 1});
    while (first < NextSequence && Slots[first % LineLogRows].byteStart + LineLogBytes < StoreHead) ++first;
    lost = first - std::min(first, std::max(after + 1, FirstKept));
    std::vector<LoggedWrite> out;
    out.reserve(NextSequence - first);
    for (std::uint64_t seq = first; seq < NextSequence; ++seq) {
        const Slot& s = Slots[seq % LineLogRows];
        LoggedWrite& w = out.emplace_back();
        w.sequence = s.sequence;
        w.timeOfDayUs = s.timeOfDayUs;
        w.durationUs = s.durationUs;
        w.source = {s.controlId, s.option, s.number};
        w.result = s.result;
        w.open = s.open;
        w.close = s.close;
        w.takenByServer = s.takenByServer;
        w.handedToNetwork = s.handedToNetwork;
        w.baud = s.baud;
        w.notTaken = s.notTaken;
        w.earlierRows = s.earlierRows;
        w.earlierRuns = s.earlierRuns;
        w.openFailure = s.openFailure;
        w.bytes.resize(s.length);
        for (std::size_t i = 0; i < s.length; ++i) w.bytes[i] = Store[(s.byteStart + i) % LineLogBytes];
    }
    return out;
}

std::uint64_t NewestLineLogRecord() {
    std::lock_guard lock(LogMutex);
    return NextSequence - 1;
}

void ClearLineLog() {
    std::lock_guard lock(LogMutex);
    FirstKept = NextSequence;
}

bool WriteFrame(std::size_t n) {
    return WriteBytes(TxBuffer.data(), std::min(n, TxBuffer.size()));
}

bool SendFrame(std::size_t n) {
    if (WriteFrame(n)) return true;
    FailureReporter report;
    WriteResult why;
    {
        std::lock_guard lock(LinkMutex);
        report = Reporter;
        why = LastResult;
    }
    if (report) report(why);
    return false;
}

namespace {
std::mutex SinkMutex;
MessageSink Sink;
}  // namespace

MessageSink SetMessageSink(MessageSink sink) {
    std::lock_guard lock(SinkMutex);
    std::swap(Sink, sink);
    return sink;
}

void Say(const std::string& line) {
    MessageSink sink;
    {
        std::lock_guard lock(SinkMutex);
        sink = Sink;
    }
    if (sink) sink(line);
}

FailureReporter SetWriteFailureReporter(FailureReporter reporter) {
    std::lock_guard lock(LinkMutex);
    std::swap(Reporter, reporter);
    return reporter;
}

}  // namespace vantrel
