#include "ScaleBar.h"

#include <QFontMetrics>
#include <QPainter>
#include <cmath>

double scaleBarMicrons(double aMicronsPerPixel, double aMaxPixels) {
    if (!(aMicronsPerPixel > 0.0) || !std::isfinite(aMicronsPerPixel) || !(aMaxPixels >= 1.0)) return 0.0;
    const double longest = aMicronsPerPixel * aMaxPixels;
    const double decade = std::pow(10.0, std::floor(std::log10(longest)));
    for (const double step : {5.0, 2.0, 1.0})
        if (step * decade <= longest * (1.0 + 1e-9)) return step * decade;
    return decade;
}

QString scaleBarText(double aMicrons) {
    const auto number = [](double aValue) { return QString::number(aValue, 'g', 3); };
    if (aMicrons >= 1000.0) return number(aMicrons / 1000.0) + QStringLiteral(" mm");
    if (aMicrons < 1.0) return number(aMicrons * 1000.0) + QStringLiteral(" nm");
    return number(aMicrons) + QStringLiteral(" \u00B5m");
}

void paintScaleBar(QPainter& aPainter, const QRect& aVisible, double aMicronsPerPixel) {
    const double microns = scaleBarMicrons(aMicronsPerPixel, std::min(aVisible.width() * 0.25, 300.0));
    if (microns <= 0.0) return;
    const int length = std::max(1, int(std::lround(microns / aMicronsPerPixel)));
    const QString text = scaleBarText(microns);
    const QFontMetrics metrics(aPainter.font());
    const int margin = 6;
    const int barHeight = 4;
    const int width = std::max(length, metrics.horizontalAdvance(text)) + 2 * margin;
    const int height = metrics.height() + barHeight + 3 * margin;
    const QRect plate(aVisible.right() - 12 - width, aVisible.bottom() - 12 - height, width, height);
    if (!aVisible.contains(plate)) return;
    aPainter.save();
    aPainter.setRenderHint(QPainter::Antialiasing, false);
    aPainter.fillRect(plate, QColor(0, 0, 0, 160));
    const QRect bar(plate.right() - margin - length + 1, plate.bottom() - margin - barHeight + 1, length,
                    barHeight);
    aPainter.fillRect(bar, Qt::white);
    aPainter.setPen(Qt::white);
    aPainter.drawText(QRect(plate.left(), plate.top() + margin, plate.width(), metrics.height()),
                      Qt::AlignCenter, text);
    aPainter.restore();
}
