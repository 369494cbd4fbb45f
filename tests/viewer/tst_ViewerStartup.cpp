#include <QFileDialog>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QtTest>
#include <memory>

#include "KorvaneViewerQt.h"
#include "ModalBoxCatcher.h"
#include "ViewerProbe.h"

// The window as it starts, its meta-object, and every control used before any file is open.
class ViewerStartupTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void startsWithReaderButNoFile();
    void memoryReadOutReplacesZeroWithinASecondOrSo();
    void metaObjectListsTheTwentySlotsInOrder();
    void controlsThatNeedAFileReportNoFileOpened();
    void dataTypeChoiceTogglesAutomaticContrast();
    void croppingPresetsWidthsToOneWithoutFile();
    void idleControlsChangeNothingAndSavingNeedsAFile();
    void librarySetupControlsStillWork();
    void returnInFocusedFieldOpensOnce();

  private:
    std::unique_ptr<KorvaneViewerQt> mWindow;
};

void ViewerStartupTest::init() {
    // connectSlotsByName complains about any slot it cannot connect.
    QTest::failOnWarning(QRegularExpression("QMetaObject::connectSlotsByName"));
    mWindow = std::make_unique<KorvaneViewerQt>();
}

void ViewerStartupTest::cleanup() { mWindow.reset(); }

void ViewerStartupTest::startsWithReaderButNoFile() {
    KorvaneViewerQt& w = *mWindow;
    QCOMPARE(w.objectName(), QString("KorvaneViewerQtClass"));
    QCOMPARE(w.windowTitle(), QString("KorvaneViewer"));
    QCOMPARE(w.size(), QSize(865, 744));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(865, 744));

    QVERIFY(!w.mLibraryGroupBox->isEnabled());
    QVERIFY(!w.mGarbageCollectorPushButton->isEnabled());
    QVERIFY(w.mLoadFileGroupBox->isEnabled());
    QVERIFY(w.mSettingsGroupBox->isEnabled());
    QVERIFY(w.mSaveFileGroupBox->isEnabled());
    QVERIFY(w.mLibraryStatusFrame->autoFillBackground());
    QCOMPARE(w.mLibraryStatusFrame->palette().color(QPalette::Window), QColor(Qt::green));
    QCOMPARE(w.mLibraryStatusLabel->text(), QString("Status:"));

    QVERIFY(w.reader() != nullptr);
    QVERIFY(!w.reader()->isOpen());
    QVERIFY(w.picture().isNull());

    QCOMPARE(w.mImageDataTypeComboBox->count(), 4);
    const QStringList types = {"TYPE_UINT8", "TYPE_UINT16", "TYPE_UINT32", "TYPE_FLOAT"};
    for (int i = 0; i < types.size(); ++i) QCOMPARE(w.mImageDataTypeComboBox->itemText(i), types[i]);
    QCOMPARE(w.mImageDataTypeComboBox->currentIndex(), 0);
    QVERIFY(!w.mAutomaticContrastCheckBox->isChecked());
    QVERIFY(!w.mAutomaticContrastCheckBox->isEnabled());
    QVERIFY(!w.mEnableMetadataCheckBox->isChecked());
    QVERIFY(!w.mEnableCroppingCheckBox->isChecked());

    for (QSpinBox* box : {w.mSeriesSpinBox, w.mTimepointSpinBox, w.mChannelSpinBox, w.mZPlaneSpinBox}) {
        QCOMPARE(box->value(), 0);
        QVERIFY(box->isEnabled());
        QCOMPARE(box->maximum(), 65535);
    }
    for (QSpinBox* box : {w.mXStartSpinBox, w.mXWidthSpinBox, w.mYStartSpinBox, w.mYWidthSpinBox}) {
        QCOMPARE(box->value(), 0);
        QVERIFY(!box->isEnabled());
    }

    QCOMPARE(w.mMemoryUsageLabel->text(), QString("0 kB"));
    QCOMPARE(w.mJavaAccessTimeLabel->text(), QString("0.0000 s"));
    QCOMPARE(w.mTabWidget->currentIndex(), 0);
    QCOMPARE(w.mTabWidget->tabText(0), QString("Image"));
    QCOMPARE(w.mTabWidget->tabText(1), QString("Properties"));
    QCOMPARE(w.mTabWidget->tabText(2), QString("Meta Data"));

    QCOMPARE(w.mImageLabel->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(w.mImageLabel->sizePolicy().verticalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(w.mImageLabel->hint(), QString("Drop an LSM file here, or press Ctrl+O"));
}

void ViewerStartupTest::memoryReadOutReplacesZeroWithinASecondOrSo() {
    QLabel* label = mWindow->mMemoryUsageLabel;
    QCOMPARE(label->text(), QString("0 kB"));
    QTRY_VERIFY_WITH_TIMEOUT(label->text() != "0 kB", 10000);
    const QRegularExpression reading("^[1-9][0-9]* kB$");
    QVERIFY2(reading.match(label->text()).hasMatch(), qPrintable(label->text()));
}

void ViewerStartupTest::metaObjectListsTheTwentySlotsInOrder() {
    struct Slot {
        const char* signature;
        QList<QByteArray> names;
    };
    const QList<Slot> expected = {
        {"on_mLibrarySetupApplyPushButton_clicked()", {}},
        {"on_mLibraryPushButton_clicked()", {}},
        {"on_mLibraryLineEdit_editingFinished()", {}},
        {"on_mJavaHeapSizeHorizontalSlider_valueChanged(int)", {"aNewValue"}},
        {"on_mJavaHeapSizeSpinBox_valueChanged(int)", {"aNewValue"}},
        {"on_mLoadFileNamePushButton_clicked()", {}},
        {"on_mLoadFileNameLineEdit_editingFinished()", {}},
        {"on_mSaveFileNamePushButton_clicked()", {}},
        {"on_mSaveFileNameLineEdit_editingFinished()", {}},
        {"on_mSeriesSpinBox_valueChanged(int)", {"aNewValue"}},
        {"on_mTimepointSpinBox_valueChanged(int)", {"aNewValue"}},
        {"on_mChannelSpinBox_valueChanged(int)", {"aNewValue"}},
        {"on_mZPlaneSpinBox_valueChanged(int)", {"aNewValue"}},
        {"on_mImageDataTypeComboBox_currentIndexChanged(int)", {""}},
        {"on_mAutomaticContrastCheckBox_toggled(bool)", {""}},
        {"on_mEnableCroppingCheckBox_toggled(bool)", {"aCheckedState"}},
        {"on_mApplyPushButton_clicked()", {}},
        {"on_mGarbageCollectorPushButton_clicked()", {}},
        {"on_mEnableMetadataCheckBox_toggled(bool)", {"aCheckedState"}},
        {"UpdateMemoryUsage()", {}},
    };
    const QMetaObject* meta = mWindow->metaObject();
    QCOMPARE(meta->className(), "KorvaneViewerQt");
    QCOMPARE(meta->superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta->methodCount() - meta->methodOffset(), int(expected.size()));
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.parameterNames(), expected[i].names);
    }
    QCOMPARE(mWindow->qt_metacast("KorvaneViewerQt"), static_cast<void*>(mWindow.get()));
    QCOMPARE(mWindow->qt_metacast("KorvaneViewerQtClass"),
             static_cast<void*>(static_cast<Ui::KorvaneViewerQtClass*>(mWindow.get())));
    QVERIFY(mWindow->qt_metacast("QMainWindow") != nullptr);
    QVERIFY(mWindow->qt_metacast("Ui::KorvaneViewerQtClass") == nullptr);
}

void ViewerStartupTest::controlsThatNeedAFileReportNoFileOpened() {
    KorvaneViewerQt& w = *mWindow;
    ModalBoxCatcher catcher;
    QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    w.mZPlaneSpinBox->setValue(2);
    w.mAutomaticContrastCheckBox->setEnabled(true);
    QTest::mouseClick(w.mAutomaticContrastCheckBox, Qt::LeftButton);
    QCOMPARE(catcher.count(), 3);
    for (const CaughtBox& box : catcher.boxes()) {
        QCOMPARE(box.className, QString("QMessageBox"));
        QCOMPARE(box.title, QString("Error"));
        QCOMPARE(box.text, QString("No file opened! Please open a file first."));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Close));
        QCOMPARE(box.parent, static_cast<QWidget*>(&w));
    }
    // Nothing was loaded and nothing was coloured.
    QVERIFY(w.picture().isNull());
    QCOMPARE(w.mJavaAccessTimeLabel->text(), QString("0.0000 s"));
    QVERIFY(w.mImageDataTypeComboBox->palette().color(QPalette::Base) != QColor(Qt::green));

    // Return in an empty Filename field only closes (nothing to close) and resets: no box.
    catcher.clear();
    QTest::keyClick(w.mLoadFileNameLineEdit, Qt::Key_Return);
    QCOMPARE(w.mZPlaneSpinBox->value(), 0);
    QCOMPARE(catcher.count(), 0);
}

void ViewerStartupTest::dataTypeChoiceTogglesAutomaticContrast() {
    KorvaneViewerQt& w = *mWindow;
    ModalBoxCatcher catcher;
    w.mImageDataTypeComboBox->setCurrentIndex(3);
    QVERIFY(w.mAutomaticContrastCheckBox->isEnabled());
    QCOMPARE(catcher.describe(), QString("Error: No file opened! Please open a file first."));

    w.mAutomaticContrastCheckBox->blockSignals(true);
    w.mAutomaticContrastCheckBox->setChecked(true);
    w.mAutomaticContrastCheckBox->blockSignals(false);
    catcher.clear();
    w.mImageDataTypeComboBox->setCurrentIndex(0);
    QVERIFY(!w.mAutomaticContrastCheckBox->isEnabled());
    QVERIFY(!w.mAutomaticContrastCheckBox->isChecked());
    // Unchecking did not run a second update, so there is one box only.
    QCOMPARE(catcher.count(), 1);
}

void ViewerStartupTest::croppingPresetsWidthsToOneWithoutFile() {
    KorvaneViewerQt& w = *mWindow;
    ModalBoxCatcher catcher;
    w.mXStartSpinBox->setValue(7);
    w.mYStartSpinBox->setValue(9);
    QTest::mouseClick(w.mEnableCroppingCheckBox, Qt::LeftButton);
    QVERIFY(w.mEnableCroppingCheckBox->isChecked());
    for (QSpinBox* box : {w.mXStartSpinBox, w.mXWidthSpinBox, w.mYStartSpinBox, w.mYWidthSpinBox})
        QVERIFY(box->isEnabled());
    QCOMPARE(w.mXWidthSpinBox->value(), 1);
    QCOMPARE(w.mYWidthSpinBox->value(), 1);
    QCOMPARE(w.mXStartSpinBox->value(), 7);
    QCOMPARE(w.mYStartSpinBox->value(), 9);

    QTest::mouseClick(w.mEnableCroppingCheckBox, Qt::LeftButton);
    for (QSpinBox* box : {w.mXStartSpinBox, w.mXWidthSpinBox, w.mYStartSpinBox, w.mYWidthSpinBox})
        QVERIFY(!box->isEnabled());
    QCOMPARE(w.mXWidthSpinBox->value(), 1);
    QCOMPARE(catcher.count(), 0);  // no reload, so no "No file opened" box
}

void ViewerStartupTest::idleControlsChangeNothingAndSavingNeedsAFile() {
    KorvaneViewerQt& w = *mWindow;
    ModalBoxCatcher catcher;
    QTest::mouseClick(w.mGarbageCollectorPushButton, Qt::LeftButton);  // disabled
    w.mEnableMetadataCheckBox->setChecked(true);                       // no file: nothing
    QCOMPARE(catcher.count(), 0);
    // Without a file the Save group's dialog opens, and saving says there is nothing to save.
    QTest::mouseClick(w.mSaveFileNamePushButton, Qt::LeftButton);
    QTest::keyClicks(w.mSaveFileNameLineEdit, "out.tif");
    QTest::keyClick(w.mSaveFileNameLineEdit, Qt::Key_Return);
    QCOMPARE(catcher.describe(),
             QString("Save Image File:  | Save Failed: There is nothing to save: open a file first."));
    QCOMPARE(w.mSaveFileNameLineEdit->text(), QString("out.tif"));
    QVERIFY(!QFile::exists("out.tif"));
    QVERIFY(!w.reader()->isOpen());
}

void ViewerStartupTest::librarySetupControlsStillWork() {
    KorvaneViewerQt& w = *mWindow;
    // The heap slider and spin box follow each other without echoing back.
    QSignalSpy sliderSpy(w.mJavaHeapSizeHorizontalSlider, &QSlider::valueChanged);
    w.mJavaHeapSizeSpinBox->setValue(1024);
    QCOMPARE(w.mJavaHeapSizeHorizontalSlider->value(), 1024);
    QCOMPARE(sliderSpy.count(), 0);
    w.mJavaHeapSizeHorizontalSlider->setValue(2048);
    QCOMPARE(w.mJavaHeapSizeSpinBox->value(), 2048);
    QCOMPARE(w.mJavaHeapSizeSpinBox->text(), QString("2048 MB"));

    // The archive chooser; cancelling empties the path.
    ModalBoxCatcher catcher;
    w.mLibraryLineEdit->setText("/opt/old.jar");
    QVERIFY(QMetaObject::invokeMethod(&w, "on_mLibraryPushButton_clicked"));
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.boxes()[0].title, QString("Open OME LOCI Library Archive"));
    QCOMPARE(catcher.boxes()[0].nameFilter, QString("Java Archives (*.jar)"));
    QCOMPARE(w.mLibraryLineEdit->text(), QString());

    // Apply makes a fresh reader and leaves the groups as the constructor did.
    w.mLibraryGroupBox->setEnabled(true);
    QVERIFY(QMetaObject::invokeMethod(&w, "on_mLibrarySetupApplyPushButton_clicked"));
    QVERIFY(w.reader() != nullptr);
    QVERIFY(!w.reader()->isOpen());
    QVERIFY(!w.mLibraryGroupBox->isEnabled());
    QVERIFY(w.mLoadFileGroupBox->isEnabled());
    QVERIFY(w.mSettingsGroupBox->isEnabled());
    QCOMPARE(w.mLibraryStatusFrame->palette().color(QPalette::Window), QColor(Qt::green));
    QCOMPARE(catcher.count(), 1);
}

void ViewerStartupTest::returnInFocusedFieldOpensOnce() {
    // The error box takes the focus from the Filename field; that must not open the file again.
    KorvaneViewerQt& w = *mWindow;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.mLoadFileNameLineEdit->setFocus();
    QTRY_VERIFY(w.mLoadFileNameLineEdit->hasFocus());
    ModalBoxCatcher catcher;
    QTest::keyClicks(w.mLoadFileNameLineEdit, "/nonexistent/stack.lsm");
    QTest::keyClick(w.mLoadFileNameLineEdit, Qt::Key_Return);
    QTest::qWait(300);
    QCOMPARE(catcher.count(), 1);
}

QTEST_MAIN(ViewerStartupTest)
#include "tst_ViewerStartup.moc"
