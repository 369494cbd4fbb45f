#ifndef KORVANE_TEXTCLEANING_H
#define KORVANE_TEXTCLEANING_H

#include <string>
#include <string_view>

// Text from files and command lines arrives as bytes; what we show and write must be valid UTF-8
// and, in XML, consist of characters XML 1.0 allows.
namespace korvane::tools {

// Whether aBytes are well-formed UTF-8 of characters XML can hold: no overlong forms, no
// surrogates, nothing above U+10FFFF, no U+FFFE or U+FFFF.
bool isStrictUtf8(std::string_view aBytes);

// Text a file (or a file name) holds, for display, decoded as the LSM reader decodes its texts: cut at
// the first NUL, the bytes themselves when they are UTF-8, otherwise read as Windows-1252, the code page
// microscope software wrote; blank placeholders become empty and control characters blanks.
std::string textFromFile(std::string_view aBytes);

// aBytes as an XML attribute value or element content: every ill-formed UTF-8 sequence replaced by
// U+FFFD (one for each maximal ill-formed part), the control characters XML 1.0 forbids dropped,
// & < > " ' escaped, and tab, line feed and carriage return as references, which attribute values
// would otherwise turn into blanks.
std::string xmlText(std::string_view aBytes);

// aText with A-Z as a-z and every other byte as it is, for matching labels whatever the locale.
std::string asciiLower(std::string_view aText);

}  // namespace korvane::tools

#endif
