#include "SliceRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Histogram.h"
#include "PlaneDisplay.h"
#include "Renderer.h"
#include "ViewState.h"

namespace {

bool prepare(const QSize& aSize, QImage& aPicture) {
    if (aPicture.size() != aSize || aPicture.format() != QImage::Format_ARGB32_Premultiplied) {
        aPicture = QImage();
        if (aSize.isEmpty()) return false;
        aPicture = QImage(aSize, QImage::Format_ARGB32_Premultiplied);
    }
    return !aPicture.isNull();
}

QSize stretchedSize(const QSize& aSlice, bool aZAlongRows, int aZPixels) {
    return aZAlongRows ? QSize(aSlice.width(), aZPixels) : QSize(aZPixels, aSlice.height());
}

// Element (aRow, aColumn) of a plane counted from its first.
template <typename T>
const T* rowOf(const blitz::Array<T, 2>& aPlane, int aRow) {
    return &aPlane(aPlane.lbound(0) + aRow, aPlane.lbound(1));
}

// The slice through aTable straight into the stretched picture: z rows are drawn once and copied, z
// columns looked up once per row and spread.
template <typename T>
void drawStretched(const blitz::Array<T, 2>& aSlice, const QRgb* aTable, bool aZAlongRows,
                   const std::vector<int>& aPlaneOf, QImage& aPicture) {
    uchar* bits = aPicture.bits();
    const qsizetype bytesPerLine = aPicture.bytesPerLine();
    const std::ptrdiff_t stride = aSlice.stride(1);
    if (aZAlongRows) {
        const int cols = aSlice.extent(1);
        for (int r = 0; r < int(aPlaneOf.size()); ++r) {
            QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * r);
            if (r > 0 && aPlaneOf[size_t(r)] == aPlaneOf[size_t(r) - 1]) {
                std::memcpy(line, bits + bytesPerLine * (r - 1), size_t(cols) * sizeof(QRgb));
                continue;
            }
            const T* element = rowOf(aSlice, aPlaneOf[size_t(r)]);
            for (int x = 0; x < cols; ++x) line[x] = aTable[element[x * stride]];
        }
        return;
    }
    const int planes = aSlice.extent(1);
    std::vector<QRgb> colours(static_cast<size_t>(planes));
    for (int y = 0; y < aSlice.extent(0); ++y) {
        const T* element = rowOf(aSlice, y);
        for (int z = 0; z < planes; ++z) colours[size_t(z)] = aTable[element[z * stride]];
        QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
        for (size_t c = 0; c < aPlaneOf.size(); ++c) line[c] = colours[size_t(aPlaneOf[c])];
    }
}

// An unstretched picture stretched along z.
void stretch(const QImage& aNative, bool aZAlongRows, const std::vector<int>& aPlaneOf, QImage& aPicture) {
    uchar* bits = aPicture.bits();
    const qsizetype bytesPerLine = aPicture.bytesPerLine();
    if (aZAlongRows) {
        for (int r = 0; r < int(aPlaneOf.size()); ++r)
            std::memcpy(bits + bytesPerLine * r, aNative.constScanLine(aPlaneOf[size_t(r)]),
                        size_t(aNative.width()) * sizeof(QRgb));
        return;
    }
    for (int y = 0; y < aNative.height(); ++y) {
        const QRgb* native = reinterpret_cast<const QRgb*>(aNative.constScanLine(y));
        QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
        for (size_t c = 0; c < aPlaneOf.size(); ++c) line[c] = native[aPlaneOf[c]];
    }
}

QRgb fileColour(const ViewState& aState, int aChannel) {
    return aChannel >= 0 && aChannel < aState.channelCount() ? aState.channels()[aChannel].colour
                                                             : QRgb(0xFFFFFFFF);
}

// The lookup table a channel shows in, alone as the x-y view shows it: its file colour as grey.
LutTable lutAlone(const ViewState& aState, int aChannel) {
    const Lut lut = aState.display(aChannel).lut;
    return lutTable(lut == Lut::FileColour ? Lut::Grey : lut, fileColour(aState, aChannel));
}

const AnyPlane& entry(const std::vector<AnyPlane>& aPlanes, int aChannel) {
    static const AnyPlane none;
    return aChannel >= 0 && size_t(aChannel) < aPlanes.size() ? aPlanes[size_t(aChannel)] : none;
}

}  // namespace

int planeAtPixel(int aPixel, int aPixels, int aPlanes) {
    if (aPixels <= 0 || aPlanes <= 0) return 0;
    const int plane = int(std::floor((aPixel + 0.5) * aPlanes / aPixels));
    return std::clamp(plane, 0, aPlanes - 1);
}

double pixelOfPlane(int aPlane, int aPixels, int aPlanes) {
    return aPlanes > 0 ? (aPlane + 0.5) * aPixels / aPlanes : 0.0;
}

bool SliceRenderer::TableKey::operator==(const TableKey& aOther) const {
    return type == aOther.type && automatic == aOther.automatic && minimum == aOther.minimum &&
           maximum == aOther.maximum && offset == aOther.offset && scale == aOther.scale && lut == aOther.lut;
}

const std::vector<QRgb>* SliceRenderer::tableFor(const ViewState& aState, const AnyPlane& aSlice,
                                                 const AnyPlane& aPlane) {
    const bool small = std::holds_alternative<blitz::Array<unsigned char, 2>>(aSlice) ||
                       std::holds_alternative<blitz::Array<unsigned short, 2>>(aSlice);
    if (!small || aState.composite()) return nullptr;
    const int channel = aState.shown().index.channel;
    const ChannelDisplay display = aState.display(channel);
    TableKey key;
    key.type = aSlice.index();
    key.automatic = aState.automaticContrast();
    if (key.automatic) {
        // The mapping of the x-y plane, so that the three views agree.
        const GreyMapping mapping = std::visit(
            [](const auto& aArray) -> GreyMapping {
                if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>)
                    return GreyMapping();
                else
                    return greyMappingFor(aArray);
            },
            aPlane);
        key.offset = mapping.offset;
        key.scale = mapping.scale;
    } else {
        key.minimum = display.minimum;
        key.maximum = display.maximum;
        key.lut = lutAlone(aState, channel);
    }
    if (!mTable.empty() && key == mKey) return &mTable;
    const size_t values = std::holds_alternative<blitz::Array<unsigned char, 2>>(aSlice) ? 256 : 65536;
    mTable.resize(values);
    for (size_t v = 0; v < values; ++v)
        mTable[v] = key.automatic ? opaqueGrey(greyLevel(double(v), GreyMapping{key.offset, key.scale}))
                                  : key.lut[size_t(displayLevel(double(v), key.minimum, key.maximum))];
    mKey = key;
    return &mTable;
}

void SliceRenderer::render(const ViewState& aState, const std::vector<AnyPlane>& aSlices,
                           const std::vector<AnyPlane>& aPlanes, bool aZAlongRows, int aZPixels,
                           QImage& aPicture) {
    const int shownChannel = aState.shown().index.channel;
    const AnyPlane& shown = entry(aSlices, shownChannel);
    const QSize sliceSize = planeSize(shown);
    const int planes = aZAlongRows ? sliceSize.height() : sliceSize.width();
    if (sliceSize.isEmpty() || aZPixels < 1 ||
        !prepare(stretchedSize(sliceSize, aZAlongRows, aZPixels), aPicture))
        return;
    mPlaneOf.resize(size_t(aZPixels));
    for (int p = 0; p < aZPixels; ++p) mPlaneOf[size_t(p)] = planeAtPixel(p, aZPixels, planes);

    if (const std::vector<QRgb>* table = tableFor(aState, shown, entry(aPlanes, shownChannel))) {
        std::visit(
            [&](const auto& aArray) {
                using Plane = std::decay_t<decltype(aArray)>;
                if constexpr (std::is_same_v<Plane, blitz::Array<unsigned char, 2>> ||
                              std::is_same_v<Plane, blitz::Array<unsigned short, 2>>)
                    drawStretched(aArray, table->data(), aZAlongRows, mPlaneOf, aPicture);
            },
            shown);
        return;
    }

    if (!aState.composite()) {
        if (aState.automaticContrast()) {
            std::visit(
                [&](const auto& aSlice) {
                    if constexpr (!std::is_same_v<std::decay_t<decltype(aSlice)>, std::monostate>) {
                        using T = typename std::decay_t<decltype(aSlice)>::T_numtype;
                        const auto* plane = std::get_if<blitz::Array<T, 2>>(&entry(aPlanes, shownChannel));
                        const GreyMapping mapping = plane ? greyMappingFor(*plane) : greyMappingFor(aSlice);
                        if (!prepare(sliceSize, mNative)) return;
                        renderGreyRows(aSlice, mapping, {}, mNative.bits(), mNative.bytesPerLine(), 0,
                                       aSlice.extent(0));
                    }
                },
                shown);
        } else {
            const ChannelDisplay display = aState.display(shownChannel);
            renderMapped(shown, display.minimum, display.maximum, lutAlone(aState, shownChannel), mNative);
        }
    } else {
        std::vector<CompositeChannel> parts;
        std::vector<Histogram> ranges;  // automatic contrast: each channel over its x-y plane's values
        ranges.reserve(aSlices.size());
        for (int c = 0; c < int(aSlices.size()); ++c) {
            const ChannelDisplay display = aState.display(c);
            if (!display.visible || isEmptyPlane(aSlices[size_t(c)]) ||
                planeSize(aSlices[size_t(c)]) != sliceSize)
                continue;
            CompositeChannel part{&aSlices[size_t(c)], display.minimum, display.maximum,
                                  lutTable(display.lut, fileColour(aState, c))};
            if (aState.automaticContrast()) {
                const AnyPlane& plane = entry(aPlanes, c);
                ranges.push_back(histogramOf(isEmptyPlane(plane) ? aSlices[size_t(c)] : plane));
                part.minimum = ranges.back().minimum;
                part.maximum = ranges.back().maximum;
            }
            parts.push_back(part);
        }
        if (parts.empty()) {
            if (prepare(sliceSize, mNative)) mNative.fill(Qt::black);
        } else {
            renderComposite(parts, aState.spectral(), mNative);
        }
    }
    if (mNative.size() == sliceSize) stretch(mNative, aZAlongRows, mPlaneOf, aPicture);
}
