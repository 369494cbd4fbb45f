#include "Lut.h"

#include <QColor>
#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace {

QRgb scaled(QRgb aColour, int aLevel) {
    const auto part = [&](int aValue) { return (aValue * aLevel + 127) / 255; };
    return qRgb(part(qRed(aColour)), part(qGreen(aColour)), part(qBlue(aColour)));
}

// Black through purple, red, orange and yellow to white: brightness rises all the way.
QRgb fire(int aLevel) {
    struct Stop {
        double at;
        double r, g, b;
    };
    static const Stop stops[] = {{0.0, 0, 0, 0},     {0.2, 80, 0, 120},   {0.45, 220, 30, 30},
                                 {0.7, 255, 150, 0}, {0.9, 255, 240, 60}, {1.0, 255, 255, 255}};
    const double t = aLevel / 255.0;
    int i = 0;
    while (i + 2 < int(std::size(stops)) && t > stops[i + 1].at) ++i;
    const Stop& a = stops[i];
    const Stop& b = stops[i + 1];
    const double f = (t - a.at) / (b.at - a.at);
    const auto mix = [f](double aFrom, double aTo) { return int(std::lround(aFrom + (aTo - aFrom) * f)); };
    return qRgb(mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b));
}

}  // namespace

LutTable lutTable(Lut aLut, QRgb aFileColour) {
    QRgb top = 0xFFFFFF;
    switch (aLut) {
        case Lut::FileColour:
            top = aFileColour;
            break;
        case Lut::Grey:
            top = 0xFFFFFF;
            break;
        case Lut::Red:
            top = 0xFF0000;
            break;
        case Lut::Green:
            top = 0x00FF00;
            break;
        case Lut::Blue:
            top = 0x0000FF;
            break;
        case Lut::Cyan:
            top = 0x00FFFF;
            break;
        case Lut::Magenta:
            top = 0xFF00FF;
            break;
        case Lut::Yellow:
            top = 0xFFFF00;
            break;
        case Lut::Fire:
            break;
    }
    LutTable table;
    for (int level = 0; level < 256; ++level)
        table[size_t(level)] = aLut == Lut::Fire ? fire(level) : scaled(top, level);
    return table;
}

QStringList lutNames() {
    const char* const names[] = {"File colour", "Grey",    "Red",    "Green", "Blue",
                                 "Cyan",        "Magenta", "Yellow", "Fire"};
    QStringList list;
    for (const char* name : names) list << QCoreApplication::translate("Lut", name);
    return list;
}

QRgb wavelengthColour(double aNanometres) {
    const double w = aNanometres;
    double r = 0, g = 0, b = 0;
    if (w >= 380 && w < 440) {
        r = (440 - w) / 60;
        b = 1;
    } else if (w >= 440 && w < 490) {
        g = (w - 440) / 50;
        b = 1;
    } else if (w >= 490 && w < 510) {
        g = 1;
        b = (510 - w) / 20;
    } else if (w >= 510 && w < 580) {
        r = (w - 510) / 70;
        g = 1;
    } else if (w >= 580 && w < 645) {
        r = 1;
        g = (645 - w) / 65;
    } else if (w >= 645 && w <= 780) {
        r = 1;
    }
    // The eye sees the ends of the spectrum dimmer.
    double fade = 0;
    if (w >= 380 && w < 420)
        fade = 0.3 + 0.7 * (w - 380) / 40;
    else if (w >= 420 && w <= 700)
        fade = 1;
    else if (w > 700 && w <= 780)
        fade = 0.3 + 0.7 * (780 - w) / 80;
    const auto part = [fade](double aValue) { return int(std::lround(255 * std::pow(aValue * fade, 0.8))); };
    return qRgb(part(r), part(g), part(b));
}

QRgb spectrumColour(int aIndex, int aCount) {
    const double position = aCount > 1 ? double(aIndex) / (aCount - 1) : 0.0;
    return QColor::fromHsvF(float(0.75 * (1.0 - position)), 1.0f, 1.0f).rgb() & 0xFFFFFF;
}
