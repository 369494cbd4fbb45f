#include "Readout.h"

#include <QColor>
#include <QCoreApplication>
#include <QRect>
#include <charconv>

#include "ViewState.h"

namespace {

QString valueAt(const AnyPlane& aPlane, const QPoint& aPixel) {
    return std::visit(
        [&](const auto& aArray) -> QString {
            using Plane = std::decay_t<decltype(aArray)>;
            if constexpr (std::is_same_v<Plane, std::monostate>) {
                return QString();
            } else {
                const auto value = aArray(aArray.lbound(0) + aPixel.y(), aArray.lbound(1) + aPixel.x());
                if constexpr (std::is_floating_point_v<std::decay_t<decltype(value)>>) {
                    char text[32];
                    const auto result = std::to_chars(text, text + sizeof text, value);
                    return QString::fromLatin1(text, int(result.ptr - text));
                } else {
                    return QString::number(value);
                }
            }
        },
        aPlane);
}

QString micrometres(double aValue) { return QString::number(aValue, 'g', 5) + QStringLiteral(" \u00B5m"); }

}  // namespace

QString readoutText(const ViewState& aState, const AnyPlane& aShown,
                    const std::vector<AnyPlane>& aChannelPlanes, const QPoint& aPicturePixel) {
    if (isEmptyPlane(aShown) || !QRect(QPoint(0, 0), planeSize(aShown)).contains(aPicturePixel))
        return QString();
    const PlaneRequest& shown = aState.shown();
    const bool scan = shown.mode == ViewMode::ScanImage;
    const int x = (shown.cropped ? shown.xStart : 0) + aPicturePixel.x();
    const int row = (shown.cropped && !scan ? shown.yStart : 0) + aPicturePixel.y();
    // A scan image's rows are timepoints (or z planes for a file of one timepoint).
    const bool rowsAreTime = scan && aState.channelCount() > 0 && !aState.scanAlongZ();
    const int t = scan && rowsAreTime ? row : shown.index.timepoint;
    const int z = scan && !rowsAreTime ? row : shown.index.zPlane;
    QString where = scan ? QCoreApplication::translate("Readout", "x %1, %2 %3")
                               .arg(x)
                               .arg(rowsAreTime ? QStringLiteral("t") : QStringLiteral("z"))
                               .arg(row)
                         : QCoreApplication::translate("Readout", "x %1, y %2").arg(x).arg(row);

    QString values;
    if (aState.composite() && !aChannelPlanes.empty()) {
        for (int c = 0; c < int(aChannelPlanes.size()); ++c) {
            const AnyPlane& plane = aChannelPlanes[size_t(c)];
            if (!aState.display(c).visible || isEmptyPlane(plane) || planeSize(plane) != planeSize(aShown))
                continue;
            const QColor colour = QColor::fromRgb(aState.channels().value(c).colour);
            if (!values.isEmpty()) values += QLatin1Char(' ');
            values += QStringLiteral("<span style=\"color:%1\">%2</span>")
                          .arg(colour.name(), valueAt(plane, aPicturePixel).toHtmlEscaped());
        }
    } else {
        values = valueAt(aShown, aPicturePixel).toHtmlEscaped();
    }

    QStringList physical;
    const Calibration& calibration = aState.calibration();
    if (calibration.spatial()) {
        if (scan)
            physical << micrometres(x * calibration.xMicrons);
        else
            physical << micrometres(x * calibration.xMicrons) + QStringLiteral(", ") +
                            micrometres(row * calibration.yMicrons);
        // A projection has no one z.
        if (calibration.zMicrons > 0.0 && shown.mode != ViewMode::Projection)
            physical << QStringLiteral("z ") + micrometres(z * calibration.zMicrons);
    }
    if (const double seconds = calibration.secondsAt(t); seconds >= 0.0)
        physical << QStringLiteral("t ") + QString::number(seconds, 'g', 6) + QStringLiteral(" s");
    QString text = where + QStringLiteral(": ") + values;
    if (!physical.isEmpty())
        text +=
            QStringLiteral("&nbsp;&nbsp;&nbsp;(") + physical.join(QStringLiteral("; ")) + QLatin1Char(')');
    return text;
}
