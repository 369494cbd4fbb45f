#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "MemoryUsage.h"

class MemoryUsageTest : public QObject {
    Q_OBJECT

  private slots:
    void firstStopwatchReadingIsAboutZeroAndEachCallRestarts();
    void readsVmRssFromStatusFile_data();
    void readsVmRssFromStatusFile();
    void unreadableStatusFileGivesZero();
    void ownProcessHasResidentMemory();

  private:
    QTemporaryDir mDir;
};

void MemoryUsageTest::firstStopwatchReadingIsAboutZeroAndEachCallRestarts() {
    QVERIFY(qAbs(getTimeOfDaySeconds() - QDateTime::currentMSecsSinceEpoch() / 1000.0) < 1.0);
    const double first = getElapsedSeconds();
    QVERIFY2(first >= 0.0 && first < 0.1, qPrintable(QString::number(first)));
    QThread::msleep(300);
    const double second = getElapsedSeconds();
    QVERIFY2(second > 0.25 && second < 2.0, qPrintable(QString::number(second)));
    const double third = getElapsedSeconds();
    QVERIFY2(third >= 0.0 && third < 0.1, qPrintable(QString::number(third)));
}

void MemoryUsageTest::readsVmRssFromStatusFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");

    const QByteArray head =
        "Name:\tKorvaneViewer\nUmask:\t0022\nState:\tS (sleeping)\nVmPeak:\t  812345 kB\n";
    QTest::newRow("typical") << head + "VmHWM:\t   30000 kB\nVmRSS:\t   23456 kB\nRssAnon:\t 1000 kB\n"
                             << 23456;
    QTest::newRow("no VmRSS line") << head + "VmHWM:\t   30000 kB\nThreads:\t4\n" << 0;
    QTest::newRow("lookalike names") << QByteArray("XVmRSS:\t5 kB\nVmRSSx:\t6 kB\nvmrss:\t7 kB\n") << 0;
    QTest::newRow("number missing") << QByteArray("VmRSS:\tkB\nVmRSS:\t42 kB\n") << 42;
    QTest::newRow("last line without newline") << head + "VmRSS:\t77 kB" << 77;
    QTest::newRow("empty file") << QByteArray() << 0;
    // A process in many groups has a very long "Groups:" line before VmRSS.
    QTest::newRow("overlong line first")
        << head + "Groups:\t" + QByteArray(3000, '7') + "\nVmRSS:\t 9876 kB\n"
        << 9876;
}

void MemoryUsageTest::readsVmRssFromStatusFile() {
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    const QString path = mDir.filePath(QString("status-%1").arg(QTest::currentDataTag()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(getResidentMemoryKB(QFile::encodeName(path).toStdString()), expected);
}

void MemoryUsageTest::unreadableStatusFileGivesZero() {
    QCOMPARE(getResidentMemoryKB(mDir.filePath("does-not-exist").toStdString()), 0);
    QCOMPARE(getResidentMemoryKB(mDir.path().toStdString()), 0);  // a folder
}

void MemoryUsageTest::ownProcessHasResidentMemory() {
    const int32_t kb = getResidentMemoryKB();
    QVERIFY2(kb > 1000, qPrintable(QString::number(kb)));
    const QString ownPath = QString("/proc/%1/status").arg(getpid());
    const int32_t again = getResidentMemoryKB(ownPath.toStdString());
    QVERIFY(qAbs(again - kb) < 100000);
}

QTEST_GUILESS_MAIN(MemoryUsageTest)
#include "tst_MemoryUsage.moc"
