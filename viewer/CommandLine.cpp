#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#ifndef KORVANE_VERSION
#error "KORVANE_VERSION must name the project's version"
#endif

namespace {

void write(std::FILE* aStream, const QString& aText) {
    if (aText.isEmpty()) return;
    const QByteArray bytes = aText.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), aStream);
    std::fflush(aStream);
}

}  // namespace

CommandLine::CommandLine(const QStringList& aArguments) {
    // The name the program was started by, as users expect in a usage line.
    const QString program = aArguments.isEmpty() || aArguments.first().isEmpty()
                                ? QStringLiteral("KorvaneViewer")
                                : QFileInfo(aArguments.first()).fileName();
    QCommandLineParser parser;
    // Like Qt's own options (-platform, -style): -bogus is one unknown option, not five.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        tr("Shows the planes of confocal microscopy stacks stored as LSM files.\n"
           "Qt's own options, such as -platform or -style, are accepted as well."));
    const QCommandLineOption help({"h", "help"}, tr("Shows this help and exits."));
    const QCommandLineOption version({"v", "version"}, tr("Shows the version and exits."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument("FILE", tr("LSM file to open at start."), "[FILE]");
    const QString usage = tr("Usage: %1 [options] [FILE]").arg(program);

    QString error;
    // The parser takes the first element for the program and skips it.
    if (!parser.parse(aArguments.isEmpty() ? QStringList(program) : aArguments))
        error = parser.errorText();
    else if (parser.positionalArguments().size() > 1)
        error = tr("Only one FILE can be opened, not %1.").arg(parser.positionalArguments().size());

    if (!error.isEmpty()) {
        mOutcome = Outcome::Error;
        mExitCode = kUsageError;
        mStandardError = program + ": " + error + "\n" + usage + "\n" +
                         tr("Run '%1 --help' for the options.").arg(program) + "\n";
    } else if (parser.isSet(help)) {
        mOutcome = Outcome::Answer;
        // The parser's own usage line names whatever QCoreApplication knows, or a placeholder.
        const QString text = parser.helpText();
        mStandardOutput = usage + text.mid(text.indexOf('\n'));
    } else if (parser.isSet(version)) {
        mOutcome = Outcome::Answer;
        mStandardOutput = QStringLiteral("KorvaneViewer " KORVANE_VERSION "\n");
    } else if (!parser.positionalArguments().isEmpty()) {
        mFileName = parser.positionalArguments().first();
    }
}

QStringList CommandLine::arguments(int argc, char** argv) {
    QStringList list;
    for (int i = 0; i < argc && argv && argv[i]; ++i) list << QFile::decodeName(argv[i]);
    return list;
}

int CommandLine::print() const {
    write(stdout, mStandardOutput);
    write(stderr, mStandardError);
    return mExitCode;
}
