#include "tools/display/DisplayModel.h"

#include "commands/CommandFrames.h"

#include <cstdlib>
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

DisplayModel::DisplayModel() { Initialise(); }

void DisplayModel::Initialise() {
    // Power-on defaults. The emulation and the display's own speed are its
    // stored configuration and survive an initialise.
    if (!emulation_) emulation_ = OptionLabel('C', '0');
    international_ = OptionLabel('S', '0');
    internationalSet_ = 0;
    codePage_ = OptionLabel('F', '0');
    demo_ = false;
    Clear();
}

void DisplayModel::Clear() {
    for (auto& row : cells_) row.fill(' ');
    for (auto& row : garbage_) row.fill(false);
    row_ = column_ = 0;
}

void DisplayModel::Advance() {
    if (++column_ < Columns) return;
    column_ = 0;
    row_ = (row_ + 1) % Rows;  // the end of line 2 goes back home: overwrite mode
}

void DisplayModel::Put(std::uint8_t b) {
    cells_[row_][column_] = b;
    garbage_[row_][column_] = false;
    Advance();
}

void DisplayModel::Feed(const std::uint8_t* data, std::size_t n, int lineBaud) {
    lineBaud_ = lineBaud;
    for (std::size_t i = 0; i < n; ++i) {
        if (SpeedMismatch()) {
            state_ = State::Ground;
            cells_[row_][column_] = GarbageFor(data[i], lineBaud, ownBaud_);
            garbage_[row_][column_] = true;
            Advance();
        } else {
            Byte(data[i]);
        }
    }
}

void DisplayModel::Configure(char group, std::uint8_t argument) {
    const char* label = OptionLabel(group, argument);
    if (!label) return;  // an argument the display doesn't know: ignored
    switch (group) {
    case 'C': emulation_ = label; break;
    case 'B': ownBaud_ = std::atoi(label); break;
    case 'S':
        international_ = label;
        internationalSet_ = argument - '0';
        break;
    case 'F': codePage_ = label; break;
    }
}

void DisplayModel::Byte(std::uint8_t b) {
    switch (state_) {
    case State::Escape:
        state_ = State::Ground;
        if (b == '@') Initialise();
        else if (b == 'R') state_ = State::EscapeR;
        return;
    case State::EscapeR:
        state_ = State::Ground;
        if (b < 16) {
            internationalSet_ = b;
            international_ = OptionLabel('S', static_cast<std::uint8_t>('0' + b));
        }
        return;
    case State::Stx:
        state_ = b == 0x05 ? State::Enq : State::Ground;
        if (state_ == State::Ground) Byte(b);
        return;
    case State::Enq:
        group_ = static_cast<char>(b);
        if (b == 'C' || b == 'B' || b == 'S' || b == 'F') state_ = State::Argument;
        else if (b == 'D' || b == BEL) state_ = State::Etx;
        else state_ = State::Ground;
        return;
    case State::Argument:
        argument_ = b;
        state_ = State::Etx;
        return;
    case State::Etx:
        state_ = State::Ground;
        if (b != 0x03) return;  // a broken frame is dropped
        if (group_ == 'D') {
            demo_ = true;
            demoStep_ = 0;
        } else if (group_ == BEL) {
            demo_ = false;
        } else {
            Configure(group_, argument_);
        }
        return;
    case State::Ground: break;
    }
    switch (b) {
    case FF: Clear(); return;
    case ESC: state_ = State::Escape; return;
    case 0x02: state_ = State::Stx; return;
    case BS:
        if (column_ > 0) --column_;
        else if (row_ > 0) column_ = Columns - 1, --row_;
        return;
    case HT: Advance(); return;
    case LF: row_ = (row_ + 1) % Rows; return;
    case CR: column_ = 0; return;
    case VT: row_ = column_ = 0; return;
    default:
        if (b >= 0x20 && b != 0x7F) Put(b);  // other control bytes are ignored
    }
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
    if (SpeedMismatch())
        s += "  |  line at " + std::to_string(lineBaud_) + " bit/s, display expects " + std::to_string(ownBaud_);
    return s;
}

}  // namespace vantrel::display
