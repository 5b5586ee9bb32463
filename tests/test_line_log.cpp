// SPDX-License-Identifier: GPL-3.0-or-later
// The line log: a row for every write of every path, why a write failed, the
// expected screen, the ring's limit, and a network write that is abandoned.
#include "PanelFixture.h"
#include "Peers.h"
#include "app/LineLogDlg.h"
#include "content/AutoSend.h"
#include "display/Commands.h"

#include <QFile>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <fcntl.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vantrel;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

enum { Time = 0, Control = 1, BytesColumn = 2, TextColumn = 3, Reading = 4, Result = 5 };

// Every line the log's labels show.
QString Labels(const CLineLogDlg* log) {
    QStringList all;
    for (const QLabel* label : log->findChildren<QLabel*>()) all << label->text();
    return all.join('\n');
}

class LineLog : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ClearLineLog();  // the link's ring lives as long as the program: earlier tests' rows go
        Open();
        panel->ShowLineLog();
        log = panel->LineLogForTest();
        ASSERT_NE(log, nullptr);
        log->Refresh();
    }
    // The rows after `from`: column `column` of each.
    QStringList Column(int from, int column) {
        log->Refresh();
        QStringList cells;
        for (int r = from; r < log->RowCount(); ++r) cells << log->Cell(r, column);
        return cells;
    }
    CLineLogDlg* log = nullptr;
};

}  // namespace

// Every path: its rows name the control, and their bytes, in order, are what
// the line received.
TEST_F(LineLog, EveryPathWritesOneRowPerWriteInOrder) {
    int from = 0;
    // Waits until the cycle's first three writes are in the log.
    const auto threeRows = [&] {
        for (int i = 0; i < 500 && (log->Refresh(), log->RowCount()) < from + 3; ++i) std::this_thread::sleep_for(10ms);
    };
    const struct {
        const char* name;
        std::function<void()> act;
        QStringList controls;
    } cases[] = {
        {"Send", [&] { Click(1006); }, {"Send", "Send", "Send"}},
        {"Clean", [&] { Click(1005); }, {"Clean"}},
        {"Reset", [&] { Click(1060); }, {"Reset"}},
        {"Demo", [&] { Click(1061); }, {"Demo"}},
        {"ClearDemo", [&] { Click(1062); }, {"ClearDemo"}},
        {"Full Light", [&] { Click(1087); }, {"Full Light"}},
        {"test page", [&] { Click(1095); }, {"LanguageTest80H"}},
        {"Send Command",
         [&] {
             Click(1025);  // CD5220
             Click(1076);  // 19200
             Click(1067);
         },
         {"Send Command: CD5220", "Send Command: 19200"}},
        {"Auto Send",
         [&] {
             Click(1007);
             threeRows();
             Click(1007);
         },
         {"Auto Send", "Auto Send pattern 1", "Auto Send pattern 2"}},
    };
    for (const auto& c : cases) {
        pty.ReadUntilQuiet(50ms);
        from = (log->Refresh(), log->RowCount());
        c.act();
        const Bytes line = pty.ReadUntilQuiet(100ms);
        EXPECT_EQ(Column(from, Control), c.controls) << c.name;
        EXPECT_EQ(Column(from, BytesColumn).join(' ').toStdString(), ToHex(line)) << c.name;
        for (const QString& result : Column(from, Result)) EXPECT_TRUE(result.startsWith("ok (")) << qPrintable(result);
    }
}

// Why a write failed: under the message, in the panel's language, on standard
// error, and in the log.
TEST_F(LineLog, AFailedWriteSaysWhy) {
    const struct {
        const char* name;
        std::function<void(Pty&)> fault;
        Text reason;
        const char* stderrWords;
    } cases[] = {
        {"unplugged", [](Pty& p) { p.CloseMaster(); }, Text::WriteGoneReason, "the device is gone"},
        {"stalled", [](Pty& p) { p.FillLine(); }, Text::WriteStalledReason, "the line took nothing"},
    };
    for (const auto& c : cases) {
        Pty line;
        PortMapping com3(3, line.Path());
        Choose(1001, 2);
        Open();
        c.fault(line);
        messages.clear();
        informatives.clear();
        testing::internal::CaptureStderr();
        Click(1005);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(messages, QStringList{"Operation valid only when the port is open!"}) << c.name;
        EXPECT_EQ(informatives, QStringList{Tr(c.reason)}) << c.name;
        EXPECT_NE(err.find(c.stderrWords), std::string::npos) << err;
        log->Refresh();
        EXPECT_EQ(log->Cell(log->RowCount() - 1, Result), Tr(Text::LogFailed).arg(Tr(c.reason))) << c.name;
        Click(1003);  // close
    }
    Click(1115);  // the same reason in Chinese
    Pty line;
    PortMapping com3(3, line.Path());
    Open();
    line.CloseMaster();
    Click(1005);
    EXPECT_EQ(informatives.last(), QString::fromUtf8("设备已断开（被拔出？）。请重新连接，然后关闭并重新打开串口。"));
}

// A port's end has a row that names what closed it, in the panel's language.
TEST_F(LineLog, ThePortsEndNamesWhatClosedIt) {
    const struct {
        std::function<void()> close;
        const char* english;
        const char* chinese;
    } cases[] = {
        {[this] { Click(1003); }, "Close COM", "关闭串口"},
        {[this] { Choose(1002, 1); }, "Baudrate", "波特率"},
        {[this] { Choose(1001, 0); }, "Port", "串口"},
    };
    for (const char* language : {"english", "chinese"}) {
        for (const auto& c : cases) {
            if (panel->PortOpen == 0) Open();
            c.close();
            ASSERT_EQ(panel->PortOpen, 0);
            log->Refresh();
            const int last = log->RowCount() - 1;
            EXPECT_EQ(log->Cell(last, Result), Tr(Text::LogClosed));
            EXPECT_EQ(log->Cell(last, Control), QString::fromUtf8(language[0] == 'e' ? c.english : c.chinese));
        }
        Click(1115);
    }
}

TEST_F(LineLog, ExpectedScreenFollowsWhatThePanelSentAndTheChosenSetUp) {
    EXPECT_FALSE(log->ScreenKnown()) << "nothing cleared since the open";
    Click(1006);
    log->Refresh();
    EXPECT_TRUE(log->ScreenKnown());
    EXPECT_EQ(log->ExpectedLine(0), "     THANK YOU      ");
    EXPECT_EQ(log->ExpectedLine(1), "  HAVE A NICE DAY   ");
    // The panel sets the display to AEDEX: what follows is read as AEDEX.
    Click(1071);
    Click(1067);
    Click(1005);
    const int clean = (log->Refresh(), log->RowCount() - 1);
    EXPECT_EQ(log->Cell(clean, Reading), "[unread FF]") << "AEDEX shows nothing outside its commands";
    // The display was set up as AEDEX elsewhere (its switches): the rows are
    // read again from there, and Send's text is then no text to it.
    EXPECT_EQ(log->Cell(clean - 2, Reading), "\"  HAVE A NICE DAY   \"  text");
    log->SetStartEmulation("AEDEX");
    EXPECT_TRUE(log->Cell(clean - 2, Reading).startsWith("[unread")) << qPrintable(log->Cell(clean - 2, Reading));
    EXPECT_EQ(log->Cell(clean, Reading), "[unread FF]") << "the frame still switches to AEDEX";
}

// A till's receipt through the display (ESC = 1 ... ESC = 2): its bytes are
// read as the printer's, NUL and all, and never drawn.
TEST_F(LineLog, BytesForThePrinterAreShownAsSuchAndNotDrawn) {
    log->SetStartEmulation("ESCPOS");
    const std::string till = "\x0C" "PRICE\x1B=\x01\x1B@\x1B" "E\x01" "TOTAL\x1DV\x00\x1B=\x02 TOTAL"s;
    std::copy(till.begin(), till.end(), TxBuffer.begin());
    ASSERT_TRUE(WriteFrame(till.size()));
    const QString reading = Column(0, Reading).last();
    EXPECT_TRUE(reading.contains("ESC \"@\" ESC \"E\" SOH \"TOTAL\" GS \"V\" NUL  to printer")) << qPrintable(reading);
    EXPECT_EQ(log->ExpectedLine(0), "PRICE TOTAL         ");
    bool counted = false;
    for (const QLabel* label : log->findChildren<QLabel*>()) counted = counted || label->text().contains("13 bytes passed the display");
    EXPECT_TRUE(counted);
}

TEST_F(LineLog, KeepsTheLastRowsCountsTheDroppedAndSavesWhatItShows) {
    const int extra = 30;
    for (std::size_t i = 0; i < CLineLogDlg::RowLimit + extra; ++i) {
        TxBuffer[0] = 0x0B;
        ASSERT_TRUE(WriteFrame(1));
        if (i % 4096 == 0) {
            pty.ReadUntilQuiet(0ms);
            log->Refresh();  // some rows now, the rest later, as the window's timer takes them
        }
    }
    log->Refresh();
    EXPECT_EQ(log->RowCount(), static_cast<int>(CLineLogDlg::RowLimit));
    EXPECT_EQ(log->Dropped(), static_cast<std::uint64_t>(extra + 1)) << "the open's row went too";
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    ASSERT_TRUE(log->SaveTo(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), static_cast<int>(CLineLogDlg::RowLimit) + 2);  // the dropped count, the heading, the rows
    EXPECT_EQ(lines[0], "31 older rows dropped");
    EXPECT_EQ(lines[1], "Time\tControl\tBytes\tText\tThe display reads\tResult");
    EXPECT_EQ(lines.last() + '\n', log->RowsText({log->RowCount() - 1}));
}

// The worker records while the log reads its rows (a test for
// ThreadSanitizer above all).
TEST_F(LineLog, TheCycleRecordsWhileTheLogIsRead) {
    LineRecorder recorder(pty.Master());
    const int from = log->RowCount();
    Click(1007);
    // The event loop would paint the windows, and Qt paints on a thread pool
    // that ThreadSanitizer cannot see into: the windows are hidden and the
    // test takes the rows as the window's timer does, while the worker writes.
    HidePanelForModalLoop();
    log->hide();
    const auto until = std::chrono::steady_clock::now() + 1200ms;
    while (std::chrono::steady_clock::now() < until) {
        log->Refresh();
        std::this_thread::sleep_for(20ms);
    }
    Click(1007);
    QStringList controls = Column(from, Control);
    ASSERT_GE(controls.size(), 4);
    EXPECT_EQ(controls.mid(0, 4), QStringList({"Auto Send", "Auto Send pattern 1", "Auto Send pattern 2", "Auto Send pattern 3"}));
}

// A network write that misses its bound resets the connection: what the
// socket still held never reaches the server once it reads again.
TEST(LineLogNetwork, AnAbandonedWriteLeavesNothingBehind) {
    int port = 0;
    const int listener = LoopbackListener(port, 4096);  // a small receive buffer
    ASSERT_GE(listener, 0);
    PortMapping com4(4, "socket://127.0.0.1:" + std::to_string(port));
    std::strcpy(PortName, "COM4");
    OpenPort(38400);
    ASSERT_TRUE(PortHandleValid());
    const int server = accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
    // The server stops reading; the panel writes until a write misses its bound.
    std::fill_n(TxBuffer.begin(), 1024, 'x');
    bool failed = false;
    for (int i = 0; i < 100000 && !failed; ++i) failed = !WriteFrame(1024);
    ASSERT_TRUE(failed);
    EXPECT_EQ(LastWriteResult(), WriteResult::Stalled);
    int waiting = 0;
    ioctl(server, FIONREAD, &waiting);
    // Now it reads again: no more than it already held.
    std::size_t total = 0;
    char buffer[65536];
    pollfd p{server, POLLIN, 0};
    while (poll(&p, 1, 500) > 0) {
        const ssize_t n = read(server, buffer, sizeof buffer);
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
    }
    EXPECT_GT(waiting, 0);
    EXPECT_LE(total, static_cast<std::size_t>(waiting)) << "bytes the socket held after the failure arrived";
    ClosePort();
    close(server);
    close(listener);
    std::strcpy(PortName, "COM1");
}

// Clear forgets the rows shown, never writes the window had not read yet:
// the expected screen keeps them.
TEST_F(LineLog, ClearKeepsWritesNotYetReadOnTheExpectedScreen) {
    const char* frames[] = {"\x0C" "AAA", "BBB"};
    for (const char* f : frames) {
        std::copy(f, f + std::strlen(f), TxBuffer.begin());
        ASSERT_TRUE(WriteFrame(std::strlen(f)));
        if (f == frames[0]) log->Refresh();
    }
    for (QPushButton* b : log->findChildren<QPushButton*>())
        if (b->text() == Tr(Text::LogClear)) b->click();
    EXPECT_EQ(log->RowCount(), 0);
    std::copy_n("CCC", 3, TxBuffer.begin());
    ASSERT_TRUE(WriteFrame(3));
    log->Refresh();
    EXPECT_EQ(log->ExpectedLine(0).substr(0, 9), "AAABBBCCC");
}

// A failed save says so in the window, with the reason.
TEST_F(LineLog, AFailedSaveSaysWhyInTheWindow) {
    const struct {
        QString path;
        QString reason;
    } cases[] = {{"/dev/full", "No space left on device"}, {"/nonexistent/dir/log.txt", "No such file or directory"}};
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(log->SaveAs(c.path));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(log->Notice(), Tr(Text::LogSaveFailed).arg(c.path, c.reason));
    }
    QTemporaryDir dir;
    EXPECT_TRUE(log->SaveAs(dir.filePath("log.txt")));
    EXPECT_TRUE(log->Notice().isEmpty());
}

// Reading the log never waits for the link's write lock: a write held by
// flow control for 100 s does not hold up the window's refresh.
TEST_F(LineLog, RefreshNeverWaitsForAWriteInProgress) {
    Choose(1002, 0);  // 300 bit/s: a write of 1024 bytes may take 102 s
    Open();
    pty.FillLine();
    std::atomic<bool> written{false};
    std::thread writer([&] {
        const std::array<std::uint8_t, 1024> frame{};
        WriteBytes(frame.data(), frame.size());
        written = true;
    });
    std::this_thread::sleep_for(200ms);  // into its write (had it not got there, nothing below could fail)
    log->Refresh();
    EXPECT_FALSE(written) << "the refresh waited for the write";
    while (!written) pty.ReadUntilQuiet(10ms);  // the line takes bytes again
    writer.join();
}

// Before any open the log says that nothing was opened; a failed open is a
// row that says why, and leaves that so.
TEST_F(PanelTest, TheLogSaysWhatItKnowsBeforeTheFirstOpen) {
    ClearLineLog();
    EXPECT_EQ(Button(1121)->toolTip(), "Ctrl+L");
    Click(1121);  // the panel's button opens it
    CLineLogDlg* log = panel->LineLogForTest();
    ASSERT_TRUE(log && log->isVisible());
    EXPECT_TRUE(Labels(log).contains(Tr(Text::LogNotOpened)));
    {
        PortMapping missing(1, "/nonexistent/ttyVANTREL");
        testing::internal::CaptureStderr();
        Click(1003);
        testing::internal::GetCapturedStderr();
    }
    log->Refresh();
    ASSERT_EQ(log->RowCount(), 1);
    EXPECT_EQ(log->RowsText({0}).section('\t', 1), "Open COM\t\t\t\tport not opened at 9600 bit/s: No such device: /nonexistent/ttyVANTREL.\n");
    EXPECT_TRUE(Labels(log).contains(Tr(Text::LogNotOpened)));
    Open();
    log->Refresh();
    EXPECT_FALSE(Labels(log).contains(Tr(Text::LogNotOpened)));
    EXPECT_TRUE(Labels(log).contains(Tr(Text::LogScreenUnknown)));
}

// In Chinese the display's own words are Chinese too, and Send's text shows
// as it was typed, in the code page it was sent in.
TEST_F(LineLog, ChineseWordsAndTypedTextAsTyped) {
    Click(1115);
    Click(1079);  // France
    Click(1067);
    EXPECT_EQ(Column(0, Reading).last(), QString::fromUtf8("STX ENQ \"S1\" ETX  设置：国际字符集 法国"));
    EXPECT_TRUE(Labels(log).contains(QString::fromUtf8("DSP800  9600 bit/s  法国  PC437  演示关"))) << qPrintable(Labels(log));
    const struct {
        const char* locale;
        const char* typed;
        const char* shown;
    } cases[] = {{"zh_CN.UTF-8", "价格 12元", "价格 12元"}, {"de_DE.UTF-8", "Preis 12€ ß", "Preis 12€ ß"}};
    for (const auto& c : cases) {
        setenv("LC_ALL", c.locale, 1);
        Edit(1000)->setText(QString::fromUtf8(c.typed));
        const int from = (log->Refresh(), log->RowCount());
        Click(1006);
        const QStringList text = Column(from, TextColumn);
        unsetenv("LC_ALL");
        ASSERT_EQ(text.size(), 3);
        EXPECT_EQ(text[1].trimmed(), QString::fromUtf8(c.shown)) << c.locale;
    }
    Click(1087);  // Full Light's bytes are no text, whatever the code page
    EXPECT_EQ(Column(0, TextColumn).last(), QString(40, '.'));
    Click(1115);
    EXPECT_EQ(Column(0, Reading).first(), "");  // the open
    EXPECT_TRUE(Labels(log).contains("DSP800  9600 bit/s  France  PC437  demo off"));
}

// Every phrase of the display's command tables has its Chinese.
TEST(LineLogWords, EveryCommandOfEveryEmulationIsTranslated) {
    for (const display::CommandSet* set : display::AllCommandSets())
        for (const display::Command& c : set->commands)
            EXPECT_TRUE(std::any_of(std::begin(DisplayPhrases), std::end(DisplayPhrases),
                                    [&](const Phrase& p) { return std::strcmp(p.english, c.words) == 0; }))
                << set->name << ": " << c.words;
}

// The columns fit the fonts in use, bytes and the expected screen are in the
// fixed-width font, and a cell cut short shows whole in its tooltip.
TEST_F(LineLog, ColumnsFitTheirFontAndCutCellsShowWhole) {
    Click(1006);
    log->Refresh();
    auto* view = log->findChild<QTableView*>();
    EXPECT_TRUE(QFontInfo(view->font()).fixedPitch());
    int screens = 0;
    for (const QLabel* label : log->findChildren<QLabel*>())
        screens += label->text().startsWith("     THANK YOU") && QFontInfo(label->font()).fixedPitch();
    EXPECT_EQ(screens, 1) << "the expected screen in the fixed-width font";
    EXPECT_EQ(view->horizontalHeader()->sectionResizeMode(Reading), QHeaderView::Stretch);
    const int row = log->RowCount() - 1;
    for (int column : {Time, Control, TextColumn, Result})
        EXPECT_LE(view->fontMetrics().horizontalAdvance(log->Cell(row, column)), view->columnWidth(column)) << column;
    const QModelIndex bytes = view->model()->index(row, BytesColumn), time = view->model()->index(row, Time);
    EXPECT_EQ(view->model()->data(bytes, Qt::ToolTipRole).toString(), log->Cell(row, BytesColumn)) << "a line frame's 20 bytes in hex are cut";
    EXPECT_FALSE(view->model()->data(time, Qt::ToolTipRole).isValid());
}
