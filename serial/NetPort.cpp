// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/NetPort.h"

#include "common/ControlCharacters.h"
#include "serial/LazyLibrary.h"

#include <gensio/gensio.h>
#include <gensio/gensio_addr.h>
#include <gensio/gensio_err.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/sergensio.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/ioctl.h>
#include <linux/sockios.h>
#include <cstring>
#include <cstdlib>

// The handler a connection's events go to; declared in the library's header
// for its own layers, which C++ cannot include.
extern "C" gensio_event gensio_get_cb(gensio* io);

namespace vantrel {

namespace {

using Clock = std::chrono::steady_clock;

// The library is loaded at the first network port, not at start-up: it
// brings a dozen libraries of its own that a panel on a local port never needs.
#define VANTREL_GENSIO_FUNCTIONS(X)                                                                       \
    X(gensio_default_os_hnd) X(gensio_os_funcs_alloc_waiter) X(gensio_os_funcs_free_waiter)              \
    X(gensio_os_funcs_wait) X(gensio_os_funcs_wake) X(gensio_os_funcs_service)                          \
    X(gensio_err_to_str) X(gensio_open) X(gensio_close) X(gensio_free) X(gensio_set_read_callback_enable) \
    X(gensio_set_write_callback_enable) X(gensio_write) X(gensio_to_sergensio) X(sergensio_baud)         \
    X(sergensio_datasize) X(sergensio_parity) X(sergensio_stopbits) X(sergensio_flush)                   \
    X(gensio_control) X(gensio_addr_create) X(gensio_addr_free) X(gensio_terminal_alloc)                 \
    X(gensio_filter_alloc) X(gensio_get_cb) X(gensio_get_user_data) X(gensio_set_callback)

VANTREL_LAZY_FUNCTIONS(GensioLibrary, VANTREL_GENSIO_FUNCTIONS, "libgensioosh.so.4", "libgensio.so.4")

const GensioLibrary& Lib() { return GensioLibrary::Get(); }

// One handler of the library's events for the process. Every call into the
// library is made by one thread at a time: the link's lock serialises them.
gensio_os_funcs* Os() {
    static gensio_os_funcs* os = [] {
        // A write to a connection the server has closed must fail that write,
        // not end the program: the library does not ask the kernel for that on
        // every write, so SIGPIPE is ignored once network ports are in use.
        std::signal(SIGPIPE, SIG_IGN);
        gensio_os_funcs* o = nullptr;
        return Lib().loaded && Lib().gensio_default_os_hnd(0, &o) == 0 ? o : nullptr;
    }();
    return os;
}

struct Url {
    bool telnet;
    std::string host;
    std::string port;
};

std::optional<Url> ParseUrl(const std::string& url) {
    Url u{};
    const NetScheme scheme = SchemeOf(url);
    if (scheme == NetScheme::None) return std::nullopt;
    u.telnet = scheme == NetScheme::Rfc2217;
    const std::string rest = url.substr(SchemeLength(scheme));
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    u.host = rest.substr(0, colon);
    u.port = rest.substr(colon + 1);
    // Brackets hold an IPv6 address ("[::1]"), and nothing else ("[abc:def]",
    // "[:]" are none); an IPv6 address is only taken in them, or its last
    // group would be the port.
    if (u.host.size() > 2 && u.host.front() == '[' && u.host.back() == ']') {
        u.host = u.host.substr(1, u.host.size() - 2);
        in6_addr v6{};
        if (inet_pton(AF_INET6, u.host.c_str(), &v6) != 1) return std::nullopt;
    } else if (u.host.find(':') != std::string::npos) {
        return std::nullopt;
    }
    // The host goes into the library's own address string: letters, digits, '.', '-', ':' only.
    const bool hostOk = std::all_of(u.host.begin(), u.host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':';
    });
    // A number as every number of the command line: digits only, no sign, blank or leading zero.
    const bool portOk = !u.port.empty() && u.port.size() <= 5 && u.port[0] != '0' &&
                        std::all_of(u.port.begin(), u.port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                        std::stoi(u.port) >= 1 && std::stoi(u.port) <= 65535;
    if (!hostOk || !portOk) return std::nullopt;
    return u;
}

gensio_time TimeLeft(Clock::time_point deadline) {
    const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return {ns / 1000000000, static_cast<int>(ns % 1000000000)};
}

// A host's address as the library takes it without a look-up of its own:
// the network type and the raw address (in_addr for IPv4; sockaddr_in6 for
// IPv6, which keeps a link-local address's scope).
struct Address {
    int nettype = GENSIO_NETTYPE_UNSPEC;
    sockaddr_storage raw{};
    std::size_t length = 0;
};

// An IPv4 address written as IPv6 (::ffff:192.0.2.7) is used as the IPv4 address it is.
std::optional<Address> AddressOf(const addrinfo* found) {
    Address a;
    if (found->ai_family == AF_INET) {
        a.nettype = GENSIO_NETTYPE_IPV4;
        a.length = sizeof(in_addr);
        std::memcpy(&a.raw, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, a.length);
        return a;
    }
    if (found->ai_family != AF_INET6) return std::nullopt;
    const auto& v6 = *reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
        a.nettype = GENSIO_NETTYPE_IPV4;
        a.length = sizeof(in_addr);
        std::memcpy(&a.raw, v6.sin6_addr.s6_addr + 12, a.length);
        return a;
    }
    a.nettype = GENSIO_NETTYPE_IPV6;
    a.length = sizeof v6;
    std::memcpy(&a.raw, &v6, a.length);
    return a;
}

// The host's address. A numeric address is taken as written: the look-up's
// rule that leaves out address families the computer has no address of
// (AI_ADDRCONFIG) does not count loopback, and would refuse 127.0.0.1 on a
// till whose only address is loopback; the library's own look-up applies that
// rule too, so it is given the address itself, never a text to look up. A
// name is looked up on a thread of its own: a name server that does not
// answer costs the open no more than the time it has left, and the look-up
// that runs on is left to end by itself.
std::optional<Address> LookUp(const std::string& host, Clock::time_point deadline, std::string& why) {
    addrinfo numeric{};
    numeric.ai_family = AF_UNSPEC;
    numeric.ai_socktype = SOCK_STREAM;
    numeric.ai_flags = AI_NUMERICHOST;
    if (addrinfo* found = nullptr; getaddrinfo(host.c_str(), nullptr, &numeric, &found) == 0 && found) {
        auto address = AddressOf(found);
        freeaddrinfo(found);
        if (address) return address;
    }
    struct Answer {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        int status = 0;
        std::optional<Address> address;
    };
    auto answer = std::make_shared<Answer>();
    try {
        std::thread([answer, host] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_ADDRCONFIG;
            addrinfo* found = nullptr;
            const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
            const auto address = status == 0 && found ? AddressOf(found) : std::nullopt;
            if (found) freeaddrinfo(found);
            std::lock_guard lock(answer->mutex);
            answer->finished = true;
            answer->status = status;
            answer->address = address;
            answer->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        why = "no thread for the name look-up";
        return std::nullopt;
    }
    std::unique_lock lock(answer->mutex);
    if (!answer->done.wait_until(lock, deadline, [&] { return answer->finished; })) {
        why = "no answer from the name server";
        return std::nullopt;
    }
    if (answer->status != 0 || !answer->address) {
        why = "unknown host " + host + (answer->status != 0 ? std::string(" (") + gai_strerror(answer->status) + ")" : "");
        return std::nullopt;
    }
    return answer->address;
}

// The library's words for an error, or ours where its own only point at a log we don't keep.
std::string ErrorWords(int err) {
    if (err == GE_OSERR) return "the network library refused the address or the connection";
    return Lib().gensio_err_to_str(err);
}

class NetPort final : public Port {
public:
    NetPort(bool telnet, int baud) : telnet_(telnet), baud_(baud), waiter_(Lib().gensio_os_funcs_alloc_waiter(Os())) {}

    ~NetPort() override {
        if (io_) {
            if (open_ && !ended_ && LetTheServerPassItOn() == WriteResult::NotTaken) Dissolve();
            Close();
            if (io_) Lib().gensio_free(io_);
        }
        StopOverhearing();
        if (waiter_) Lib().gensio_os_funcs_free_waiter(Os(), waiter_);
    }

    // Opened: the connection ends when the library closes its socket.
    void StopOverhearing() {
        if (overhear_ >= 0) close(overhear_);
        overhear_ = -1;
    }

    // A clean end: the library sends what it holds and closes. A server
    // (ser2net) that sees the end before it has passed the last bytes on
    // drops them: so the end waits until the server has taken them, and for
    // their time on its line. A connection that ends meanwhile, or bytes
    // still unacknowledged when the wait runs out, fail the end; those bytes
    // missed their bound, and are dropped with the connection.
    PortResult End(std::uint32_t& notTaken) override { return {PortErrorOf(EndCleanly(notTaken)), {}}; }

    WriteResult EndCleanly(std::uint32_t& notTaken) {
        notTaken = 0;
        ended_ = true;
        if (!io_ || !open_) return WriteResult::ConnectionDropped;
        const WriteResult result = LetTheServerPassItOn(&notTaken);
        if (result == WriteResult::NotTaken) Dissolve();
        Close();
        return result;
    }

    bool Connect(const Url& url, Clock::time_point deadline, OpenFailure& failure, std::string& detail) {
        if (!waiter_) return Fail(failure, detail, OpenFailure::Other, "no event handler");
        std::string why;
        const auto host = LookUp(url.host, deadline, why);
        if (!host) return Fail(failure, detail, OpenFailure::NoDevice, why);
        if (const int err = Stack(*host, static_cast<unsigned>(std::stoi(url.port)))) {
            io_ = nullptr;
            return Fail(failure, detail, OpenFailure::NoDevice, ErrorWords(err));
        }
        if (const int err = Lib().gensio_open(io_, &NetPort::OpenDone, this))
            return Fail(failure, detail, OpenFailure::NoDevice, ErrorWords(err));
        open_ = true;
        if (!Wait([this] { return openResult_.has_value() || notTelnet_; }, deadline) || notTelnet_) {
            open_ = false;  // nothing to close cleanly: the attempt is dropped with the connection
            // Words, then a hang-up, are a refusal in the server's words.
            if (notTelnet_ && Wait([this] { return openResult_.has_value(); }, std::min(deadline, Clock::now() + std::chrono::milliseconds(150))) &&
                *openResult_ == GE_REMCLOSE)
                return HungUp(failure, detail);
            // A server that spoke, but never completed the telnet open, speaks another protocol.
            if (notTelnet_ || (telnet_ && !said_.empty())) return NotRfc2217(failure, detail);
            return Fail(failure, detail, OpenFailure::NoDevice, "no answer within 3 s");
        }
        if (*openResult_ != 0) {
            open_ = false;
            if (*openResult_ == GE_REMCLOSE) return HungUp(failure, detail);  // accepted, then hung up on
            if (telnet_ && *openResult_ == GE_NOTSUP) return NotRfc2217(failure, detail);
            return Fail(failure, detail, OpenFailure::NoDevice, ErrorWords(*openResult_));
        }
        Lib().gensio_set_read_callback_enable(io_, true);
        if (socket_ < 0) socket_ = FindSocket();
        if (telnet_) {
            // Binary mode both ways (telnet's BINARY option): without it a
            // server takes the bytes as telnet's text, where a CR followed by
            // a NUL is a CR alone. The telnet layer agrees to it when asked,
            // but never asks: the request goes on the connection itself.
            static const unsigned char ask[] = {0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00};  // IAC WILL, IAC DO BINARY
            // A connection that is gone already fails the line settings after, as hung up.
            gensiods count = 0;
            Lib().gensio_write(tcp_, &count, ask, sizeof ask, nullptr);
        }
        return true;
    }

    // RFC 2217: speed, 8 data bits, no parity, 1 stop bit. Flow control and the
    // modem lines are left alone: a pseudo-terminal behind the server has none.
    bool SetLine(Clock::time_point deadline, OpenFailure& failure, std::string& detail) {
        sergensio* sio = Lib().gensio_to_sergensio(io_);
        if (!sio) return Fail(failure, detail, OpenFailure::Other, "the server offers no line settings");
        using Setter = decltype(&::sergensio_baud);
        using Words = std::string (*)(unsigned int);  // a value as the server sets it ("4800 bit/s")
        const std::tuple<Setter, unsigned int, Words> steps[] = {
            {Lib().sergensio_baud, static_cast<unsigned>(baud_), [](unsigned v) { return std::to_string(v) + " bit/s"; }},
            {Lib().sergensio_datasize, 8, [](unsigned v) { return std::to_string(v) + " data bits"; }},
            {Lib().sergensio_parity, SERGENSIO_PARITY_NONE, [](unsigned v) {
                 static const char* const names[] = {"no", "odd", "even", "mark", "space"};  // 1 to 5
                 return (v >= 1 && v <= 5 ? std::string(names[v - 1]) : "code " + std::to_string(v)) + " parity";
             }},
            {Lib().sergensio_stopbits, 1, [](unsigned v) {
                 return (v == 3 ? std::string("1.5") : std::to_string(v)) + (v == 1 ? " stop bit" : " stop bits");
             }}};
        for (const auto& [set, value, words] : steps) {
            setResult_.reset();
            setValue_ = value;
            if (const int err = set(sio, value, &NetPort::SetDone, this))
                return err == GE_NOTSUP ? NotRfc2217(failure, detail) : Fail(failure, detail, OpenFailure::Other, ErrorWords(err));
            if (!Wait([this] { return setResult_.has_value() || closed_; }, deadline))
                return Fail(failure, detail, OpenFailure::Other, "the server did not confirm the line settings within 3 s");
            if (closed_) return HungUp(failure, detail);
            if (*setResult_ == GE_NOTSUP) return NotRfc2217(failure, detail);
            if (malformed_ || (set == Lib().sergensio_baud && speedCoded_ && setValue_ == 0))
                return Fail(failure, detail, OpenFailure::NoDevice,
                            "the server does not speak RFC 2217: its answer to a line setting is malformed");
            if (*setResult_ != 0) return Fail(failure, detail, OpenFailure::Other, ErrorWords(*setResult_));
            // The server answers with the setting its line has now.
            if (setValue_ != value) return Fail(failure, detail, OpenFailure::Other, "the server set " + words(setValue_));
        }
        // The server answers in order: its answer to binary mode came before those to the settings.
        if (binary_ != Binary::Yes)
            return Fail(failure, detail, OpenFailure::Other,
                        "the server refused telnet's binary mode, without which it may change the bytes");
        return true;
    }

    // A server whose port is taken accepts, says so and hangs up at once.
    bool Settle(OpenFailure& failure, std::string& detail) {
        Wait([this] { return closed_; }, Clock::now() + std::chrono::milliseconds(150));
        return closed_ ? HungUp(failure, detail) : true;
    }

    // Hands the bytes to the connection (the library doubles 0xFF on telnet)
    // and returns when it has sent them on. A connection that is gone fails
    // the write at once, as an unplugged adapter does; one that takes nothing
    // within the bound is dropped with whatever it still holds.
    PortResult Write(const std::uint8_t* data, std::size_t n, int boundMs) override {
        return {PortErrorOf(WriteWithin(data, n, boundMs)), {}};
    }

    WriteResult WriteWithin(const std::uint8_t* data, std::size_t n, int boundMs) {
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(boundMs);
        takenAtATime_ = std::max(takenAtATime_, n);
        acknowledged_ = false;
        // What the server said since the last write is heard before this one
        // goes (a replay's writes come apart, with the server's notices
        // between them): a hang-up fails it, a revoked binary mode too, and a
        // held line (FLOWCONTROL-SUSPEND) holds it below.
        HearTheServer();
        if (closed_ || HungUp()) return WriteResult::ConnectionDropped;
        if (telnet_ && binary_ == Binary::No) {
            // The server revoked binary mode: it would change the bytes, so none go.
            Dissolve();
            return WriteResult::ConnectionDropped;
        }
        std::size_t done = 0;
        while (!closed_) {
            if (suspended_) {
                // The server holds its line (FLOWCONTROL-SUSPEND): the bytes
                // wait here, as a held local line keeps them, within the
                // write's own bound.
                if (!Wait([this] { return !suspended_ || closed_; }, deadline)) return Abandon();
                continue;
            }
            if (done < n) {
                gensiods count = 0;
                if (Lib().gensio_write(io_, &count, data + done, n - done, nullptr) != 0) {
                    Ended();
                    break;
                }
                done += count;
            }
            // Either room for the rest, or (all handed over) the library's buffer empty.
            writable_ = false;
            Lib().gensio_set_write_callback_enable(io_, true);
            if (!WaitWhileTaken([this] { return writable_ || closed_; }, deadline)) return Abandon();
            if (done == n && writable_) {
                // 10 bits a byte on the far line, and a margin for the server to hand them on.
                passedOnBy_ = Clock::now() + std::chrono::milliseconds(50 + static_cast<long>(n) * 10000 / std::max(baud_, 1));
                // The far line's schedule: these bytes follow those still on it.
                lineFreeAt_ = std::max(lineFreeAt_, start) +
                              std::chrono::microseconds(static_cast<long>(n) * 10000000L / std::max(baud_, 1));
                acknowledged_ = Acknowledged();
                return WriteResult::Ok;
            }
        }
        return WriteResult::ConnectionDropped;
    }

    // TCP tells only that the server's machine took the bytes; neither ser2net
    // nor the protocol says when its line has sent them.
    bool KnownTakenByServerOnly() const override { return true; }
    bool LastWriteAcknowledged() const override { return acknowledged_; }

    void Reapply() override {
        sergensio* sio = telnet_ && !closed_ ? Lib().gensio_to_sergensio(io_) : nullptr;
        if (!sio) return;
        setResult_.reset();
        if (Lib().sergensio_baud(sio, static_cast<unsigned>(baud_), &NetPort::SetDone, this) == 0)
            Wait([this] { return setResult_.has_value() || closed_; }, Clock::now() + std::chrono::seconds(1));
    }

private:
    static int Event(gensio*, void* user, int event, int err, unsigned char* buf, gensiods* length, const char* const*) {
        auto* self = static_cast<NetPort*>(user);
        switch (event) {
        case GENSIO_EVENT_READ:
            // The display never answers; what the server says is kept (by
            // the tap, over telnet) only while it may be why it hangs up.
            if (err) self->Ended();
            else if (length && !self->telnet_) self->Heard(buf, *length);
            break;
        case GENSIO_EVENT_WRITE_READY:
            self->writable_ = true;
            Lib().gensio_set_write_callback_enable(self->io_, false);
            break;
        default: return GE_NOTSUP;
        }
        Lib().gensio_os_funcs_wake(Os(), self->waiter_);
        return 0;
    }
    // The connection's own events, seen on their way to the telnet layer. A
    // server that hangs up while the telnet options are still being agreed
    // says why before it does, and the telnet layer drops those words with
    // the failed open: they are kept here, only the bytes the layer took
    // (what it left comes again). At the first event the connection is made:
    // its socket is found, and a copy of it is held while opening (Overhear).
    static int Tap(gensio* io, void* user, int event, int err, unsigned char* buf, gensiods* length, const char* const* aux) {
        auto* self = static_cast<NetPort*>(user);
        // The first event: connected (or, with an error, already gone).
        if (!std::exchange(self->connected_, true) && !err && (self->socket_ = self->FindSocket()) >= 0)
            self->overhear_ = fcntl(self->socket_, F_DUPFD_CLOEXEC, 3);
        const bool read = event == GENSIO_EVENT_READ && !err && length;
        // What is no telnet never reaches the telnet layer, whose parser may
        // take seconds over it: the open fails at once.
        if (read && (self->notTelnet_ || (!self->openResult_ && !self->Telnet(buf, *length)))) {
            self->Heard(buf, *length);
            self->notTelnet_ = true;
            Lib().gensio_os_funcs_wake(Os(), self->waiter_);
            return 0;  // all taken
        }
        const int result = self->tapped_(io, self->tappedData_, event, err, buf, length, aux);
        if (read) {
            self->Heard(buf, *length);
            if (self->telnet_) self->Watch(buf, *length);
        }
        return result;
    }
    // Whether bytes that a server sends while the telnet open runs may be
    // telnet: an RFC 2217 server opens with its options, so its first byte is
    // IAC, and IAC is followed by a command (240 to 255), never by a lower byte.
    bool Telnet(const unsigned char* buf, std::size_t n) const {
        constexpr unsigned char Iac = 255, LeastCommand = 240;
        if (said_.empty() && n > 0 && buf[0] != Iac) return false;
        for (std::size_t i = 0; i + 1 < n; ++i)
            if (buf[i] == Iac && buf[++i] < LeastCommand) return false;
        return true;
    }
    // What the server tells of its line among the bytes it sends, which the
    // telnet layer keeps to itself: FLOWCONTROL-SUSPEND (108) and -RESUME
    // (109), which hold and free the bytes for its line; the confirmation of
    // a purge (PURGE-DATA, 112); and the form of its answers to the line
    // settings (101 to 104), whose value is 1 byte, or 4 for the speed (1 in
    // the form of Cisco's servers, a code the library turns into a speed, 0
    // for a code it does not know): the library takes a value of another
    // size as it comes.
    void Watch(const unsigned char* buf, std::size_t n) {
        static constexpr std::string_view Notice = "\xFF\xFA\x2C";  // IAC SB COM-PORT-OPTION
        constexpr char Iac = '\xFF', Se = '\xF0';
        constexpr std::size_t LongestNotice = 64;
        recent_.append(reinterpret_cast<const char*>(buf), n);
        std::size_t at = 0, done = 0, keep = std::string::npos;
        while ((at = recent_.find(Notice, at)) != std::string::npos) {
            const std::size_t codeAt = at + Notice.size();
            if (codeAt >= recent_.size()) {
                keep = at;
                break;
            }
            const auto code = static_cast<unsigned char>(recent_[codeAt]);
            at = done = codeAt + 1;
            if (code >= 101 && code <= 104) {
                std::size_t length = 0, i = codeAt + 1;  // the value runs to IAC SE; IAC IAC is one 0xFF
                for (; i < recent_.size() && !(recent_[i] == Iac && i + 1 < recent_.size() && recent_[i + 1] == Se); ++i, ++length)
                    if (recent_[i] == Iac && ++i == recent_.size()) break;
                if (i + 1 >= recent_.size()) {
                    if (recent_.size() - codeAt > LongestNotice) malformed_ = true;
                    else keep = codeAt - Notice.size();
                    break;
                }
                if (length != 1 && !(code == 101 && length == 4)) malformed_ = true;
                if (code == 101) speedCoded_ = length == 1;
                at = done = i + 2;
            } else if (code == 108) suspended_ = true;
            else if (code == 109) suspended_ = false;
            else if (code == 112) purged_ = purged_ || purgeAsked_;
        }
        // The server's answer to binary mode for what we send, the newest last:
        // IAC DO BINARY, or IAC DONT BINARY (refused, or revoked).
        for (std::size_t i = 0; (i = recent_.find('\xFF', i)) != std::string::npos && i + 2 < recent_.size(); ++i)
            if (recent_[i + 2] == '\0' && (recent_[i + 1] == '\xFD' || recent_[i + 1] == '\xFE'))
                binary_ = recent_[i + 1] == '\xFD' ? Binary::Yes : Binary::No;
        // What may still be the start of a notice is kept for the next bytes.
        if (keep == std::string::npos) keep = std::max(done, recent_.size() - std::min(recent_.size(), Notice.size() - 1));
        recent_.erase(0, std::min(keep, recent_.size()));
        Lib().gensio_os_funcs_wake(Os(), waiter_);
    }
    void Heard(const unsigned char* buf, std::size_t n) {
        if (said_.size() < MaxWords) said_.append(reinterpret_cast<const char*>(buf), std::min(n, MaxWords - said_.size()));
    }

    // The connection to `host` at `port`: TCP without Nagle's delay (each
    // frame goes out when it is written, as on a serial line) and, for
    // rfc2217, telnet with the COM-PORT option on it. Built from the address
    // itself, so the library looks nothing up. 0, or the library's error.
    int Stack(const Address& host, unsigned port) {
        gensio_addr* address = nullptr;
        if (const int err = Lib().gensio_addr_create(Os(), host.nettype, &host.raw, host.length, port, &address)) return err;
        static const char* const tcpArgs[] = {"nodelay", nullptr};
        serverPort_ = port;
        const int err = Lib().gensio_terminal_alloc("tcp", address, tcpArgs, Os(), &NetPort::Event, this, &tcp_);
        Lib().gensio_addr_free(address);
        if (err || !telnet_) {
            io_ = err ? nullptr : tcp_;
            return err;
        }
        static const char* const telnetArgs[] = {"rfc2217", nullptr};
        if (const int e = Lib().gensio_filter_alloc("telnet", tcp_, telnetArgs, Os(), &NetPort::Event, this, &io_)) {
            Lib().gensio_free(tcp_);
            tcp_ = nullptr;
            return e;
        }
        tapped_ = Lib().gensio_get_cb(tcp_);
        tappedData_ = Lib().gensio_get_user_data(tcp_);
        Lib().gensio_set_callback(tcp_, &NetPort::Tap, this);
        return 0;
    }

    static void OpenDone(gensio*, int err, void* user) {
        auto* self = static_cast<NetPort*>(user);
        self->openResult_ = err;
        Lib().gensio_os_funcs_wake(Os(), self->waiter_);
    }
    static void CloseDone(gensio*, void* user) {
        auto* self = static_cast<NetPort*>(user);
        self->closeDone_ = true;
        Lib().gensio_os_funcs_wake(Os(), self->waiter_);
    }
    static void SetDone(sergensio*, int err, unsigned int value, void* user) {
        auto* self = static_cast<NetPort*>(user);
        self->setResult_ = err;
        self->setValue_ = value;
        Lib().gensio_os_funcs_wake(Os(), self->waiter_);
    }

    // Runs the library's events until `done` or the deadline.
    bool Wait(const std::function<bool()>& done, Clock::time_point deadline) {
        while (!done()) {
            if (Clock::now() >= deadline) return false;
            gensio_time left = TimeLeft(deadline);
            Lib().gensio_os_funcs_wait(Os(), waiter_, 1, &left);
        }
        return true;
    }

    // A write that missed its bound: no part of the frame reaches the line later.
    WriteResult Abandon() {
        Dissolve();
        return WriteResult::Stalled;
    }

    // Bytes that missed their bound: the server is asked to drop what it has
    // not sent yet (the request reaches it only if it reads on before the
    // reset), and the connection is reset, not closed: a close would still
    // deliver what the socket holds once the server reads again, a reset
    // drops it.
    void Dissolve() {
        if (sergensio* sio = telnet_ ? Lib().gensio_to_sergensio(io_) : nullptr) {
            Lib().sergensio_flush(sio, SERGIO_FLUSH_XMIT_BUFFER);
            gensio_time brief{0, 50000000};
            Lib().gensio_os_funcs_service(Os(), &brief);
        }
        Reset();
    }

public:
    // Resets the connection and lets it go: after a missed bound, and after
    // an open that failed, which has nothing to end cleanly and must end
    // within the open's bound.
    void Reset() {
        if (!io_) return;
        if (socket_ >= 0) {
            // Dissolving the association resets at once and purges the send
            // queue; the library closes the descriptor later, as its own.
            const linger reset{1, 0};
            setsockopt(socket_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            sockaddr none{};
            none.sa_family = AF_UNSPEC;
            connect(socket_, &none, sizeof none);
        }
        closed_ = true;
        open_ = false;
        Lib().gensio_free(io_);
        io_ = nullptr;
    }

private:
    void Close() {
        if (open_ && Lib().gensio_close(io_, &NetPort::CloseDone, this) == 0)
            Wait([this] { return closeDone_; }, Clock::now() + std::chrono::seconds(1));
        open_ = false;
    }

    // Whether the connection is gone with bytes the server had not taken. A
    // server that closes after taking every byte ends it in order; one that
    // closes with bytes unread resets it. The state is read before the
    // library's events run: once it sees the end it closes the socket.
    bool Dropped() {
        if (!closed_) {
            const int state = State();
            int queued = 1;
            if (state == TCP_CLOSE) return true;
            seenInOrder_ = state == TCP_CLOSE_WAIT && ioctl(socket_, SIOCOUTQ, &queued) == 0 && queued == 0;
            gensio_time now{0, 0};
            Lib().gensio_os_funcs_service(Os(), &now);
        }
        return closed_ && !endedInOrder_;
    }

    // The connection's TCP state, or -1 when it can't be told.
    int State() const {
        tcp_info info{};
        socklen_t length = sizeof info;
        return socket_ >= 0 && getsockopt(socket_, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_state : -1;
    }

    // The library saw the connection end, and has closed its socket: whether
    // the server had taken every byte and ended it in order, as last seen.
    void Ended() {
        endedInOrder_ = seenInOrder_;
        closed_ = true;
        socket_ = -1;
    }

    // Runs the library's events that are due, without waiting: what the
    // server sent is read, its notices (Watch) and a hang-up taken.
    void HearTheServer() {
        for (int round = 0; round < 8 && !closed_; ++round) {
            gensio_time now{0, 0};
            if (Lib().gensio_os_funcs_service(Os(), &now) != 0) break;  // nothing more was due
        }
    }
    // Whether the server has ended its side of the connection (it hung up):
    // it takes nothing more, whatever the socket still accepts.
    bool HungUp() const {
        const int state = State();
        return state == TCP_CLOSE_WAIT || state == TCP_CLOSE || state == TCP_LAST_ACK;
    }
    // Whether the server's side has acknowledged every byte written: none
    // waits in the socket, unsent or unacknowledged (its output queue counts
    // both). Waits briefly for it: a round trip, and the 40 ms a server's
    // system may delay an acknowledgement (after it answered telnet's options).
    bool Acknowledged() const {
        const auto until = Clock::now() + std::chrono::milliseconds(AcknowledgementWaitMs);
        for (int queued = 0;;) {
            if (socket_ < 0 || ioctl(socket_, SIOCOUTQ, &queued) != 0) return false;  // not known: handed to the network only
            if (queued == 0) return true;
            if (Clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    static constexpr int AcknowledgementWaitMs = 50;

    // The bytes written that the server's side has not acknowledged yet (0 when that can't be told).
    int Unacknowledged() const {
        int queued = 0;
        return socket_ >= 0 && ioctl(socket_, SIOCOUTQ, &queued) == 0 ? queued : 0;
    }
    // How long a server that keeps reading may take no bytes: the bound of
    // the most it has taken at a time (at least of the largest write). A
    // server that reads slowly takes them in bursts: its side opens its
    // window only when it has room for a good part of it, and the kernel
    // asks about a closed window at growing intervals, so seconds may pass
    // between two bursts of a server that keeps pace with the far line.
    Clock::time_point StalledBy() const {
        return Clock::now() + std::chrono::milliseconds(WriteBoundMs(takenAtATime_, baud_));
    }
    // The server's side acknowledged bytes since the last look, down to `queued`.
    void Took(int least, int queued) {
        takenAtATime_ = std::max(takenAtATime_, static_cast<std::size_t>(least - queued));
    }

    // Waits for `done` until `deadline`, and past it while the server keeps
    // acknowledging bytes: a write fails when the bytes the server has not
    // taken stop going down for their bound, not when a slow server needs
    // longer than one write's bound in all.
    bool WaitWhileTaken(const std::function<bool()>& done, Clock::time_point deadline) {
        for (int least = Unacknowledged();;) {
            if (Wait(done, std::min(deadline, Clock::now() + std::chrono::milliseconds(50)))) return true;
            if (const int queued = Unacknowledged(); queued < least) {
                Took(least, queued);
                least = queued;
                deadline = std::max(deadline, StalledBy());
            }
            if (Clock::now() >= deadline) return false;
        }
    }

    // Waits until the server's side has acknowledged every byte, as long as
    // the bytes it has not taken keep going down within their bound; then until the last bytes' time on the far line is
    // over. Ok, or why not: the connection ended, or `notTaken` bytes were
    // never acknowledged.
    WriteResult LetTheServerPassItOn(std::uint32_t* notTaken = nullptr) {
        int queued = Unacknowledged();
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(WriteBoundMs(static_cast<std::size_t>(queued), baud_));
        auto stalledBy = StalledBy();
        for (int least = queued; queued > 0;) {
            if (Dropped()) return WriteResult::ConnectionDropped;
            if (socket_ < 0 || ioctl(socket_, SIOCOUTQ, &queued) != 0) break;  // ended in order, everything taken
            if (queued < least) Took(least, queued), least = queued, stalledBy = StalledBy();
            if (queued > 0 && Clock::now() >= stalledBy) {
                if (notTaken) *notTaken = static_cast<std::uint32_t>(queued);
                return WriteResult::NotTaken;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // A server that resets the connection with bytes unread does so within
        // this time. Over RFC 2217 the wait runs on to a second past the time
        // of every byte on the far line: ser2net tells nothing of its line's
        // queue, so what its device still queues then (a far end that holds
        // the line with flow control) is purged. What ser2net holds itself
        // it keeps: only the server is known to have taken the bytes.
        const bool wrote = lineFreeAt_ != Clock::time_point{};
        const auto purgeAt = lineFreeAt_ + std::chrono::seconds(1);  // a line that stops taking bytes fails after 1 s
        const auto until = telnet_ && wrote ? std::max(purgeAt, std::min(passedOnBy_, deadline)) : std::min(passedOnBy_, deadline);
        do {
            if (Dropped()) return WriteResult::ConnectionDropped;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (socket_ >= 0 && Clock::now() < until);
        if (sergensio* sio = telnet_ && wrote && !closed_ ? Lib().gensio_to_sergensio(io_) : nullptr) {
            // ser2net drains what it holds when the connection ends before the
            // purge has been done: the end waits for the purge's confirmation.
            purgeAsked_ = true;
            Lib().sergensio_flush(sio, SERGIO_FLUSH_XMIT_BUFFER);
            Wait([this] { return purged_ || closed_; }, Clock::now() + std::chrono::milliseconds(500));
        }
        return WriteResult::Ok;
    }

    // The connection's own socket, so that an abandoned write can reset it
    // and a hang-up's words can be read: the one whose local port is the
    // connection's and whose peer's port is the server's. -1 when it can't be told.
    int FindSocket() {
        char local[128] = "0";
        gensiods length = sizeof local;
        if (Lib().gensio_control(tcp_, 0, GENSIO_CONTROL_GET, GENSIO_CONTROL_LADDR, local, &length) != 0) return -1;
        const char* comma = std::strrchr(local, ',');  // "ipv4,127.0.0.1,41234"
        if (!comma) return -1;
        localPort_ = std::strtol(comma + 1, nullptr, 10);
        for (int fd = 0; fd < 4096; ++fd)
            if (Ours(fd)) return fd;
        return -1;
    }
    bool Ours(int fd) const {
        auto portOf = [](const sockaddr_storage& a) {
            return a.ss_family == AF_INET    ? ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port)
                   : a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port)
                                             : 0;
        };
        sockaddr_storage mine{}, peer{};
        socklen_t mineLength = sizeof mine, peerLength = sizeof peer;
        return getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &mineLength) == 0 && portOf(mine) == localPort_ &&
               getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 && portOf(peer) == serverPort_;
    }

    // What the server said that the library had not read when it saw the
    // connection fail: a write that meets the server's reset fails at once,
    // before the words that came ahead of the reset are read, and the
    // library closes its socket. The copy of the socket held while opening
    // still reads them.
    void Overhear() {
        unsigned char buf[512];
        for (ssize_t n; overhear_ >= 0 && said_.size() < MaxWords && (n = recv(overhear_, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            Heard(buf, static_cast<std::size_t>(n));
        StopOverhearing();
    }

    static bool Fail(OpenFailure& failure, std::string& detail, OpenFailure why, const std::string& words) {
        failure = why;
        detail = words;
        return false;
    }
    // What the server said, without the telnet commands around it.
    std::string ServerWords() const {
        std::string words;
        constexpr unsigned char Iac = 255, Sb = 250, Se = 240, Will = 251;
        for (std::size_t i = 0; i < said_.size(); ++i) {
            const auto c = static_cast<unsigned char>(said_[i]);
            if (c != Iac || !telnet_) words += static_cast<char>(c);
            else if (i + 1 >= said_.size()) break;
            else if (const auto command = static_cast<unsigned char>(said_[i + 1]); command == Iac) {
                words += static_cast<char>(Iac);  // a data byte 0xFF, doubled on the wire
                ++i;
            } else if (command == Sb) {
                // A sub-negotiation runs to IAC SE.
                for (i += 2; i + 1 < said_.size(); ++i)
                    if (static_cast<unsigned char>(said_[i]) == Iac && static_cast<unsigned char>(said_[i + 1]) == Se) break;
                ++i;
            } else if (command < Se) {
                words += static_cast<char>(Iac);  // no telnet command: a lone IAC, and the byte after it is data
            } else i += command >= Will ? 2 : 1;  // WILL, WONT, DO, DONT name an option
        }
        return words;
    }

    // A server that answered the telnet open, but not as an RFC 2217 server
    // does: it fails as a silent one does, and says which it was.
    bool NotRfc2217(OpenFailure& failure, std::string& detail) {
        const std::size_t data = ServerWords().size();
        return Fail(failure, detail, OpenFailure::NoDevice,
                    data ? "the server does not speak RFC 2217: it answered with bytes that are no telnet negotiation"
                         : "the server does not speak RFC 2217: it did not agree the COM-PORT option");
    }

    // The server hung up at once. ser2net says why before it does ("Port
    // already in use", "Device open failure: ..."): its own words are given,
    // without the telnet commands around them, quoted and with every control
    // character escaped, so that the terminal obeys none of them. A server
    // that says nothing may have another client on its port, or not: that is
    // only a guess.
    bool HungUp(OpenFailure& failure, std::string& detail) {
        Overhear();
        std::string words = ServerWords();
        constexpr std::string_view Blank = " \t\r\n";
        words.erase(0, std::min(words.size(), words.find_first_not_of(Blank)));
        words.erase(words.find_last_not_of(Blank) + 1);
        if (words.empty())
            return Fail(failure, detail, OpenFailure::Other,
                        "the server ended the connection at once without a word (perhaps another client holds its port)");
        const bool taken = words.find("in use") != std::string::npos;
        return Fail(failure, detail, taken ? OpenFailure::Busy : OpenFailure::Other, "the server says: '" + Escaped(words) + "'");
    }

    const bool telnet_;
    const int baud_;
    gensio_waiter* waiter_;
    gensio* io_ = nullptr;
    gensio* tcp_ = nullptr;  // the connection under the telnet layer, or io_ itself
    static constexpr std::size_t MaxWords = 400;
    gensio_event tapped_ = nullptr;  // the telnet layer's handler of the connection's events
    void* tappedData_ = nullptr;
    bool open_ = false;
    bool ended_ = false;
    bool seenInOrder_ = false;   // at the last look the server had taken every byte and ended the connection
    bool endedInOrder_ = false;  // the connection ended so
    std::string said_;  // what the server said, telnet commands included, up to MaxWords bytes
    int socket_ = -1;
    int overhear_ = -1;  // a second descriptor of the socket while opening, or -1
    bool connected_ = false;  // the telnet layer's connection has had an event
    long localPort_ = -1;
    long serverPort_ = -1;
    Clock::time_point passedOnBy_{};  // when the last bytes have left the far line
    std::size_t takenAtATime_ = 0;     // the most the server took at a time, or the largest write
    Clock::time_point lineFreeAt_{};  // when every byte written has left the far line, if it never stops
    bool closed_ = false;
    bool notTelnet_ = false;   // the server sent what is no telnet while the open ran
    bool purgeAsked_ = false;
    bool purged_ = false;      // the server confirmed the purge
    bool suspended_ = false;   // the server asked for its line's output to be held
    bool malformed_ = false;   // an answer to a line setting had a value of the wrong size
    bool speedCoded_ = false;
    enum class Binary { Unknown, Yes, No } binary_ = Binary::Unknown;  // the server's answer to binary mode  // the speed was confirmed in Cisco's 1-byte form
    std::string recent_;       // the last bytes heard that may begin a notice of the server (Watch)
    bool writable_ = false;
    bool acknowledged_ = false;  // the server's side acknowledged every byte of the last write
    bool closeDone_ = false;
    std::optional<int> openResult_;
    std::optional<int> setResult_;
    unsigned int setValue_ = 0;  // the value the server confirmed
};

}  // namespace

std::string NetworkPortRefusal(const std::string& url) {
    return ParseUrl(url) ? "" : "not a network port address (rfc2217://HOST:PORT or socket://HOST:PORT)";
}

PortResult OpenNetworkPort(const std::string& url, int baud, std::unique_ptr<Port>& opened) {
    opened.reset();
    const auto parsed = ParseUrl(url);
    if (!parsed) return {PortError::Other, NetworkPortRefusal(url)};
    if (!Os()) return {PortError::Other, "the network library did not start"};
    const auto deadline = Clock::now() + std::chrono::milliseconds(NetOpenBoundMs);
    auto port = std::make_unique<NetPort>(parsed->telnet, baud);
    OpenFailure failure = OpenFailure::None;
    std::string detail;
    if (!port->Connect(*parsed, deadline, failure, detail) ||
        !(parsed->telnet ? port->SetLine(deadline, failure, detail) : port->Settle(failure, detail))) {
        port->Reset();
        return {PortErrorOf(failure == OpenFailure::None ? OpenFailure::Other : failure), detail};
    }
    port->StopOverhearing();
    opened = std::move(port);
    return {};
}

}  // namespace vantrel
