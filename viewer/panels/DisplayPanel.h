#ifndef KORVANE_DISPLAYPANEL_H
#define KORVANE_DISPLAYPANEL_H

#include <QWidget>

#include "ViewState.h"

class DisplayPipeline;
class HistogramWidget;
class QCheckBox;
class QDoubleSpinBox;
class QPushButton;
class QTreeWidget;

// The Display panel: the file's channels (visibility, name, colour or lookup table) and, for the chosen
// one, a histogram of its shown plane with the display range, which the handles, the two spin boxes,
// Auto and Full edit. Everything it shows it reads from the state, and every edit goes there.
class DisplayPanel : public QWidget {
    Q_OBJECT

  public:
    DisplayPanel(ViewState& aState, DisplayPipeline& aDisplay, QWidget* aParent = nullptr);

    // The channel whose range the panel edits.
    void setEditedChannel(int aChannel);

  protected:
    void showEvent(QShowEvent* aEvent) override;

  private:
    void stateChanged(ViewState::Aspects aWhat);
    void rebuildChannels();
    void showChannels();
    void showRange();
    void editRange(double aMinimum, double aMaximum);

    ViewState& mState;
    DisplayPipeline& mDisplay;
    int mChannel = 0;
    QTreeWidget* mChannels;
    HistogramWidget* mHistogram;
    QCheckBox* mLogarithmic;
    QDoubleSpinBox* mMinimum;
    QDoubleSpinBox* mMaximum;
    QPushButton* mAuto;
    QPushButton* mFull;
    bool mUpdating = false;
};

#endif
