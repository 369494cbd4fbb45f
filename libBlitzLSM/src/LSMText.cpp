#include "LSMText.h"

#include <cstdint>
#include <cstring>

namespace {

// Length of the well-formed UTF-8 sequence at aText (at most aLeft bytes), 0 if there is none.
size_t utf8SequenceLength(const unsigned char* aText, size_t aLeft) {
    const unsigned char lead = aText[0];
    if (lead < 0x80) return 1;
    size_t length;
    uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (length > aLeft) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((aText[i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (aText[i] & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool isUtf8(const unsigned char* aText, size_t aSize) {
    for (size_t i = 0; i < aSize;) {
        const size_t length = utf8SequenceLength(aText + i, aSize - i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

void appendCodePoint(std::string& aText, uint32_t aCode) {
    if (aCode < 0x80) {
        aText += char(aCode);
    } else if (aCode < 0x800) {
        aText += char(0xC0 | aCode >> 6);
        aText += char(0x80 | (aCode & 0x3F));
    } else {
        aText += char(0xE0 | aCode >> 12);
        aText += char(0x80 | (aCode >> 6 & 0x3F));
        aText += char(0x80 | (aCode & 0x3F));
    }
}

// Windows-1252 bytes 0x80 to 0x9F; the five it leaves undefined become U+FFFD.
constexpr uint16_t kWindows1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                           0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// Blanks, line breaks and the four characters backslash r backslash n that some files store instead.
bool isPlaceholder(const std::string& aText) {
    for (size_t i = 0; i < aText.size(); ++i) {
        const char c = aText[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') continue;
        if (c == '\\' && i + 1 < aText.size() && (aText[i + 1] == 'r' || aText[i + 1] == 'n')) {
            ++i;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

std::string decodeLSMText(const unsigned char* aBytes, size_t aSize) {
    if (aBytes == nullptr) return std::string();
    const void* nul = std::memchr(aBytes, 0, aSize);
    const size_t length = nul ? size_t(static_cast<const unsigned char*>(nul) - aBytes) : aSize;
    std::string text;
    if (isUtf8(aBytes, length)) {
        text.assign(reinterpret_cast<const char*>(aBytes), length);
    } else {
        text.reserve(length + length / 2);
        for (size_t i = 0; i < length; ++i) {
            const unsigned char byte = aBytes[i];
            appendCodePoint(text, byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
        }
    }
    return isPlaceholder(text) ? std::string() : text;
}
