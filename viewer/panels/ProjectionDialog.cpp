#include "ProjectionDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <algorithm>

using korvane::analysis::ProjectionMethod;

ProjectionDialog::ProjectionDialog(int aSizeZ, const ProjectionSettings& aSettings, QWidget* aParent)
    : QDialog(aParent) {
    setWindowTitle(tr("Z Projection"));
    mMethod = new QComboBox(this);
    mMethod->setObjectName("mMethodComboBox");
    const std::pair<QString, ProjectionMethod> methods[] = {
        {tr("Maximum intensity"), ProjectionMethod::Maximum},
        {tr("Minimum intensity"), ProjectionMethod::Minimum},
        {tr("Mean"), ProjectionMethod::Mean},
        {tr("Sum"), ProjectionMethod::Sum},
        {tr("Standard deviation"), ProjectionMethod::StandardDeviation},
    };
    for (const auto& [text, method] : methods) {
        mMethod->addItem(text, int(method));
        if (method == aSettings.method) mMethod->setCurrentIndex(mMethod->count() - 1);
    }
    const int last = std::max(0, aSizeZ - 1);
    mFirst = new QSpinBox(this);
    mFirst->setObjectName("mFirstSpinBox");
    mLast = new QSpinBox(this);
    mLast->setObjectName("mLastSpinBox");
    for (QSpinBox* box : {mFirst, mLast}) box->setRange(0, last);
    mFirst->setValue(std::clamp(aSettings.zFirst, 0, last));
    mLast->setValue(aSettings.zLast < 0 ? last : std::clamp(aSettings.zLast, 0, last));
    // The range never turns over: each end pushes the other along.
    connect(mFirst, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int aValue) {
        if (mLast->value() < aValue) mLast->setValue(aValue);
    });
    connect(mLast, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int aValue) {
        if (mFirst->value() > aValue) mFirst->setValue(aValue);
    });

    auto* range = new QHBoxLayout();
    range->addWidget(mFirst);
    range->addWidget(new QLabel(tr("to"), this));
    range->addWidget(mLast);
    range->addWidget(new QLabel(tr("of 0 to %1").arg(last), this));
    auto* form = new QFormLayout(this);
    form->addRow(tr("&Method:"), mMethod);
    form->addRow(tr("Z planes:"), range);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

ProjectionSettings ProjectionDialog::settings() const {
    ProjectionSettings settings;
    settings.method = ProjectionMethod(mMethod->currentData().toInt());
    settings.zFirst = mFirst->value();
    // The whole stack stays "to the last plane", so that it reads as such.
    settings.zLast = mLast->value() == mLast->maximum() ? -1 : mLast->value();
    return settings;
}
