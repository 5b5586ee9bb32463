// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFixture.h"
#include "content/CharTest.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

Bytes Page(int first) {
    Bytes out{0x0C};
    for (int i = 0; i < 16; ++i) out.push_back(static_cast<std::uint8_t>(first + i));
    return out;
}

class CharTestPages : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Open();
    }
    Bytes Press() {
        Click(1095);
        return pty.ReadUntilQuiet(50ms);
    }
};

}  // namespace

TEST_F(CharTestPages, NinePressesWalkTheUpperHalfAndWrap) {
    const int firsts[] = {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0, 0x80};
    const char* labels[] = {"LanguageTest90H", "LanguageTestA0H", "LanguageTestB0H", "LanguageTestC0H", "LanguageTestD0H",
                            "LanguageTestE0H", "LanguageTestF0H", "LanguageTest80H", "LanguageTest90H"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(ToHex(Press()), ToHex(Page(firsts[i]))) << i;
        EXPECT_EQ(Label(1095), labels[i]);
    }
    EXPECT_EQ(Page(0xF0).back(), 0xFF);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(CharTestPages, OtherFramesBetweenPressesChangeNothing) {
    for (int i = 0; i < 3; ++i) Press();
    Click(1006);
    pty.ReadUntilQuiet(50ms);
    EXPECT_EQ(Press(), Page(0xB0));
}

TEST_F(CharTestPages, CloseAndFailedOpenResetThePageButAListChangeDoesNot) {
    for (int i = 0; i < 3; ++i) Press();
    Click(1003);
    EXPECT_EQ(Label(1095), "LanguageTest80H");
    Open();
    EXPECT_EQ(Press(), Page(0x80));

    Press();
    Press();
    Choose(1002, 5);  // a list change: the page stays
    EXPECT_EQ(Label(1095), "LanguageTestB0H");
    Open();
    EXPECT_EQ(Press(), Page(0xB0));

    Choose(1002, 5);
    PortMapping missing(1, "/nonexistent/ttyVANTREL");
    testing::internal::CaptureStderr();
    Click(1003);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Label(1095), "LanguageTest80H");
    EXPECT_EQ(CharTestPage, 0);
}

TEST_F(CharTestPages, FailedWriteIsSilentAndThePageStillAdvances) {
    pty.CloseMaster();
    Click(1095);
    Click(1095);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(CharTestPage, 2);
    EXPECT_EQ(Label(1095), "LanguageTestA0H");
}
