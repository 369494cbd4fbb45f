#include "PixelDataType.h"

std::string pixelDataTypeName(int aPixelType) {
    static const char* const names[] = {"TYPE_INT8",  "TYPE_UINT8",  "TYPE_INT16", "TYPE_UINT16",
                                        "TYPE_INT32", "TYPE_UINT32", "TYPE_FLOAT", "TYPE_DOUBLE"};
    const unsigned index = static_cast<unsigned>(aPixelType);
    return index < 8 ? names[index] : "TYPE_NONE";
}
