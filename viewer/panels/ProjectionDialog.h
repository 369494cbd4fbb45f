#ifndef KORVANE_PROJECTIONDIALOG_H
#define KORVANE_PROJECTIONDIALOG_H

#include <QDialog>

#include "StackMode.h"

class QComboBox;
class QSpinBox;

// Asks for a z projection: the method and the first and last z plane of the range (both included).
class ProjectionDialog : public QDialog {
    Q_OBJECT

  public:
    // aSizeZ: planes of the stack; aSettings: what the dialog starts from (a last plane below 0 is the
    // stack's last).
    ProjectionDialog(int aSizeZ, const ProjectionSettings& aSettings, QWidget* aParent = nullptr);

    ProjectionSettings settings() const;

  private:
    QComboBox* mMethod;
    QSpinBox* mFirst;
    QSpinBox* mLast;
};

#endif
