#include "DisplayPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "DisplayPipeline.h"
#include "HistogramWidget.h"
#include "Lut.h"

namespace {

constexpr double kLimit = 1e30;

}  // namespace

DisplayPanel::DisplayPanel(ViewState& aState, DisplayPipeline& aDisplay, QWidget* aParent)
    : QWidget(aParent), mState(aState), mDisplay(aDisplay) {
    mChannels = new QTreeWidget(this);
    mChannels->setObjectName("mDisplayChannels");
    mChannels->setColumnCount(2);
    mChannels->setHeaderLabels({tr("Channel"), tr("Colour")});
    mChannels->setRootIsDecorated(false);
    mChannels->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    mChannels->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    mHistogram = new HistogramWidget(this);
    mHistogram->setObjectName("mDisplayHistogram");
    mLogarithmic = new QCheckBox(tr("Log counts"), this);
    mMinimum = new QDoubleSpinBox(this);
    mMaximum = new QDoubleSpinBox(this);
    for (QDoubleSpinBox* box : {mMinimum, mMaximum}) {
        box->setRange(-kLimit, kLimit);
        box->setKeyboardTracking(false);
    }
    mMinimum->setObjectName("mDisplayMinimum");
    mMaximum->setObjectName("mDisplayMaximum");
    mAuto = new QPushButton(tr("Auto"), this);
    mAuto->setToolTip(tr("Leave 0.35 % of the pixels saturated (Ctrl+Shift+A)"));
    mFull = new QPushButton(tr("Full"), this);
    mFull->setToolTip(tr("The whole range of the data type (Ctrl+Shift+R)"));

    auto* range = new QFormLayout;
    range->addRow(tr("Minimum:"), mMinimum);
    range->addRow(tr("Maximum:"), mMaximum);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(mLogarithmic);
    buttons->addStretch();
    buttons->addWidget(mAuto);
    buttons->addWidget(mFull);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(mChannels);
    layout->addWidget(mHistogram, 1);
    layout->addLayout(range);
    layout->addLayout(buttons);

    connect(&mState, &ViewState::changed, this, &DisplayPanel::stateChanged);
    connect(mChannels, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* aItem) {
        if (aItem && !mUpdating) setEditedChannel(mChannels->indexOfTopLevelItem(aItem));
    });
    connect(mChannels, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* aItem, int aColumn) {
        if (mUpdating || aColumn != 0) return;
        const int c = mChannels->indexOfTopLevelItem(aItem);
        ChannelDisplay display = mState.display(c);
        display.visible = aItem->checkState(0) == Qt::Checked;
        mState.setDisplay(c, display);
    });
    connect(mHistogram, &HistogramWidget::rangeEdited, this, &DisplayPanel::editRange);
    connect(mMinimum, &QDoubleSpinBox::valueChanged, this, [this](double aValue) {
        if (!mUpdating) editRange(aValue, mState.display(mChannel).maximum);
    });
    connect(mMaximum, &QDoubleSpinBox::valueChanged, this, [this](double aValue) {
        if (!mUpdating) editRange(mState.display(mChannel).minimum, aValue);
    });
    connect(mAuto, &QPushButton::clicked, this, [this] { mDisplay.applyAuto({mChannel}); });
    connect(mFull, &QPushButton::clicked, this, [this] { mDisplay.applyFull({mChannel}); });
    connect(mLogarithmic, &QCheckBox::toggled, mHistogram, &HistogramWidget::setLogarithmic);
    connect(&mDisplay, &DisplayPipeline::pictureChanged, this, [this] {
        if (isVisible()) showRange();
    });
    rebuildChannels();
}

void DisplayPanel::setEditedChannel(int aChannel) {
    if (aChannel < 0 || aChannel >= mState.channelCount()) return;
    mChannel = aChannel;
    {
        const QSignalBlocker blocker(mChannels);
        mChannels->setCurrentItem(mChannels->topLevelItem(aChannel));
    }
    showRange();
}

void DisplayPanel::showEvent(QShowEvent* aEvent) {
    QWidget::showEvent(aEvent);
    showRange();  // not followed while hidden: the histogram costs a pass over the plane
}

void DisplayPanel::stateChanged(ViewState::Aspects aWhat) {
    if (aWhat & ViewState::FileAspect) rebuildChannels();
    if (aWhat & ViewState::PlaneAspect && mState.hasShown() && !mState.composite())
        setEditedChannel(mState.shown().index.channel);
    if (aWhat & (ViewState::DisplayAspect | ViewState::PlaneAspect)) {
        showChannels();
        if (isVisible()) showRange();
    }
}

void DisplayPanel::rebuildChannels() {
    mUpdating = true;
    mChannels->clear();
    for (int c = 0; c < mState.channelCount(); ++c) {
        const ChannelInfo& info = mState.channels()[c];
        auto* item = new QTreeWidgetItem(mChannels);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setText(0, info.name);
        auto* colours = new QComboBox(mChannels);
        colours->addItems(lutNames());
        for (int lut = 0; lut < colours->count(); ++lut) {
            QPixmap swatch(12, 12);
            swatch.fill(QColor::fromRgb(lutTable(Lut(lut), info.colour)[200]));
            colours->setItemIcon(lut, QIcon(swatch));
        }
        mChannels->setItemWidget(item, 1, colours);
        connect(colours, &QComboBox::currentIndexChanged, this, [this, c](int aIndex) {
            if (mUpdating) return;
            ChannelDisplay display = mState.display(c);
            display.lut = Lut(aIndex);
            mState.setDisplay(c, display);
        });
    }
    mUpdating = false;
    // Room for up to eight channels; more scroll.
    const int rowHeight =
        mChannels->sizeHintForRow(0) > 0 ? mChannels->sizeHintForRow(0) : fontMetrics().height() + 8;
    mChannels->setFixedHeight(mChannels->header()->sizeHint().height() + 2 * mChannels->frameWidth() +
                              rowHeight * std::clamp(mState.channelCount(), 1, 8) + 2);
    mChannel = 0;
    showChannels();
    if (mChannels->topLevelItemCount() > 0) setEditedChannel(0);
}

void DisplayPanel::showChannels() {
    mUpdating = true;
    for (int c = 0; c < mChannels->topLevelItemCount(); ++c) {
        const ChannelDisplay display = mState.display(c);
        QTreeWidgetItem* item = mChannels->topLevelItem(c);
        item->setCheckState(0, display.visible ? Qt::Checked : Qt::Unchecked);
        if (auto* colours = qobject_cast<QComboBox*>(mChannels->itemWidget(item, 1)))
            colours->setCurrentIndex(int(display.lut));
    }
    mUpdating = false;
}

void DisplayPanel::showRange() {
    const bool known = mChannel >= 0 && mChannel < mState.channelCount() && mState.hasShown();
    const bool editable = known && !mState.automaticContrast();
    for (QWidget* control :
         {static_cast<QWidget*>(mHistogram), static_cast<QWidget*>(mMinimum), static_cast<QWidget*>(mMaximum),
          static_cast<QWidget*>(mAuto), static_cast<QWidget*>(mFull)})
        control->setEnabled(editable);
    if (!known) {
        mHistogram->setHistogram(Histogram(), 0.0, 255.0);
        return;
    }
    const ChannelInfo& info = mState.channels()[mChannel];
    const ChannelDisplay display = mState.display(mChannel);
    const Histogram& counts = mDisplay.histogram(mChannel);
    auto [low, high] = fullRange(info, counts);
    low = std::min(low, display.minimum);
    high = std::max(high, display.maximum);
    mUpdating = true;
    const int decimals = info.isFloat ? 4 : 0;
    for (QDoubleSpinBox* box : {mMinimum, mMaximum}) box->setDecimals(decimals);
    mMinimum->setValue(display.minimum);
    mMaximum->setValue(display.maximum);
    mUpdating = false;
    mHistogram->setHistogram(counts, low, high);
    mHistogram->setRange(display.minimum, display.maximum);
    // Alone, a channel in its file colour is drawn grey.
    const bool alone = !mState.composite() && display.lut == Lut::FileColour;
    mHistogram->setLut(lutTable(alone ? Lut::Grey : display.lut, info.colour));
}

void DisplayPanel::editRange(double aMinimum, double aMaximum) {
    if (mChannel < 0 || mChannel >= mState.channelCount()) return;
    ChannelDisplay display = mState.display(mChannel);
    display.minimum = aMinimum;
    display.maximum = aMaximum;
    display.rangeSet = true;
    mState.setDisplay(mChannel, display);
}
