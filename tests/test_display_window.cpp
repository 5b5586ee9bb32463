// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual display's window and its monitor, as a person sees them.
#include "virtual-display/DisplayWindow.h"
#include "virtual-display/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

using namespace vantrel::display;
using namespace std::chrono_literals;

namespace {

void Feed(DisplayModel& m, const std::string& bytes) {
    m.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), PowerOnBaud);
}

// The first and last pixel rows where the ink of the upper screen row is lit,
// in the left or the right half of the screen.
std::pair<int, int> InkRows(const QImage& screen, bool right) {
    int first = -1, last = -1;
    for (int y = 0; y < screen.height() / 2; ++y)
        for (int x = right ? screen.width() / 2 : 0; x < (right ? screen.width() : screen.width() / 2); ++x)
            if (qGreen(screen.pixel(x, y)) > 0x80) {
                if (first < 0) first = y;
                last = y;
                break;
            }
    return {first, last};
}

}  // namespace

TEST(DisplayWindow, TheTitleNamesThePathTheUserGave) {
    VirtualDisplay display;
    EXPECT_TRUE(DisplayWindow(display).windowTitle().endsWith(QString::fromStdString(display.SlavePath())));
    const std::string link = testing::TempDir() + "vantrel-window-title";
    display.Publish(link);
    EXPECT_TRUE(DisplayWindow(display).windowTitle().endsWith(QString::fromStdString(link)));
    VirtualDisplay port{VirtualDisplay::ExternalLine{}};
    EXPECT_EQ(DisplayWindow(port, "COM1 (/dev/ttyS0)").windowTitle(), "Vantrel virtual display - COM1 (/dev/ttyS0)");
}

// A user-defined character with every dot lit stands as tall as a capital: from
// its top to its baseline.
TEST(DisplayWindow, AUserDefinedCharacterIsAsTallAsTheOthers) {
    DisplayModel model;
    ASSERT_TRUE(model.SetEmulation("ESCPOS"));
    Feed(model, "\x1B&\x01" "AA\x05\x7F\x7F\x7F\x7F\x7F\x1B%\x01" "H         A");
    ASSERT_NE(model.UserPattern(0, 10), nullptr);
    ScreenView view(model);
    view.resize(view.sizeHint());
    const QImage screen = view.grab().toImage();
    const auto capital = InkRows(screen, false), user = InkRows(screen, true);
    ASSERT_GE(capital.first, 0);
    EXPECT_NEAR(user.first, capital.first, 1);
    EXPECT_NEAR(user.second, capital.second, 1);
}

TEST(DisplayWindow, TheMonitorWritesLongGapsInSeconds) {
    const struct {
        std::chrono::microseconds gap;
        const char* head;
    } cases[] = {{500us, "    +0.500 ms 41  A"}, {999'999us, "  +999.999 ms 41  A"}, {1s, "      +1.0 s  41  A"},
                 {50'277'288us, "     +50.3 s  41  A"}, {3h, "  +10800.0 s  41  A"}};
    for (const auto& c : cases) {
        const VirtualDisplay::Chunk chunk{{'A'}, PowerOnBaud, c.gap, {}, 0};
        EXPECT_EQ(MonitorLine(chunk), c.head);
    }
}

// Bytes the display takes at the wrong speed are garbage: a reading says so,
// from the start of a chunk, or after a frame that changed the display's own
// speed in the same chunk.
TEST(DisplayWindow, TheMonitorSaysWhyBytesAreGarbage) {
    const struct {
        speed_t line;
        std::string sent;
        std::string readings;
    } cases[] = {
        {B19200, "WRONG", "\"WRONG\"  shown as garbage: the line runs at 19200 bit/s, the display expects 9600\n"},
        {B9600, "OK\x02\x05" "B7\x03" "AB",
         "\"OK\"  text\nSTX ENQ \"B7\" ETX  set-up: own speed 19200\n"
         "\"AB\"  shown as garbage: the line runs at 9600 bit/s, the display expects 19200\n"},
    };
    for (const auto& c : cases) {
        VirtualDisplay display;
        const int fd = open(display.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        tcgetattr(fd, &t);
        cfsetospeed(&t, c.line);
        tcsetattr(fd, TCSANOW, &t);
        display.Pump(10ms);
        ASSERT_EQ(write(fd, c.sent.data(), c.sent.size()), static_cast<ssize_t>(c.sent.size()));
        std::string readings;
        for (const auto& chunk : display.Pump(50ms))
            for (const Reading& r : chunk.readings) readings += DescribeReading(r) + "\n";
        EXPECT_EQ(readings, c.readings) << c.sent;
        close(fd);
    }
}

// The monitor lines its columns up in the system's fixed-width font, or a
// monospace face of its size where a platform theme gives a proportional one
// as that, also when the theme sets another font for the whole application;
// the rest of the window keeps the platform's interface font.
TEST(DisplayWindow, TheMonitorKeepsAFixedWidthFont) {
    for (const char* system : {"DejaVu Sans Mono", "DejaVu Serif"}) {
        const QFont fixed = FixedWidthFont(QFont(QString::fromLatin1(system), 11));
        EXPECT_TRUE(QFontInfo(fixed).fixedPitch()) << system;
        EXPECT_EQ(fixed.pointSize(), 11) << system;
    }
    EXPECT_EQ(FixedWidthFont(QFont(QStringLiteral("DejaVu Sans Mono"))).family(), QStringLiteral("DejaVu Sans Mono"));

    VirtualDisplay display;
    DisplayWindow window(display);
    const QFont before = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Serif"), 13));
    EXPECT_EQ(window.findChild<QPlainTextEdit*>()->font(), FixedWidthFont());
    // No font of its own but the monitor's: the platform's, as the toolkit gives it.
    EXPECT_FALSE(window.testAttribute(Qt::WA_SetFont));
    EXPECT_FALSE(window.findChild<QLabel*>()->testAttribute(Qt::WA_SetFont));
    QApplication::setFont(before);
}

// As a screen reader finds it through the accessibility tree: an element of
// the window, named, whose text is the two rows, a cell's place for each
// character.
TEST(DisplayWindow, TheScreenReadsAsItsTwoRows) {
    VirtualDisplay display;
    DisplayWindow window(display);
    window.show();
    Feed(display.Model(), "\x0C" "TOTAL 12.34\r\nTHANK YOU");
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
    ASSERT_NE(root, nullptr);
    QAccessibleInterface* screen = nullptr;
    for (int i = 0; i < root->childCount() && !screen; ++i)
        if (root->child(i)->role() == QAccessible::StaticText && root->child(i)->textInterface()) screen = root->child(i);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->text(QAccessible::Name), QStringLiteral("Customer display"));
    EXPECT_EQ(screen->parent(), root);
    QAccessibleTextInterface* text = screen->textInterface();
    const QString rows = QStringLiteral("TOTAL 12.34         \nTHANK YOU           ");
    EXPECT_EQ(text->text(0, text->characterCount()), rows);
    const int second = static_cast<int>(rows.indexOf(QLatin1Char('T'), 1 + rows.indexOf(QLatin1Char('\n'))));
    const QRect cell = text->characterRect(second);
    EXPECT_TRUE(screen->rect().contains(cell));
    EXPECT_EQ(text->offsetAtPoint(cell.center()), second);
    EXPECT_GT(cell.top(), text->characterRect(0).bottom());
}

// On a line other than its own, the window shows the best three command sets,
// a tie marked; a status that grows is cut short, and the window keeps its width.
TEST(DisplayWindow, TheRankingShowsAndALongStatusDoesNotWidenTheWindow) {
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    display.KeepRanking();
    DisplayWindow window(display, "COM1 (/dev/ttyS0)");
    // Laid out, not painted: what the window would ask of its screen.
    window.adjustSize();
    const int width = window.width();
    QLabel* ranking = nullptr;
    for (QLabel* label : window.findChildren<QLabel*>())
        if (label->accessibleName() == "Likely command sets") ranking = label;
    ASSERT_NE(ranking, nullptr);
    const struct {
        std::string bytes;
        QString ranks;
    } cases[] = {
        {"\x0CHELLO", "= DSP800 100%   = ESCPOS 100%   = ADM787 100%   (5 alike)"},
        {"\x1BQA" "COFFEE 3.50\r\x1BQB" "TOTAL 3.50\r", "1 CD5220 "},
    };
    for (const auto& c : cases) {
        display.Deliver({reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()}, PowerOnBaud);
        display.SetSideNote(std::string(400, 'x'));
        for (int i = 0; i < 5; ++i) {
            QTest::qWait(60);
            QApplication::processEvents();
        }
        EXPECT_TRUE(ranking->text().startsWith(c.ranks)) << ranking->text().toStdString();
        EXPECT_LE(window.sizeHint().width(), width);
        EXPECT_LE(window.minimumSizeHint().width(), width);
    }
}
