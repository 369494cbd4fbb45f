#ifndef KORVANE_TESTS_MODALBOXCATCHER_H
#define KORVANE_TESTS_MODALBOXCATCHER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

// What a modal window looked like when it was caught.
struct CaughtBox {
    QString className;
    QString title;
    QString text;  // message boxes only
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget* parent = nullptr;
    QString nameFilter;  // file dialogs only: the filters joined with ";;"
};

// Polls for the active modal widget from a timer, which keeps firing inside the nested event loop
// of exec(), records it and closes it: a message box through the chosen or its Close button, a file dialog by
// choosing the programmed file or cancelling. Boxes that follow one another are caught one by one.
class ModalBoxCatcher : public QObject {
  public:
    ModalBoxCatcher();
    ~ModalBoxCatcher() override;

    // File to choose in the next file dialogs; empty means cancel.
    void setFileDialogAnswer(const QString& aPath) { mFileAnswer = aPath; }
    // Button to press in the next message boxes that have it (otherwise Close, or none).
    void setMessageAnswer(QMessageBox::StandardButton aButton) { mMessageAnswer = aButton; }

    const QList<CaughtBox>& boxes() const { return mBoxes; }
    int count() const { return mBoxes.size(); }
    void clear() { mBoxes.clear(); }

    // "title: text" of every box, for readable failure messages.
    QString describe() const;

  private:
    void poll();

    QTimer mTimer;
    QList<CaughtBox> mBoxes;
    QList<QPointer<QWidget>> mHandled;
    QString mFileAnswer;
    QMessageBox::StandardButton mMessageAnswer = QMessageBox::NoButton;
};

#endif
