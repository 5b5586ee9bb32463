// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/ComPort.h"

#include "serial/Platform.h"
#include "windows/Wide.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <windows.h>

namespace vantrel::windows {

namespace {

using Clock = std::chrono::steady_clock;

// The line as the panel wants it, whatever the port held before.
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

// Whether `device` is a folder or a file: not a COM name and not in the device
// namespace (\\.\), and the file system knows it.
bool IsFileSystemObject(const std::string& device) {
    const std::wstring path = ComDevicePath(device);
    return path.rfind(L"\\\\.\\", 0) != 0 && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Opens and claims the device; INVALID_HANDLE_VALUE with the reason when it cannot.
HANDLE Acquire(const std::string& device, DCB& dcb, OpenFailure& failure, std::string& detail, DWORD flags = 0) {
    failure = OpenFailure::None;
    const HANDLE h = CreateFileW(ComDevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        failure = ClassifyOpenError(error);
        // Access is denied to a port that another program holds, and as much
        // to a folder or a read-only file: those are no serial device.
        if (failure == OpenFailure::Busy && IsFileSystemObject(device)) failure = OpenFailure::NotATerminal;
        if (failure == OpenFailure::Other) detail = ErrorText(error);
        return h;
    }
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    // A mapping that names a plain file must never receive display frames.
    if (!GetCommState(h, &dcb)) {
        CloseHandle(h);
        failure = OpenFailure::NotATerminal;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

class ComPort : public LinkPort {
public:
    ComPort(HANDLE handle, const DCB& dcb, int baud) : handle_(handle), dcb_(dcb), baud_(baud) {}
    ~ComPort() override { CloseHandle(handle_); }

    // WriteFile ends when the bytes are with the driver or the total timeout
    // (the write's bound) has passed; then the driver's queue must empty
    // within what is left of the bound. Past it, a frame the driver took part
    // of is purged (Stalled), so no part of it reaches the line later.
    WriteResult Write(const std::uint8_t* data, std::size_t n, int boundMs) override {
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
            if (status.cbOutQue == 0) return WriteResult::Ok;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return Stalled(done);
            // The time the queued bytes need on the line, at least 1 ms per look.
            const long long needUs = std::max(1000LL, 10LL * 1000000LL * status.cbOutQue / std::max(baud_, 1));
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<long long>(needUs, left * 1000LL)));
        }
    }

    std::size_t EarlierDiscarded() const override { return earlier_; }

    void Reapply() override { SetCommState(handle_, &dcb_); }

private:
    // The most a pseudo-terminal holds for a reader that does not read: what
    // a port under Wine may have queued while it reports an empty queue.
    static constexpr std::size_t UncountedQueue = 64 * 1024;

    // A write that missed its bound, `done` of its n bytes given to the
    // driver: the output queue is purged, so that no part of the frame
    // reaches the line later. With none given there is nothing of it to
    // purge, and nothing written before it is. A driver that counts its queue
    // says what else went with them; one that reports an empty queue (a
    // pseudo-terminal under Wine) may have held anything, as on Linux.
    WriteResult Stalled(std::size_t done) {
        if (done == 0) return WriteResult::Stalled;
        DWORD errors = 0;
        COMSTAT status{};
        const std::size_t queued = ClearCommError(handle_, &errors, &status) ? status.cbOutQue : 0;
        earlier_ = queued == 0 ? UncountedQueue : queued > done ? queued - done : 0;
        PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
        return WriteResult::Stalled;
    }
    // A write that failed outright. A pulled USB adapter answers
    // ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND, ERROR_GEN_FAILURE or
    // ERROR_OPERATION_ABORTED, depending on its driver; any error but a
    // timeout leaves a port that takes nothing until it is opened again.
    WriteResult Failed(std::size_t done) {
        const DWORD error = GetLastError();
        if (error == ERROR_SEM_TIMEOUT || error == WAIT_TIMEOUT) return Stalled(done);
        return WriteResult::DeviceGone;
    }

    HANDLE handle_;
    DCB dcb_;
    int baud_;
    std::size_t earlier_ = 0;  // see EarlierDiscarded
};

bool IsComName(std::wstring_view name) {
    if (name.size() < 4 || name.size() > 6) return false;
    if (_wcsnicmp(name.data(), L"COM", 3) != 0 || name[3] == L'0') return false;
    return std::all_of(name.begin() + 3, name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

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

std::unique_ptr<LinkPort> OpenComPort(const std::string& device, int baud, OpenFailure& failure, std::string& detail) {
    DCB dcb{};
    const HANDLE h = Acquire(device, dcb, failure, detail);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    ConfigureDcb(dcb, baud);
    // As on every platform: a setting the driver refuses is not an open that failed.
    SetCommState(h, &dcb);
    return std::make_unique<ComPort>(h, dcb, baud);
}

void* AcquireComPort(const std::string& device, DCB& dcb, OpenFailure& failure, std::string& detail) {
    return Acquire(device, dcb, failure, detail, FILE_FLAG_OVERLAPPED);
}

void ConfigureComLine(DCB& dcb, int baud) { ConfigureDcb(dcb, baud); }

}  // namespace vantrel::windows

namespace vantrel {

// A port is a handle of its own: unlike POSIX descriptors, no handle the
// program prints through can be handed to it, so an open holds nothing.
OpeningScope::OpeningScope() = default;
OpeningScope::~OpeningScope() = default;

OpenFailure ProbeDevice(const std::string& path) {
    OpenFailure failure;
    std::string detail;
    DCB dcb{};
    if (const HANDLE h = windows::Acquire(path, dcb, failure, detail); h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return failure;
}

// Told without opening: a COM name is there when the system has a device
// behind it; any other path is not a serial device when it exists at all.
OpenFailure LookAtDevice(const std::string& path) {
    if (!ReadMappedDevice(path, Platform::Windows).refusal.empty()) return OpenFailure::Other;
    std::wstring name = windows::Wide(path);
    if (name.rfind(L"\\\\.\\", 0) == 0) name.erase(0, 4);
    if (windows::IsComName(name)) {
        wchar_t target[512];
        return QueryDosDeviceW(name.c_str(), target, 512) ? OpenFailure::None : OpenFailure::NoDevice;
    }
    return GetFileAttributesW(windows::Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES ? OpenFailure::NoDevice
                                                                                     : OpenFailure::NotATerminal;
}

void OpenDevice(const std::string& path, int baudValue) {
    OpenWith(path, baudValue, [&](OpenFailure& failure, std::string& detail) {
        return windows::OpenComPort(path, baudValue, failure, detail);
    });
}

}  // namespace vantrel
