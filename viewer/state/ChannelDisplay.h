#ifndef KORVANE_CHANNELDISPLAY_H
#define KORVANE_CHANNELDISPLAY_H

#include <QRgb>
#include <QString>

// Colour or lookup table a channel is drawn with. FileColour is the colour the file gives the channel
// (or its emission colour, for spectral stacks and channels without colours of their own).
enum class Lut { FileColour, Grey, Red, Green, Blue, Cyan, Magenta, Yellow, Fire };

// What the file says about a channel.
struct ChannelInfo {
    QString name;
    QRgb colour = 0xFFFFFFFFu;  // opaque
    int bits = 8;               // significant bits: 8, 12, 16 or 32
    bool isFloat = false;
};

// How a channel is shown. Values from minimum to maximum map linearly onto the 256 levels of the
// lookup table, clamped at both ends.
struct ChannelDisplay {
    bool visible = true;
    double minimum = 0.0;
    double maximum = 255.0;
    Lut lut = Lut::FileColour;
    // False until the channel has been shown once: the first plane shown chooses the range.
    bool rangeSet = false;

    bool operator==(const ChannelDisplay& aOther) const {
        return visible == aOther.visible && minimum == aOther.minimum && maximum == aOther.maximum &&
               lut == aOther.lut && rangeSet == aOther.rangeSet;
    }
    bool operator!=(const ChannelDisplay& aOther) const { return !(*this == aOther); }
};

#endif
