// SPDX-License-Identifier: GPL-3.0-or-later
// The reader's engine: one for every emulation's table; see Reader.h.
#include "display/Reader.h"

#include <algorithm>
#include <utility>

namespace vantrel::display {

void Reader::SetBase(const CommandSet& set) {
    base_ = active_ = &set;
    Reset();
}

void Reader::Reset() {
    active_ = base_;
    const std::string_view code = base_->attention;
    attention_ = code.size() == 2 ? std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(code[0]), static_cast<std::uint8_t>(code[1])}
                                  : std::array<std::uint8_t, 2>{};
}

void Reader::Said(ReadingKind kind, const char* words, bool merges) {
    events_->Read(kind, words, {}, token_, merges);
    token_.clear();
}

void Reader::Forget() {
    prefix_.clear();
    command_ = nullptr;
    arguments_.clear();
    argumentCount_ = 0;
}

void Reader::CutShort() {
    if (!token_.empty()) Unread();
    Forget();
}

void Reader::Drop(const char* words) {
    if (!token_.empty()) Said(ReadingKind::Malformed, words);
    Forget();
}

std::size_t Reader::GiveUp() {
    std::size_t lost = 0;
    for (int round = 0; !Idle(); ++round) {
        const std::size_t lead = command_ && command_->attention ? attention_.size() : 0;
        const std::size_t start = command_ ? lead + command_->start.size() : prefix_.size();
        if (round == GiveUpRounds) {
            lost += start + argumentCount_;
            token_.clear();
            Forget();
            break;
        }
        // The start alone is one unknown command; the arguments come again.
        token_.resize(std::min(token_.size(), start));
        Unread();
        const std::string again = std::exchange(arguments_, {});
        lost += argumentCount_ - again.size();
        Forget();
        for (const char b : again) Byte(static_cast<std::uint8_t>(b));
    }
    return lost;
}

// At least the first byte is such text.
std::size_t Reader::Run(const std::uint8_t* data, std::size_t n) {
    std::size_t run = 1;
    while (run < n && plain_[data[run]]) ++run;
    events_->Text({data, run});
    return run;
}

std::size_t Reader::CommandAhead(const std::uint8_t* data, std::size_t n) {
    ahead_ = nullptr;
    if (!Idle() || n == 0 || data[0] == 0x00 || !MayStart(data[0])) return 0;
    // As StartByte finds it: the row that the first byte is the whole start
    // of, else the first row listed by both bytes whose start they are.
    const Command* c = lone_[data[0]];
    std::size_t start = 1;
    if (!c && n >= 2) {
        start = 2;
        c = pairs_[pairsOf_[data[0]] * 256u + data[1]];
    }
    if (!c || c->end != End::Count || n - start < c->count) return 0;
    ahead_ = c;
    aheadStart_ = start;
    return start + c->count;
}

void Reader::ReadCommand(const std::uint8_t* data) {
    const Command& c = *std::exchange(ahead_, nullptr);
    events_->Between();
    const std::size_t length = aheadStart_ + c.count;
    const std::size_t back =
        Complete(c, {data + aheadStart_, c.count}, {reinterpret_cast<const char*>(data), std::min(length, TokenLimit)});
    for (std::size_t i = length - back; i < length; ++i) Byte(data[i]);
}

void Reader::Byte(std::uint8_t b) {
    if (token_.size() < TokenLimit) token_ += static_cast<char>(b);
    if (command_) return ArgumentByte(b);
    if (prefix_.empty()) {
        // NUL between commands is ignored; the printer, selected alone, takes it.
        if (b == 0x00 && active_->text != Text::Printer) {
            token_.clear();
            return;
        }
        events_->Between();
    }
    if (prefix_.empty() && !MayStart(b)) return Single(b);  // as Mismatch reads a lone byte
    prefix_ += static_cast<char>(b);
    StartByte();
}

void Reader::ReindexRows() {
    rowsSet_ = active_;
    rowsAttention_ = attention_;
    // The bytes a row may have first and second: the attention code's, a range
    // (the last start byte's), or one; an empty range (1, 0) for none.
    const auto at = [this](const Command& c, std::size_t i) -> std::pair<int, int> {
        const std::size_t lead = c.attention ? attention_.size() : 0;
        if (i < lead) return {attention_[i], attention_[i]};
        if (i - lead >= c.start.size()) return {1, 0};
        const int b = static_cast<std::uint8_t>(c.start[i - lead]);
        return {b, i - lead + 1 == c.start.size() && c.through ? c.through : b};
    };
    // A row of one byte is listed once under it, with no second byte.
    const auto seconds = [&](const Command& c) {
        const auto s = at(c, 1);
        return s.first > s.second ? std::pair<int, int>{-1, -1} : s;
    };
    const CommandSet* const sets[] = {active_->shared ? &SharedCommands() : nullptr, active_};
    std::array<std::size_t, 257> count{};
    for (const CommandSet* set : sets)
        for (const Command& c : set ? set->commands : std::span<const Command>{})
            for (auto [b, last] = at(c, 0); b <= last; ++b)
                count[static_cast<std::size_t>(b) + 1] += static_cast<std::size_t>(seconds(c).second - seconds(c).first + 1);
    for (std::size_t b = 1; b < count.size(); ++b) count[b] += count[b - 1];
    for (std::size_t b = 0; b < count.size(); ++b) rowsFrom_[b] = static_cast<std::uint16_t>(count[b]);
    rows_.resize(count[256]);
    for (const CommandSet* set : sets)
        for (const Command& c : set ? set->commands : std::span<const Command>{})
            for (auto [b, last] = at(c, 0); b <= last; ++b)
                for (auto [s, lastSecond] = seconds(c); s <= lastSecond; ++s)
                    rows_[count[static_cast<std::size_t>(b)]++] = {&c, s, (c.attention ? attention_.size() : 0) + c.start.size() == 2};
    // Each first byte's rows by their second byte, stable: an insertion sort of a few rows.
    for (std::size_t b = 0; b < 256; ++b)
        for (std::size_t i = rowsFrom_[b] + 1u; i < rowsFrom_[b + 1]; ++i)
            for (std::size_t j = i; j > rowsFrom_[b] && rows_[j - 1].second > rows_[j].second; --j) std::swap(rows_[j - 1], rows_[j]);
    const bool every = active_->text == Text::Every;
    for (std::size_t b = 0; b < 256; ++b)
        plain_[b] = (every || (active_->text == Text::Printable && b >= 0x20 && b != 0x7F)) && b != 0x00 && rowsFrom_[b + 1] == rowsFrom_[b];
    lone_.fill(nullptr);
    for (std::size_t b = 0; b < 256; ++b)
        for (std::size_t i = rowsFrom_[b + 1]; i-- > rowsFrom_[b];)  // backwards: the first in the tables' order stays
            if (const Command& c = *rows_[i].command; !c.attention && c.start.size() == 1) lone_[b] = &c;
    pairs_.assign(256, nullptr);
    pairsOf_.fill(0);
    for (std::size_t b = 0; b < 256; ++b)
        for (std::size_t i = rowsFrom_[b + 1]; i-- > rowsFrom_[b];)
            if (rows_[i].two) {
                if (!pairsOf_[b]) {
                    pairsOf_[b] = static_cast<std::uint16_t>(pairs_.size() / 256);
                    pairs_.resize(pairs_.size() + 256, nullptr);
                }
                pairs_[pairsOf_[b] * 256u + static_cast<std::size_t>(rows_[i].second)] = rows_[i].command;
            }
}

namespace {

enum class Fit { No, Part, Whole };

// How the start bytes read so far fit a command's start.
Fit Fits(const Command& c, std::string_view prefix, const std::array<std::uint8_t, 2>& attention) {
    const std::size_t lead = c.attention ? attention.size() : 0, length = lead + c.start.size();
    if (prefix.size() > length) return Fit::No;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto got = static_cast<std::uint8_t>(prefix[i]);
        const auto want = i < lead ? attention[i] : static_cast<std::uint8_t>(c.start[i - lead]);
        if (i + 1 == length && c.through ? got < want || got > c.through : got != want) return Fit::No;
    }
    return prefix.size() == length ? Fit::Whole : Fit::Part;
}

}  // namespace

// Any other command being read decides nothing.
std::size_t Reader::SelectionUnderway() {
    if (command_) return SelectsPeripherals(*command_) ? command_->start.size() + argumentCount_ : 0;
    if (prefix_.empty()) return 0;
    IndexRows();
    const auto first = static_cast<std::uint8_t>(prefix_[0]);
    for (std::size_t i = rowsFrom_[first]; i < rowsFrom_[first + 1]; ++i)
        if (SelectsPeripherals(*rows_[i].command) && Fits(*rows_[i].command, prefix_, attention_) == Fit::Part)
            return prefix_.size();
    return 0;
}

void Reader::StartByte() {
    IndexRows();
    const auto first = static_cast<std::uint8_t>(prefix_[0]);
    // One byte: the row it is the whole start of, else whether any row goes on from it.
    const Command* whole = prefix_.size() == 1 ? lone_[first] : nullptr;
    bool part = prefix_.size() == 1 && rowsFrom_[first + 1] != rowsFrom_[first];
    if (prefix_.size() > 1) {
        // Two bytes or more: the rows of the first byte with this second one.
        const auto from = rows_.begin() + rowsFrom_[first], to = rows_.begin() + rowsFrom_[first + 1];
        const int second = static_cast<std::uint8_t>(prefix_[1]);
        for (auto r = std::lower_bound(from, to, second, [](const IndexedRow& row, int b) { return row.second < b; });
             r != to && r->second == second; ++r) {
            // Its first two bytes are what it is listed by: with no more, it fits.
            const Fit fit = prefix_.size() == 2 ? (r->two ? Fit::Whole : Fit::Part) : Fits(*r->command, prefix_, attention_);
            if (fit == Fit::Whole) {
                whole = r->command;
                break;
            }
            part = part || fit == Fit::Part;
        }
    }
    if (whole) {
        const Command& c = *whole;
        prefix_.clear();
        command_ = &c;
        arguments_.clear();
        argumentCount_ = 0;
        if (c.end == End::Count && c.count == 0) Execute();
        else if (c.end == End::Rule && c.rule(Arguments{})) Execute();
        return;
    }
    if (!part) Mismatch();
}

// A byte that starts a command of the emulation's own with more bytes to come
// (ESC, US, EOT): what follows it belongs to it, even when the table knows
// no such command.
bool Reader::Introducer(std::uint8_t b) const {
    if (active_->text == Text::Printer || active_->text == Text::Ignored) return false;
    for (const Command& c : active_->commands)
        if (!c.attention && c.start.size() >= 2 && static_cast<std::uint8_t>(c.start[0]) == b) return true;
    return false;
}

void Reader::Mismatch() {
    const std::string bytes = std::exchange(prefix_, {});
    const auto first = static_cast<std::uint8_t>(bytes[0]);
    if (bytes.size() == 1) return Single(first);
    if (Introducer(first)) return Unread();  // one unknown command of these bytes
    // Not a command after all: the first byte on its own, the rest read again.
    token_.assign(1, bytes[0]);
    Single(first);
    for (std::size_t i = 1; i < bytes.size(); ++i) Byte(static_cast<std::uint8_t>(bytes[i]));
}

void Reader::Single(std::uint8_t b) {
    switch (active_->text) {
    case Text::Printable:
        if (b < 0x20 || b == 0x7F) return Unread();
        [[fallthrough]];
    case Text::Every:
        token_.clear();
        return events_->Text({&b, 1});
    case Text::None: return Unread();
    // What a mode passes on or ignores whole is read as the mode's.
    case Text::Printer: return Said(ReadingKind::Command, "to printer", true);
    case Text::Ignored: return Said(ReadingKind::Command, "ignored in string mode", true);
    }
}

void Reader::ArgumentByte(std::uint8_t b) {
    ++argumentCount_;
    const bool terminator = command_->end == End::Terminator && b == command_->count;
    if (!terminator && arguments_.size() < ArgumentLimit) arguments_ += static_cast<char>(b);
    const bool complete = terminator || (command_->end == End::Count && argumentCount_ == command_->count) ||
                          (command_->end == End::Rule && command_->rule(Args()));
    if (complete) Execute();
}

Arguments Reader::Args() const {
    return {reinterpret_cast<const std::uint8_t*>(arguments_.data()), arguments_.size()};
}

void Reader::Execute() {
    const Command& c = *std::exchange(command_, nullptr);
    const std::size_t back = Complete(c, Args(), token_);
    const std::string again = arguments_.substr(arguments_.size() - back);
    token_.clear();
    arguments_.clear();
    argumentCount_ = 0;
    for (const char b : again) Byte(static_cast<std::uint8_t>(b));
}

// Performs a whole command and hands on its reading: its bytes but the
// `back` last, which the action gave back. Returns `back`: the caller reads
// those again once the command is forgotten.
std::size_t Reader::Complete(const Command& c, Arguments arguments, std::string_view bytes) {
    const Detail detail = c.action ? events_->Perform(c, arguments) : Detail();
    const std::size_t back = std::min({std::exchange(giveBack_, 0), arguments.size(), bytes.size()});
    events_->Read(detail.Kind(), c.words, detail, bytes.substr(0, bytes.size() - back), false);
    return back;
}

}  // namespace vantrel::display
