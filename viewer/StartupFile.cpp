#include "StartupFile.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include "CommandLine.h"
#include "KorvaneViewerQt.h"

QString startupFileArgument(int argc, char** argv) {
    return CommandLine(CommandLine::arguments(argc, argv)).fileName();
}

void openStartupFile(KorvaneViewerQt& aWindow, const QString& aFileName) {
    QLineEdit* field = aWindow.mLoadFileNameLineEdit;
    field->setText(aFileName);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &release);
}
