#include "StackInfo.h"

#include <QRegularExpression>
#include <QSet>

#include "DorudURIVuruda.h"
#include "Lut.h"

StackInfo stackInfoOf(DorudURIVuruda& aReader) {
    StackInfo info;
    const int channels = aReader.getSizeC();
    const LSMInfoRecord& record = aReader.getInfoRecord();
    QSet<QRgb> colours;
    for (int c = 0; c < channels; ++c) {
        ChannelInfo channel;
        channel.name = QString::fromUtf8(aReader.getChannelName(c).c_str());
        if (channel.name.isEmpty()) channel.name = QStringLiteral("Channel %1").arg(c);
        channel.colour = 0xFF000000u | (aReader.getChannelColor(c) & 0xFFFFFFu);
        const int type = aReader.getPixelType(c);
        channel.isFloat = type == TYPE_FLOAT;
        channel.bits = type == TYPE_UINT8 ? 8 : type == TYPE_UINT16 ? 16 : 32;
        // 12-bit samples are stored in 16 bits; the record says so for files of one data type.
        if (type == TYPE_UINT16 && record.intensityDataType == 2) channel.bits = 12;
        colours.insert(channel.colour);
        info.channels.push_back(channel);
    }
    // Black channels would not show at all, and equal colours cannot be told apart.
    const bool distinct = colours.size() == channels && !colours.contains(0xFF000000u);
    info.spectral = channels > 1 && (record.SpectralScan != 0 || !distinct);
    if (info.spectral) {
        // Lambda stacks name each band by its wavelength in nanometres ("415").
        static const QRegularExpression wavelength("^\\s*(\\d{3}(?:\\.\\d*)?)\\s*(?:nm)?\\s*$");
        QVector<double> nanometres;
        for (const ChannelInfo& channel : info.channels) {
            const QRegularExpressionMatch match = wavelength.match(channel.name);
            const double value = match.hasMatch() ? match.captured(1).toDouble() : 0.0;
            if (value >= 380.0 && value <= 780.0) nanometres << value;
        }
        const bool named = nanometres.size() == channels;
        for (int c = 0; c < channels; ++c)
            info.channels[c].colour =
                0xFF000000u | (named ? wavelengthColour(nanometres[c]) : spectrumColour(c, channels));
    }

    const FloatVector3 size = aReader.getElementSize(0, 0, 0);  // z, y, x in micrometres
    info.calibration.zMicrons = size[0];
    info.calibration.yMicrons = size[1];
    info.calibration.xMicrons = size[2];
    info.calibration.seconds = aReader.getTimeInterval();
    info.scanAlongZ = aReader.getSizeT() == 1;
    return info;
}
