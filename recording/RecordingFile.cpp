// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/RecordingFile.h"

#include "common/ControlCharacters.h"
#include "common/Files.h"
#include "serial/PortTables.h"

#include <algorithm>
#include <charconv>

namespace vantrel::display {

namespace {

constexpr const char* RequiredKeys[] = {"program", "port", "speed", "emulation"};
constexpr double LongestRecordingMs = 1e10;  // some four months

int HexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Takes the field up to the next space (or the end) off `rest`.
std::string_view Field(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    const std::string_view field = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    return field;
}

bool ParseMs(std::string_view text, double& ms) {
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot), fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 11 || (dot != std::string_view::npos && (fraction.empty() || fraction.size() > 6)))
        return false;
    for (char c : whole)
        if (c < '0' || c > '9') return false;
    for (char c : fraction)
        if (c < '0' || c > '9') return false;
    ms = 0;
    for (char c : whole) ms = ms * 10 + (c - '0');
    double scale = 0.1;
    for (char c : fraction) ms += (c - '0') * scale, scale /= 10;
    return ms <= LongestRecordingMs;
}

bool ParseSpeed(std::string_view text, int& baud) {
    if (text == "?") {
        baud = UnknownBaud;
        return true;
    }
    if (text.empty() || text.size() > 7 || text[0] < '1' || text[0] > '9') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), baud);
    return ec == std::errc() && end == text.data() + text.size() && std::find(LineRates.begin(), LineRates.end(), baud) != LineRates.end();
}

}  // namespace

std::string RecordingLine(double ms, char direction, int baud, std::span<const std::uint8_t> bytes) {
    char head[64];
    std::snprintf(head, sizeof head, "%.3f %c %s", ms, direction, baud > 0 ? std::to_string(baud).c_str() : "?");
    std::string line = head;
    line.reserve(line.size() + 3 * bytes.size() + 1);
    for (std::uint8_t b : bytes) {
        static constexpr char Digits[] = "0123456789ABCDEF";
        line += ' ';
        line += Digits[b >> 4];
        line += Digits[b & 15];
    }
    return line + "\n";
}

RecordingParser::Result RecordingParser::Line(std::string_view line, RecordedChunk& chunk, std::string& error) {
    ++lines_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // carried through another system's editor
    const std::string where = "line " + std::to_string(lines_) + ": ";
    if (lines_ == 1) {
        // A text editor may begin the file with UTF-8's byte-order mark (Notepad did).
        if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        if (line.substr(0, RecordingMagic.size()) != RecordingMagic) {
            error = "not a vantrel-display recording (its first line is not \"vantrel-display recording 1\")";
            return Result::Error;
        }
        const std::string_view version = line.substr(RecordingMagic.size());
        if (version != std::to_string(RecordingVersion)) {
            error = "a recording of format version " + std::string(version.substr(0, 16)) +
                    "; this vantrel-display reads version " + std::to_string(RecordingVersion);
            return Result::Error;
        }
        return Result::Ok;
    }
    if (!headerDone_) {
        if (line.empty()) {
            for (const char* key : RequiredKeys)
                if (!header_.count(key)) {
                    error = std::string("the header has no ") + key;
                    return Result::Error;
                }
            if (int baud; !ParseSpeed(header_.at("speed"), baud)) {
                error = "the header's speed is not a speed in bit/s or \"?\"";
                return Result::Error;
            }
            headerDone_ = true;
            return Result::Ok;
        }
        const std::size_t colon = line.find(": ");
        const std::string key(line.substr(0, colon));
        // Values are said on a terminal: no control characters, C1 (U+0080 to
        // U+009F, or such a byte alone) among them.
        if (HasControlCharacter(line)) {
            error = where + "a control character in the header";
            return Result::Error;
        }
        if (colon == std::string_view::npos || key.empty() || key.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos ||
            header_.size() >= 64 || !header_.emplace(key, line.substr(colon + 2)).second) {
            error = where + "not a header line \"key: value\" of a key not seen before";
            return Result::Error;
        }
        return Result::Ok;
    }
    if (!line.empty() && line[0] == '#') return Result::Ok;
    std::string_view rest = line;
    double ms = 0;
    int baud = 0;
    const std::string_view time = Field(rest), direction = Field(rest), speed = Field(rest);
    if (!ParseMs(time, ms) || ms < lastMs_) {
        error = where + "not a time in milliseconds at or after the one before";
        return Result::Error;
    }
    if (direction.size() != 1 || std::string_view("TDPES").find(direction[0]) == std::string_view::npos) {
        error = where + "not a direction T, D, P, E or S";
        return Result::Error;
    }
    if (!ParseSpeed(speed, baud)) {
        error = where + "not a speed in bit/s or \"?\"";
        return Result::Error;
    }
    if (direction[0] == 'S') {
        if (!rest.empty() || baud == UnknownBaud) {
            error = where + "a speed taken is a standard rate and no bytes";
            return Result::Error;
        }
        chunk.bytes.clear();
        lastMs_ = chunk.ms = ms;
        chunk.direction = 'S';
        chunk.baud = baud;
        return Result::Chunk;
    }
    // Two hex digits a byte, one space between; at least one.
    if (rest.empty() || rest.size() % 3 != 2 || rest.size() / 3 + 1 > RecordedChunkLimit) {
        error = where + "no bytes, or not two hex digits a byte with one space between";
        return Result::Error;
    }
    chunk.bytes.clear();
    for (std::size_t i = 0; i < rest.size(); i += 3) {
        const int high = HexDigit(rest[i]), low = HexDigit(rest[i + 1]);
        if (high < 0 || low < 0 || (i + 2 < rest.size() && rest[i + 2] != ' ')) {
            error = where + "no bytes, or not two hex digits a byte with one space between";
            return Result::Error;
        }
        chunk.bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    lastMs_ = chunk.ms = ms;
    chunk.direction = direction[0];
    chunk.baud = baud;
    return Result::Chunk;
}

namespace {

// A line's fingerprint (FNV-1a, 64 bits): enough to tell a line that was rewritten.
std::uint64_t LineHash(std::string_view line) {
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const char c : line) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
    return hash;
}

}  // namespace

RecordingReader::~RecordingReader() {
    if (file_) std::fclose(file_);
}

bool RecordingReader::ReadLine(std::string& line, bool& cut, bool& tooLong) {
    line.clear();
    cut = tooLong = false;
    for (int c; (c = std::getc(file_)) != EOF;) {
        if (c == '\n') return true;
        if (line.size() >= RecordingLineLimit) {
            tooLong = true;
            return false;
        }
        line += static_cast<char>(c);
    }
    cut = !line.empty();
    return false;
}

bool RecordingReader::Open(const std::string& path, std::string& error, std::string& note) {
    note.clear();
    std::string problem;
    file_ = OpenToRead(path, problem);
    // The name as given, said in one line that the terminal obeys nothing of.
    const std::string name = Quoted(path);
    if (!file_) {
        error = name + ": " + problem;
        return false;
    }
    // First the whole file is checked; nothing is replayed from a damaged one.
    std::string line, why;
    RecordedChunk chunk;
    bool cut = false, tooLong = false;
    while (ReadLine(line, cut, tooLong)) {
        lineHashes_.push_back(LineHash(line));
        const auto result = parser_.Line(line, chunk, why);
        if (result == RecordingParser::Result::Error) {
            error = name + ": " + Escaped(why) + "; nothing is replayed";  // a version line's own words too
            return false;
        }
        if (result == RecordingParser::Result::Chunk) ++chunks_;
    }
    if (tooLong) {
        error = name + ": line " + std::to_string(parser_.Lines() + 1) + " is longer than any recording line; nothing is replayed";
        return false;
    }
    if (std::ferror(file_)) {
        error = name + ": cannot be read; nothing is replayed";
        return false;
    }
    if (!parser_.HeaderDone()) {
        error = name + ": " + (parser_.Lines() == 0 && !cut ? std::string("empty") : "cut short in its header") +
                "; nothing is replayed";
        return false;
    }
    if (cut) note = name + ": the last line is cut short (the recording ended abruptly); it is left out";
    header_ = parser_.Header();
    std::rewind(file_);
    parser_ = {};
    return true;
}

bool RecordingReader::Next(RecordedChunk& chunk) {
    std::string line, error;
    bool cut = false, tooLong = false;
    while (given_ < chunks_ && !changed_) {
        // A line missing, or other than the one checked: the file changed since.
        if (!ReadLine(line, cut, tooLong) || linesRead_ >= lineHashes_.size() || LineHash(line) != lineHashes_[linesRead_++]) {
            changed_ = true;
            break;
        }
        const auto result = parser_.Line(line, chunk, error);
        if (result == RecordingParser::Result::Chunk) {
            ++given_;
            return true;
        }
    }
    return false;
}

}  // namespace vantrel::display
