// SPDX-License-Identifier: GPL-3.0-or-later
// The port reader's Windows part: a COM port claimed as the panel claims one
// (share mode 0), and read by the reader's thread with a ReadFile that
// returns as soon as bytes come or after ReadWaitMs without any (COMMTIMEOUTS),
// so the end is seen within that time and nothing spins. Windows tells of
// framing errors only per port: ClearCommError after each read, and CE_FRAME
// (or a parity error or a break) in it, marks the bytes of that read as
// garbage.
#include "virtual-display/PortReader.h"

#include "serial/PortTables.h"
#include "windows/ComPort.h"
#include "windows/Wide.h"

#include <stdexcept>
#include <windows.h>

namespace vantrel::display {

namespace {

// How long one read waits for a first byte, and so for the end to be seen.
constexpr DWORD ReadWaitMs = 200;

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
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = ReadWaitMs;
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts)) {
        error = "cannot set the line: " + windows::ErrorText(GetLastError());
        CloseHandle(h);
        return nullptr;
    }
    // Errors from before the open are not this reader's.
    DWORD errors = 0;
    ClearCommError(h, &errors, nullptr);
    return std::unique_ptr<ListenPort>(new ListenPort(h));
}

ListenPort::~ListenPort() { CloseHandle(handle_); }

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
    if (WaitForStop(0)) return Step::Stop;
    std::uint8_t buf[4096];
    DWORD n = 0;
    DWORD errors = 0;
    // A pulled adapter fails the read (or the look at the port after it) with
    // whatever its driver says; a read that only waited in vain returns no bytes.
    if (!ReadFile(port_->Handle(), buf, sizeof buf, &n, nullptr)) {
        const DWORD error = GetLastError();
        return error == ERROR_SEM_TIMEOUT || error == WAIT_TIMEOUT ? Step::Read : Step::Gone;
    }
    if (!ClearCommError(port_->Handle(), &errors, nullptr)) return Step::Gone;
    if (n) Take({buf, n}, (errors & (CE_FRAME | CE_RXPARITY | CE_BREAK)) != 0);
    return Step::Read;
}

}  // namespace vantrel::display
