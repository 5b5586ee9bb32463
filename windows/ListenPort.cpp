// SPDX-License-Identifier: GPL-3.0-or-later
// The port reader's Windows part: a COM port claimed as the panel claims one
// (share mode 0), opened for overlapped I/O so that a tap can write to a side
// while it waits for that side's bytes. A read waits for its first byte,
// returns at the first pause after it (COMMTIMEOUTS), and at once when the
// reader is told to stop: nothing spins. Windows tells of framing errors only per
// port: ClearCommError after each read, and CE_FRAME (or a parity error or a
// break) in it, marks the bytes of that read as garbage.
#include "virtual-display/PortReader.h"

#include "serial/PortTables.h"
#include "windows/ComPort.h"
#include "windows/Wide.h"

#include <stdexcept>
#include <windows.h>

namespace vantrel::display {

namespace {

// An error of a read or write that is only its time running out.
bool TimedOut(DWORD error) { return error == ERROR_SEM_TIMEOUT || error == WAIT_TIMEOUT; }

// Whether the port still answers: a pulled adapter does not.
bool Answers(HANDLE port) {
    DWORD flags = 0;
    return ClearCommError(port, &flags, nullptr);
}

constexpr DWORD PauseMs = 10;

// A short wait before a port is tried again, or the stop.
ListenPort::Io Pause(void* stop) {
    if (!stop) {
        Sleep(PauseMs);
        return ListenPort::Io::Done;
    }
    return WaitForSingleObject(stop, PauseMs) == WAIT_OBJECT_0 ? ListenPort::Io::Stopped : ListenPort::Io::Done;
}

}  // namespace

std::unique_ptr<ListenPort> ListenPort::Open(const std::string& device, int baud, std::string& error, bool* missing) {
    DCB dcb{};
    OpenFailure failure = OpenFailure::None;
    std::string detail;
    const HANDLE h = windows::AcquireComPort(device, dcb, failure, detail);
    if (missing) *missing = failure == OpenFailure::NoDevice;
    if (h == INVALID_HANDLE_VALUE) {
        error = failure == OpenFailure::NotATerminal ? "not a serial device"
                : failure == OpenFailure::Other      ? detail
                                                     : DescribeFailure(failure);
        return nullptr;
    }
    // Every byte is data: no flow control, no error character, no byte dropped.
    windows::ConfigureComLine(dcb, baud == AutoBaud ? PowerOnBaud : baud);
    // A read waits for its first byte as long as it takes (the stop event
    // ends it), then takes what follows within a few milliseconds.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = GapMs;
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts)) {
        error = "cannot set the line: " + windows::ErrorText(GetLastError());
        CloseHandle(h);
        return nullptr;
    }
    // Errors from before the open are not this reader's.
    DWORD errors = 0;
    ClearCommError(h, &errors, nullptr);
    std::unique_ptr<ListenPort> port(new ListenPort(h));
    if (!port->readEvent_ || !port->writeEvent_) {
        error = "cannot make an event: " + windows::ErrorText(GetLastError());
        return nullptr;
    }
    return port;
}

bool ListenPort::SamePort(const std::string& a, const std::string& b) {
    const std::wstring one = windows::ComDevicePath(a), two = windows::ComDevicePath(b);
    return CompareStringOrdinal(one.data(), static_cast<int>(one.size()), two.data(), static_cast<int>(two.size()), TRUE) ==
           CSTR_EQUAL;
}

ListenPort::ListenPort(void* handle)
    : handle_(handle), readEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

ListenPort::~ListenPort() {
    CloseHandle(handle_);
    for (HANDLE event : {readEvent_, writeEvent_})
        if (event) CloseHandle(event);
}

// A read or write that failed on a port that still answers took or gave
// nothing this time (Wine's pseudo-terminals under load do that): it is made
// again after a pause. A pulled adapter fails it with whatever its driver
// says, and answers no more: it is gone.
ListenPort::Io ListenPort::Finish(void* overlapped, void* stop, unsigned long& done) {
    auto* o = static_cast<OVERLAPPED*>(overlapped);
    const HANDLE waits[2] = {o->hEvent, stop};
    if (WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // Told to stop: the operation ends before its OVERLAPPED goes.
        CancelIoEx(handle_, o);
        GetOverlappedResult(handle_, o, &done, TRUE);
        return Io::Stopped;
    }
    if (GetOverlappedResult(handle_, o, &done, FALSE) || TimedOut(GetLastError())) return Io::Done;
    done = 0;
    return Answers(handle_) ? Io::Done : Io::Gone;
}

ListenPort::Io ListenPort::Read(std::uint8_t* buf, std::size_t size, std::size_t& n, bool& errors, void* stop) {
    n = 0;
    errors = false;
    OVERLAPPED o{};
    o.hEvent = readEvent_;
    DWORD done = 0;
    const bool started = ReadFile(handle_, buf, static_cast<DWORD>(size), nullptr, &o) || GetLastError() == ERROR_IO_PENDING;
    if (!started && !TimedOut(GetLastError()) && !Answers(handle_)) return Io::Gone;
    if (started)
        if (const Io io = Finish(&o, stop, done); io != Io::Done) return io;
    if (done == 0) return Pause(stop);  // never a busy loop
    // The bytes read are kept whatever comes next: a port that is gone tells at the next read.
    n = done;
    DWORD flags = 0;
    errors = ClearCommError(handle_, &flags, nullptr) && (flags & (CE_FRAME | CE_RXPARITY | CE_BREAK)) != 0;
    return Io::Done;
}

ListenPort::Io ListenPort::Write(std::span<const std::uint8_t> bytes, void* stop) {
    // No write timeout is set, so a port that takes nothing for two seconds
    // while it still answers is taken as gone too.
    constexpr int Tries = 2000 / PauseMs;
    int idle = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        OVERLAPPED o{};
        o.hEvent = writeEvent_;
        DWORD done = 0;
        const bool started = WriteFile(handle_, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), nullptr, &o) ||
                             GetLastError() == ERROR_IO_PENDING;
        const Io io = started ? Finish(&o, stop, done) : Answers(handle_) ? Io::Done : Io::Gone;
        if (io != Io::Done) return io;
        if (done > 0) {
            at += done;
            idle = 0;
        } else if (++idle > Tries) {
            return Io::Gone;
        } else if (const Io paused = Pause(stop); paused != Io::Done) {
            return paused;
        }
    }
    return Io::Done;
}

int ListenPort::Baud() const {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return GetCommState(handle_, &dcb) ? static_cast<int>(dcb.BaudRate) : UnknownBaud;
}

bool ListenPort::SetBaud(int baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return false;
    dcb.BaudRate = static_cast<DWORD>(baud);
    return SetCommState(handle_, &dcb);
}

void PortReader::MakeStop() {
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stop_) throw std::runtime_error("cannot make an event: " + windows::ErrorText(GetLastError()));
}

PortReader::~PortReader() {
    SetEvent(stop_);
    display_.EndDeliveries();
    thread_.join();
    CloseHandle(stop_);
}

bool PortReader::WaitForStop(int ms) { return WaitForSingleObject(stop_, static_cast<DWORD>(ms)) == WAIT_OBJECT_0; }

PortReader::Step PortReader::ReadOnce() {
    std::uint8_t buf[4096];
    std::size_t n = 0;
    bool errors = false;
    const ListenPort::Io io = port_->Read(buf, sizeof buf, n, errors, stop_);
    if (io != ListenPort::Io::Done) return io == ListenPort::Io::Stopped ? Step::Stop : Step::Gone;
    if (n) Take({buf, n}, errors);
    return Step::Read;
}

}  // namespace vantrel::display
