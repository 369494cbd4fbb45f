#ifndef KORVANE_STARTUPFILE_H
#define KORVANE_STARTUPFILE_H

#include <QByteArray>

class KorvaneViewerQt;

// The bytes of the file named on the command line once QApplication has taken its own options out of
// argv, or nothing when there is none or the command line asks for something else (see CommandLine).
QByteArray startupFileArgument(int argc, char** argv);

// Puts the name into the Filename field and presses Return there, so the file opens exactly as if
// the user had typed it; the bytes are kept, also those that are no valid text.
void openStartupFile(KorvaneViewerQt& aWindow, const QByteArray& aFileName);

#endif
