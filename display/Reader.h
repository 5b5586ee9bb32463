// SPDX-License-Identifier: GPL-3.0-or-later
// The display's reader: it matches the bytes that come against the command
// table in use and hands on what it found, as a terminal's parser does: text
// to show, a command with its arguments to perform, and the bytes it read
// with their meaning. It knows no screen; what a command does is the table
// row's action, performed by whoever receives the events.
//
// The table in use is the emulation's own (Commands.h), with the set-up rows
// that every emulation shares, or one that a command switched to for a while
// (the CD5220 string mode, the printer selected alone).
#pragma once

#include "display/Commands.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::display {

// What the reader hands on.
class ReaderEvents {
public:
    // A byte comes and no command is being read (a NUL that is ignored aside).
    virtual void Between() = 0;
    // Bytes that start no command, shown as text.
    virtual void Text(std::span<const std::uint8_t> bytes) = 0;
    // A complete command with its arguments: what its action adds to the row's words.
    virtual Detail Perform(const Command& command, Arguments arguments) = 0;
    // Bytes read as `kind` and `words` (empty: unread), with what the action added; see Readings::Add.
    virtual void Read(ReadingKind kind, const char* words, const Detail& detail, std::string_view bytes, bool merges) = 0;

protected:
    ~ReaderEvents() = default;
};

class Reader {
public:
    explicit Reader(ReaderEvents& events) : events_(&events) {}
    // A copy that hands its events to `events`.
    Reader(const Reader& other, ReaderEvents& events) : Reader(other) { events_ = &events; }
    Reader& operator=(const Reader&) = delete;

    void Byte(std::uint8_t b);
    // A run of text at the start of `data`, read as Byte reads it one byte at
    // a time, handed on in one go. Zero when the next byte is not such text or
    // a command is being read.
    std::size_t TextRun(const std::uint8_t* data, std::size_t n) {
        if (!Idle() || n == 0) return 0;
        IndexRows();
        return plain_[data[0]] ? Run(data, n) : 0;
    }
    // The length of a whole command of a fixed number of arguments at the
    // start of `data`, when nothing is being read; zero when there is none or
    // it is not all there. ReadCommand then reads it, as Byte reads it one
    // byte at a time, in one go, from where it lies.
    std::size_t CommandAhead(const std::uint8_t* data, std::size_t n);
    void ReadCommand(const std::uint8_t* data);

    // The emulation's own table, the one in use and its attention code as at power-on.
    void SetBase(const CommandSet& set);
    const CommandSet* Base() const { return base_; }
    // The table in use back to the emulation's own, the attention code its power-on one.
    void Reset();
    // The table that reads the next bytes; null: the emulation's own.
    void UseCommandSet(const CommandSet* set) { active_ = set ? set : base_; }
    const CommandSet* ActiveCommandSet() const { return active_; }
    // The prefix that starts the attention-code commands (AEDEX, UTC enhanced).
    void SetAttention(std::uint8_t first, std::uint8_t second) { attention_ = {first, second}; }
    std::array<std::uint8_t, 2> Attention() const { return attention_; }

    // The last `count` argument bytes of the command being performed are not
    // its own: read again as normal data after it.
    void GiveBack(std::size_t count) { giveBack_ = count; }
    // A command cut short by a change of speed is read as it stands (unread).
    void CutShort();
    // A half-read command is dropped, its bytes read as `words` (malformed).
    void Drop(const char* words);
    // The line went quiet, a frame ended or the stream ended with a command
    // still open: it was none. Its start is unread and its argument bytes are
    // read again as the bytes after it, until nothing is open. Returns how
    // many bytes were unread without a reading: argument bytes past the kept
    // ones, and what is still open after GiveUpRounds rounds.
    std::size_t GiveUp();
    // How many of the last bytes are the start of a selection of peripherals
    // still being read (ESC, ESC =): whether they pass to the printer depends
    // on the bytes to come.
    std::size_t SelectionUnderway();

private:
    // Argument bytes kept; the rest are read and dropped. The longest command
    // whose end is counted in its arguments, US ( fn pL pH and 65,535 bytes, fits.
    static constexpr std::size_t ArgumentLimit = 3 + 0xFFFF;
    // A command that never ends must not grow without bound in the monitor.
    static constexpr std::size_t TokenLimit = 256;
    // Arguments read again may open a command again; so many rounds at most,
    // each reading again what the last one kept: bounded work on any input.
    static constexpr int GiveUpRounds = 8;

    bool Idle() const { return prefix_.empty() && !command_ && token_.empty(); }
    std::size_t Run(const std::uint8_t* data, std::size_t n);
    void StartByte();
    void ArgumentByte(std::uint8_t b);
    Arguments Args() const;
    void Execute();
    // A whole command performed and its reading handed on; see Reader.cpp.
    std::size_t Complete(const Command& c, Arguments arguments, std::string_view bytes);
    void Single(std::uint8_t b);
    bool Introducer(std::uint8_t b) const;
    void IndexRows() {
        if (rowsSet_ != active_ || rowsAttention_[0] != attention_[0] || rowsAttention_[1] != attention_[1]) ReindexRows();
    }
    void ReindexRows();
    bool MayStart(std::uint8_t b) {
        IndexRows();
        return rowsFrom_[b + 1] != rowsFrom_[b];
    }
    void Mismatch();
    void Said(ReadingKind kind, const char* words, bool merges = false);
    void Unread() { Said(ReadingKind::Unread, "", true); }
    void Forget();

    ReaderEvents* events_;
    // The table in use, the start bytes read so far, the command whose
    // arguments are being read, and the bytes of the reading in progress.
    const CommandSet* base_ = nullptr;
    const CommandSet* active_ = nullptr;
    std::array<std::uint8_t, 2> attention_{};
    std::string prefix_;
    const Command* command_ = nullptr;
    std::string arguments_;
    std::size_t argumentCount_ = 0;  // all argument bytes, also those past the kept ones
    std::size_t giveBack_ = 0;       // see GiveBack
    std::string token_;
    const Command* ahead_ = nullptr;  // what CommandAhead found
    std::size_t aheadStart_ = 0;      // the length of its start

    // The rows of the table in use (the shared rows first) by the byte that
    // starts them and then by their second byte (-1: none), in the tables'
    // order where both are the same; found again when the table or the
    // attention code changes. A byte that starts no row is read at once, and a
    // command's start is looked for among the rows of its first two bytes alone.
    struct IndexedRow {
        const Command* command;
        int second;
        bool two;  // the whole start is the two bytes it is listed by
    };
    std::vector<IndexedRow> rows_;  // its capacity stays: no allocation when a table comes back
    std::array<std::uint16_t, 257> rowsFrom_{};  // byte b's rows: rows_[rowsFrom_[b]] up to rows_[rowsFrom_[b + 1]]
    std::array<const Command*, 256> lone_{};     // the first row that byte b is the whole start of, or null
    // The first row whose whole start is the two bytes b, s: pairs_[pairsOf_[b] * 256 + s], or
    // null; pairsOf_[b] is 0 for a byte that starts no such row (pairs_ starts with a block of nulls).
    std::vector<const Command*> pairs_;
    std::array<std::uint16_t, 256> pairsOf_{};
    // The bytes that are text between commands: shown, starting no row, not
    // NUL. A run of them is handed on with one look-up a byte.
    std::array<bool, 256> plain_{};
    const CommandSet* rowsSet_ = nullptr;
    std::array<std::uint8_t, 2> rowsAttention_{};
};

}  // namespace vantrel::display
