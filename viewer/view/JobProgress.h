#ifndef KORVANE_JOBPROGRESS_H
#define KORVANE_JOBPROGRESS_H

#include <QWidget>

class QLabel;
class QProgressBar;

// For the status bar: what runs in the background, a bar of how far it is, and that Esc cancels it.
// Hidden while nothing runs.
class JobProgress : public QWidget {
    Q_OBJECT

  public:
    explicit JobProgress(QWidget* aParent = nullptr);

    void showProgress(const QString& aWhat, int aDone, int aTotal);
    QString text() const;

  private:
    QLabel* mLabel;
    QProgressBar* mBar;
};

#endif
