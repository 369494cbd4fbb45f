#include "JobProgress.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

JobProgress::JobProgress(QWidget* aParent) : QWidget(aParent) {
    mLabel = new QLabel(this);
    mBar = new QProgressBar(this);
    mBar->setMaximumWidth(160);
    mBar->setTextVisible(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mLabel);
    layout->addWidget(mBar);
    hide();
}

void JobProgress::showProgress(const QString& aWhat, int aDone, int aTotal) {
    mLabel->setText(tr("%1 (Esc cancels)").arg(aWhat));
    mBar->setRange(0, std::max(aTotal, 1));
    mBar->setValue(std::min(aDone, std::max(aTotal, 1)));
    show();
}

QString JobProgress::text() const { return mLabel->text(); }
