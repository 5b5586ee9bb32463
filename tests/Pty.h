// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal standing in for a serial port: the link opens the slave
// path, the test reads what arrives on the master.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const char* hex);       // "02 05 43" -> bytes
std::string ToHex(const Bytes& bytes);

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& Path() const { return path_; }
    int Master() const { return master_; }
    int Slave() const { return slave_; }

    // Everything that arrives until the line has been quiet for `quiet`.
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
    // Exactly n bytes, or fewer if `timeout` passes first.
    Bytes Read(std::size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // Closing the master is an unplugged adapter: writes on the slave fail with EIO.
    void CloseMaster();
    // Writes filler into the line through the test's own slave descriptor until
    // the line takes no more: the next write of the program blocks.
    void FillLine() const;

private:
    int master_ = -1;
    int slave_ = -1;  // kept open, so the link closing its side never hangs the line up
    std::string path_;
};

// Points VANTREL_COMn at a path for the life of the object, then restores
// the mapping it replaced.
class PortMapping {
public:
    PortMapping(int n, const std::string& path);
    ~PortMapping();

private:
    std::string name_;
    bool hadPrevious_ = false;
    std::string previous_;
};

#include <mutex>
#include <thread>

// Reads a master on a thread of its own and keeps every chunk with the time it
// arrived.
class LineRecorder {
public:
    using Clock = std::chrono::steady_clock;
    explicit LineRecorder(int master);
    ~LineRecorder();

    Bytes All() const;
    // The arrival time of byte `index` of everything received.
    Clock::time_point TimeOfByte(std::size_t index) const;
    // Waits until at least n bytes have arrived; false on timeout.
    bool WaitFor(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    struct Chunk {
        Clock::time_point at;
        std::size_t end;  // offset after the chunk's last byte
    };
    int master_;
    int stopPipe_[2];
    mutable std::mutex mutex_;
    Bytes bytes_;
    std::vector<Chunk> chunks_;
    std::thread thread_;
};
