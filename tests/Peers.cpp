// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

int LoopbackListener(int& port, int receiveBuffer) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0) {
        close(s);
        return -1;
    }
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return s;
}

ShellRun RunShell(const std::string& command) {
    ShellRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    while (const std::size_t n = fread(buf, 1, sizeof buf, pipe)) run.out.append(buf, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ChildProcess::ChildProcess(const std::vector<std::string>& args) {
    pid_ = fork();
    if (pid_ != 0) return;
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that dies leaves no server behind
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

ChildProcess::~ChildProcess() { Stop(); }

void ChildProcess::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int ConnectLoopback(int port) {
    for (int i = 0; i < 100; ++i) {
        const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(port);
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
        close(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

std::string Ser2net::Config(const std::vector<Line>& lines, const char* accepter) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrel-ser2net-" + std::to_string(lines[0].second) + ".yaml";
    std::ofstream config(path);
    for (const auto& [device, port] : lines)
        config << "connection: &display" << port << "\n  accepter: " << accepter << ",127.0.0.1," << port
               << "\n  connector: serialdev," << device << ",9600n81,local\n";
    return path;
}

Ser2net::Ser2net(const std::vector<Line>& lines, const char* accepter)
    : config_(Config(lines, accepter)), server_({Path, "-n", "-c", config_, "-P", config_ + ".pid"}) {
    // Up once it accepts; the probe's connections are gone before the panel's come.
    for (const auto& line : lines) {
        const int probe = ConnectLoopback(line.second);
        if (probe >= 0) close(probe);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

Ser2net::~Ser2net() {
    Stop();
    std::remove(config_.c_str());
    std::remove((config_ + ".pid").c_str());
}
