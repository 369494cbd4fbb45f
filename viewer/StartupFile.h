#ifndef KORVANE_STARTUPFILE_H
#define KORVANE_STARTUPFILE_H

#include <QString>

class KorvaneViewerQt;

// The file named on the command line once QApplication has taken its own options out of argv, or an
// empty string when there is none or the command line asks for something else (see CommandLine).
QString startupFileArgument(int argc, char** argv);

// Puts the name into the Filename field and presses Return there, so the file opens exactly as if
// the user had typed it.
void openStartupFile(KorvaneViewerQt& aWindow, const QString& aFileName);

#endif
