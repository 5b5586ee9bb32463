// SPDX-License-Identifier: GPL-3.0-or-later
// A printer behind the virtual display: what the host sends for it comes out
// on the printer's pseudo-terminal, what the printer answers reaches the host.
#include "Pty.h"
#include "serial/PseudoTerminal.h"
#include "virtual-display/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace vantrel::display;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

// A side of a pseudo-terminal as its user opens it, by its slave's path.
class Side {
public:
    explicit Side(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Side() {
        if (fd_ >= 0) close(fd_);
    }
    void Write(const std::string& bytes) const {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    // Everything that arrives until the side has been quiet for `quiet`.
    std::string Read(std::chrono::milliseconds quiet = 200ms) const {
        std::string out;
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
            char buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    int fd_;
};

struct PassCase {
    const char* emulation;
    const char* what;
    std::string sent;
    std::string printer;  // what the printer side receives
    std::string screen;   // the upper row, trailing blanks left out
    const char* reading = nullptr;  // one of the readings, when given
};

// A till's receipt: initialise, emphasised, text, cut (GS V 0, with its NUL).
const std::string Receipt = "\x1B@\x1B" "E\x01" "TOTAL 12.34\n\x1DV\x00"s;

const PassCase PassCases[] = {
    {"ESCPOS", "a till's sequence", "PRICE\x1B=\x01" + Receipt + "\x1B=\x02 TOTAL", Receipt, "PRICE TOTAL"},
    {"CD5220", "selected by the digits", "PRICE\x1B=1" + Receipt + "\x1B=2 TOTAL", Receipt, "PRICE TOTAL"},
    {"ESCPOS", "both: the display reads them too", "\x1B=\x03" "AB\x1B=\x02" "C", "AB", "ABC"},
    {"ESCPOS", "ESC = out of range passes whole", "\x1B=\x01" "A\x1B=\x07" "B\x1B=\x02", "A\x1B=\x07" "B", ""},
    {"ESCPOS", "ESC not followed by = passes", "\x1B=\x01\x1B\x1B=\x02" "C", "\x1B", "C"},
    {"DSP800", "no selection command: nothing passes", "\x1B=\x01" "A", "", "A"},
    {"ESCPOS", "the digit 1 selects nothing: passed whole", "\x1B=\x01" "A\x1B=1B\x1B=\x02", "A\x1B=1B", ""},
    {"ESCPOS", "the digit 1 selects nothing: the display reads on", "\x1B=1AB", "", "AB"},
    {"ESCPOS", "ESC = 0 while the printer is selected", "\x1B=\x01\x1B=\x00" "B\x1B=\x02"s, "\x1B=\x00" "B"s, "",
     "ESC \"=\" NUL  select peripheral: to printer"},
    {"ESCPOS", "both survive a set-up change to CD5220", "\x1B=\x03\x02\x05" "C7\x03" "A\x1B=2B", "\x02\x05" "C7\x03" "A", "AB"},
    {"ESCPOS", "a set-up change to DSP800: the display alone", "\x1B=\x03\x02\x05" "C0\x03" "A", "\x02\x05" "C0\x03", "A"},
    // Deselected, then a command of the display's own left unfinished: the
    // printer's bytes before it are decided and go at once.
    {"ESCPOS", "ESC = 2, then US $ unfinished", "\x1B=\x01" + Receipt + "\x1B=\x02\x1F$", Receipt, ""},
    {"CD5220", "ESC = 2, then ESC l unfinished", "\x1B=1RECEIPT\n\x1B=2\x1Bl", "RECEIPT\n", ""},
    {"ESCPOS", "ESC @ deselects, then US $ unfinished", "\x1B=\x03" "AB\x1B@\x1F$", "AB\x1B@", ""},
    {"CD5220", "a set-up change deselects, then EOT SOH unfinished", "\x1B=3AB\x02\x05" "C0\x03\x04\x01",
     "AB\x02\x05" "C0\x03", "AB"},
    {"ESCPOS", "an ESC = at the end waits for its n", "\x1B=\x01" "A\x1B=", "A", ""},
};

std::string Upper(const DisplayModel& model) {
    std::string row = model.Line(0);
    return row.erase(row.find_last_not_of(' ') + 1);
}

}  // namespace

// Through the model one byte a Feed (a selection split across reads) and all
// in one Feed, and through both pseudo-terminals in one write.
TEST(PrinterBehindTheDisplay, PassesExactlyTheBytesForThePrinter) {
    for (const PassCase& c : PassCases) {
        SCOPED_TRACE(std::string(c.emulation) + ": " + c.what);
        for (const std::size_t feed : {std::size_t{1}, c.sent.size()}) {
            SCOPED_TRACE(feed == 1 ? "a byte a Feed" : "one Feed");
            DisplayModel model;
            ASSERT_TRUE(model.SetEmulation(c.emulation));
            std::string passed;
            model.OnPrinterBytes([&passed](std::span<const std::uint8_t> b) { passed.append(b.begin(), b.end()); });
            std::string readings;
            for (std::size_t at = 0; at < c.sent.size(); at += feed) {
                model.Feed(reinterpret_cast<const std::uint8_t*>(c.sent.data() + at), std::min(feed, c.sent.size() - at),
                           PowerOnBaud);
                for (const Reading& r : model.TakeReadings()) readings += DescribeReading(r) + "\n";
            }
            if (c.reading) {
                EXPECT_NE(readings.find(std::string(c.reading) + "\n"), std::string::npos) << readings;
            }
            EXPECT_EQ(ToHex({passed.begin(), passed.end()}), ToHex({c.printer.begin(), c.printer.end()}));
            EXPECT_EQ(model.PrinterBytes(), c.printer.size());
            EXPECT_EQ(Upper(model), c.screen);
        }

        VirtualDisplay display;
        ASSERT_TRUE(display.Model().SetEmulation(c.emulation));
        display.AttachPrinter("");
        const Side host(display.SlavePath()), printer(display.Printer()->SlavePath());
        host.Write(c.sent);
        display.Pump(50ms);
        const std::string received = printer.Read();
        EXPECT_EQ(ToHex({received.begin(), received.end()}), ToHex({c.printer.begin(), c.printer.end()}));
        EXPECT_EQ(Upper(display.Model()), c.screen);
        EXPECT_EQ(display.Printer()->Passed(), c.printer.size());
    }
}

// The display writes to its line only what the printer answers, and only with
// a printer behind it; the answer is a chunk the other way, for the monitor
// and a recording.
TEST(PrinterBehindTheDisplay, TheAnswerReachesTheHost) {
    const std::string request = "\x1B=\x01\x10\x04\x01", status = "\x16";  // DLE EOT 1: the printer's status
    {
        VirtualDisplay alone;
        const Side host(alone.SlavePath());
        host.Write(request);
        alone.Pump(50ms);
        EXPECT_EQ(host.Read(100ms), "");
    }
    VirtualDisplay display;
    display.Model().SetEmulation("ESCPOS");
    display.AttachPrinter("");
    const Side host(display.SlavePath()), printer(display.Printer()->SlavePath());
    host.Write(request);
    display.Pump(50ms);
    EXPECT_EQ(printer.Read(), "\x10\x04\x01");
    EXPECT_EQ(host.Read(100ms), "");  // nothing echoed
    printer.Write(status);
    EXPECT_EQ(host.Read(), status);
    std::string monitor;
    for (const auto& chunk : display.Pump(50ms))
        if (chunk.direction == Direction::DisplayToTill) monitor += MonitorLine(chunk) + "\n";
    EXPECT_NE(monitor.find("ms <- 16  .\n"), std::string::npos) << monitor;
    EXPECT_EQ(std::count(monitor.begin(), monitor.end(), '\n'), 1) << monitor;
}

// The host does not read: the oldest answers give way, counted in the status
// line and the monitor; the host finds the rest.
TEST(PrinterBehindTheDisplay, AnswersTheHostDoesNotReadAreDroppedAndCounted) {
    VirtualDisplay display;
    display.Model().SetEmulation("ESCPOS");
    display.AttachPrinter("");
    vantrel::PrinterPort& port = *display.Printer();
    const Side host(display.SlavePath()), printer(port.SlavePath());
    const std::string answers(512 * 1024, 'S');
    printer.Write(answers);
    host.Write("X");
    std::uint64_t said = 0;
    for (const auto& chunk : display.Pump(50ms)) {
        said += chunk.answersDropped;
        if (chunk.answersDropped) {
            EXPECT_NE(MonitorLine(chunk).find(std::to_string(chunk.answersDropped) + " older answer bytes dropped"), std::string::npos);
        }
    }
    EXPECT_GT(said, 0u);
    const std::string received = host.Read();
    EXPECT_EQ(port.Answered(), answers.size());
    EXPECT_EQ(received.size() + port.AnswersDropped(), answers.size());
    EXPECT_NE(StatusLine(display).find(std::to_string(answers.size()) + " answer bytes, " +
                                       std::to_string(port.AnswersDropped()) + " dropped"),
              std::string::npos);
}

// Nobody reads the printer side: the display reads on, the oldest bytes give
// way, and a reader that comes later finds pieces of the stream in order,
// unchanged, ending with its newest bytes. (The pseudo-terminal holds the
// stream's start, and may take more later as its line discipline moves bytes
// on, so there may be more than one gap.)
TEST(PrinterBehindTheDisplay, NoReaderDropsTheOldestAndCountsThem) {
    VirtualDisplay display;
    display.Model().SetEmulation("ESCPOS");
    display.AttachPrinter("");
    std::string stream;
    for (int line = 0; stream.size() < 1'000'000; ++line) stream += "RECEIPT LINE " + std::to_string(line) + "\n";
    const Side host(display.SlavePath());
    std::thread till([&] { host.Write("\x1B=\x01" + stream + "\x1B=\x02" "AFTER"); });
    for (auto until = std::chrono::steady_clock::now() + 20s; Upper(display.Model()) != "AFTER";) {
        ASSERT_LT(std::chrono::steady_clock::now(), until);
        display.Pump(20ms);
    }
    till.join();
    const vantrel::PrinterPort& port = *display.Printer();
    EXPECT_EQ(port.Passed(), stream.size());
    EXPECT_GT(port.Dropped(), stream.size() / 2);
    EXPECT_NE(StatusLine(display).find(std::to_string(stream.size()) + " bytes for the printer, " +
                                       std::to_string(port.Dropped()) + " dropped"),
              std::string::npos)
        << StatusLine(display);

    const std::string received = Side(port.SlavePath()).Read();
    ASSERT_EQ(received.size() + port.Dropped(), stream.size());
    // Each piece is found by a probe long enough to hold a whole numbered
    // line, or shorter where a piece is short.
    std::size_t at = 0;
    for (std::size_t i = 0; i < received.size();) {
        std::size_t found = std::string::npos;
        for (std::size_t probe = 48; probe >= 6 && found == std::string::npos; probe /= 2)
            found = stream.find(received.substr(i, probe), at);
        ASSERT_NE(found, std::string::npos) << "bytes the till never sent, at " << i;
        std::size_t n = 0;
        while (i + n < received.size() && found + n < stream.size() && received[i + n] == stream[found + n]) ++n;
        i += n;
        at = found + n;
    }
    EXPECT_EQ(at, stream.size());  // the newest bytes are the last
}
