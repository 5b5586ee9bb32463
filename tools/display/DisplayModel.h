// A 2 x 20 customer display, as a byte interpreter: what it shows for every
// byte the line brings. No Qt here: the window, the headless printer and the
// tests all drive this one model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::display {

inline constexpr int Rows = 2;
inline constexpr int Columns = 20;
inline constexpr int PowerOnBaud = 9600;

class DisplayModel {
public:
    DisplayModel();

    // Bytes as they arrive on a line running at `lineBaud`. When that differs
    // from the display's own speed, every byte shows as garbage and no command
    // is understood, as on a real display.
    void Feed(const std::uint8_t* data, std::size_t n, int lineBaud);
    // One step of the running demonstration text.
    void Tick();

    // What a cell shows now (the demo text while it runs), as a Unicode character.
    char32_t Glyph(int row, int column) const;
    // A screen line in UTF-8.
    std::string Line(int row) const;
    std::string Status() const;

    int OwnBaud() const { return ownBaud_; }
    const char* Emulation() const { return emulation_; }
    const char* International() const { return international_; }
    const char* CodePage() const { return codePage_; }
    bool DemoRunning() const { return demo_; }
    int LineBaud() const { return lineBaud_; }
    bool SpeedMismatch() const { return lineBaud_ != 0 && lineBaud_ != ownBaud_; }
    int CursorRow() const { return row_; }
    int CursorColumn() const { return column_; }

private:
    enum class State { Ground, Escape, EscapeR, Stx, Enq, Argument, Etx };

    void Byte(std::uint8_t b);
    void Put(std::uint8_t b);
    void Advance();
    void Clear();
    void Initialise();
    void Configure(char group, std::uint8_t argument);

    std::array<std::array<std::uint8_t, Columns>, Rows> cells_{};
    std::array<std::array<bool, Columns>, Rows> garbage_{};
    int row_ = 0;
    int column_ = 0;
    State state_ = State::Ground;
    char group_ = 0;
    std::uint8_t argument_ = 0;

    const char* emulation_ = nullptr;
    const char* international_ = nullptr;
    const char* codePage_ = nullptr;
    int internationalSet_ = 0;
    int ownBaud_ = PowerOnBaud;
    int lineBaud_ = 0;
    bool demo_ = false;
    int demoStep_ = 0;
};

// The character a code page shows for a byte, by the panel's code-page label
// ("PC437", "W1252", ...); U+FFFD where the page has none.
char32_t CodePageGlyph(const char* codePage, std::uint8_t byte);
// The character of an ASCII position under an international set 0..15 (the
// ESC R n numbering); other bytes are returned unchanged.
char32_t InternationalGlyph(int set, std::uint8_t byte);

std::string Utf8(char32_t c);

}  // namespace vantrel::display
