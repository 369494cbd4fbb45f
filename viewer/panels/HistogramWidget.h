#ifndef KORVANE_HISTOGRAMWIDGET_H
#define KORVANE_HISTOGRAMWIDGET_H

#include <QWidget>
#include <vector>

#include "Histogram.h"
#include "Lut.h"

// A histogram drawn with QPainter over an axis of values, the display range marked on it by two handles
// that the mouse drags, and the lookup table as a ramp beneath.
class HistogramWidget : public QWidget {
    Q_OBJECT

  public:
    explicit HistogramWidget(QWidget* aParent = nullptr);

    // aAxisLow..aAxisHigh: the values the width spans.
    void setHistogram(const Histogram& aHistogram, double aAxisLow, double aAxisHigh);
    void setRange(double aMinimum, double aMaximum);
    void setLut(const LutTable& aLut);
    void setLogarithmic(bool aOn);

    QSize sizeHint() const override;

  signals:
    // The user dragged a handle.
    void rangeEdited(double aMinimum, double aMaximum);

  protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void resizeEvent(QResizeEvent* aEvent) override;
    void mousePressEvent(QMouseEvent* aEvent) override;
    void mouseMoveEvent(QMouseEvent* aEvent) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;

  private:
    QRect plotArea() const;
    double valueAt(int aX) const;
    int xOf(double aValue) const;
    void rebin();
    void drag(int aX);

    Histogram mHistogram;
    std::vector<double> mColumns;  // counts per pixel column of the plot
    double mAxisLow = 0.0;
    double mAxisHigh = 255.0;
    double mMinimum = 0.0;
    double mMaximum = 255.0;
    LutTable mLut{};
    bool mLogarithmic = false;
    int mDragged = -1;  // 0 minimum, 1 maximum
};

#endif
