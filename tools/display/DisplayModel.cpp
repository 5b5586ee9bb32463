// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/display/DisplayModel.h"

#include "commands/CommandFrames.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <cstring>
#include <iconv.h>
#include <map>
#include <mutex>

namespace vantrel::display {

namespace {

constexpr std::uint8_t ESC = 0x1B, BS = 0x08, HT = 0x09, LF = 0x0A, VT = 0x0B, FF = 0x0C, CR = 0x0D, BEL = 0x07;

constexpr const char* DemoText = "  VANTREL CUSTOMER DISPLAY  *  2 x 20  *  DEMO  ";

// The label of an option frame, found by its group letter and argument.
const char* OptionLabel(char group, std::uint8_t argument) {
    for (const OptionFrame& f : OptionFrameTable)
        if (f.group == group && f.argument == argument) return f.label;
    return nullptr;
}

// iconv names of the code pages that the display offers.
const char* IconvName(const std::string& codePage) {
    static const std::map<std::string, const char*> names{
        {"PC437", "CP437"}, {"JIS", "SHIFT_JIS"},  {"PC850", "CP850"},   {"PC860", "CP860"},
        {"PC863", "CP863"}, {"PC865", "CP865"},    {"PC737", "CP737"},   {"W1250", "CP1250"},
        {"W1251", "CP1251"}, {"W1252", "CP1252"},  {"PC866", "CP866"},   {"PC852", "CP852"},
        {"PC858", "CP858"}, {"PC775", "CP775"},    {"W1253", "CP1253"},  {"W1254", "CP1254"},
        {"W1257", "CP1257"}, {"PC864", "CP864"},   {"Farsi", "CP1256"},  {"W1255", "CP1255"},
    };
    const auto it = names.find(codePage);
    return it == names.end() ? "CP437" : it->second;
}

// The national characters at # $ @ [ \ ] ^ ` { | } ~ for each ESC R n set.
constexpr std::uint8_t NationalPositions[12] = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
constexpr char32_t NationalSets[16][12] = {
    {U'#', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // USA
    {U'#', U'$', U'à', U'°', U'ç', U'§', U'^', U'`', U'é', U'ù', U'è', U'¨'},       // France
    {U'#', U'$', U'§', U'Ä', U'Ö', U'Ü', U'^', U'`', U'ä', U'ö', U'ü', U'ß'},       // Germany
    {U'£', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // United Kingdom
    {U'#', U'$', U'@', U'Æ', U'Ø', U'Å', U'^', U'`', U'æ', U'ø', U'å', U'~'},       // Denmark I
    {U'#', U'¤', U'É', U'Ä', U'Ö', U'Å', U'Ü', U'é', U'ä', U'ö', U'å', U'ü'},       // Sweden
    {U'#', U'$', U'@', U'°', U'\\', U'é', U'^', U'ù', U'à', U'ò', U'è', U'ì'},      // Italy
    {U'₧', U'$', U'@', U'¡', U'Ñ', U'¿', U'^', U'`', U'¨', U'ñ', U'}', U'~'},       // Spain I
    {U'#', U'$', U'@', U'[', U'¥', U']', U'^', U'`', U'{', U'|', U'}', U'~'},       // Japan
    {U'#', U'¤', U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'},       // Norway
    {U'#', U'$', U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'},       // Denmark II
    {U'#', U'$', U'á', U'¡', U'Ñ', U'¿', U'é', U'`', U'í', U'ñ', U'ó', U'ú'},       // Spain II
    {U'#', U'$', U'á', U'¡', U'Ñ', U'¿', U'é', U'ü', U'í', U'ñ', U'ó', U'ú'},       // Latin America
    {U'#', U'$', U'@', U'[', U'₩', U']', U'^', U'`', U'{', U'|', U'}', U'~'},       // Korea
    {U'#', U'$', U'Ž', U'Š', U'Đ', U'Ć', U'Č', U'ž', U'š', U'đ', U'ć', U'č'},       // Slovenia/Croatia
    {U'#', U'¥', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // China
};

// The glyphs of PC437 at the control positions, for bytes shown as characters.
constexpr char32_t ControlGlyphs[32] = {
    U' ', U'☺', U'☻', U'♥', U'♦', U'♣', U'♠', U'•', U'◘', U'○', U'◙', U'♂', U'♀', U'♪', U'♫', U'☼',
    U'►', U'◄', U'↕', U'‼', U'¶', U'§', U'▬', U'↨', U'↑', U'↓', U'→', U'←', U'∟', U'↔', U'▲', U'▼'};

// A character that a display shows for a byte it received at the wrong speed.
std::uint8_t GarbageFor(std::uint8_t b, int lineBaud, int ownBaud) {
    const unsigned mix = (b * 151u) ^ static_cast<unsigned>(lineBaud / 100) ^ static_cast<unsigned>(ownBaud / 300);
    return static_cast<std::uint8_t>(0xB0 + mix % 0x30);  // block and line-drawing glyphs of PC437
}

}  // namespace

std::string Utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

char32_t CodePageGlyph(const char* codePage, std::uint8_t byte) {
    if (byte < 0x80) return byte;
    // Each page's upper half is decoded once and kept.
    static std::mutex mutex;
    static std::map<std::string, std::array<char32_t, 128>> pages;
    std::lock_guard lock(mutex);
    auto [it, fresh] = pages.try_emplace(codePage);
    if (fresh) {
        iconv_t cd = iconv_open("UTF-32LE", IconvName(codePage));
        for (int i = 0; i < 128; ++i) {
            char in = static_cast<char>(0x80 + i);
            char32_t out = 0xFFFD;
            char* inp = &in;
            char* outp = reinterpret_cast<char*>(&out);
            std::size_t inLeft = 1, outLeft = sizeof out;
            if (cd == reinterpret_cast<iconv_t>(-1) || iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1))
                out = 0xFFFD;
            it->second[i] = out;
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    return it->second[byte - 0x80];
}

char32_t InternationalGlyph(int set, std::uint8_t byte) {
    if (set < 0 || set > 15) set = 0;
    for (int i = 0; i < 12; ++i)
        if (NationalPositions[i] == byte) return NationalSets[set][i];
    return byte;
}

DisplayModel::DisplayModel() {
    Initialise();
    interpreter_ = MakeInterpreter(emulation_);
}

DisplayModel::~DisplayModel() = default;

void DisplayModel::Initialise() {
    // Power-on defaults. The emulation and the display's own speed are its
    // stored configuration and survive an initialise.
    if (!emulation_) emulation_ = OptionLabel('C', '0');
    if (!storedInternational_) storedInternational_ = OptionLabel('S', '0');
    if (!storedCodePage_) storedCodePage_ = OptionLabel('F', '0');
    international_ = OptionLabel('S', '0');
    internationalSet_ = 0;
    codePage_ = OptionLabel('F', '0');
    demo_ = false;
    ResetModes();
    ClearScreen();
}

void DisplayModel::ResetModes() {
    modes_.fill(Mode::Overwrite);
    brightness_ = 100;
    cursorVisible_ = false;
    pending_ = false;
}

Setup DisplayModel::StoredSetup() const { return {emulation_, ownBaud_, storedInternational_, storedCodePage_}; }

bool DisplayModel::Restore(const Setup& setup) {
    const OptionFrame *c = nullptr, *s = nullptr, *f = nullptr;
    bool baudKnown = false;
    for (const OptionFrame& o : OptionFrameTable) {
        if (o.group == 'C' && setup.emulation && !std::strcmp(o.label, setup.emulation)) c = &o;
        if (o.group == 'S' && setup.international && !std::strcmp(o.label, setup.international)) s = &o;
        if (o.group == 'F' && setup.codePage && !std::strcmp(o.label, setup.codePage)) f = &o;
        if (o.group == 'B' && std::atoi(o.label) == setup.ownBaud) baudKnown = true;
    }
    if (!c || !s || !f || !baudKnown) return false;
    emulation_ = c->label;
    interpreter_ = MakeInterpreter(emulation_);
    ownBaud_ = setup.ownBaud;
    storedInternational_ = international_ = s->label;
    internationalSet_ = s->argument - '0';
    storedCodePage_ = codePage_ = f->label;
    return true;
}

bool DisplayModel::SetEmulation(const char* label) {
    Setup setup = StoredSetup();
    setup.emulation = label;
    return Restore(setup);
}

void DisplayModel::OnSetupChanged(std::function<void(const Setup&)> listener) { setupListener_ = std::move(listener); }

std::vector<Reading> DisplayModel::TakeReadings() { return std::exchange(readings_, {}); }

std::size_t DisplayModel::TakeReadingsLeftOut() { return std::exchange(readingsLeftOut_, 0); }

// ---- Readings ----

void DisplayModel::Add(std::string meaning) {
    const bool merges = meaning == "text" || meaning.empty();
    if (merges && !readings_.empty() && readings_.back().meaning == meaning) {
        if (readings_.back().bytes.size() < 256) readings_.back().bytes += token_;
    } else if (readings_.size() < ReadingLimit) {
        readings_.push_back({token_, std::move(meaning)});
    } else {
        // Nobody may be taking them, or a flood outruns the monitor: counted, not kept.
        ++readingsLeftOut_;
    }
    token_.clear();
}

void DisplayModel::Done(const char* meaning) { Add(meaning); }
void DisplayModel::Shown() { Add("text"); }
void DisplayModel::Unread() { Add(""); }

// ---- Screen ----

void DisplayModel::ClearScreen() {
    for (auto& row : cells_) row.fill(' ');
    for (auto& row : garbage_) row.fill(false);
    row_ = column_ = 0;
    pending_ = false;
}

void DisplayModel::ClearRow(int row) {
    cells_[row].fill(' ');
    garbage_[row].fill(false);
    MoveTo(row, 0);
}

void DisplayModel::ClearPositions(int from, int to) {
    for (int p = from; p <= to; ++p) {
        cells_[p / Columns][p % Columns] = ' ';
        garbage_[p / Columns][p % Columns] = false;
    }
    MoveTo(from / Columns, from % Columns);
}

void DisplayModel::WriteRow(int row, const std::string& text) {
    ClearRow(row);
    for (std::size_t i = 0; i < text.size() && i < static_cast<std::size_t>(Columns); ++i) cells_[row][i] = static_cast<std::uint8_t>(text[i]);
    MoveTo(row, static_cast<int>(std::min<std::size_t>(text.size(), Columns - 1)));
}

void DisplayModel::MoveTo(int row, int column) {
    row_ = row;
    column_ = column;
    pending_ = false;
}

void DisplayModel::ScrollUp() {
    cells_[0] = cells_[1];
    garbage_[0] = garbage_[1];
    cells_[1].fill(' ');
    garbage_[1].fill(false);
}

void DisplayModel::Advance() {
    if (column_ + 1 < Columns) {
        ++column_;
        return;
    }
    switch (modes_[row_]) {
    case Mode::Overwrite:
        column_ = 0;
        row_ = (row_ + 1) % Rows;  // the end of line 2 goes back home
        break;
    case Mode::VerticalScroll:
        if (row_ == 0) MoveTo(1, 0);
        else pending_ = true;  // scrolls when the next character comes
        break;
    case Mode::HorizontalScroll: pending_ = true; break;
    }
}

void DisplayModel::Show(std::uint8_t b) {
    if (pending_) {
        pending_ = false;
        if (modes_[row_] == Mode::VerticalScroll && row_ == Rows - 1) {
            ScrollUp();
            column_ = 0;
        } else {  // horizontal scroll: the row moves left by one
            std::copy(cells_[row_].begin() + 1, cells_[row_].end(), cells_[row_].begin());
            std::copy(garbage_[row_].begin() + 1, garbage_[row_].end(), garbage_[row_].begin());
            column_ = Columns - 1;
        }
    }
    cells_[row_][column_] = b;
    garbage_[row_][column_] = false;
    Advance();
}

void DisplayModel::Backspace() {
    if (column_ > 0) MoveTo(row_, column_ - 1);
    else if (row_ > 0) MoveTo(row_ - 1, Columns - 1);
}

void DisplayModel::Tab() {
    pending_ = false;
    Advance();
}

void DisplayModel::LineFeed() {
    if (row_ == Rows - 1 && modes_[row_] == Mode::VerticalScroll) {
        ScrollUp();
        // A full row already stood at the start of the next one: the feed is that scroll.
        if (pending_) MoveTo(row_, 0);
    } else {
        MoveTo((row_ + 1) % Rows, column_);
    }
}

void DisplayModel::CarriageReturn() { MoveTo(row_, 0); }

void DisplayModel::SetMode(Mode mode) {
    modes_.fill(mode);
    pending_ = false;
}

void DisplayModel::SetRowMode(int row, Mode mode) {
    modes_[row] = mode;
    pending_ = false;
}

void DisplayModel::SetInternationalSet(int set) {
    internationalSet_ = set;
    international_ = OptionLabel('S', static_cast<std::uint8_t>('0' + set));
}

// ---- Bytes ----

void DisplayModel::Feed(const std::uint8_t* data, std::size_t n, int lineBaud) {
    lineBaud_ = lineBaud;
    for (std::size_t i = 0; i < n; ++i) {
        if (SpeedMismatch()) {
            // A command cut short by the change is read as it stands, not
            // carried into the next reading.
            if (!token_.empty()) Unread();
            frame_ = Frame::None;
            escape_ = false;
            cells_[row_][column_] = GarbageFor(data[i], lineBaud, ownBaud_);
            garbage_[row_][column_] = true;
            Advance();
            pending_ = false;
        } else {
            Byte(data[i]);
        }
    }
}

void DisplayModel::Configure(char group, std::uint8_t argument) {
    const char* label = OptionLabel(group, argument);
    if (!label) return;  // an argument the display doesn't know: ignored
    switch (group) {
    case 'C':
        emulation_ = label;
        interpreter_ = MakeInterpreter(label);
        break;
    case 'B': ownBaud_ = std::atoi(label); break;
    case 'S':
        storedInternational_ = international_ = label;
        internationalSet_ = argument - '0';
        break;
    case 'F': storedCodePage_ = codePage_ = label; break;
    }
    if (setupListener_) setupListener_(StoredSetup());
}

void DisplayModel::Byte(std::uint8_t b) {
    // A command that never ends must not grow without bound in the monitor.
    if (token_.size() < 256) token_ += static_cast<char>(b);
    Dispatch(b);
}

void DisplayModel::Dispatch(std::uint8_t b) {
    if (!FrameByte(b)) interpreter_->Byte(*this, b);
}

// The set-up commands every emulation keeps: configuration frames, demo on and
// off, ESC @; NUL between commands is ignored. A NUL inside a command is an
// argument (DLE 00 is position 0) and goes to the interpreter.
bool DisplayModel::FrameByte(std::uint8_t b) {
    switch (frame_) {
    case Frame::Stx:
        frame_ = Frame::None;
        if (b == 0x05) {
            frame_ = Frame::Enq;
            return true;
        }
        // Not a frame after all: the STX and this byte belong to the emulation.
        token_ = "\x02";
        interpreter_->Byte(*this, 0x02);
        token_ += static_cast<char>(b);
        Dispatch(b);
        return true;
    case Frame::Enq:
        group_ = static_cast<char>(b);
        if (b == 'C' || b == 'B' || b == 'S' || b == 'F') frame_ = Frame::Argument;
        else if (b == 'D' || b == BEL) frame_ = Frame::Etx;
        else frame_ = Frame::None, Unread();
        return true;
    case Frame::Argument:
        argument_ = b;
        frame_ = Frame::Etx;
        return true;
    case Frame::Etx:
        frame_ = Frame::None;
        if (b != 0x03) {  // a broken frame is dropped
            Unread();
            return true;
        }
        if (group_ == 'D') {
            demo_ = true;
            demoStep_ = 0;
            Done("demonstration on");
        } else if (group_ == BEL) {
            demo_ = false;
            Done("demonstration off");
        } else if (OptionLabel(group_, argument_)) {
            Configure(group_, argument_);
            const char* what = group_ == 'C' ? "emulation " : group_ == 'B' ? "own speed " : group_ == 'S' ? "international set " : "code page ";
            Done(std::string("set-up: ") + what + OptionLabel(group_, argument_));
        } else {
            Unread();
        }
        return true;
    case Frame::None: break;
    }
    if (escape_) {
        escape_ = false;
        if (b == '@') {
            Initialise();
            Done("initialise");
            return true;
        }
        interpreter_->Byte(*this, ESC);
        Dispatch(b);
        return true;
    }
    if (!interpreter_->AtGround()) return false;
    if (b == 0x00) {
        token_.clear();
        return true;
    }
    if (b == 0x02) {
        frame_ = Frame::Stx;
        return true;
    }
    if (b == ESC) {
        escape_ = true;
        return true;
    }
    return false;
}

void DisplayModel::Tick() {
    if (demo_) ++demoStep_;
}

char32_t DisplayModel::Glyph(int row, int column) const {
    if (demo_) {
        const std::size_t len = std::strlen(DemoText);
        const std::size_t at = (static_cast<std::size_t>(demoStep_) + static_cast<std::size_t>(column) + (row == 1 ? len / 2 : 0)) % len;
        return static_cast<char32_t>(DemoText[at]);
    }
    const std::uint8_t b = cells_[row][column];
    if (garbage_[row][column]) return CodePageGlyph("PC437", b);
    if (b < 0x20) return ControlGlyphs[b];  // shown by an emulation that shows every byte
    if (b == 0x7F) return U'⌂';             // the code pages' own glyph at DEL, as PC437 draws it
    return b < 0x80 ? InternationalGlyph(internationalSet_, b) : CodePageGlyph(codePage_, b);
}

std::string DisplayModel::Line(int row) const {
    std::string s;
    for (int c = 0; c < Columns; ++c) s += Utf8(Glyph(row, c));
    return s;
}

std::string DisplayModel::Status() const {
    std::string s = std::string(emulation_) + "  " + std::to_string(ownBaud_) + " bit/s  " + international_ + "  " +
                    codePage_ + "  demo " + (demo_ ? "on" : "off");
    if (brightness_ != 100) s += "  brightness " + std::to_string(brightness_) + "%";
    if (cursorVisible_) s += "  cursor on";
    if (SpeedMismatch())
        s += "  |  line at " + (lineBaud_ == UnknownBaud ? std::string("an unknown speed") : std::to_string(lineBaud_) + " bit/s") +
             ", display expects " + std::to_string(ownBaud_);
    return s;
}

}  // namespace vantrel::display

namespace vantrel::display {

std::string DescribeReading(const Reading& reading) {
    static constexpr const char* Names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
                                              "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                              "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    // Printable runs in quotes, control bytes by name, the rest in hex.
    std::string out, run;
    auto token = [&out](const std::string& t) { out += (out.empty() ? "" : " ") + t; };
    for (const char c : reading.bytes) {
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
    if (reading.meaning.empty()) return "[unread " + out + "]";
    return out + "  " + reading.meaning;
}

}  // namespace vantrel::display
