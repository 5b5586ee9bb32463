// SPDX-License-Identifier: GPL-3.0-or-later
// The display's glyphs: what a byte shows when it is written. Below 80 hex
// the international set in use (ESC R n) decides, above it the code page;
// while user-defined characters are selected, a defined code shows its dots.
// The user-defined characters in use and as kept (ESC s 1) live here too.
#pragma once

#include "display/Cell.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <span>
#include <string>

namespace vantrel {
struct CodePage;
}

namespace vantrel::display {

class Glyphs {
public:
    Glyphs();

    // What a byte shows, decided as it is written. Most text is printable
    // ASCII: one look-up.
    Cell Decode(std::uint8_t b) { return b >= 0x20 && b < 0x7F && !userSelected_ ? Cell((*ascii_)[b]) : DecodeOther(b); }
    // A run of bytes into as many cells, as Decode decodes each.
    void Decode(std::span<const std::uint8_t> bytes, Cell* cells);

    // ESC @: the USA set and the power-on code page `codePage`, no
    // user-defined character in use (the kept ones stay).
    void Initialise(const char* codePage);
    int InternationalSet() const { return internationalSet_; }
    void SetInternationalSet(int set);
    // The code page in use, by the panel's label ("PC437", ...).
    const char* CodePage() const { return codePage_; }
    void SetCodePage(const char* label) { codePage_ = label; }

    void DefineUserCharacter(std::uint8_t code, std::span<const std::uint8_t> columns);
    void DeleteUserCharacter(std::uint8_t code) { userDefined_.reset(code); }
    void SelectUserCharacters(bool on) { userSelected_ = on; }
    const std::bitset<256>& UserDefined() const { return userDefined_; }
    void SetUserDefined(const std::bitset<256>& defined) { userDefined_ = defined; }
    // The set kept by ESC s 1 and brought back by ESC d 1, and as a state file keeps it.
    void Keep();
    void RestoreKept();
    std::string KeptText() const;
    void SetKept(const std::array<Pattern, 256>& patterns, const std::bitset<256>& defined);

private:
    Cell DecodeOther(std::uint8_t b);

    int internationalSet_ = 0;
    const std::array<char32_t, 128>* ascii_;  // the ASCII positions under the international set
    const char* codePage_ = nullptr;
    const char* decodingPage_ = nullptr;  // the label whose glyphs `page_` holds
    const vantrel::CodePage* page_ = nullptr;
    std::array<Pattern, 256> patterns_{};
    std::bitset<256> userDefined_;
    bool userSelected_ = false;
    std::array<Pattern, 256> keptPatterns_{};
    std::bitset<256> keptDefined_;
};

// The kept user-defined characters as text, and back: "41=3649494936 42=...".
std::string UserCharactersText(const std::array<Pattern, 256>& patterns, const std::bitset<256>& defined);
bool ParseUserCharacters(const std::string& text, std::array<Pattern, 256>& patterns, std::bitset<256>& defined);

// The character a code page shows for a byte, by the panel's code-page label
// ("PC437", "W1252", ...); U+FFFD where the page has none.
char32_t CodePageGlyph(const char* codePage, std::uint8_t byte);
// The character of an ASCII position under an international set 0..15 (the
// ESC R n numbering); other bytes are returned unchanged.
char32_t InternationalGlyph(int set, std::uint8_t byte);

std::string Utf8(char32_t c);

}  // namespace vantrel::display
