#include <QProcess>
#include <QtTest>

// The program itself. Help and version need no display at all; refusals come before any window, which
// would keep the program running.
class CommandLineTest : public QObject {
    Q_OBJECT

  private slots:
    void answersAndRefusesWithoutWindow_data();
    void answersAndRefusesWithoutWindow();
};

void CommandLineTest::answersAndRefusesWithoutWindow_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("platform");  // none: no display either
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");  // in stdout, then stderr
    const QString usage = "Usage: KorvaneViewer [options] [FILE]\n";
    const QString version = "KorvaneViewer " KORVANE_VERSION "\n";
    QTest::newRow("help") << QStringList{"x.lsm", "--help"} << "" << 0 << usage;
    QTest::newRow("version") << QStringList{"-v"} << "" << 0 << version;
    QTest::newRow("after Qt's") << QStringList{"-platform", "offscreen", "--version"} << "" << 0 << version;
    for (const QString platform : {"offscreen", ""})
        QTest::addRow("unknown, platform '%s'", qPrintable(platform))
            << QStringList{"--bogus", "x.lsm"} << platform << 2
            << "KorvaneViewer: Unknown option 'bogus'.\n" + usage;
    QTest::newRow("two files") << QStringList{"a.lsm", "--", "-b.lsm"} << "offscreen" << 2
                               << "KorvaneViewer: Only one FILE can be opened, not 2.\n" + usage;
}

void CommandLineTest::answersAndRefusesWithoutWindow() {
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
