#ifndef KORVANE_LUT_H
#define KORVANE_LUT_H

#include <QRgb>
#include <QString>
#include <QStringList>
#include <array>

#include "ChannelDisplay.h"

// 256 opaque colours, from level 0 (black) to level 255.
using LutTable = std::array<QRgb, 256>;

// aFileColour is what FileColour stands for: level 255 shows it, lower levels scale it down.
LutTable lutTable(Lut aLut, QRgb aFileColour);

// Names in the order of the enumeration, for menus.
QStringList lutNames();

// Emission colour of light of aNanometres (380..780), as the eye sees it; black outside.
QRgb wavelengthColour(double aNanometres);

// The colour of channel aIndex of aCount when they are bands of a spectrum whose wavelengths the file
// does not give: hues spread evenly from violet (first) to red (last).
QRgb spectrumColour(int aIndex, int aCount);

#endif
