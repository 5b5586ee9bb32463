// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's readings, kept and taken; see Readings.h.
#include "display/Readings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vantrel::display {

namespace {

// A reading's bytes are kept up to this many; a command that never ends must
// not grow without bound in the monitor.
constexpr std::size_t KeptBytes = 256;

constexpr const char* Text = "text";

}  // namespace

void Readings::Add(ReadingKind kind, const char* words, const Detail& detail, std::string_view bytes, bool merges,
                   bool macro) {
    Said* last = said_.empty() ? nullptr : &said_.back();
    if (merges && last && last->macro == macro && last->kind == kind &&
        (last->words == words || !std::strcmp(last->words, words)) && last->detail == detail) {
        if (last->size < KeptBytes) {  // the last reading's bytes end the store
            bytes_ += bytes;
            last->size += bytes.size();
        }
    } else if (said_.size() < Limit) {
        said_.push_back({kind, words, detail, bytes_.size(), bytes.size(), macro});
        bytes_ += bytes;
    } else {
        // Nobody may be taking them, or a flood outruns the monitor: counted, not kept.
        ++leftOut_;
    }
}

void Readings::AddText(std::span<const std::uint8_t> bytes, bool macro) {
    // Merged into the last reading while it is text and has fewer than
    // KeptBytes bytes; past the limit, each byte is left out.
    // Text readings are made here alone: known by their words' address.
    Said* last = said_.empty() ? nullptr : &said_.back();
    if (!last || last->macro != macro || last->words != Text) {
        if (said_.size() >= Limit) {
            leftOut_ += bytes.size();
            return;
        }
        said_.push_back({ReadingKind::Text, Text, {}, bytes_.size(), 0, macro});
        last = &said_.back();
    }
    if (last->size < KeptBytes) {
        const std::size_t kept = std::min(bytes.size(), KeptBytes - last->size);
        bytes_.append(reinterpret_cast<const char*>(bytes.data()), kept);
        last->size += kept;
    }
}

std::vector<Reading> Readings::Take() {
    std::vector<Reading> readings;
    readings.reserve(said_.size());
    for (const Said& r : said_) {
        const std::string detail = r.detail.Text();
        // What a running macro plays is marked as the macro's.
        std::string meaning = !r.macro ? "" : *r.words || !detail.empty() ? "macro: " : "macro: not read";
        meaning += r.words;
        if (!detail.empty()) meaning.append(" ").append(detail);
        readings.push_back({bytes_.substr(r.from, r.size), std::move(meaning), r.kind, r.macro});
    }
    said_.clear();
    bytes_.clear();
    return readings;
}

std::size_t Readings::TakeLeftOut() { return std::exchange(leftOut_, 0); }

std::string DescribeBytes(std::string_view bytes) {
    static constexpr const char* Names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
                                              "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                              "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    // Printable runs in quotes, control bytes by name, the rest in hex.
    std::string out, run;
    auto token = [&out](const std::string& t) { out += (out.empty() ? "" : " ") + t; };
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= 0x20 && b < 0x7F) {
            run += c;
            continue;
        }
        if (!run.empty()) token('"' + std::exchange(run, {}) + '"');
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", b);
        token(b < 0x20 ? Names[b] : hex);
    }
    if (!run.empty()) token('"' + run + '"');
    return out;
}

std::string DescribeReading(const Reading& reading) {
    // The host's unread bytes have no words; a macro's say "macro: not read".
    if (reading.kind == ReadingKind::Unread && !reading.macro) return "[unread " + DescribeBytes(reading.bytes) + "]";
    return DescribeBytes(reading.bytes) + "  " + reading.meaning;
}

}  // namespace vantrel::display
