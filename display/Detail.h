// SPDX-License-Identifier: GPL-3.0-or-later
// What a command's action adds to its row's words in the monitor: a value
// ("15", "100%", "W1252") or why an argument was ignored. Tills send commands
// by the thousand and the monitor keeps a few of their readings, so the words
// are not made when the command is performed: a Detail keeps a text that
// lasts as long as the program (a literal, an option's label), or a number
// with such texts around it, or, for the few actions that put their words
// together from more, a short text of its own. Text() makes the words when
// the readings are taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::display {

// What the display made of some bytes, for whoever sorts or scores readings
// (the ranking): the monitor's words are for people only.
enum class ReadingKind : std::uint8_t {
    Text,        // shown as text
    Command,     // read as a command, also one the display ignores where it stands (in a macro, in string mode)
    Unread,      // no command and no text
    Garbage,     // came at a speed other than the display's own, or with framing errors
    OutOfRange,  // a command with an argument it has not: ignored
    Malformed,   // a frame without its end, or a command cut off half read: ignored
};

class Detail {
public:
    constexpr Detail() = default;
    // A text that lasts as long as the program.
    constexpr Detail(const char* text) : text_(text) {}
    // `before`, the number in decimal, `after`: both last as long as the program.
    constexpr Detail(const char* before, int number, const char* after) : text_(before), after_(after), number_(number) {}
    // A text made by the action, copied: up to Room characters.
    static Detail Copy(std::string_view text);
    // Why the action ignored a command that is itself at fault (`kind` OutOfRange or Malformed).
    static constexpr Detail Fault(ReadingKind kind, const char* text) {
        Detail d(text);
        d.kind_ = kind;
        return d;
    }

    // Command, unless the action found the command at fault.
    ReadingKind Kind() const { return kind_; }
    bool Empty() const { return !after_ && *Start() == 0; }
    std::string Text() const;
    // The same words of the same kind, however kept.
    friend bool operator==(const Detail& a, const Detail& b);

    // The longest the tables make is 37 ("US ( X, 65535 bytes (read, not drawn)").
    static constexpr std::size_t Room = 39;

private:
    const char* Start() const { return text_ ? text_ : own_; }

    const char* text_ = "";        // null: the text is own_
    const char* after_ = nullptr;  // set: number_ stands between text_ and it
    int number_ = 0;
    char own_[Room + 1]{};
    ReadingKind kind_ = ReadingKind::Command;
};

}  // namespace vantrel::display
