#include "ModalBoxCatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>

ModalBoxCatcher::ModalBoxCatcher() {
    connect(&mTimer, &QTimer::timeout, this, &ModalBoxCatcher::poll);
    mTimer.start(5);
}

ModalBoxCatcher::~ModalBoxCatcher() { mTimer.stop(); }

QString ModalBoxCatcher::describe() const {
    QStringList lines;
    for (const CaughtBox& box : mBoxes) lines << box.title + ": " + box.text;
    return lines.join(" | ");
}

void ModalBoxCatcher::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    for (const QPointer<QWidget>& handled : mHandled) {
        if (handled == modal) return;  // still closing
    }
    mHandled.append(modal);

    CaughtBox box;
    box.className = modal->metaObject()->className();
    box.title = modal->windowTitle();
    box.parent = modal->parentWidget();
    if (auto* message = qobject_cast<QMessageBox*>(modal)) {
        box.text = message->text();
        box.icon = message->icon();
        box.buttons = message->standardButtons();
        mBoxes.append(box);
        if (QAbstractButton* answer = message->button(mMessageAnswer)) {
            answer->click();
        } else if (QAbstractButton* close = message->button(QMessageBox::Close)) {
            close->click();
        } else {
            message->done(0);
        }
    } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        box.nameFilter = dialog->nameFilters().join(";;");
        mBoxes.append(box);
        if (mFileAnswer.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(mFileAnswer);
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the choice
        }
    } else {
        mBoxes.append(box);
        modal->close();
    }
}
