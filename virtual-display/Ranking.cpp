// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/Ranking.h"

#include "common/SetupNames.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace vantrel::display {

struct Ranking::Reader {
    DisplayModel model;
    Rank rank;
};

namespace {

// Small slices, so that no reading is ever left out or cut (a model keeps at
// most ReadingLimit readings and 256 bytes of a merged one).
constexpr std::size_t Slice = 128;

constexpr std::uint8_t STX = 0x02, ENQ = 0x05, ETX = 0x03;

// How many bytes of a reading speak against the emulation that read it, and
// how many it read as a command.
void ScoreReading(const Reading& reading, Ranking::Rank& rank) {
    const std::uint64_t size = reading.bytes.size();
    switch (reading.kind) {
    case ReadingKind::Text:
        rank.doubtful += std::count_if(reading.bytes.begin(), reading.bytes.end(),
                                       [](char c) { return static_cast<std::uint8_t>(c) < 0x20; });
        break;
    // A command that a display would take but ignores here (in a macro, in
    // another mode, an argument out of range that it ignores) is still its
    // command; a malformed one speaks against it.
    case ReadingKind::Command:
    case ReadingKind::OutOfRange: rank.commands += size; break;
    case ReadingKind::Unread:
    case ReadingKind::Garbage:
    case ReadingKind::Malformed: rank.doubtful += size; break;
    }
}

// Whether `bytes` end with a whole set-up frame: STX ENQ group argument ETX,
// or the demonstration's STX ENQ D ETX and STX ENQ BEL ETX.
bool EndsAFrame(std::string_view bytes) {
    const std::size_t n = bytes.size();
    const auto at = [&](std::size_t back) { return static_cast<std::uint8_t>(bytes[n - back]); };
    if (n < 4 || at(1) != ETX) return false;
    if (at(4) == STX && at(3) == ENQ && (at(2) == 'D' || at(2) == 0x07)) return true;
    const std::string_view groups = "CBSF";
    return n >= 5 && at(5) == STX && at(4) == ENQ && groups.find(static_cast<char>(at(3))) != std::string_view::npos;
}

bool TextOrLineControl(int b) { return b >= 0x20 || b == 0x00 || (b >= 0x08 && b <= 0x0D); }

// Whether a row of the emulation's own table starts with `b`.
bool StartsARow(const CommandSet& set, std::uint8_t b) {
    for (const Command& c : set.commands) {
        const std::string_view start = c.attention ? set.attention : c.start;
        if (start.empty()) continue;
        const auto first = static_cast<std::uint8_t>(start[0]);
        if (b == first || (!c.attention && start.size() == 1 && c.through && b > first && b <= c.through)) return true;
    }
    return false;
}

// The same for every command set by its place in the list of names, and every byte: found once.
bool StartsARow(const char* emulation, std::uint8_t b) {
    static const auto starts = [] {
        std::array<std::array<bool, 256>, CommandSetNames.size()> table{};
        for (std::size_t i = 0; i < CommandSetNames.size(); ++i)
            for (int byte = 0; byte < 256; ++byte)
                table[i][byte] = StartsARow(CommandSetOf(CommandSetNames[i].name), static_cast<std::uint8_t>(byte));
        return table;
    }();
    for (std::size_t i = 0; i < CommandSetNames.size(); ++i)
        if (std::string_view(CommandSetNames[i].name) == emulation) return starts[i][b];
    return false;
}

}  // namespace

Ranking::Ranking() {
    for (const SetupName& set : CommandSetNames) {
        auto reader = std::make_unique<Reader>();
        reader->model.SetEmulation(set.name);
        reader->rank.emulation = set.name;
        readers_.push_back(std::move(reader));
    }
}

Ranking::~Ranking() = default;

void Ranking::Score(Reader& reader) {
    for (const Reading& reading : reader.model.TakeReadings()) ScoreReading(reading, reader.rank);
    reader.rank.doubtful += reader.model.TakeReadingsLeftOut();
}

void Ranking::Feed(std::span<const std::uint8_t> bytes, int lineBaud, bool framingErrors) {
    auto speed = std::find_if(speeds_.begin(), speeds_.end(), [lineBaud](const SpeedCount& s) { return s.baud == lineBaud; });
    if (speed == speeds_.end()) speed = speeds_.insert(speeds_.end(), {lineBaud, 0, 0});
    (framingErrors ? speed->errors : speed->clean) += bytes.size();
    if (framingErrors) return;
    bytes_ += bytes.size();
    for (const std::uint8_t b : bytes) seen_[b] = true;
    // The slices, and whether each ends a set-up frame: the same for every reader.
    struct Piece {
        std::size_t at, n;
        bool frameEnds;
    };
    std::vector<Piece> pieces;
    for (std::size_t at = 0, n; at < bytes.size(); at += n) {
        n = std::min(Slice, DisplayModel::UpToFrameEnd(bytes.data() + at, bytes.size() - at));
        tail_.append(reinterpret_cast<const char*>(bytes.data() + at), n);
        tail_.erase(0, tail_.size() > 5 ? tail_.size() - 5 : 0);  // a frame's length
        pieces.push_back({at, n, EndsAFrame(tail_)});
    }
    for (auto& reader : readers_) {
        DisplayModel& model = reader->model;
        for (const Piece& piece : pieces) {
            // Each reads at its own speed: the emulation is judged, not the speed.
            model.Feed(bytes.data() + piece.at, piece.n, model.OwnBaud());
            if (piece.frameEnds) reader->rank.doubtful += model.GiveUpOpenCommand();
            Score(*reader);
            // And in its own command set: a frame that selects another is read
            // by every one alike, and the stream after it still tells them apart.
            if (std::string_view(model.Emulation()) != reader->rank.emulation) {
                selected_ = model.Emulation();
                model.SetEmulation(reader->rank.emulation);
            }
        }
    }
}

void Ranking::Quiet() {
    for (auto& reader : readers_) {
        reader->rank.doubtful += reader->model.GiveUpOpenCommand();
        Score(*reader);
    }
}

std::vector<Ranking::Rank> Ranking::Ranks() const {
    std::vector<Rank> ranks;
    for (const auto& reader : readers_) ranks.push_back(reader->rank);
    const auto selected = [this](const Rank& r) { return selected_ && std::string_view(r.emulation) == selected_; };
    std::stable_sort(ranks.begin(), ranks.end(), [&selected](const Rank& a, const Rank& b) {
        return a.doubtful != b.doubtful ? a.doubtful < b.doubtful
               : a.commands != b.commands ? a.commands > b.commands
                                          : selected(a) > selected(b);
    });
    return ranks;
}

Ranking::Answer Ranking::Result() const {
    Answer answer;
    const std::vector<Rank> ranks = Ranks();
    for (const Rank& rank : ranks) answer.ranks.push_back({rank.emulation, ReadPercent(rank)});
    answer.speed = Speed();
    // Alike: the same counts, and neither the one that a frame selected.
    const auto alike = [&](const Rank& r) {
        return r.doubtful == ranks[0].doubtful && r.commands == ranks[0].commands &&
               !(selected_ && std::string_view(ranks[0].emulation) == selected_);
    };
    answer.alike = static_cast<std::size_t>(std::find_if_not(ranks.begin() + 1, ranks.end(), alike) - ranks.begin());
    answer.onlyTextAndLineControls = true;
    for (int b = 0; b < 256; ++b)
        if (seen_[b] && !TextOrLineControl(b)) answer.onlyTextAndLineControls = false;
    if (answer.Tied()) {
        // Those that part them most evenly first.
        std::vector<std::pair<std::size_t, std::uint8_t>> parting;  // how unevenly, the byte
        for (int b = 0; b < 256; ++b) {
            if (seen_[b]) continue;  // it came, and they read it alike
            const auto byte = static_cast<std::uint8_t>(b);
            std::size_t starting = 0;
            for (std::size_t i = 0; i < answer.alike; ++i) starting += StartsARow(ranks[i].emulation, byte);
            const std::size_t twice = 2 * starting;
            if (starting && starting < answer.alike)
                parting.push_back({twice > answer.alike ? twice - answer.alike : answer.alike - twice, byte});
        }
        std::stable_sort(parting.begin(), parting.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& part : parting) answer.tellApart.push_back(part.second);
    }
    answer.clear = bytes_ && !answer.Tied() && bytes_ >= ClearBytes && answer.ranks[0].read >= ClearShare;
    return answer;
}

int Ranking::Speed() const {
    const SpeedCount* best = nullptr;
    for (const SpeedCount& s : speeds_)
        if (s.clean && s.baud > 0 && (!best || s.clean > best->clean)) best = &s;
    return best ? best->baud : 0;
}

int Ranking::ReadPercent(const Rank& rank) const {
    return bytes_ ? static_cast<int>(100 * (bytes_ - std::min(rank.doubtful, bytes_)) / bytes_) : 0;
}

namespace {

// "DSP800", or "DSP800, ESCPOS and 6 more" on a tie.
std::string Names(const Ranking::Answer& answer) {
    std::string names = answer.ranks[0].emulation;
    if (answer.alike == 2) return names + " and " + answer.ranks[1].emulation;
    if (answer.alike > 2)
        names += std::string(", ") + answer.ranks[1].emulation + " and " + std::to_string(answer.alike - 2) + " more";
    return names;
}

std::string AtSpeed(int speed) { return speed ? " at " + std::to_string(speed) : std::string(); }

}  // namespace

std::string Ranking::Best() const {
    if (!bytes_) return {};
    const Answer answer = Result();
    return Names(answer) + (answer.Tied() ? " alike" : "") + AtSpeed(answer.speed);
}

std::string Ranking::Likely() const {
    if (!bytes_) return {};
    const Answer answer = Result();
    std::string text = Names(answer) + (answer.Tied() ? " read it alike" : "") + AtSpeed(answer.speed) + " (" +
                       std::to_string(answer.ranks[0].read) + "% read)";
    if (answer.Tied()) {
        text += answer.onlyTextAndLineControls ? ": the till sends only text and line controls"
                                               : ": the till sends only what they read alike";
        // A few of the bytes that would tell them apart, in hex.
        constexpr std::size_t Named = 4;
        const std::size_t named = std::min(Named, answer.tellApart.size());
        for (std::size_t i = 0; i < named; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", answer.tellApart[i]);
            const bool last = i + 1 == named && answer.tellApart.size() <= Named;
            text += (i == 0 ? "; " : last ? " or " : ", ") + std::string(hex);
        }
        if (answer.tellApart.size() > Named) text += " or " + std::to_string(answer.tellApart.size() - Named) + " more";
        if (!answer.tellApart.empty()) text += " would tell them apart";
    }
    for (std::size_t i = answer.alike; i < answer.ranks.size(); ++i)
        text += std::string(i == answer.alike && answer.Tied() ? ". " : ", ") + answer.ranks[i].emulation + " " +
                std::to_string(answer.ranks[i].read) + "%";
    return text;
}

}  // namespace vantrel::display
