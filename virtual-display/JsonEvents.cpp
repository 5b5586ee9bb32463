// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/JsonEvents.h"

#include "virtual-display/LineMain.h"
#include "virtual-display/Ranking.h"

#include <algorithm>
#include <cstdio>

namespace vantrel::display {

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        char h[4];
        std::snprintf(h, sizeof h, text.empty() ? "%02X" : " %02X", b);
        text += h;
    }
    return text;
}

std::string HexOf(const std::string& bytes) {
    return Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

std::string Number(std::uint64_t n) { return std::to_string(n); }

std::string SpeedJson(LineSpeed speed) {
    return std::string("{\"baud\":") + (speed.baud > 0 ? std::to_string(speed.baud) : "null") +
           ",\"measured\":" + (speed.measured ? "true" : "false") + "}";
}

// The ranking as [{"set":"CD5220","share":100},...]; `best`: only the sets
// that read as much as the first.
std::string LikelyJson(const VirtualDisplay& display, bool best) {
    std::string json = "[";
    if (const Ranking* ranking = display.Ranks(); ranking && ranking->Bytes()) {
        const std::vector<SetShare> sets = LikelySets(*ranking);
        for (const SetShare& share : sets)
            if (!best || share.share == sets.front().share)
                json += std::string(json.size() > 1 ? "," : "") + "{\"set\":" + JsonString(share.set) +
                        ",\"share\":" + std::to_string(share.share) + "}";
    }
    return json + "]";
}

}  // namespace

const char* LineKindName(LineKind kind) {
    switch (kind) {
    case LineKind::PseudoTerminal: return "pty";
    case LineKind::Port: return "port";
    case LineKind::Tap: return "tap";
    case LineKind::Replay: return "replay";
    }
    return "pty";
}

LineSpeed SpeedOf(const VirtualDisplay& display, LineKind) {
    // Measured where the line tells it: the display's own pseudo-terminal (its
    // writer's speed), a real port's speed trial (its framing errors), a
    // recording of either; elsewhere the speed the bytes are read at.
    const auto speed = display.Speed();
    return {speed.baud, speed.measured};
}

std::vector<SetShare> LikelySets(const Ranking& ranking) {
    std::vector<SetShare> sets;
    for (const auto& rank : ranking.Ranks()) sets.push_back({rank.emulation, ranking.ReadPercent(rank)});
    return sets;
}

const char* ReadingKindName(ReadingKind kind) {
    switch (kind) {
    case ReadingKind::Text: return "text";
    case ReadingKind::Command: return "command";
    case ReadingKind::Unread: return "unread";
    case ReadingKind::Garbage: return "garbage";
    case ReadingKind::OutOfRange: return "out-of-range";
    case ReadingKind::Malformed: return "malformed";
    }
    return "unread";
}

std::string JsonEvents::Head(const char* event, Duration at) {
    // Never before the last event: a chunk read after the clock's own screen,
    // or a step of the clock, may carry an earlier time.
    lastMs_ = std::max(lastMs_, std::chrono::duration<double, std::milli>(at).count());
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", lastMs_);
    return std::string("{\"event\":\"") + event + "\",\"ms\":" + ms;
}

std::string JsonEvents::Status() const {
    return ",\"emulation\":" + JsonString(display_.Model().Emulation()) +
           ",\"speed\":" + SpeedJson(SpeedOf(display_, kind_)) + ",\"likely\":" + LikelyJson(display_, true);
}

std::string JsonEvents::Start(const std::string& path, const std::string& displayPath, const std::string& link) {
    std::string line = Head("start", {}) + ",\"version\":" + std::to_string(JsonVersion) +
                       ",\"program\":\"vantrel-display\",\"program-version\":" + JsonString(VANTREL_VERSION) +
                       ",\"line\":{\"kind\":\"" + LineKindName(kind_) + "\",\"path\":" + JsonString(path);
    if (!displayPath.empty()) line += ",\"display-path\":" + JsonString(displayPath);
    if (!link.empty()) line += ",\"link\":" + JsonString(link);
    return line + "}" + Status() + "}";
}

std::vector<std::string> JsonEvents::Chunk(const VirtualDisplay::Chunk& chunk, Duration at) {
    std::vector<std::string> lines;
    if (!chunk.notice.empty()) {
        ++counts_.notices;
        lines.push_back(Head("notice", at) + ",\"text\":" + JsonString(chunk.notice) + "}");
    }
    if (chunk.direction == Direction::DisplayToTill) {
        counts_.displayToTill += chunk.bytes.size();
        lines.push_back(Head("to-till", at) + ",\"bytes\":\"" + Hex(chunk.bytes) + "\"}");
    } else {
        counts_.tillToDisplay += chunk.bytes.size();
        if (chunk.framingErrors) counts_.framingErrors += chunk.bytes.size();
        counts_.garbage += chunk.garbage;
    }
    for (const auto& reading : chunk.readings) {
        ++counts_.readings;
        lines.push_back(Head("reading", at) + ",\"kind\":\"" + ReadingKindName(reading.kind) + "\",\"bytes\":\"" +
                        HexOf(reading.bytes) + "\",\"meaning\":" + JsonString(reading.meaning) +
                        (reading.macro ? ",\"macro\":true" : "") +
                        (chunk.framingErrors ? ",\"framing-errors\":true" : "") + "}");
    }
    if (!chunk.printer.empty()) {
        counts_.printer += chunk.printer.size();
        lines.push_back(Head("printer", at) + ",\"bytes\":\"" + Hex(chunk.printer) + "\"}");
    }
    if (chunk.readingsLeftOut) {
        counts_.leftOut += chunk.readingsLeftOut;
        lines.push_back(Head("left-out", at) + ",\"readings\":" + Number(chunk.readingsLeftOut) + "}");
    }
    return lines;
}

std::string JsonEvents::Screen(Duration at) {
    ++counts_.screens;
    const DisplayModel& model = display_.Model();
    return Head("screen", at) + ",\"lines\":[" + JsonString(model.Line(0)) + "," + JsonString(model.Line(1)) +
           "],\"status\":" + JsonString(StatusLine(display_)) + Status() + "}";
}

std::string JsonEvents::Likely(Duration at) {
    std::string line = Head("likely", at) + ",\"speed\":" + SpeedJson(SpeedOf(display_, kind_)) +
                       ",\"likely\":" + LikelyJson(display_, false);
    if (const Ranking* ranking = display_.Ranks(); ranking && ranking->Bytes()) {
        // Whether the first is alone, and what would part those that read the till alike.
        const Ranking::Answer answer = ranking->Result();
        line += ",\"alike\":" + std::to_string(answer.alike) + ",\"only-text-and-line-controls\":" +
                (answer.onlyTextAndLineControls ? "true" : "false") + ",\"tell-apart\":[";
        for (std::size_t i = 0; i < answer.tellApart.size(); ++i) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", answer.tellApart[i]);
            line += std::string(i ? "," : "") + "\"" + hex + "\"";
        }
        line += std::string("],\"clear\":") + (answer.clear ? "true" : "false") + ",\"text\":" + JsonString(ranking->Likely());
    }
    return line + "}";
}

std::string JsonEvents::End(Duration at, const char* reason) {
    const auto field = [](const char* name, std::uint64_t n) { return std::string(",\"") + name + "\":" + Number(n); };
    return Head("end", at) + ",\"reason\":\"" + reason + "\",\"bytes\":{\"till-to-display\":" +
           Number(counts_.tillToDisplay) + field("display-to-till", counts_.displayToTill) +
           field("printer", counts_.printer) + field("garbage", counts_.garbage) +
           field("framing-errors", counts_.framingErrors) + "}" + field("readings", counts_.readings) +
           field("readings-left-out", counts_.leftOut) + field("notices", counts_.notices) +
           field("screens", counts_.screens) + Status() + "}";
}

}  // namespace vantrel::display
