#ifndef KORVANE_PIXELDATATYPE_H
#define KORVANE_PIXELDATATYPE_H

#include <string>

// Element type of a channel, as reported by a reader.
enum PixelDataType {
    TYPE_INT8 = 0,
    TYPE_UINT8 = 1,
    TYPE_INT16 = 2,
    TYPE_UINT16 = 3,
    TYPE_INT32 = 4,
    TYPE_UINT32 = 5,
    TYPE_FLOAT = 6,
    TYPE_DOUBLE = 7
};

// Printable name of a pixel data type; any value outside 0..7 is "TYPE_NONE".
std::string pixelDataTypeName(int aPixelType);

#endif
