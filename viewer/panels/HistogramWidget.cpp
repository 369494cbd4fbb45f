#include "HistogramWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

const int kRampHeight = 8;

}  // namespace

HistogramWidget::HistogramWidget(QWidget* aParent) : QWidget(aParent) {
    setMinimumHeight(80);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    mLut = lutTable(Lut::Grey, 0xFFFFFF);
}

QSize HistogramWidget::sizeHint() const { return QSize(256, 110); }

void HistogramWidget::setHistogram(const Histogram& aHistogram, double aAxisLow, double aAxisHigh) {
    mHistogram = aHistogram;
    mAxisLow = aAxisLow;
    mAxisHigh = aAxisHigh > aAxisLow ? aAxisHigh : aAxisLow + 1.0;
    rebin();
    update();
}

void HistogramWidget::setRange(double aMinimum, double aMaximum) {
    mMinimum = aMinimum;
    mMaximum = aMaximum;
    update();
}

void HistogramWidget::setLut(const LutTable& aLut) {
    mLut = aLut;
    update();
}

void HistogramWidget::setLogarithmic(bool aOn) {
    mLogarithmic = aOn;
    update();
}

QRect HistogramWidget::plotArea() const { return rect().adjusted(4, 4, -4, -4 - kRampHeight - 2); }

double HistogramWidget::valueAt(int aX) const {
    const QRect plot = plotArea();
    return mAxisLow + (mAxisHigh - mAxisLow) * double(aX - plot.left()) / std::max(1, plot.width());
}

int HistogramWidget::xOf(double aValue) const {
    const QRect plot = plotArea();
    return plot.left() + int(std::lround((aValue - mAxisLow) / (mAxisHigh - mAxisLow) * plot.width()));
}

void HistogramWidget::rebin() {
    mColumns = histogramColumns(mHistogram, mAxisLow, mAxisHigh, std::max(1, plotArea().width()));
}

void HistogramWidget::resizeEvent(QResizeEvent*) { rebin(); }

void HistogramWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect plot = plotArea();
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const auto height = [this](double aCount) { return mLogarithmic ? std::log1p(aCount) : aCount; };
    double top = 0.0;
    for (double count : mColumns) top = std::max(top, height(count));
    painter.setPen(palette().color(QPalette::Text));
    if (top > 0.0) {
        for (int x = 0; x < int(mColumns.size()); ++x) {
            const int bar = int(std::lround(height(mColumns[size_t(x)]) / top * plot.height()));
            if (bar > 0)
                painter.drawLine(plot.left() + x, plot.bottom(), plot.left() + x, plot.bottom() - bar + 1);
        }
    }
    // The mapping: a line from (minimum, bottom) to (maximum, top), and the table beneath.
    const int left = xOf(mMinimum);
    const int right = xOf(mMaximum);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(230, 120, 0), 1.5));
    painter.drawLine(QPoint(plot.left(), plot.bottom()), QPoint(left, plot.bottom()));
    painter.drawLine(QPoint(left, plot.bottom()), QPoint(right, plot.top()));
    painter.drawLine(QPoint(right, plot.top()), QPoint(plot.right(), plot.top()));
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const int x : {left, right})
        painter.fillRect(QRect(x - 2, plot.top(), 5, plot.height()), QColor(230, 120, 0, 90));
    const QRect ramp(plot.left(), plot.bottom() + 3, plot.width(), kRampHeight);
    for (int x = ramp.left(); x <= ramp.right(); ++x) {
        const double value = valueAt(x);
        const double t =
            mMaximum > mMinimum ? (value - mMinimum) / (mMaximum - mMinimum) : (value > mMinimum ? 1 : 0);
        const int level = std::clamp(int(std::lround(t * 255)), 0, 255);
        painter.setPen(QColor::fromRgb(mLut[size_t(level)]));
        painter.drawLine(x, ramp.top(), x, ramp.bottom());
    }
}

void HistogramWidget::mousePressEvent(QMouseEvent* aEvent) {
    if (aEvent->button() != Qt::LeftButton) return;
    const int x = aEvent->position().toPoint().x();
    mDragged = std::abs(x - xOf(mMinimum)) <= std::abs(x - xOf(mMaximum)) ? 0 : 1;
    drag(x);
}

void HistogramWidget::mouseMoveEvent(QMouseEvent* aEvent) {
    if (mDragged >= 0) drag(aEvent->position().toPoint().x());
}

void HistogramWidget::mouseReleaseEvent(QMouseEvent*) { mDragged = -1; }

void HistogramWidget::drag(int aX) {
    const QRect plot = plotArea();
    double value = valueAt(std::clamp(aX, plot.left(), plot.right() + 1));
    if (mHistogram.perValue) value = std::round(value);
    const double step = mHistogram.perValue ? 1.0 : (mAxisHigh - mAxisLow) / 1000.0;
    double minimum = mMinimum;
    double maximum = mMaximum;
    if (mDragged == 0)
        minimum = std::min(value, maximum - step);
    else
        maximum = std::max(value, minimum + step);
    if (minimum == mMinimum && maximum == mMaximum) return;
    setRange(minimum, maximum);
    emit rangeEdited(minimum, maximum);
}
