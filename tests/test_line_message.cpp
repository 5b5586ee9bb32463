// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFixture.h"
#include "content/LineMessage.h"
#include "content/TextEncoding.h"

#include <cstdlib>
#include <optional>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

class Send : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Open();
    }
    Bytes SendLines(const QString& line1, const QString& line2) {
        Edit(1000)->setText(line1);
        Edit(1004)->setText(line2);
        Click(1006);
        return pty.ReadUntilQuiet(50ms);
    }
};

Bytes Message(const std::string& line1, const std::string& line2) {
    Bytes out{0x0C};
    for (const std::string& l : {line1, line2}) {
        std::string padded = l.substr(0, 20);
        padded.resize(20, ' ');
        out.insert(out.end(), padded.begin(), padded.end());
    }
    return out;
}

// Sets LANG for one test; LC_ALL and LC_CTYPE are cleared so LANG decides.
class Locale {
public:
    explicit Locale(const char* lang) {
        for (const char* n : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const char* v = std::getenv(n);
            saved_.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
            unsetenv(n);
        }
        setenv("LANG", lang, 1);
    }
    ~Locale() {
        for (auto& [n, v] : saved_) v ? (void)setenv(n, v->c_str(), 1) : (void)unsetenv(n);
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

Bytes Encoded(const QString& text, PanelCodePage cp, std::size_t capacity = 64) {
    Bytes out(capacity);
    out.resize(EncodeText({reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())}, cp, out.data(),
                          capacity));
    return out;
}

}  // namespace

TEST_F(Send, LinesArePaddedOrCutToTwentyBytes) {
    EXPECT_EQ(SendLines("", ""), Message("", ""));
    EXPECT_EQ(SendLines("ABC", ""), Message("ABC", ""));
    EXPECT_EQ(SendLines("12345678901234567890", "ABCDEFGHIJKLMNOPQRST"),
              Message("12345678901234567890", "ABCDEFGHIJKLMNOPQRST"));
    EXPECT_EQ(SendLines("1234567890123456789012345", "x"), Message("12345678901234567890", "x"));
    EXPECT_EQ(SendLines("", "next"), Message("", "next")) << "the cut bytes never appear later";
    EXPECT_EQ(SendLines("     THANK YOU      ", "  HAVE A NICE DAY   "),
              Message("     THANK YOU      ", "  HAVE A NICE DAY   "));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(panel->Line1Text, "     THANK YOU      ");
}

TEST_F(Send, TypedTextIsWindows1252OutsideAChineseLocale) {
    Locale locale("en_US.UTF-8");
    const Bytes line = SendLines(QString::fromUtf8("Café €5 中"), "");
    EXPECT_EQ(ToHex(Bytes(line.begin() + 1, line.begin() + 10)), "43 61 66 E9 20 80 35 20 3F");
}

// A double-byte character with one byte left is left out, never cut: its lead
// byte would pair with the next frame's first byte on the display.
TEST_F(Send, ChineseCharacterThatDoesNotFitWholeIsLeftOut) {
    Locale locale("zh_CN.UTF-8");
    const Bytes line = SendLines(QString::fromUtf8("A中中中中中中中中中中"), QString::fromUtf8("价格"));
    Bytes expected{0x0C, 'A'};
    for (int i = 0; i < 9; ++i) expected.insert(expected.end(), {0xD6, 0xD0});
    expected.push_back(' ');  // in place of the tenth character
    expected.insert(expected.end(), {0xBC, 0xDB, 0xB8, 0xF1});
    expected.resize(41, ' ');
    EXPECT_EQ(ToHex(line), ToHex(expected));
}

// A line is text: a tab or an escape (which the panel's fields may hold,
// which a script may give), DEL and C1 go out as '?' in both code pages,
// never as commands to the display.
TEST(LineFrame, ControlCharactersAreQuestionMarks) {
    for (const PanelCodePage cp : {PanelCodePage::Windows1252, PanelCodePage::Gbk}) {
        std::uint8_t frame[LineFrameLength];
        BuildLineFrame(u"A\tB\x1B@C\r\n\x7F\u0085\u009B~", cp, frame);
        EXPECT_EQ(std::string(frame, frame + LineFrameLength), "A?B?@C?????~        ");
    }
}

TEST_F(Send, FailingPortShowsOneMessagePerPress) {
    pty.CloseMaster();
    Click(1006);
    EXPECT_EQ(messages, QStringList{"Operation valid only when the port is open!"});
    Click(1006);
    EXPECT_EQ(messages.size(), 2);
}

TEST(TextEncoding, UnencodableAndBrokenInputBecomesQuestionMarks) {
    EXPECT_EQ(Encoded(QString::fromUtf8("a😀b"), PanelCodePage::Windows1252), Bytes({'a', '?', 'b'}));
    EXPECT_EQ(Encoded(QString::fromUtf8("ü"), PanelCodePage::Gbk), Hex("A8 B9"));
    // Beyond the Basic Multilingual Plane, and a private character, in GBK too.
    EXPECT_EQ(Encoded(QString::fromUtf8("\U00020000\uE000a"), PanelCodePage::Gbk), Bytes({'?', '?', 'a'}));
    const QChar lone[] = {QChar('x'), QChar(char16_t(0xD800)), QChar('y')};
    EXPECT_EQ(Encoded(QString(lone, 3), PanelCodePage::Gbk), Bytes({'x', '?', 'y'}));
    EXPECT_EQ(Encoded(QString::fromUtf8("中文a"), PanelCodePage::Gbk, 3), Hex("D6 D0")) << "the text ends at 文";
    EXPECT_TRUE(Encoded(QString(), PanelCodePage::Gbk).empty());
    // Decomposed letters compose where a code page has the result (é; ǘ and が in GBK alone); ẽ in neither.
    EXPECT_EQ(Encoded(QString::fromUtf8("e\u0301u\u0308\u0301e\u0303"), PanelCodePage::Windows1252), Hex("E9 3F 65 3F"));
    EXPECT_EQ(Encoded(QString::fromUtf8("e\u0301u\u0308\u0301\u304B\u3099"), PanelCodePage::Gbk), Hex("A8 A6 A8 B6 A4 AC"));
}

TEST_F(PanelTest, SampleButtonCyclesTheThreeTextsAndSendsNothing) {
    const char* labels[] = {"String 2", "String 3", "String 1", "String 2"};
    const int rows[] = {1, 2, 0, 1};
    for (int i = 0; i < 4; ++i) {
        Click(1114);
        EXPECT_EQ(Label(1114), labels[i]);
        EXPECT_EQ(SampleTextIndex, rows[i]);
        EXPECT_EQ(Edit(1000)->text(), SampleTexts[rows[i]].line1);
        EXPECT_EQ(Edit(1004)->text(), SampleTexts[rows[i]].line2);
        EXPECT_EQ(Edit(1000)->font().pixelSize(), 45);
        EXPECT_EQ(Edit(1004)->font().pixelSize(), 45);
    }
    EXPECT_EQ(Edit(1000)->text(), "Customer Display!");
    EXPECT_TRUE(pty.ReadUntilQuiet(50ms).empty());
    EXPECT_TRUE(messages.isEmpty());
}
