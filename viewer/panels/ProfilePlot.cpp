#include "ProfilePlot.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "DisplayPipeline.h"
#include "PlaneSource.h"

namespace {

const QColor kBackground(24, 24, 24);
const QColor kAxes(150, 150, 150);

QString valueText(double aValue) { return std::isfinite(aValue) ? QString::number(aValue, 'g', 6) : "-"; }

}  // namespace

ProfilePlot::ProfilePlot(ViewState& aState, PlaneSource& aSource, DisplayPipeline& aDisplay, QWidget* aParent)
    : QWidget(aParent), mState(aState), mSource(aSource) {
    setObjectName("mProfilePlot");
    setMinimumSize(200, 120);
    setMouseTracking(true);
    connect(&aDisplay, &DisplayPipeline::pictureChanged, this, &ProfilePlot::refresh);
    connect(&mState, &ViewState::changed, this, [this](ViewState::Aspects aWhat) {
        if (aWhat & (ViewState::OverlayAspect | ViewState::FileAspect | ViewState::DisplayAspect)) refresh();
    });
}

QSize ProfilePlot::sizeHint() const { return QSize(240, 180); }

void ProfilePlot::refresh() {
    mProfile = profileOf(mState, mSource.plane(), mSource.keptChannelPlanes());
    double low = INFINITY, high = -INFINITY;
    for (const ProfileCurve& curve : mProfile.curves)
        for (const double v : curve.values)
            if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
    if (!(high >= low)) low = 0.0, high = 1.0;
    if (high == low) low -= 1.0, high += 1.0;  // a flat line in the middle
    mLow = low;
    mHigh = high;
    update();
}

QRect ProfilePlot::plotArea() const {
    const QFontMetrics metrics = fontMetrics();
    const int labels =
        std::max(metrics.horizontalAdvance(valueText(mLow)), metrics.horizontalAdvance(valueText(mHigh)));
    return rect().adjusted(labels + 8, metrics.height() + 8, -10, -metrics.height() - 8);
}

QString ProfilePlot::lengthText(double aLength) const {
    return QString::number(aLength, 'g', 4) + (mProfile.inMicrons ? QStringLiteral(" \u00B5m") : tr(" px"));
}

void ProfilePlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QFontMetrics metrics = fontMetrics();
    if (mProfile.isEmpty()) {
        painter.setPen(kAxes);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                         tr("Shift+drag on the image draws a line"));
        return;
    }
    const QRect plot = plotArea();
    if (plot.width() < 2 || plot.height() < 2) return;
    const double length = std::max(mProfile.length, 1e-12);
    const auto xOf = [&](double aDistance) { return plot.left() + aDistance / length * plot.width(); };
    const auto yOf = [&](double aValue) {
        return plot.bottom() - (aValue - mLow) / (mHigh - mLow) * plot.height();
    };

    painter.setPen(kAxes);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    const int textTop = plot.bottom() + 4;
    painter.drawText(QRect(0, plot.top() - metrics.height() / 2, plot.left() - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, valueText(mHigh));
    painter.drawText(QRect(0, plot.bottom() - metrics.height() / 2, plot.left() - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, valueText(mLow));
    painter.drawText(QRect(plot.left(), textTop, plot.width(), metrics.height()), Qt::AlignLeft, "0");
    painter.drawText(QRect(plot.left(), textTop, plot.width(), metrics.height()), Qt::AlignRight,
                     lengthText(mProfile.length));

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(plot);
    for (const ProfileCurve& curve : mProfile.curves) {
        QPainterPath path;
        bool open = false;
        for (size_t i = 0; i < curve.values.size(); ++i) {
            const double v = curve.values[i];
            if (!std::isfinite(v)) {
                open = false;  // off the plane: a gap
                continue;
            }
            const QPointF point(xOf(double(i) * mProfile.step), yOf(v));
            if (open)
                path.lineTo(point);
            else
                path.moveTo(point);
            open = true;
        }
        painter.setPen(QPen(QColor(curve.colour), 1.5));
        painter.drawPath(path);
    }
    painter.setClipping(false);

    // Above the plot: the channels in their colours, or the values at the distance under the cursor.
    int x = plot.left();
    const int textY = 4;
    size_t sample = 0;
    const bool hovering = mHoverX >= plot.left() && mHoverX <= plot.right();
    if (hovering) {
        const double distance = double(mHoverX - plot.left()) / plot.width() * length;
        sample = size_t(std::lround(distance / mProfile.step));
        painter.setPen(QPen(kAxes, 1, Qt::DashLine));
        painter.drawLine(QPointF(xOf(double(sample) * mProfile.step), plot.top()),
                         QPointF(xOf(double(sample) * mProfile.step), plot.bottom()));
        painter.setPen(kAxes);
        const QString at = lengthText(double(sample) * mProfile.step) + ":";
        painter.drawText(x, textY + metrics.ascent(), at);
        x += metrics.horizontalAdvance(at) + 6;
    }
    for (const ProfileCurve& curve : mProfile.curves) {
        const QString text =
            hovering ? valueText(sample < curve.values.size() ? curve.values[sample] : NAN) : curve.name;
        painter.setPen(QColor(curve.colour));
        painter.drawText(x, textY + metrics.ascent(), text);
        x += metrics.horizontalAdvance(text) + 10;
    }
}

void ProfilePlot::mouseMoveEvent(QMouseEvent* aEvent) {
    mHoverX = aEvent->position().toPoint().x();
    update();
}

void ProfilePlot::leaveEvent(QEvent*) {
    mHoverX = -1;
    update();
}
