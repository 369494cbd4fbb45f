#include <QApplication>
#include <QTimer>

#include "CommandLine.h"
#include "KorvaneViewerQt.h"
#include "StartupFile.h"
#include "ViewerShell.h"

namespace {

// Whether QApplication can find a display: without one it aborts before it takes its options.
bool displayNamed(const QStringList& aArguments) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(variable)) return true;
    return aArguments.contains("-platform") || aArguments.contains("--platform");
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version need no display, so they are answered before QApplication looks for one.
    // Anything refused here may be one of Qt's own options and is judged once QApplication has taken
    // those, unless there is no display for it to start on.
    const QStringList arguments = CommandLine::arguments(argc, argv);
    const CommandLine early(arguments);
    if (early.outcome() == CommandLine::Outcome::Answer ||
        (early.outcome() == CommandLine::Outcome::Error && !displayNamed(arguments)))
        return early.print();

    QApplication application(argc, argv);
    // Lets Wayland desktops match the window with its menu entry (X11 ones use StartupWMClass there).
    QGuiApplication::setDesktopFileName(QStringLiteral("korvane-viewer"));
    // QApplication has removed its own options from argv by now.
    const CommandLine commandLine(CommandLine::arguments(argc, argv));
    if (commandLine.outcome() != CommandLine::Outcome::OpenWindow) return commandLine.print();
    const QByteArray startupFile = startupFileArgument(argc, argv);

    KorvaneViewerQt window(nullptr);
    new ViewerShell(window);  // menus, keys, zoom and status bar around the window; owned by it
    window.setVisible(true);
    if (!startupFile.isEmpty()) {
        // Opened once the event loop runs, so the window is on screen and can parent any message box.
        QTimer::singleShot(0, &window, [&window, startupFile] { openStartupFile(window, startupFile); });
    }
    return QApplication::exec();  // the window goes before the application object
}
