#ifndef KORVANE_LSMTEXT_H
#define KORVANE_LSMTEXT_H

#include <cstddef>
#include <string>

// A text field of an LSM block as UTF-8: cut at the first NUL (the bytes after it may be garbage),
// taken as UTF-8 when it is valid UTF-8 and as Windows-1252 otherwise (the microscope software ran on
// Windows), and empty when it holds only blanks, line breaks or the literal characters "\r\n".
std::string decodeLSMText(const unsigned char* aBytes, size_t aSize);

#endif
