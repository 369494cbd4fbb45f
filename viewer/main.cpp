#include <QApplication>
#include <QTimer>

#include "KorvaneViewerQt.h"
#include "StartupFile.h"
#include "ViewerShell.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // QApplication has removed its own options from argv by now.
    const QString startupFile = startupFileArgument(argc, argv);

    KorvaneViewerQt window(nullptr);
    new ViewerShell(window);  // menus, keys, zoom and status bar around the window; owned by it
    window.setVisible(true);
    if (!startupFile.isEmpty()) {
        // Opened once the event loop runs, so the window is on screen and can parent any message box.
        QTimer::singleShot(0, &window, [&window, startupFile] { openStartupFile(window, startupFile); });
    }
    return QApplication::exec();  // the window goes before the application object
}
