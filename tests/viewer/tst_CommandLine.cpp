#include <QProcess>
#include <QtTest>

#include "CommandLine.h"

using Outcome = CommandLine::Outcome;
Q_DECLARE_METATYPE(CommandLine::Outcome)

class CommandLineTest : public QObject {
    Q_OBJECT

  private slots:
    void parsesOptionsAndOneFile_data();
    void parsesOptionsAndOneFile();
    void programAnswersAndRefusesWithoutWindow_data();
    void programAnswersAndRefusesWithoutWindow();
};

void CommandLineTest::parsesOptionsAndOneFile_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");  // start of what is printed
    const QString usage = "Usage: KorvaneViewer [options] [FILE]\n";
    const QString program = "/usr/bin/KorvaneViewer";
    QTest::newRow("none") << QStringList{program} << Outcome::OpenWindow << ""
                          << "";
    QTest::newRow("file") << QStringList{program, "a b.lsm"} << Outcome::OpenWindow << "a b.lsm"
                          << "";
    QTest::newRow("dashed file") << QStringList{program, "--", "-x.lsm"} << Outcome::OpenWindow << "-x.lsm"
                                 << "";
    QTest::newRow("help") << QStringList{program, "s.lsm", "-h"} << Outcome::Answer << "" << usage;
    QTest::newRow("version") << QStringList{program, "--version"} << Outcome::Answer << ""
                             << "KorvaneViewer " KORVANE_VERSION "\n";
    QTest::newRow("unknown") << QStringList{program, "--bogus"} << Outcome::Error << ""
                             << "KorvaneViewer: Unknown option 'bogus'.\n" + usage;
    QTest::newRow("two files") << QStringList{program, "a", "b"} << Outcome::Error << ""
                               << "KorvaneViewer: Only one FILE can be opened, not 2.\n" + usage;
}

void CommandLineTest::parsesOptionsAndOneFile() {
    QFETCH(QStringList, arguments);
    QFETCH(Outcome, outcome);
    QFETCH(QString, file);
    QFETCH(QString, text);
    const CommandLine line(arguments);
    QCOMPARE(line.outcome(), outcome);
    QCOMPARE(line.fileName(), file);
    QCOMPARE(line.exitCode(), outcome == Outcome::Error ? CommandLine::kUsageError : 0);
    const QString& printed = outcome == Outcome::Error ? line.standardError() : line.standardOutput();
    QCOMPARE(printed.left(text.size()), text);
    QVERIFY((outcome == Outcome::Error ? line.standardOutput() : line.standardError()).isEmpty());
}

// The program itself: help and version need no display at all; a refusal leaves at once, before any
// window could keep it running.
void CommandLineTest::programAnswersAndRefusesWithoutWindow_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");  // stdout, then stderr
    QTest::newRow("help") << QStringList{"--help"} << "" << 0 << "Usage: KorvaneViewer [options] [FILE]\n";
    QTest::newRow("version") << QStringList{"-v"} << "" << 0 << "KorvaneViewer " KORVANE_VERSION "\n";
    QTest::newRow("after Qt's options") << QStringList{"-platform", "offscreen", "--version"} << "" << 0
                                        << "KorvaneViewer " KORVANE_VERSION "\n";
    QTest::newRow("unknown") << QStringList{"--bogus", "f.lsm"} << "offscreen" << 2
                             << "KorvaneViewer: Unknown option 'bogus'.\n";
}

void CommandLineTest::programAnswersAndRefusesWithoutWindow() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, platform);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    if (!platform.isEmpty()) environment.insert("QT_QPA_PLATFORM", platform);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(KORVANE_VIEWER_PROGRAM, arguments);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QString printed = process.readAllStandardOutput() + process.readAllStandardError();
    QVERIFY2(printed.contains(output), qPrintable(printed));
}

QTEST_MAIN(CommandLineTest)
#include "tst_CommandLine.moc"
