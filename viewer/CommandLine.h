#ifndef KORVANE_COMMANDLINE_H
#define KORVANE_COMMANDLINE_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// What the viewer is asked for on the command line: KorvaneViewer [--help | --version] [FILE].
class CommandLine {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

  public:
    enum class Outcome {
        OpenWindow,  // with fileName(), which may be empty
        Answer,      // --help or --version: print standardOutput() and leave with 0
        Error,       // print standardError() and leave with exitCode()
    };

    // aArguments starts with the program. Qt's own options count as unknown unless QApplication has
    // taken them out already.
    explicit CommandLine(const QStringList& aArguments);

    // argv as strings, decoded the way file names are.
    static QStringList arguments(int argc, char** argv);

    Outcome outcome() const { return mOutcome; }
    const QString& fileName() const { return mFileName; }
    const QString& standardOutput() const { return mStandardOutput; }
    const QString& standardError() const { return mStandardError; }
    int exitCode() const { return mExitCode; }

    // Writes both texts to their streams and returns exitCode().
    int print() const;

    // The usual exit status of a command used wrongly.
    static constexpr int kUsageError = 2;

  private:
    Outcome mOutcome = Outcome::OpenWindow;
    QString mFileName;
    QString mStandardOutput;
    QString mStandardError;
    int mExitCode = 0;
};

#endif
