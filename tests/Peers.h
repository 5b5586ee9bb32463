// SPDX-License-Identifier: GPL-3.0-or-later
// Real programs as test partners (LCDd, ser2net): each runs in the
// foreground on 127.0.0.1 and is stopped by its process id.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// A loopback TCP port that nothing listens on right now.
int FreePort();

// A TCP socket listening on 127.0.0.1 at a port of its own (`port` says which),
// with a receive buffer of `receiveBuffer` bytes when one is given.
int LoopbackListener(int& port, int receiveBuffer = 0);

// A shell command's exit status and what it wrote on standard output.
struct ShellRun {
    int status = -1;
    std::string out;
};
ShellRun RunShell(const std::string& command);

// A program started with `args` (args[0] is its path), its output discarded.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // SIGTERM, then waits for the end.
    void Stop();

private:
    pid_t pid_ = -1;
};

// A connection to the loopback port, retried until something listens there:
// its descriptor, or -1 after 5 s.
int ConnectLoopback(int port);

// ser2net on 127.0.0.1, serving `device` with RFC 2217 on `port`, or each
// device of a list on its own port.
class Ser2net {
public:
    static constexpr const char* Path = "/usr/sbin/ser2net";
    using Line = std::pair<std::string, int>;  // a device and its port
    // `accepter`: how the clients connect (telnet with RFC 2217, or "tcp" for raw bytes).
    Ser2net(const std::string& device, int port, const char* accepter = "telnet(rfc2217),tcp")
        : Ser2net(std::vector<Line>{{device, port}}, accepter) {}
    explicit Ser2net(const std::vector<Line>& lines, const char* accepter = "telnet(rfc2217),tcp");
    ~Ser2net();
    void Stop() { server_.Stop(); }

private:
    static std::string Config(const std::vector<Line>& lines, const char* accepter);
    std::string config_;
    ChildProcess server_;
};
