// SPDX-License-Identifier: GPL-3.0-or-later
// Every frame byte-exact on the line, written here as the hex of the display's
// command tables, not computed from the catalogue.
#include "PanelFixture.h"
#include "app/PanelTables.h"
#include "commands/CommandFrames.h"

#include <random>
#include <set>
#include <termios.h>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

struct ExpectedFrame {
    int id;
    const char* hex;
};

const ExpectedFrame PanelFrames[] = {
    {1005, "0C"},
    {1060, "1B 40"},
    {1061, "02 05 44 03"},
    {1062, "02 05 07 03"},
    {1087, "B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 "
           "B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2 B2"},
};

const ExpectedFrame OptionFrames[] = {
    {1010, "02 05 43 30 03"}, {1011, "02 05 43 31 03"}, {1012, "02 05 43 32 03"}, {1071, "02 05 43 34 03"},
    {1015, "02 05 43 35 03"}, {1016, "02 05 43 36 03"}, {1025, "02 05 43 37 03"}, {1063, "02 05 43 38 03"},
    {1064, "02 05 43 39 03"}, {1065, "02 05 43 3A 03"},
    {1069, "02 05 42 35 03"}, {1070, "02 05 42 34 03"}, {1073, "02 05 42 33 03"}, {1074, "02 05 42 32 03"},
    {1072, "02 05 42 31 03"}, {1075, "02 05 42 30 03"}, {1076, "02 05 42 37 03"}, {1077, "02 05 42 36 03"},
    {1026, "02 05 53 30 03"}, {1079, "02 05 53 31 03"}, {1028, "02 05 53 32 03"}, {1029, "02 05 53 33 03"},
    {1082, "02 05 53 34 03"}, {1083, "02 05 53 35 03"}, {1084, "02 05 53 36 03"}, {1085, "02 05 53 37 03"},
    {1033, "02 05 53 38 03"}, {1088, "02 05 53 39 03"}, {1089, "02 05 53 3A 03"}, {1090, "02 05 53 3B 03"},
    {1091, "02 05 53 3C 03"}, {1092, "02 05 53 3D 03"}, {1093, "02 05 53 3E 03"}, {1094, "02 05 53 3F 03"},
    {1042, "02 05 46 30 03"}, {1097, "02 05 46 31 03"}, {1098, "02 05 46 32 03"}, {1099, "02 05 46 33 03"},
    {1100, "02 05 46 34 03"}, {1101, "02 05 46 35 03"}, {1102, "02 05 46 36 03"}, {1103, "02 05 46 37 03"},
    {1104, "02 05 46 38 03"}, {1049, "02 05 46 39 03"}, {1106, "02 05 46 3A 03"}, {1107, "02 05 46 3B 03"},
    {1108, "02 05 46 3C 03"}, {1109, "02 05 46 3D 03"}, {1110, "02 05 46 3E 03"}, {1111, "02 05 46 3F 03"},
    {1096, "02 05 46 40 03"}, {1112, "02 05 46 21 03"}, {1113, "02 05 46 24 03"}, {1105, "02 05 46 44 03"},
};

class Frames : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Open();
    }
    Bytes Line() { return pty.ReadUntilQuiet(50ms); }
    std::vector<int> CheckedBoxes() const {
        std::vector<int> ids;
        for (const OptionFrame& f : OptionFrameTable)
            if (Box(f.boxId)->isChecked()) ids.push_back(f.boxId);
        return ids;
    }
};

}  // namespace

TEST_F(Frames, EachPanelButtonSendsItsFrame) {
    for (const ExpectedFrame& f : PanelFrames) {
        Click(f.id);
        EXPECT_EQ(ToHex(Line()), ToHex(Hex(f.hex))) << f.id;
    }
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Frames, EachOptionBoxSendsItsFrameThroughSendCommand) {
    std::set<std::string> distinct;
    for (const ExpectedFrame& f : OptionFrames) {
        Click(f.id);
        Click(1067);
        EXPECT_EQ(ToHex(Line()), ToHex(Hex(f.hex))) << f.id;
        Click(f.id);  // uncheck again
        distinct.insert(f.hex);
    }
    EXPECT_EQ(distinct.size(), 54u);
    EXPECT_EQ(std::size(OptionFrames), OptionFrameTable.size());
}

TEST_F(Frames, CleanAfterFullLightSendsOneByte) {
    Click(1087);
    Line();
    Click(1005);
    EXPECT_EQ(Line(), Hex("0C"));
}

TEST_F(Frames, FailedFramesReportExceptFullLight) {
    pty.CloseMaster();
    Click(1087);
    EXPECT_TRUE(messages.isEmpty()) << "Full Light never shows a message";
    for (int id : {1005, 1060, 1061, 1062}) Click(id);
    EXPECT_EQ(messages, QStringList(4, "Operation valid only when the port is open!"));
}

TEST_F(Frames, CheckingABoxDisablesOnlyTheOthersOfItsGroup) {
    Click(1011);  // "ESCPOS"
    for (const OptionFrame& f : OptionFrameTable) {
        const bool inGroup = f.group == 'C';
        EXPECT_EQ(Box(f.boxId)->isEnabled(), !inGroup || f.boxId == 1011) << f.boxId;
    }
    for (int id : {1006, 1007, 1005, 1067}) EXPECT_TRUE(Item(id)->isEnabled());
    Click(1011);
    for (const OptionFrame& f : OptionFrameTable) EXPECT_TRUE(Box(f.boxId)->isEnabled()) << f.boxId;
    EXPECT_TRUE(Line().empty()) << "a click sends nothing";
}

TEST_F(Frames, AGroupNeverHasTwoBoxesCheckedWhateverTheClicks) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> pick(0, OptionFrameTable.size() - 1);
    for (int i = 0; i < 600; ++i) {
        Click(OptionFrameTable[pick(random)].boxId);
        for (std::span<const int> group : OptionGroups) {
            int checked = 0;
            for (int id : group) checked += Box(id)->isChecked();
            ASSERT_LE(checked, 1) << "after click " << i;
            for (int id : group) ASSERT_EQ(Box(id)->isEnabled(), checked == 0 || Box(id)->isChecked());
        }
    }
}

TEST_F(Frames, SendCommandSendsCheckedBoxesInDispatchOrder) {
    Click(1042);  // clicked in the reverse of the dispatch order
    Click(1026);
    Click(1075);
    Click(1010);
    Click(1067);
    EXPECT_EQ(ToHex(Line()), "02 05 43 30 03 02 05 42 30 03 02 05 53 30 03 02 05 46 30 03");
    EXPECT_EQ(CheckedBoxes(), (std::vector<int>{1010, 1075, 1026, 1042})) << "check marks survive";
    Click(1067);
    EXPECT_EQ(ToHex(Line()), "02 05 43 30 03 02 05 42 30 03 02 05 53 30 03 02 05 46 30 03");
}

TEST_F(Frames, W1257GoesAfterW1254AndBeforePC864) {
    // Only one code page can be checked from the panel; the dispatch itself does not
    // check the group rule, so set three marks directly.
    for (int id : {1112, 1096, 1111}) Box(id)->setChecked(true);
    Click(1067);
    EXPECT_EQ(ToHex(Line()), "02 05 46 3F 03 02 05 46 40 03 02 05 46 21 03");
}

TEST_F(Frames, NothingCheckedSendsNothing) {
    Click(1067);
    EXPECT_TRUE(Line().empty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Frames, SetBaudRateFrameLeavesThePortSpeed) {
    Click(1076);  // the display's "19200"
    Click(1067);
    EXPECT_EQ(Line(), Hex("02 05 42 37 03"));
    termios t{};
    tcgetattr(pty.Slave(), &t);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(panel->BaudValue, 9600);
    EXPECT_EQ(List(1002)->currentText(), "9600");
}

TEST_F(Frames, ThreeFailingFramesGiveThreeMessages) {
    Click(1012);
    Click(1077);
    Click(1094);
    pty.CloseMaster();
    Click(1067);
    EXPECT_EQ(messages.size(), 3);
}
