// SPDX-License-Identifier: GPL-3.0-or-later
// The reader on its own, with no screen behind it: what it hands on, and in
// what pieces. The display model's tests see only the end result; these see
// that a run of text goes on as one slice and a command as one call with its
// arguments.
#include "display/Reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vantrel::display;

namespace {

// Every event as a line: text runs, performed commands, readings.
class Recorder : public ReaderEvents {
public:
    std::vector<std::string> events;
    void Between() override {}
    void Text(std::span<const std::uint8_t> bytes) override { events.push_back("text " + std::string(bytes.begin(), bytes.end())); }
    Detail Perform(const Command& command, Arguments arguments) override {
        events.push_back(std::string("perform ") + command.words + " " + std::to_string(arguments.size()));
        return {};
    }
    void Read(ReadingKind kind, const char*, const Detail&, std::string_view bytes, bool) override {
        if (kind == ReadingKind::Unread) events.push_back("unread " + std::to_string(bytes.size()));  // commands are seen in Perform
    }
};

std::vector<std::string> ReadAll(const char* emulation, const std::string& bytes) {
    Recorder recorder;
    Reader reader(recorder);
    reader.SetBase(CommandSetOf(emulation));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t run = reader.TextRun(data + i, bytes.size() - i);
        if (run == 0) reader.Byte(data[i++]);
        i += run;
    }
    return recorder.events;
}

}  // namespace

TEST(Reader, HandsOnTextRunsWholeAndCommandsWithTheirArguments) {
    const struct {
        const char* emulation;
        std::string bytes;
        std::vector<std::string> events;
    } cases[] = {
        {"ESCPOS", "MILK 1L\x1F$\x01\x02" "TOTAL", {"text MILK 1L", "perform cursor to position 2", "text TOTAL"}},
        {"ESCPOS", "AB\x18" "CD\x1BR\x02" "EF",
         {"text AB", "perform clear cursor line 0", "text CD", "perform international set 1", "text EF"}},
        // Bytes that start no command and are not shown stay apart from the text.
        {"ESCPOS", "A\x01" "B", {"text A", "unread 1", "text B"}},
        // A terminator ends the arguments and is none of them.
        {"CD5220", "\x1BQAHELLO\x0D" "X", {"perform upper line 5", "text X"}},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadAll(c.emulation, c.bytes), c.events) << c.emulation << " " << c.bytes;
}
