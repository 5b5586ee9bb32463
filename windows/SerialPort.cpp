// SPDX-License-Identifier: GPL-3.0-or-later
// Serial ports on Windows: a COM port opened with CreateFileW, exclusive
// (share mode 0), set with one full DCB. Opened to write, each write is
// bounded by COMMTIMEOUTS; opened to listen, it is overlapped, so that a
// tap can write to a side while it waits for that side's bytes: a read waits
// for its first byte, returns at the first pause after it, and at once when
// the port is interrupted, and nothing spins. Windows tells of framing
// errors only per port: ClearCommError after each read, and CE_FRAME (or a
// parity error or a break) in it, marks the bytes of that read as garbage.
// It defines Port.h's functions and Platform.h's OpeningScope.
#include "windows/ComPort.h"

#include "serial/Platform.h"
#include "serial/Port.h"
#include "windows/Wide.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <windows.h>

namespace vantrel::windows {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD GapMs = 2;    // a pause that ends a read
constexpr DWORD PauseMs = 10;  // before a port that took or gave nothing is tried again

// The line as the programs want it, whatever the port held before: 8 data
// bits, no parity, 1 stop bit, no flow control, no error character, no byte
// dropped.
void ConfigureDcb(DCB& dcb, int baud) {
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.fBinary = TRUE;  // Windows knows no other mode
    dcb.fParity = FALSE;
    dcb.Parity = NOPARITY;
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;  // an error must not stall every later write
}

bool IsComName(std::wstring_view name) {
    if (name.size() < 4 || name.size() > 6) return false;
    if (_wcsnicmp(name.data(), L"COM", 3) != 0 || name[3] == L'0') return false;
    return std::all_of(name.begin() + 3, name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// Whether `device` is a folder or a file: not a COM name and not in the device
// namespace (\\.\), and the file system knows it.
bool IsFileSystemObject(const std::string& device) {
    const std::wstring path = ComDevicePath(device);
    return path.rfind(L"\\\\.\\", 0) != 0 && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Opens and claims the device; INVALID_HANDLE_VALUE with the reason when it cannot.
HANDLE Acquire(const std::string& device, DCB& dcb, PortResult& result, DWORD flags = 0) {
    result = {};
    const HANDLE h = CreateFileW(ComDevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        result.error = PortErrorOf(ClassifyOpenError(error));
        // Access is denied to a port that another program holds, and as much
        // to a folder or a read-only file: those are no serial device.
        if (result.error == PortError::Busy && IsFileSystemObject(device)) result.error = PortError::NotATerminal;
        if (result.error == PortError::Other) result.words = ErrorText(error);
        return h;
    }
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    // A mapping that names a plain file must never receive display frames.
    if (!GetCommState(h, &dcb)) {
        CloseHandle(h);
        result.error = PortError::NotATerminal;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// An error of a read or write that is only its time running out.
bool TimedOut(DWORD error) { return error == ERROR_SEM_TIMEOUT || error == WAIT_TIMEOUT; }

// Whether the port still answers: a pulled adapter does not.
bool Answers(HANDLE port) {
    DWORD flags = 0;
    return ClearCommError(port, &flags, nullptr);
}

class ComPort final : public Port {
public:
    ComPort(HANDLE handle, const DCB& dcb, int baud, PortUse use)
        : handle_(handle), dcb_(dcb), baud_(baud), use_(use) {
        if (use_ != PortUse::Listen) return;
        for (HANDLE* event : {&readEvent_, &writeEvent_, &stop_}) *event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~ComPort() override {
        CloseHandle(handle_);
        for (HANDLE event : {readEvent_, writeEvent_, stop_})
            if (event) CloseHandle(event);
    }

    bool Events() const { return readEvent_ && writeEvent_ && stop_; }

    PortResult Write(const std::uint8_t* data, std::size_t n, int boundMs) override {
        return use_ == PortUse::Listen ? WriteOverlapped(data, n) : WriteWithin(data, n, boundMs);
    }

    std::size_t EarlierDiscarded() const override { return earlier_; }

    void Reapply() override { SetCommState(handle_, &dcb_); }

    // Reads what comes, up to a pause of GapMs after its first byte, or until
    // Interrupt(). `timeoutMs` is not kept: a read waits for its first byte.
    PortResult Read(std::vector<ReadRun>& runs, int) override {
        if (use_ != PortUse::Listen) return {PortError::Unsupported, "not opened to listen"};
        std::uint8_t buf[4096];
        OVERLAPPED o{};
        o.hEvent = readEvent_;
        DWORD done = 0;
        const bool started = ReadFile(handle_, buf, sizeof buf, nullptr, &o) || GetLastError() == ERROR_IO_PENDING;
        if (!started && !TimedOut(GetLastError()) && !Answers(handle_)) return Gone();
        if (started)
            if (const PortResult finished = Finish(&o, done); !finished.Ok()) return finished;
        if (done == 0) return Pause();  // never a busy loop
        // The bytes read are kept whatever comes next: a port that is gone tells at the next read.
        DWORD flags = 0;
        const bool errors = ClearCommError(handle_, &flags, nullptr) && (flags & (CE_FRAME | CE_RXPARITY | CE_BREAK)) != 0;
        runs.push_back({{buf, buf + done}, errors});
        return {};
    }

    void Interrupt() override {
        if (stop_) SetEvent(stop_);
    }

    PortResult SetBaud(int baud) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return {PortError::Other, ErrorText(GetLastError())};
        dcb.BaudRate = static_cast<DWORD>(baud);
        if (!SetCommState(handle_, &dcb)) return {PortError::Other, ErrorText(GetLastError())};
        baud_ = baud;
        return {};
    }

    int Baud() const override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        return GetCommState(handle_, &dcb) ? static_cast<int>(dcb.BaudRate) : UnknownBaud;
    }

private:
    // The most a pseudo-terminal holds for a reader that does not read: what
    // a port under Wine may have queued while it reports an empty queue.
    static constexpr std::size_t UncountedQueue = 64 * 1024;

    static PortResult Gone() { return {PortError::Gone, {}}; }

    // WriteFile ends when the bytes are with the driver or the total timeout
    // (the write's bound) has passed; then the driver's queue must empty
    // within what is left of the bound. Past it, a frame the driver took part
    // of is purged (Stalled), so no part of it reaches the line later.
    PortResult WriteWithin(const std::uint8_t* data, std::size_t n, int boundMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
        earlier_ = 0;
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once: we never wait for input
        timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(boundMs);
        if (!SetCommTimeouts(handle_, &timeouts)) return Failed(0);
        std::size_t done = 0;
        while (done < n) {
            DWORD wrote = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
            const BOOL ok = WriteFile(handle_, data + done, chunk, &wrote, nullptr);
            done += wrote;
            if (!ok) return Failed(done);
            if (done < n && (wrote == 0 || Clock::now() >= deadline)) return Stalled(done);
        }
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(handle_, &errors, &status)) return Failed(done);
            if (status.cbOutQue == 0) return {};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return Stalled(done);
            // The time the queued bytes need on the line, at least 1 ms per look.
            const long long needUs = std::max(1000LL, 10LL * 1000000LL * status.cbOutQue / std::max(baud_, 1));
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<long long>(needUs, left * 1000LL)));
        }
    }

    // A write that missed its bound, `done` of its n bytes given to the
    // driver: the output queue is purged, so that no part of the frame
    // reaches the line later. With none given there is nothing of it to
    // purge, and nothing written before it is. A driver that counts its queue
    // says what else went with them; one that reports an empty queue (a
    // pseudo-terminal under Wine) may have held anything, as on Linux.
    PortResult Stalled(std::size_t done) {
        if (done == 0) return {PortError::Stalled, {}};
        DWORD errors = 0;
        COMSTAT status{};
        const std::size_t queued = ClearCommError(handle_, &errors, &status) ? status.cbOutQue : 0;
        earlier_ = queued == 0 ? UncountedQueue : queued > done ? queued - done : 0;
        PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
        return {PortError::Stalled, {}};
    }
    // A write that failed outright. A pulled USB adapter answers
    // ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND, ERROR_GEN_FAILURE or
    // ERROR_OPERATION_ABORTED, depending on its driver; any error but a
    // timeout leaves a port that takes nothing until it is opened again.
    PortResult Failed(std::size_t done) {
        const DWORD error = GetLastError();
        if (TimedOut(error)) return Stalled(done);
        return {PortError::Gone, ErrorText(error)};
    }

    // Writes all the bytes, waiting as long as the line needs, while a read
    // may run. No write timeout is set, so a port that takes nothing for two
    // seconds while it still answers is taken as gone too.
    PortResult WriteOverlapped(const std::uint8_t* data, std::size_t n) {
        constexpr int Tries = 2000 / PauseMs;
        int idle = 0;
        for (std::size_t at = 0; at < n;) {
            OVERLAPPED o{};
            o.hEvent = writeEvent_;
            DWORD done = 0;
            const bool started = WriteFile(handle_, data + at, static_cast<DWORD>(n - at), nullptr, &o) ||
                                 GetLastError() == ERROR_IO_PENDING;
            const PortResult finished = started ? Finish(&o, done) : Answers(handle_) ? PortResult{} : Gone();
            if (!finished.Ok()) return finished;
            if (done > 0) {
                at += done;
                idle = 0;
            } else if (++idle > Tries) {
                return Gone();
            } else if (const PortResult paused = Pause(); !paused.Ok()) {
                return paused;
            }
        }
        return {};
    }

    // Waits for an overlapped operation, or the stop. A read or write that
    // failed on a port that still answers took or gave nothing this time
    // (Wine's pseudo-terminals under load do that): it is made again after a
    // pause. A pulled adapter fails it with whatever its driver says, and
    // answers no more: it is gone.
    PortResult Finish(OVERLAPPED* o, DWORD& done) {
        const HANDLE waits[2] = {o->hEvent, stop_};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            // Told to stop: the operation ends before its OVERLAPPED goes.
            CancelIoEx(handle_, o);
            GetOverlappedResult(handle_, o, &done, TRUE);
            return {PortError::Stopped, {}};
        }
        if (GetOverlappedResult(handle_, o, &done, FALSE) || TimedOut(GetLastError())) return {};
        done = 0;
        return Answers(handle_) ? PortResult{} : Gone();
    }

    // A short wait before the port is tried again, or the stop.
    PortResult Pause() {
        return WaitForSingleObject(stop_, PauseMs) == WAIT_OBJECT_0 ? PortResult{PortError::Stopped, {}} : PortResult{};
    }

    HANDLE handle_;
    DCB dcb_;
    int baud_;
    const PortUse use_;
    std::size_t earlier_ = 0;  // see EarlierDiscarded
    HANDLE readEvent_ = nullptr, writeEvent_ = nullptr;
    HANDLE stop_ = nullptr;  // a manual-reset event, set by Interrupt
};

}  // namespace

std::wstring ComDevicePath(const std::string& device) {
    const std::wstring wide = Wide(device);
    if (IsComName(wide)) return L"\\\\.\\" + wide;
    return wide;
}

OpenFailure ClassifyOpenError(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_GEN_FAILURE: return OpenFailure::NoDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return OpenFailure::Busy;
    // A name that opens something other than a port (CON, a console) without a handle for us.
    case ERROR_INVALID_HANDLE: return OpenFailure::NotATerminal;
    default: return OpenFailure::Other;
    }
}

}  // namespace vantrel::windows

namespace vantrel {

// A port is a handle of its own: unlike POSIX descriptors, no handle the
// program prints through can be handed to it, so an open holds nothing.
OpeningScope::OpeningScope() = default;
OpeningScope::~OpeningScope() = default;

PortResult OpenSerialPort(const std::string& device, PortUse use, int baud, std::unique_ptr<Port>& port) {
    port.reset();
    DCB dcb{};
    PortResult result;
    const HANDLE h = windows::Acquire(device, dcb, result, use == PortUse::Listen ? FILE_FLAG_OVERLAPPED : 0);
    if (h == INVALID_HANDLE_VALUE) return result;
    windows::ConfigureDcb(dcb, baud == KeepSpeed ? 9600 : baud);
    auto opened = std::make_unique<windows::ComPort>(h, dcb, baud, use);
    if (use == PortUse::Write) {
        // As on every platform: a setting the driver refuses is not an open that failed.
        SetCommState(h, &dcb);
        port = std::move(opened);
        return {};
    }
    // A read waits for its first byte as long as it takes (Interrupt ends
    // it), then takes what follows within a few milliseconds.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = windows::GapMs;
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts))
        return {PortError::Other, "cannot set the line: " + windows::ErrorText(GetLastError())};
    // Errors from before the open are not this reader's.
    DWORD errors = 0;
    ClearCommError(h, &errors, nullptr);
    if (!opened->Events()) return {PortError::Other, "cannot make an event: " + windows::ErrorText(GetLastError())};
    port = std::move(opened);
    return {};
}

PortResult ProbeSerialPort(const std::string& device) {
    PortResult result;
    DCB dcb{};
    if (const HANDLE h = windows::Acquire(device, dcb, result); h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return result;
}

// Told without opening: a COM name is there when the system has a device
// behind it; any other path is not a serial device when it exists at all.
PortResult LookAtSerialPort(const std::string& device) {
    if (const std::string refusal = ReadMappedDevice(device, Platform::Windows).refusal; !refusal.empty())
        return {PortError::Other, refusal};
    std::wstring name = windows::Wide(device);
    if (name.rfind(L"\\\\.\\", 0) == 0) name.erase(0, 4);
    if (windows::IsComName(name)) {
        wchar_t target[512];
        return {QueryDosDeviceW(name.c_str(), target, 512) ? PortError::None : PortError::NoDevice, {}};
    }
    return {GetFileAttributesW(windows::Wide(device).c_str()) == INVALID_FILE_ATTRIBUTES ? PortError::NoDevice
                                                                                        : PortError::NotATerminal,
            {}};
}

bool SameSerialPort(const std::string& a, const std::string& b) {
    const std::wstring one = windows::ComDevicePath(a), two = windows::ComDevicePath(b);
    return CompareStringOrdinal(one.data(), static_cast<int>(one.size()), two.data(), static_cast<int>(two.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace vantrel
