#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollArea>
#include <QtTest>
#include <cmath>
#include <memory>

#include "DisplayPipeline.h"
#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ModalBoxCatcher.h"
#include "PlaneView.h"
#include "ViewerProbe.h"
#include "ViewerShell.h"
#include "WindowTest.h"

using namespace korvane::testsupport;

// The additions around the window: keys, zoom, read-out, channel colours, drops and the File menu.
class ViewerShellTest : public WindowTest {
    Q_OBJECT

    PlaneView* view() { return mWindow->mImageLabel; }
    void open(const LsmSpec& aSpec) { openStack(aSpec); }
    // Keys of a row: '>' Page Down, '<' Page Up, '+', '=', '-', '1', '0' themselves.
    void press(QWidget* aTarget, const QString& aKeys, Qt::KeyboardModifiers aModifiers) {
        const QString keys = "><+=-10";
        const Qt::Key codes[] = {Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_Plus, Qt::Key_Equal,
                                 Qt::Key_Minus,    Qt::Key_1,      Qt::Key_0};
        for (QChar key : aKeys) QTest::keyClick(aTarget, codes[keys.indexOf(key)], aModifiers);
    }

  private slots:
    void init() { QVERIFY(showWindow()); }
    void cleanup() { mWindow.reset(); }

    void navigationKeysWorkFromAnyControlAndStopAtTheEnds_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QList<int>>("tcz");
        QTest::newRow("z") << "mZPlaneSpinBox" << 0 << ">>" << QList<int>{0, 0, 2};
        QTest::newRow("z stops at last") << "mPropertiesPlainTextEdit" << 0 << ">>>>" << QList<int>{0, 0, 3};
        QTest::newRow("z stops at first") << "mLoadFileNameLineEdit" << 0 << "><<" << QList<int>{0, 0, 0};
        QTest::newRow("channel") << "mTabWidget" << int(Qt::ShiftModifier) << ">><" << QList<int>{0, 0, 0};
        QTest::newRow("timepoint") << "mImageDataTypeComboBox" << int(Qt::ControlModifier) << ">>"
                                   << QList<int>{1, 0, 0};
    }
    void navigationKeysWorkFromAnyControlAndStopAtTheEnds() {
        QFETCH(QString, focus);
        QFETCH(int, modifiers);
        QFETCH(QString, keys);
        QFETCH(QList<int>, tcz);
        open(lsmSpec(8, 4, 4, 2, 2));
        ModalBoxCatcher catcher;
        QWidget* target = mWindow->findChild<QWidget*>(focus);
        target->setFocus();
        press(target, keys, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(catcher.describe(), QString());
        QCOMPARE(QApplication::overrideCursor(), nullptr);  // the busy cursor went with each load
        QCOMPARE((QList<int>{mWindow->mTimepointSpinBox->value(), mWindow->mChannelSpinBox->value(),
                             mWindow->mZPlaneSpinBox->value()}),
                 tcz);
        for (int x = 0; x < 8; ++x)
            QCOMPARE(greyAt(*mWindow, x, 3), int(expectedSample(mSpec, tcz[0], tcz[1], tcz[2], 3, x)));
    }

    void zoomStepsShowSharpSquaresAndTheLevel_data() {
        QTest::addColumn<QString>("keys");  // with Ctrl
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("level");
        QTest::newRow("plus") << "+" << 1 << "Zoom 200%";
        QTest::newRow("equal twice") << "==" << 2 << "Zoom 400%";
        QTest::newRow("minus") << "-" << -1 << "Zoom 50%";
        QTest::newRow("stops at 32") << "+++++++" << 5 << "Zoom 3200%";
        QTest::newRow("stops at 1/32") << "-------" << -5 << "Zoom 3.125%";
        QTest::newRow("actual size") << "+1" << 0 << "Zoom 100%";
    }
    void zoomStepsShowSharpSquaresAndTheLevel() {
        QFETCH(QString, keys);
        QFETCH(int, step);
        QFETCH(QString, level);
        open(lsmSpec(40, 24, 1, 1, 1));
        mWindow->mZPlaneSpinBox->setFocus();
        press(mWindow->mZPlaneSpinBox, keys, Qt::ControlModifier);
        QCOMPARE(view()->zoom(), std::ldexp(1.0, step));
        QCOMPARE(mShell->zoomLabel()->text(), level);
        const int scale = 1 << qMax(step, 0), divisor = 1 << qMax(-step, 0);
        QCOMPARE(view()->minimumSize(),
                 QSize((40 * scale + divisor - 1) / divisor, (24 * scale + divisor - 1) / divisor));
        if (step < 0) return;
        const QImage drawn = view()->grab(QRect(0, 0, 40 * scale, 24 * scale)).toImage();
        for (int y = 0; y < 24 * scale; y += qMax(1, scale - 1))
            for (int x = 0; x < 40 * scale; x += qMax(1, scale - 1))
                QCOMPARE(qRed(drawn.pixel(x, y)), greyAt(*mWindow, x / scale, y / scale));
    }

    void wheelZoomKeepsThePointUnderTheCursorDragPansFitFitsOpeningResets() {
        open(lsmSpec(400, 300, 1, 1, 1));
        QTRY_COMPARE(view()->parentWidget()->size(), QSize(408, 308));  // laid out in the image area
        QWidget* viewport = mWindow->mImageScrollArea->viewport();
        const QPoint cursor = view()->mapTo(viewport, QPoint(200, 150));
        for (int turn = 0; turn < 2; ++turn) {
            const QPoint at = view()->mapFrom(viewport, cursor);
            QWheelEvent wheel(at, view()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view(), &wheel);
        }
        QCOMPARE(view()->zoom(), 4.0);
        QVERIFY((view()->mapFrom(viewport, cursor) - QPoint(800, 600)).manhattanLength() <= 4);
        QTest::mousePress(view(), Qt::LeftButton, {}, QPoint(800, 600));
        QTest::mouseMove(view(), QPoint(750, 570));
        QTest::mouseRelease(view(), Qt::LeftButton, {}, QPoint(750, 570));
        QVERIFY((view()->mapFrom(viewport, cursor) - QPoint(850, 630)).manhattanLength() <= 4);  // panned

        // Fit fills one side exactly; the zoom keys then go on in powers of two; opening again (the
        // plane fits) shows it at 100 %.
        mShell->fitAction()->trigger();
        const QSize room = mWindow->mImageScrollArea->maximumViewportSize() - QSize(8, 8);
        const QSize fitted = view()->minimumSize();
        QCOMPARE(fitted, QSize(int(std::ceil(400 * view()->zoom())), int(std::ceil(300 * view()->zoom()))));
        QVERIFY(fitted.boundedTo(room) == fitted);
        QVERIFY(fitted.width() >= room.width() - 1 || fitted.height() >= room.height() - 1);
        const double fit = view()->zoom();
        mShell->zoomInAction()->trigger();
        QCOMPARE(view()->zoom(), std::ldexp(1.0, int(std::floor(std::log2(fit))) + 1));
        QTest::keyClick(mWindow->mLoadFileNameLineEdit, Qt::Key_Return);
        QCOMPARE(view()->zoom(), 1.0);
        // A plane larger than the view opens fitted.
        open(lsmSpec(2000, 1500, 1, 1, 1));
        QCOMPARE(view()->zoom(), view()->fitZoom());
        QVERIFY(view()->zoom() < 1.0);
    }

    void readoutShowsTheLoadedValue_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QPoint>("cropStart");
        QTest::newRow("u8") << kLsmUint8 << QPoint();
        QTest::newRow("u16 cropped") << kLsmUint16 << QPoint(5, 2);
        QTest::newRow("float") << kLsmFloat32 << QPoint();
    }
    void readoutShowsTheLoadedValue() {
        QFETCH(int, code);
        QFETCH(QPoint, cropStart);
        open(lsmSpec(20, 10, 1, 1, 1, {code}));
        mWindow->mEnableCroppingCheckBox->setChecked(!cropStart.isNull());
        mWindow->mXStartSpinBox->setValue(cropStart.x());
        mWindow->mYStartSpinBox->setValue(cropStart.y());
        mWindow->mApplyPushButton->click();
        mShell->zoomInAction()->trigger();
        for (const QPoint pixel : {QPoint(0, 0), QPoint(3, 1), QPoint(14, 7)}) {
            QTest::mouseMove(view(), pixel * 2 + QPoint(1, 1));
            const QPoint at = cropStart + pixel;
            // "x 5, y 2: 123   (1 µm, 0.4 µm; z 0 µm)": the pixel size is 0.2 µm.
            const QStringList parts = mShell->readoutLabel()->text().split("&nbsp;&nbsp;&nbsp;");
            const QStringList where = parts.value(0).split(": ");
            QCOMPARE(where.value(0), QString("x %1, y %2").arg(at.x()).arg(at.y()));
            QCOMPARE(where.value(1).toFloat(), float(expectedSample(mSpec, 0, 0, 0, at.y(), at.x())));
            QVERIFY2(parts.value(1).startsWith(QString("(%1 \u00B5m, %2 \u00B5m")
                                                   .arg(QString::number(at.x() * 0.2, 'g', 5),
                                                        QString::number(at.y() * 0.2, 'g', 5))),
                     qPrintable(parts.value(1)));
        }
        QTest::mouseMove(view(), QPoint((20 - cropStart.x()) * 2 + 1, 1));
        QCOMPARE(mShell->readoutLabel()->text(), QString());
        QTest::mouseMove(view(), QPoint(1, 1));
        mWindow->display().clear();
        QCOMPARE(mShell->readoutLabel()->text(), QString());
    }

    void channelColoursFollowCropAndReturnToTheExactGrey() {
        open(lsmSpec(16, 12, 2, 2, 1));  // channels red and green, 8-bit: shown at 0..255
        mWindow->mZPlaneSpinBox->setValue(1);
        const QImage grey = view()->grab(QRect(0, 0, 16, 12)).toImage();
        QTest::keyClick(mWindow->mZPlaneSpinBox, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        const auto channelsShown = [this](const QRect& aCrop) {
            const QImage& picture = mWindow->picture();
            if (picture.size() != aCrop.size()) return false;
            for (int y = 0; y < aCrop.height(); ++y)
                for (int x = 0; x < aCrop.width(); ++x) {
                    const QRgb p = picture.pixel(x, y);
                    const QPoint at = aCrop.topLeft() + QPoint(x, y);
                    if (qRed(p) != int(expectedSample(mSpec, 0, 0, 1, at.y(), at.x())) ||
                        qGreen(p) != int(expectedSample(mSpec, 0, 1, 1, at.y(), at.x())) || qBlue(p) != 0)
                        return false;
                }
            return true;
        };
        QVERIFY(channelsShown(QRect(0, 0, 16, 12)));
        QCOMPARE(view()->grab(QRect(0, 0, 16, 12)).toImage().convertToFormat(QImage::Format_RGB32),
                 mWindow->picture().convertToFormat(QImage::Format_RGB32));
        mWindow->mEnableCroppingCheckBox->setChecked(true);
        mWindow->mXStartSpinBox->setValue(4);
        mWindow->mXWidthSpinBox->setValue(8);
        mWindow->mApplyPushButton->click();
        QVERIFY(channelsShown(QRect(4, 0, 8, 12)));
        mWindow->mEnableCroppingCheckBox->setChecked(false);
        mWindow->mApplyPushButton->click();
        mShell->channelColoursAction()->trigger();
        QCOMPARE(view()->grab(QRect(0, 0, 16, 12)).toImage(), grey);
    }

    void displayPanelEditsTheRangeUnlessAutomaticContrastIsOn() {
        LsmSpec recipe = lsmSpec(16, 4, 1, 1, 1, {kLsmUint16});
        recipe.values = [](int, int, int, int, int x) { return 1000.0 * x; };
        open(recipe);
        mShell->displayDock()->show();
        auto* minimum = mShell->displayDock()->findChild<QDoubleSpinBox*>("mDisplayMinimum");
        auto* maximum = mShell->displayDock()->findChild<QDoubleSpinBox*>("mDisplayMaximum");
        QCOMPARE(maximum->value(), 15000.0);  // Auto on the first plane
        maximum->setValue(3000);
        minimum->setValue(1000);
        QCOMPARE(greyAt(*mWindow, 1, 0), 0);
        QCOMPARE(greyAt(*mWindow, 2, 0), 128);
        QCOMPARE(greyAt(*mWindow, 9, 0), 255);
        mShell->fullAction()->trigger();
        QCOMPARE(maximum->value(), 65535.0);
        mWindow->mAutomaticContrastCheckBox->click();
        QVERIFY(!maximum->isEnabled() && !minimum->isEnabled());
    }

    void imageOnlyGivesTheImageTheWindowAndRestoresTheLayout() {
        open(lsmSpec(64, 48, 1, 1, 1));
        mShell->displayDock()->show();
        QApplication::processEvents();
        QWidget* const parts[] = {mWindow->mSettingsGroupBox, mWindow->mLoadFileGroupBox,
                                  mWindow->mSaveFileGroupBox, mWindow->mImageScrollArea,
                                  mShell->displayDock()};
        QList<QRect> before;
        for (QWidget* part : parts) before << part->geometry();
        mShell->imageOnlyAction()->trigger();
        QApplication::processEvents();
        QVERIFY(!mWindow->mSettingsGroupBox->isVisible() && !mShell->displayDock()->isVisible());
        QVERIFY(mWindow->mImageScrollArea->width() > before[3].width() + 150);
        mShell->imageOnlyAction()->trigger();
        QApplication::processEvents();
        QList<QRect> after;
        for (QWidget* part : parts) after << part->geometry();
        QCOMPARE(after, before);
    }

    // Every real file shows its structure on opening or after one Auto; spectral stacks show colour.
    void realFilesShowTheirStructure() {
        const QDir folder(KORVANE_REALDATA_DIR);
        const QStringList files = folder.entryList({"*.lsm"}, QDir::Files, QDir::Name);
        if (files.isEmpty()) QSKIP("no real files in " KORVANE_REALDATA_DIR);
        for (const QString& name : files) {
            ModalBoxCatcher catcher;
            mWindow->mLoadFileNameLineEdit->setText(folder.filePath(name));
            QTest::keyClick(mWindow->mLoadFileNameLineEdit, Qt::Key_Return);
            if (catcher.count() > 0) {
                qWarning("%s is not read yet: %s", qPrintable(name), qPrintable(catcher.describe()));
                continue;
            }
            // The acquisition record is listed, its numbered parts in counting order.
            const QStringList meta = mWindow->mMetaDataPlainTextEdit->toPlainText().split('\n');
            QVERIFY2(meta.size() > 10, qPrintable(name));
            const auto line = [&](const char* aPrefix) {
                return meta.indexOf(QRegularExpression(QString(aPrefix) + ".*"));
            };
            if (mWindow->reader()->getSizeC() > 10)
                QVERIFY2(line("^Image channel 2/") < line("^Image channel 10/"), qPrintable(name));
            const bool spectral = mWindow->viewState().spectral();
            if (spectral) mShell->channelColoursAction()->trigger();
            mShell->autoAction()->trigger();
            // Spread of the brightest component, and how coloured the bright pixels are.
            const QImage& picture = mWindow->picture();
            double sum = 0, squares = 0, saturation = 0;
            int bright = 0;
            for (int y = 0; y < picture.height(); y += 2)
                for (int x = 0; x < picture.width(); x += 2) {
                    const QColor colour(picture.pixel(x, y));
                    sum += colour.value();
                    squares += double(colour.value()) * colour.value();
                    if (colour.value() > 40) ++bright, saturation += colour.saturationF();
                }
            const double n = double((picture.height() + 1) / 2) * ((picture.width() + 1) / 2);
            const double spread = std::sqrt(std::max(0.0, squares / n - (sum / n) * (sum / n)));
            QVERIFY2(spread > 12, qPrintable(QString("%1: spread %2").arg(name).arg(spread)));
            if (spectral)
                QVERIFY2(bright > 0 && saturation / bright > 0.3, qPrintable(QString("%1: grey").arg(name)));
            if (spectral) mShell->channelColoursAction()->trigger();
        }
    }

    void droppedFileOpensAsIfTypedAndFileMenuWorks() {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(writeStack(lsmSpec(8, 8, 1, 1, 1)))});
        QWidget* target = mWindow->mPropertiesPlainTextEdit;  // a text field that takes drops itself
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QCOMPARE(mWindow->mLoadFileNameLineEdit->text(), QString::fromStdString(mFile->path()));
        QCOMPARE(mWindow->picture().size(), QSize(8, 8));

        ModalBoxCatcher catcher;
        mShell->openAction()->trigger();
        QCOMPARE(catcher.describe(), QString("Open Image File: "));
        mShell->quitAction()->trigger();
        QVERIFY(!mWindow->isVisible());
    }
};

QTEST_MAIN(ViewerShellTest)
#include "tst_ViewerShell.moc"
