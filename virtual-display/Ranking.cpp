// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/Ranking.h"

#include "common/SetupNames.h"

#include <algorithm>
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

// How many bytes of a reading speak against the emulation that read it, and
// how many it read as a command.
void Score(const Reading& reading, Ranking::Rank& rank) {
    const std::uint64_t size = reading.bytes.size();
    switch (reading.kind) {
    case ReadingKind::Text:
        rank.doubtful += std::count_if(reading.bytes.begin(), reading.bytes.end(),
                                       [](char c) { return static_cast<std::uint8_t>(c) < 0x20; });
        break;
    // A command that a display would take but ignores here (in a macro, in
    // another mode) is still its command; a malformed one speaks against it.
    case ReadingKind::Command: rank.commands += size; break;
    case ReadingKind::Unread:
    case ReadingKind::Garbage:
    case ReadingKind::OutOfRange:
    case ReadingKind::Malformed: rank.doubtful += size; break;
    }
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

void Ranking::Feed(std::span<const std::uint8_t> bytes, int lineBaud, bool framingErrors) {
    auto speed = std::find_if(speeds_.begin(), speeds_.end(), [lineBaud](const SpeedCount& s) { return s.baud == lineBaud; });
    if (speed == speeds_.end()) speed = speeds_.insert(speeds_.end(), {lineBaud, 0, 0});
    (framingErrors ? speed->errors : speed->clean) += bytes.size();
    if (framingErrors) return;
    bytes_ += bytes.size();
    for (auto& reader : readers_) {
        DisplayModel& model = reader->model;
        for (std::size_t at = 0, n; at < bytes.size(); at += n) {
            n = std::min(Slice, DisplayModel::UpToFrameEnd(bytes.data() + at, bytes.size() - at));
            // Each reads at its own speed: the emulation is judged, not the speed.
            model.Feed(bytes.data() + at, n, model.OwnBaud());
            for (const Reading& reading : model.TakeReadings()) Score(reading, reader->rank);
            reader->rank.doubtful += model.TakeReadingsLeftOut();
            // And in its own command set: a frame that selects another is read
            // by every one alike, and the stream after it still tells them apart.
            if (std::string_view(model.Emulation()) != reader->rank.emulation) {
                selected_ = model.Emulation();
                model.SetEmulation(reader->rank.emulation);
            }
        }
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

int Ranking::Speed() const {
    const SpeedCount* best = nullptr;
    for (const SpeedCount& s : speeds_)
        if (s.clean && s.baud > 0 && (!best || s.clean > best->clean)) best = &s;
    return best ? best->baud : 0;
}

int Ranking::ReadPercent(const Rank& rank) const {
    return bytes_ ? static_cast<int>(100 * (bytes_ - std::min(rank.doubtful, bytes_)) / bytes_) : 0;
}

std::string Ranking::Best() const {
    if (!bytes_) return {};
    const int speed = Speed();
    return Ranks().front().emulation + (speed ? " at " + std::to_string(speed) : std::string());
}

std::string Ranking::Likely() const {
    if (!bytes_) return {};
    const std::vector<Rank> ranks = Ranks();
    std::string text = Best() + " (" + std::to_string(ReadPercent(ranks[0])) + "% read)";
    for (std::size_t i = 1; i < ranks.size(); ++i)
        text += std::string(", ") + ranks[i].emulation + " " + std::to_string(ReadPercent(ranks[i])) + "%";
    return text;
}

}  // namespace vantrel::display
