#include "TextCleaning.h"

#include <cstdint>

#include "LSMText.h"

namespace korvane::tools {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the character at aAt and advances aAt past it. A sequence that is ill-formed, or a
// surrogate, or a noncharacter XML refuses, gives kInvalid; aAt then moves past its maximal
// ill-formed part (the longest prefix that a well-formed sequence could have started with).
char32_t nextCharacter(std::string_view aBytes, std::size_t& aAt) {
    const unsigned char lead = static_cast<unsigned char>(aBytes[aAt++]);
    if (lead < 0x80) return lead;
    // Continuation bytes needed and the range of the first, which rules out overlong forms,
    // surrogates and code points above U+10FFFF.
    int needed;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return kInvalid;
    }
    char32_t character = lead & (0x3F >> needed);
    for (int k = 0; k < needed; ++k) {
        if (aAt >= aBytes.size()) return kInvalid;
        const unsigned char next = static_cast<unsigned char>(aBytes[aAt]);
        if (next < low || next > high) return kInvalid;
        character = character << 6 | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
        ++aAt;
    }
    return character == 0xFFFE || character == 0xFFFF ? kInvalid : character;
}

void appendUtf8(std::string& aText, char32_t aCharacter) {
    if (aCharacter < 0x80) {
        aText += char(aCharacter);
    } else if (aCharacter < 0x800) {
        aText += char(0xC0 | aCharacter >> 6);
        aText += char(0x80 | (aCharacter & 0x3F));
    } else if (aCharacter < 0x10000) {
        aText += char(0xE0 | aCharacter >> 12);
        aText += char(0x80 | (aCharacter >> 6 & 0x3F));
        aText += char(0x80 | (aCharacter & 0x3F));
    } else {
        aText += char(0xF0 | aCharacter >> 18);
        aText += char(0x80 | (aCharacter >> 12 & 0x3F));
        aText += char(0x80 | (aCharacter >> 6 & 0x3F));
        aText += char(0x80 | (aCharacter & 0x3F));
    }
}

}  // namespace

bool isStrictUtf8(std::string_view aBytes) {
    for (std::size_t at = 0; at < aBytes.size();)
        if (nextCharacter(aBytes, at) == kInvalid) return false;
    return true;
}

std::string textFromFile(std::string_view aBytes) {
    // The reader's decoding, so that a name reads the same in the window, in info and in OME-XML.
    std::string text = decodeLSMText(reinterpret_cast<const unsigned char*>(aBytes.data()), aBytes.size());
    for (char& ch : text)
        if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
    return text;
}

std::string xmlText(std::string_view aBytes) {
    std::string text;
    text.reserve(aBytes.size());
    for (std::size_t at = 0; at < aBytes.size();) {
        const char32_t character = nextCharacter(aBytes, at);
        switch (character) {
            case '&':
                text += "&amp;";
                break;
            case '<':
                text += "&lt;";
                break;
            case '>':
                text += "&gt;";
                break;
            case '"':
                text += "&quot;";
                break;
            case '\'':
                text += "&apos;";
                break;
            case '\t':
                text += "&#9;";
                break;
            case '\n':
                text += "&#10;";
                break;
            case '\r':
                text += "&#13;";
                break;
            case kInvalid:
                appendUtf8(text, 0xFFFD);
                break;
            default:
                if (character >= 0x20) appendUtf8(text, character);
        }
    }
    return text;
}

std::string asciiLower(std::string_view aText) {
    std::string lowered(aText);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return lowered;
}

}  // namespace korvane::tools
