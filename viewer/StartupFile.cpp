#include "StartupFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>

#include "CommandLine.h"
#include "KorvaneViewerQt.h"

QByteArray startupFileArgument(int argc, char** argv) {
    const QString name = CommandLine(CommandLine::arguments(argc, argv)).fileName();
    if (name.isEmpty()) return QByteArray();
    // The argument itself: decoding may have replaced bytes that are no valid text.
    for (int i = argc - 1; i > 0; --i)
        if (argv[i] && QFile::decodeName(argv[i]) == name) return QByteArray(argv[i]);
    return QFile::encodeName(name);
}

void openStartupFile(KorvaneViewerQt& aWindow, const QByteArray& aFileName) {
    QLineEdit* field = aWindow.mLoadFileNameLineEdit;
    aWindow.setFileNameBytes(aFileName);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &release);
}
