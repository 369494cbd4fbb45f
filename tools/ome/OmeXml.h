#ifndef KORVANE_OMEXML_H
#define KORVANE_OMEXML_H

#include <string>

#include "StackSummary.h"

namespace korvane::tools {

// The OME-XML (2016-06) for one image of XYZCT planes, stored one plane per TIFF directory.
std::string omeXml(const StackSummary& aStack, int aPixelType, const std::string& aImageName);

}  // namespace korvane::tools

#endif
