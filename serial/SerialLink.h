// SPDX-License-Identifier: GPL-3.0-or-later
// The serial link: the one port, its settings, the transmit buffer and the
// two write steps. Knows nothing of widgets; a failed reported write goes to
// the reporter that the panel installs.
//
// Thread rules: every write, open and close goes through one link mutex.
// `TxBuffer` belongs to the interface thread; the auto-send worker writes
// from a buffer of its own through WriteBytes.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/Port.h"

namespace vantrel {

inline constexpr int InvalidHandle = -1;
inline constexpr std::size_t TxBufferSize = 1024;

// The port that the next OpenPort opens ("COM1".."COM9": 4 characters and a zero).
extern char PortName[5];
// Every frame of the interface thread is assembled here from offset 0.
extern std::array<std::uint8_t, TxBufferSize> TxBuffer;

// Why the last OpenPort failed; None after a successful open.
enum class OpenFailure { None, NoDevice, Busy, AccessDenied, NotATerminal, Other };

// How a write ended.
enum class WriteResult : std::uint8_t {
    Ok,
    NotOpen,            // no port is open
    DeviceGone,         // the device went away (an unplugged adapter)
    Stalled,            // the line took nothing within the write's bound
    ConnectionDropped,  // the network connection is gone
    NotTaken,           // a clean end ran out with bytes the server had not acknowledged
};

// Why a write failed, in a few words for standard error ("the device is gone ...");
// `bytes` is how many a NotTaken end left behind, at least. A write that went
// out is "written", or "taken by the server" where that is all that is known.
std::string DescribeWriteResult(WriteResult result, std::uint32_t bytes = 0, bool takenByServer = false);
// A write that went out to a network server: "taken by the server" once the
// server's side acknowledged it, before that "handed to the network".
std::string DescribeNetworkWrite(bool acknowledged);

// What a port's failure is to the link: how an open failed, how a write ended.
OpenFailure OpenFailureOf(PortError error);
WriteResult WriteResultOf(PortError error);
// And back: a port's result in the link's words.
PortError PortErrorOf(OpenFailure failure);
PortError PortErrorOf(WriteResult result);

// Makes a port behind the link (a local device, or a serial port that a
// server offers on the network: NetPort.h), or says why not.
using PortOpener = std::function<PortResult(std::unique_ptr<Port>& port)>;

// Opens the link's one port through `opener`, under the link's lock. A failure
// is kept for LastOpenFailure and said in one line (Say).
void OpenWith(const std::string& device, int baudValue, const PortOpener& opener);

// What a failure means, in a few words ("no such device", "busy: ...").
const char* DescribeFailure(OpenFailure failure);


// Whether a device could be opened right now: opens it as OpenPort does and
// releases it at once. None when it could.
OpenFailure ProbeDevice(const std::string& path);
// Whether a device may be opened, told without opening it (no modem line
// moves): the node is there, a serial device, and the user may use it. None
// when it may.
OpenFailure LookAtDevice(const std::string& path);

// Opens the device that `PortName` maps to exclusively and configures it at
// `baudValue` (defined beside the port mapping, PortDiscovery.cpp). No result:
// test PortHandleValid(). A failure says its reason in one line (Say).
void OpenPort(int baudValue);
// OpenPort for a device path, with the port mapping already done.
void OpenDevice(const std::string& path, int baudValue);
// OpenPort for a device path or a network port's URL (defined beside OpenPort).
void OpenPortAt(const std::string& device, int baudValue);
// Ends the port cleanly and closes it; afterwards the handle is invalid. Ok,
// or why bytes already written may not have arrived (a network server that
// dropped the connection or did not take `*notTaken` bytes).
WriteResult ClosePort(std::uint32_t* notTaken = nullptr);
// Re-applies the settings of the last open to an open port, then closes it.
// With no open port it touches nothing.
void ReapplyAndClose();

bool PortHandleValid();
OpenFailure LastOpenFailure();
// The device that the last OpenPort tried, and the detail of its failure
// ("connection refused"); empty when there is none.
std::string LastOpenDevice();
std::string LastOpenDetail();

// Writes the first n bytes of `TxBuffer`; true when all of them left the driver
// within the write bound.
bool WriteFrame(std::size_t n);
// WriteFrame, and on failure the reporter (the port-closed message).
bool SendFrame(std::size_t n);
// The write step itself, for any buffer. A non-null `stop` is checked under the
// link mutex just before writing: once it is set, nothing is written.
bool WriteBytes(const std::uint8_t* data, std::size_t n, const std::atomic<bool>* stop = nullptr);

// The bound of one write: max(1 s, 3 x the bytes' time on the line, 10 bits a byte).
int WriteBoundMs(std::size_t n, int baud);

// How the last write attempt ended.
WriteResult LastWriteResult();

// ---- What the line says to people ----
// The serial layer prints nothing: a line for people (a port that cannot be
// opened, a write that failed, a complaint about the port mapping) goes to
// the sink that the program installs, and cli/, app/ and the display's front
// end print it on standard error. Without a sink it is dropped.
using MessageSink = std::function<void(const std::string& line)>;
// Installs the sink; returns the one it replaces.
MessageSink SetMessageSink(MessageSink sink);
// Hands `line` to the sink, from any thread.
void Say(const std::string& line);

using FailureReporter = std::function<void(WriteResult why)>;
// Installs the reporter of SendFrame; returns the one it replaces.
FailureReporter SetWriteFailureReporter(FailureReporter reporter);

// ---- The line log ----
// Every write attempt, open and close is recorded in the order they reach the
// link, into a fixed ring: nothing is allocated per write. The ring has a lock
// of its own, taken only briefly, so reading it never waits for a write in
// progress. What caused a write is said by the writing thread beforehand.

// A panel control by its id, with an option's label ("Send Command: CD5220")
// or a number (a pattern, a test page).
struct WriteSource {
    int controlId = 0;
    const char* option = nullptr;  // a string that lives as long as the program
    int number = -1;
};

// The source of this thread's writes while it lives.
class WriteSourceScope {
public:
    explicit WriteSourceScope(WriteSource source);
    ~WriteSourceScope();
    WriteSourceScope(const WriteSourceScope&) = delete;
    WriteSourceScope& operator=(const WriteSourceScope&) = delete;

private:
    WriteSource previous_;
};

struct LoggedWrite {
    std::uint64_t sequence = 0;
    std::int64_t timeOfDayUs = 0;  // wall clock, microseconds since the epoch
    std::int32_t durationUs = 0;
    WriteSource source;
    WriteResult result = WriteResult::Ok;
    bool open = false;   // not a write: the port was opened at `baud`, or failed to open
    bool close = false;  // not a write: the port's end, and `result` how it went
    int baud = 0;
    bool takenByServer = false;     // a write that went out: only a server is known to have taken it
    bool handedToNetwork = false;   // a write that went out to a server, which had not acknowledged it yet
    std::uint32_t notTaken = 0;     // a close: the bytes the server did not take, at least
    std::uint32_t earlierRows = 0;  // a failed write: the rows before it whose bytes its discard may have taken
    bool earlierRuns = false;       // a failed write: its discard may have taken bytes queued before the open
    OpenFailure openFailure = OpenFailure::None;  // an open that failed: why (`result` NotOpen, `bytes` the device)
    std::string bytes;
};

// The ring keeps the last LineLogRows records, as long as their bytes fit its
// store (LineLogBytes: an average of 200 bytes a write; the panel's are 1 to 41).
inline constexpr std::size_t LineLogRows = 10000;
inline constexpr std::size_t LineLogBytes = 2u << 20;

// The records after `after` (a sequence number), oldest first; `lost` is how
// many records after `after` the ring no longer holds.
std::vector<LoggedWrite> ReadLineLog(std::uint64_t after, std::uint64_t& lost);
// Forgets every record so far (a reader that starts afresh).
void ClearLineLog();
// The sequence number of the newest record (0 before any).
std::uint64_t NewestLineLogRecord();

}  // namespace vantrel
