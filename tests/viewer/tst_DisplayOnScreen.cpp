#include <QScreen>
#include <QtTest>
#include <memory>

#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ModalBoxCatcher.h"
#include "ViewerShell.h"

using namespace korvane::testsupport;

// The window on a real X display: what reaches the screen, not only the picture in memory.
class DisplayOnScreenTest : public QObject {
    Q_OBJECT

  private slots:
    void sixteenBitRampRisesAcrossTheScreen();
};

void DisplayOnScreenTest::sixteenBitRampRisesAcrossTheScreen() {
    // 0 .. 63 750 across: shown by its low byte this was a saw-tooth of 250 teeth.
    LsmSpec recipe = lsmSpec(256, 48, 1, 1, 1, {kLsmUint16});
    recipe.values = [](int, int, int, int, int x) { return 250.0 * x; };
    ScopedFile file("ramp16.lsm");
    writeLsm(file.path(), recipe);

    KorvaneViewerQt window;
    new ViewerShell(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ModalBoxCatcher catcher;
    window.mLoadFileNameLineEdit->setText(QString::fromStdString(file.path()));
    QTest::keyClick(window.mLoadFileNameLineEdit, Qt::Key_Return);
    QCOMPARE(catcher.describe(), QString());
    QTest::qWait(500);  // painted and on the screen

    const QPoint origin = window.mImageLabel->mapToGlobal(QPoint(0, 0));
    const QImage screen = window.screen()->grabWindow(0, origin.x(), origin.y() + 24, 256, 1).toImage();
    QCOMPARE(screen.width(), 256);
    int previous = -1;
    for (int x = 0; x < 256; ++x) {
        const QRgb pixel = screen.pixel(x, 0);
        QVERIFY2(qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel),
                 qPrintable(QString::number(x)));
        QVERIFY2(qRed(pixel) >= previous,
                 qPrintable(QString("falls at x %1: %2 after %3").arg(x).arg(qRed(pixel)).arg(previous)));
        previous = qRed(pixel);
    }
    QVERIFY(qRed(screen.pixel(0, 0)) < 10 && previous > 245);
}

QTEST_MAIN(DisplayOnScreenTest)
#include "tst_DisplayOnScreen.moc"
