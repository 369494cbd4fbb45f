#include "StartupFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>

#include "KorvaneViewerQt.h"

QString startupFileArgument(int argc, char** argv) {
    if (argc < 2 || !argv || !argv[1]) return QString();
    return QFile::decodeName(argv[1]);
}

void openStartupFile(KorvaneViewerQt& aWindow, const QString& aFileName) {
    QLineEdit* field = aWindow.mLoadFileNameLineEdit;
    field->setText(aFileName);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &release);
}
