#include "StackInfo.h"

#include <QRegularExpression>
#include <QSet>

#include "DorudURIVuruda.h"
#include "Lut.h"

namespace {

// Centre of each channel's detected band in nanometres, or empty unless every channel has a visible
// one: from the wavelength block, else from names, since lambda stacks name each band by it ("415").
QVector<double> bandCentres(const LSMAcquisition& aAcquisition, const QVector<ChannelInfo>& aChannels) {
    const auto visible = [](double aNanometres) { return aNanometres >= 380.0 && aNanometres <= 780.0; };
    QVector<double> nanometres;
    if (aAcquisition.channelWavelengths.size() == size_t(aChannels.size())) {
        for (const LSMWavelengthRange& band : aAcquisition.channelWavelengths) {
            const double centre = (band.start_m + band.end_m) / 2.0 * 1e9;
            if (band.start_m > 0.0 && band.end_m > 0.0 && visible(centre)) nanometres << centre;
        }
        if (nanometres.size() == aChannels.size()) return nanometres;
        nanometres.clear();
    }
    static const QRegularExpression wavelength("^\\s*(\\d{3}(?:\\.\\d*)?)\\s*(?:nm)?\\s*$");
    for (const ChannelInfo& channel : aChannels) {
        const QRegularExpressionMatch match = wavelength.match(channel.name);
        const double value = match.hasMatch() ? match.captured(1).toDouble() : 0.0;
        if (visible(value)) nanometres << value;
    }
    if (nanometres.size() != aChannels.size()) nanometres.clear();
    return nanometres;
}

}  // namespace

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
        channel.bits = aReader.getSignificantBits(c);
        colours.insert(channel.colour);
        info.channels.push_back(channel);
    }
    // Black channels would not show at all, and equal colours cannot be told apart.
    const bool distinct = colours.size() == channels && !colours.contains(0xFF000000u);
    info.spectral = channels > 1 && (record.SpectralScan != 0 || !distinct);
    if (info.spectral) {
        const QVector<double> nanometres = bandCentres(aReader.getAcquisition(), info.channels);
        const bool named = !nanometres.isEmpty();
        for (int c = 0; c < channels; ++c)
            info.channels[c].colour =
                0xFF000000u | (named ? wavelengthColour(nanometres[c]) : spectrumColour(c, channels));
    }

    const FloatVector3 size = aReader.getElementSize(0, 0, 0);  // z, y, x in micrometres
    info.calibration.zMicrons = size[0];
    info.calibration.yMicrons = size[1];
    info.calibration.xMicrons = size[2];
    info.calibration.seconds = aReader.getTimeInterval();
    // Stamps, where the file has one per timepoint, give the real times; the interval is often 0.
    const std::vector<double>& stamps = aReader.getAcquisition().timeStamps_s;
    if (aReader.getSizeT() > 1 && stamps.size() >= size_t(aReader.getSizeT()))
        for (int t = 0; t < aReader.getSizeT(); ++t) info.calibration.times << stamps[size_t(t)] - stamps[0];
    info.scanAlongZ = aReader.getSizeT() == 1;
    return info;
}
