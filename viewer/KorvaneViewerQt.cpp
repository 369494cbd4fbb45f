#include "KorvaneViewerQt.h"

#include <sys/stat.h>

#include <QBrush>
#include <QByteArray>
#include <QCollator>
#include <QColor>
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <future>
#include <iostream>
#include <utility>
#include <vector>

#include "BlitzFileIOException.h"
#include "BusyCursor.h"
#include "DisplayPipeline.h"
#include "DorudURIVuruda.h"
#include "FileNames.h"
#include "MemoryUsage.h"
#include "PlaneDisplay.h"
#include "PlaneView.h"
#include "Reporter.h"
#include "ReporterCmdline.h"
#include "SaveGroup.h"
#include "StackInfo.h"

namespace {

QString fromReader(const std::string& aText) { return QString::fromLocal8Bit(aText.c_str()); }

// Sets a widget value without running its slot and restores the previous blocking state.
template <typename Widget, typename Change>
void withSignalsBlocked(Widget* aWidget, Change aChange) {
    const bool wasBlocked = aWidget->blockSignals(true);
    aChange();
    aWidget->blockSignals(wasBlocked);
}

// Sets a widget value without running its slot, then lets it signal again.
template <typename Widget, typename Change>
void blockedThenUnblocked(Widget* aWidget, Change aChange) {
    aWidget->blockSignals(true);
    aChange();
    aWidget->blockSignals(false);
}

// The columns by rows that a plane request gives, if it is valid and the file is large enough to hold
// that many elements of at least one byte; otherwise empty, so that nothing is set aside for a request
// that a damaged or hostile header makes up.
QSize plausiblePlaneSize(DorudURIVuruda& aReader, const PlaneRequest& aRequest) {
    const bool aCropped = aRequest.cropped;
    const int aXStart = aRequest.xStart, aXWidth = aRequest.xWidth, aYStart = aRequest.yStart,
              aYWidth = aRequest.yWidth;
    const auto extent = [](int aStart, int aWidth, int aSize) -> int64_t {
        const int64_t width = aWidth > 0 ? int64_t(aWidth) : int64_t(aSize) - aStart;
        return aStart >= 0 && width >= 1 && aStart + width <= aSize ? width : 0;
    };
    const int64_t cols = aCropped ? extent(aXStart, aXWidth, aReader.getSizeX()) : aReader.getSizeX();
    const int64_t rows = aRequest.mode == ViewMode::ScanImage ? PlaneSource::scanRows(aReader)
                         : aCropped                           ? extent(aYStart, aYWidth, aReader.getSizeY())
                                                              : aReader.getSizeY();
    struct stat status;
    if (::stat(aReader.getCurrentFile().c_str(), &status) != 0) return QSize();
    if (cols < 1 || rows < 1 || cols * rows > int64_t(status.st_size)) return QSize();
    return QSize(int(cols), int(rows));
}

// A fresh picture for the plane, made on a helper thread while the plane is read; invalid when no helper
// could be started.
std::future<QImage> preparePicture(const QSize& aSize) {
    try {
        return std::async(std::launch::async, newFaultedGreyPicture, aSize.width(), aSize.height());
    } catch (const std::exception&) {
        return std::future<QImage>();
    }
}

QImage takePicture(std::future<QImage>& aPicture) {
    try {
        return aPicture.get();
    } catch (const std::exception&) {
        return QImage();  // drawn without it
    }
}

ElementType elementTypeOf(const QByteArray& aTypeName) {
    if (aTypeName == "TYPE_UINT16") return ElementType::UInt16;
    if (aTypeName == "TYPE_UINT32") return ElementType::UInt32;
    if (aTypeName == "TYPE_FLOAT") return ElementType::Float;
    return ElementType::UInt8;
}

}  // namespace

KorvaneViewerQt::KorvaneViewerQt(QWidget* parent)
    : QMainWindow(parent, Qt::WindowFlags()),
      mReader(nullptr),
      mState(new ViewState(this)),
      mDisplay(nullptr),
      mSave(nullptr) {
    setupUi(this);
    mImageLabel->setState(mState);
    mDisplay = new DisplayPipeline(*mState, mSource, *mImageLabel, this);
    connect(mDisplay, &DisplayPipeline::readFailed, this,
            [this](const QString& aWhat) { ShowExceptionMessage(aWhat.toLocal8Bit().constData()); });
    mSave = new SaveGroup(*this);

    new ReporterCmdline(8, &std::cout);  // registers itself; the registry owns it

    mImageLabel->setBackgroundRole(QPalette::Base);
    mImageLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    mImageScrollArea->setBackgroundRole(QPalette::Dark);
    mLibraryStatusFrame->setBackgroundRole(QPalette::Window);
    mLibraryStatusFrame->setAutoFillBackground(true);

    mLibraryGroupBox->setEnabled(false);
    mGarbageCollectorPushButton->setEnabled(false);
    mLoadFileGroupBox->setEnabled(true);
    mSettingsGroupBox->setEnabled(true);

    OnSetLibrary(std::string(), 0);
    ResetControls();

    QTimer* memoryTimer = new QTimer(this);
    connect(memoryTimer, SIGNAL(timeout()), this, SLOT(UpdateMemoryUsage()));
    memoryTimer->start(1000);
}

const QImage& KorvaneViewerQt::picture() const { return mDisplay->picture(); }

void KorvaneViewerQt::setFileNameBytes(const QByteArray& aFileName) {
    mNamedText = readableFileName(aFileName);
    mNamedBytes = aFileName;
    withSignalsBlocked(mLoadFileNameLineEdit, [&] { mLoadFileNameLineEdit->setText(mNamedText); });
}

std::string KorvaneViewerQt::FileNameOf(const QString& aText) const {
    const QByteArray bytes =
        !mNamedText.isEmpty() && aText == mNamedText ? mNamedBytes : fileNameBytes(aText);
    return bytes.toStdString();
}

KorvaneViewerQt::~KorvaneViewerQt() {
    if (mReader) {
        try {
            DorudURIVuruda* reader = mReader;
            mReader = nullptr;
            delete reader;
        } catch (const BlitzFileIOException& e) {
            ShowExceptionMessage(e.what());
        }
    }
    Reporter::removeReporter(-1);
}

// --- Message boxes ---------------------------------------------------------------------------------

void KorvaneViewerQt::ShowCriticalMessage(const QString& aTitle, const QString& aText) {
    QMessageBox box(QMessageBox::Critical, aTitle, aText, QMessageBox::Close, this);
    box.exec();
}

void KorvaneViewerQt::ShowExceptionMessage(const char* aWhat) {
    ShowCriticalMessage(tr("Caught Exception"), QString::fromLocal8Bit(aWhat) +
                                                    tr("\nThe application might be unstable from now on!"));
}

void KorvaneViewerQt::ReportSevereError(const QString& aText) {
    std::cerr << aText.toLocal8Bit().constData() << std::endl;
    ShowCriticalMessage(tr("Severe Error"), aText);
}

// --- Reader set-up ---------------------------------------------------------------------------------

void KorvaneViewerQt::OnSetLibrary(std::string aLibraryPath, unsigned int aHeapSizeMB) {
    mSource.setReader(nullptr);  // the kept planes came from the reader that goes
    try {
        if (mReader) {
            // Cleared first so that mReader never points to a reader whose deletion failed.
            DorudURIVuruda* oldReader = mReader;
            mReader = nullptr;
            delete oldReader;
        }
        mReader = new DorudURIVuruda();
        mSource.setReader(mReader);
        SetLibraryStatus(true);
    } catch (const BlitzFileIOException& e) {
        ShowCriticalMessage(tr("Caught Exception"),
                            tr("KorvaneViewerQt::OnSetLibrary(") +
                                QString::fromLocal8Bit(aLibraryPath.c_str()) + tr(", ") +
                                QString::number(aHeapSizeMB, 10) + tr("):\n") +
                                tr("Caught exception when creating new KorvaneReader instance.\n\n") +
                                QString::fromLocal8Bit(e.what()) + tr("\n") +
                                tr("\nThe application might be unstable from now on!"));
    }
}

void KorvaneViewerQt::SetLibraryStatus(bool aOk) {
    QPalette palette = mLibraryStatusFrame->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(aOk ? Qt::green : Qt::red, Qt::SolidPattern));
    mLibraryStatusFrame->setPalette(palette);
}

void KorvaneViewerQt::on_mLibrarySetupApplyPushButton_clicked() {
    const std::string path = mLibraryLineEdit->text().toLatin1().toStdString();
    const unsigned int heap = static_cast<unsigned int>(mJavaHeapSizeSpinBox->value());
    OnSetLibrary(path, heap);
    mLibraryGroupBox->setEnabled(false);
    mLoadFileGroupBox->setEnabled(true);
    mSettingsGroupBox->setEnabled(true);
}

void KorvaneViewerQt::on_mLibraryPushButton_clicked() {
    const QString archive =
        QFileDialog::getOpenFileName(this, tr("Open OME LOCI Library Archive"), mLibraryLineEdit->text(),
                                     tr("Java Archives (*.jar)"), nullptr, QFileDialog::Options());
    withSignalsBlocked(mLibraryLineEdit, [&] { mLibraryLineEdit->setText(archive); });
}

void KorvaneViewerQt::on_mLibraryLineEdit_editingFinished() {}

void KorvaneViewerQt::on_mJavaHeapSizeHorizontalSlider_valueChanged(int aNewValue) {
    withSignalsBlocked(mJavaHeapSizeSpinBox, [&] { mJavaHeapSizeSpinBox->setValue(aNewValue); });
}

void KorvaneViewerQt::on_mJavaHeapSizeSpinBox_valueChanged(int aNewValue) {
    withSignalsBlocked(mJavaHeapSizeHorizontalSlider,
                       [&] { mJavaHeapSizeHorizontalSlider->setValue(aNewValue); });
}

// --- Files -----------------------------------------------------------------------------------------

void KorvaneViewerQt::ResetControls() {
    QWidget* const controls[] = {mSeriesSpinBox,         mTimepointSpinBox,
                                 mChannelSpinBox,        mZPlaneSpinBox,
                                 mImageDataTypeComboBox, mXStartSpinBox,
                                 mXWidthSpinBox,         mYStartSpinBox,
                                 mYWidthSpinBox,         mAutomaticContrastCheckBox,
                                 mEnableCroppingCheckBox};
    for (QWidget* control : controls) control->blockSignals(true);

    mSeriesSpinBox->setValue(0);
    mTimepointSpinBox->setValue(0);
    mChannelSpinBox->setValue(0);
    mZPlaneSpinBox->setValue(0);
    mImageDataTypeComboBox->setCurrentIndex(0);
    mXStartSpinBox->setValue(0);
    mXWidthSpinBox->setValue(0);
    mYStartSpinBox->setValue(0);
    mYWidthSpinBox->setValue(0);
    mAutomaticContrastCheckBox->setChecked(false);
    mEnableCroppingCheckBox->setChecked(false);
    on_mEnableCroppingCheckBox_toggled(false);

    for (QWidget* control : controls) control->blockSignals(false);
}

void KorvaneViewerQt::OpenFile(const std::string& aFileName) {
    // The file may have changed since its plane was read: the next update reads again.
    mSource.forget();
    if (!mReader) return;
    try {
        mReader->close();
        ResetControls();
        if (aFileName.empty()) return;
        mReader->open(aFileName);
        mState->setFile(QByteArray::fromStdString(aFileName), stackInfoOf(*mReader));
        UpdatePlane(true);
        UpdateProperties();
        UpdateMetaData();
        if (mState->hasShown()) mImageLabel->zoomForOpening();
    } catch (const BlitzFileIOException& e) {
        // Nothing of the file that failed, and nothing of the one before it, stays on screen.
        if (!mReader->isOpen()) ClearView();
        ShowCriticalMessage(tr("Caught Exception"),
                            QString::fromLocal8Bit(e.what()) + tr("\nThis file can not be opened."));
    }
}

void KorvaneViewerQt::ClearView() {
    mSource.release();
    mState->clearFile();
    mDisplay->clear();
    mPropertiesPlainTextEdit->clear();
    mMetaDataPlainTextEdit->clear();
}

void KorvaneViewerQt::ShowDisplayedInControls() {
    if (!mReader || !mReader->isOpen()) {
        // The failure closed the file: what was on screen belongs to no open file any more.
        ClearView();
        ResetControls();
        return;
    }
    if (!mState->hasShown()) {
        ResetControls();
        return;
    }
    const PlaneRequest& shown = mState->shown();
    const int typeIndex = int(mState->elementType());
    blockedThenUnblocked(mTimepointSpinBox, [&] { mTimepointSpinBox->setValue(shown.index.timepoint); });
    blockedThenUnblocked(mChannelSpinBox, [&] { mChannelSpinBox->setValue(shown.index.channel); });
    blockedThenUnblocked(mZPlaneSpinBox, [&] { mZPlaneSpinBox->setValue(shown.index.zPlane); });
    withSignalsBlocked(mImageDataTypeComboBox, [&] { mImageDataTypeComboBox->setCurrentIndex(typeIndex); });
    withSignalsBlocked(mAutomaticContrastCheckBox, [&] {
        mAutomaticContrastCheckBox->setChecked(mState->automaticContrast());
        mAutomaticContrastCheckBox->setEnabled(typeIndex != 0);
    });
    withSignalsBlocked(mEnableCroppingCheckBox, [&] { mEnableCroppingCheckBox->setChecked(shown.cropped); });
    for (QSpinBox* box : {mXStartSpinBox, mXWidthSpinBox, mYStartSpinBox, mYWidthSpinBox})
        box->setEnabled(shown.cropped);
    if (shown.cropped) {
        blockedThenUnblocked(mXStartSpinBox, [&] { mXStartSpinBox->setValue(shown.xStart); });
        blockedThenUnblocked(mXWidthSpinBox, [&] { mXWidthSpinBox->setValue(shown.xWidth); });
        if (shown.mode != ViewMode::ScanImage) {
            blockedThenUnblocked(mYStartSpinBox, [&] { mYStartSpinBox->setValue(shown.yStart); });
            blockedThenUnblocked(mYWidthSpinBox, [&] { mYWidthSpinBox->setValue(shown.yWidth); });
        }
    }
}

void KorvaneViewerQt::UpdateProperties() {
    if (!CheckReaderReady()) return;
    mPropertiesPlainTextEdit->clear();
    try {
        const int z = mZPlaneSpinBox->value();
        const int c = mChannelSpinBox->value();
        const int t = mTimepointSpinBox->value();
        PropertiesMap properties;
        mReader->getProperties(properties, t, c, z);
        for (const auto& entry : properties) {
            mPropertiesPlainTextEdit->appendPlainText(fromReader(entry.first) + "=" +
                                                      fromReader(entry.second));
        }
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::UpdateMetaData() {
    if (!CheckReaderReady()) return;
    mMetaDataPlainTextEdit->clear();
    try {
        MetaDataMap metaData;
        mReader->getMetaData(metaData);
        // Keys are paths with numbered parts: "Image channel 10" comes after "Image channel 9", as people
        // count, not after "Image channel 1" as the map's byte order has it.
        std::vector<std::pair<QString, QString>> entries;
        for (const auto& entry : metaData)
            entries.emplace_back(fromReader(entry.first), fromReader(entry.second));
        QCollator numbered{QLocale(QLocale::English)};
        numbered.setNumericMode(true);
        std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
            return numbered.compare(a.first, b.first) < 0;
        });
        for (const auto& [key, value] : entries) mMetaDataPlainTextEdit->appendPlainText(key + "=" + value);
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::on_mLoadFileNamePushButton_clicked() {
    // Without a reader there is nothing to ask for suffixes or to open with.
    if (!mReader) return;
    std::vector<std::string> suffixes;
    try {
        suffixes = mReader->getSuffixes();
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
        return;
    }
    QString filter;
    if (suffixes.empty()) {
        filter = tr("All files (*)");
    } else {
        filter = tr("Library supported (");
        for (const std::string& suffix : suffixes) {
            if (suffix.empty()) continue;
            filter += QLatin1String("*.") + QString::fromLatin1(suffix.c_str()) + QLatin1String(" ");
        }
        filter += QLatin1String(")") + tr(";;All files (*)");
    }
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Open Image File"), mLoadFileNameLineEdit->text(), filter, nullptr, QFileDialog::Options());
    if (fileName.isEmpty()) return;
    withSignalsBlocked(mLoadFileNameLineEdit, [&] { mLoadFileNameLineEdit->setText(fileName); });
    OpenFile(FileNameOf(fileName));
}

void KorvaneViewerQt::on_mLoadFileNameLineEdit_editingFinished() {
    OpenFile(FileNameOf(mLoadFileNameLineEdit->text()));
}

void KorvaneViewerQt::on_mSaveFileNamePushButton_clicked() { mSave->choose(); }

void KorvaneViewerQt::on_mSaveFileNameLineEdit_editingFinished() { mSave->saveTyped(); }

void KorvaneViewerQt::on_mEnableMetadataCheckBox_toggled(bool aCheckedState) {
    (void)aCheckedState;  // the reader has no metadata switch; toggling only reopens the file
    if (!mReader || !mReader->isOpen()) return;
    try {
        mReader->close();
        on_mLoadFileNameLineEdit_editingFinished();
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

// --- Navigation and settings -----------------------------------------------------------------------

void KorvaneViewerQt::Navigate(QSpinBox* aSpinBox, int (BlitzBioReader::*aCount)(), int aNewValue) {
    if (!CheckReaderReady()) return;
    try {
        const int count = (mReader->*aCount)();
        if (count > aNewValue) {
            if (aSpinBox == mSeriesSpinBox) {
                mSource.forget();
                mReader->setSeries(aNewValue);
            }
            UpdatePlane(false);
        } else {
            // Pulled back to the last valid index without reloading: the picture stays as it was.
            blockedThenUnblocked(aSpinBox, [&] { aSpinBox->setValue(count - 1); });
        }
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::on_mSeriesSpinBox_valueChanged(int aNewValue) {
    Navigate(mSeriesSpinBox, &BlitzBioReader::getSeriesCount, aNewValue);
}

void KorvaneViewerQt::on_mTimepointSpinBox_valueChanged(int aNewValue) {
    Navigate(mTimepointSpinBox, &BlitzBioReader::getSizeT, aNewValue);
}

void KorvaneViewerQt::on_mChannelSpinBox_valueChanged(int aNewValue) {
    Navigate(mChannelSpinBox, &BlitzBioReader::getSizeC, aNewValue);
}

void KorvaneViewerQt::on_mZPlaneSpinBox_valueChanged(int aNewValue) {
    Navigate(mZPlaneSpinBox, &BlitzBioReader::getSizeZ, aNewValue);
}

void KorvaneViewerQt::on_mImageDataTypeComboBox_currentIndexChanged(int aNewIndex) {
    if (aNewIndex != 0) {
        mAutomaticContrastCheckBox->setEnabled(true);
    } else {
        // 8-bit data needs no contrast; unchecking must not reload a second time.
        blockedThenUnblocked(mAutomaticContrastCheckBox,
                             [&] { mAutomaticContrastCheckBox->setChecked(false); });
        mAutomaticContrastCheckBox->setEnabled(false);
    }
    UpdatePlane(false);
}

void KorvaneViewerQt::on_mAutomaticContrastCheckBox_toggled(bool) { UpdatePlane(false); }

void KorvaneViewerQt::on_mEnableCroppingCheckBox_toggled(bool aCheckedState) {
    try {
        mXStartSpinBox->setEnabled(aCheckedState);
        mXWidthSpinBox->setEnabled(aCheckedState);
        mYStartSpinBox->setEnabled(aCheckedState);
        mYWidthSpinBox->setEnabled(aCheckedState);
        if (aCheckedState) {
            int width = 1;
            int height = 1;
            if (mReader && mReader->isOpen()) {
                width = mReader->getSizeX();
                height = mReader->getSizeY();
            }
            blockedThenUnblocked(mXWidthSpinBox, [&] { mXWidthSpinBox->setValue(width); });
            blockedThenUnblocked(mYWidthSpinBox, [&] { mYWidthSpinBox->setValue(height); });
        }
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::on_mApplyPushButton_clicked() { UpdatePlane(false); }

void KorvaneViewerQt::on_mGarbageCollectorPushButton_clicked() {}

// --- Plane loading ---------------------------------------------------------------------------------

bool KorvaneViewerQt::CheckReaderReady() {
    if (!mReader) {
        ShowCriticalMessage(tr("Error"), tr("No file reader created! Please create a file reader first."));
        return false;
    }
    if (!mReader->isOpen()) {
        ShowCriticalMessage(tr("Error"), tr("No file opened! Please open a file first."));
        return false;
    }
    return true;
}

void KorvaneViewerQt::UpdatePlane(bool aUseFilePixelType) {
    if (!CheckReaderReady()) return;
    try {
        const int zPlane = mZPlaneSpinBox->value();
        const int channel = mChannelSpinBox->value();
        const int timepoint = mTimepointSpinBox->value();
        int xStart = mXStartSpinBox->value();
        int xWidth = mXWidthSpinBox->value();
        int yStart = mYStartSpinBox->value();
        int yWidth = mYWidthSpinBox->value();

        const int sizeX = mReader->getSizeX();
        const int sizeY = mReader->getSizeY();
        if (xStart >= sizeX) xStart = sizeX - 1;
        if (yStart >= sizeY) yStart = sizeY - 1;
        if (xStart + xWidth > sizeX) xWidth = sizeX - xStart;
        if (yStart + yWidth > sizeY) yWidth = sizeY - yStart;

        PlaneRequest request;
        request.index = PlaneIndex{timepoint, channel, zPlane};
        if (PlaneSource::isScanFile(*mReader)) {
            // Every row of the scan is shown; a crop picks columns only.
            request.mode = ViewMode::ScanImage;
            yStart = 0;
            yWidth = 0;
        }
        if (mEnableCroppingCheckBox->isChecked()) {
            request.cropped = true;
            request.xStart = xStart;
            request.xWidth = xWidth;
            request.yStart = yStart;
            request.yWidth = yWidth;
        }

        // A timer of its own: a nested update does not restart it.
        QElapsedTimer timer;
        timer.start();

        const QString fileType = fromReader(mReader->getPixelTypeName(channel));
        QString chosenType = mImageDataTypeComboBox->currentText();
        if (aUseFilePixelType && chosenType != fileType) {
            chosenType = fileType;
            const int index =
                mImageDataTypeComboBox->findText(fileType, Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (index < 0) {
                ReportSevereError(tr("Could not parse Data type '") + fileType +
                                  tr("'. Please inform the developers!"));
            } else {
                // Runs the data-type slot, i.e. one complete nested update with the file's type.
                mImageDataTypeComboBox->setCurrentIndex(index);
            }
        }

        const QByteArray typeName = chosenType.toLatin1();
        const ElementType type = elementTypeOf(typeName);
        if (typeName == "TYPE_UINT8") {
            LoadPlane<unsigned char>(request, type, timer);
        } else if (typeName == "TYPE_UINT16") {
            LoadPlane<unsigned short>(request, type, timer);
        } else if (typeName == "TYPE_UINT32") {
            LoadPlane<unsigned int>(request, type, timer);
        } else if (typeName == "TYPE_FLOAT") {
            LoadPlane<float>(request, type, timer);
        } else {
            ReportSevereError(tr("Could not load image because data type could not") +
                              tr(" be parsed. Please inform the developers!"));
        }

        QPalette palette = mImageDataTypeComboBox->palette();
        const QBrush brush(chosenType == fileType ? QColor(Qt::green) : QColor(255, 32, 32, 255),
                           Qt::SolidPattern);
        palette.setBrush(QPalette::All, QPalette::Base, brush);
        palette.setBrush(QPalette::All, QPalette::Button, brush);
        palette.setBrush(QPalette::All, QPalette::Window, brush);
        mImageDataTypeComboBox->setPalette(palette);
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
        ReopenAfterFailedRead();
        ShowDisplayedInControls();
    }
}

void KorvaneViewerQt::ReopenAfterFailedRead() {
    if (!mReader || mReader->isOpen() || !mState->hasFile()) return;
    try {
        mReader->open(mState->fileName().toStdString());
    } catch (const BlitzFileIOException&) {
        mReader->close();  // an open that fails late leaves the file half open
    }
}

template <typename T>
void KorvaneViewerQt::LoadPlane(const PlaneRequest& aRequest, ElementType aType,
                                const QElapsedTimer& aTimer) {
    blitz::Array<T, 2> plane;
    // The same request to the same open file (the outer update right after the nested one of a file
    // that opens in another type, or Apply pressed again) is answered by the kept plane: the reader
    // would give the same elements. The display then draws nothing new unless its settings changed.
    bool reused = false;
    if (const blitz::Array<T, 2>* kept = mSource.keptFor<T>(aRequest)) {
        plane.reference(*kept);
        reused = true;
    }
    // Without a picture to draw over, the new one is made ready while the plane is read. (A picture of
    // another size stays until the plane is there: it is still shown if the read fails.)
    std::future<QImage> picture;
    if (!reused && mDisplay->picture().isNull()) {
        const QSize size = plausiblePlaneSize(*mReader, aRequest);
        if (!size.isEmpty()) picture = preparePicture(size);
    }
    if (!reused) {
        // The planes kept for the picture and the read-out go before the next one is read.
        mSource.release();
        BusyCursor busy;
        mSource.read(plane, aRequest);
    }
    if (aRequest.cropped) {
        const int rows =
            aRequest.mode == ViewMode::ScanImage ? PlaneSource::scanRows(*mReader) : aRequest.yWidth;
        CheckPlaneSize(plane, aRequest.xWidth, rows);
    }
    const double seconds = double(aTimer.nsecsElapsed()) * 1e-9;
    mJavaAccessTimeLabel->setText(QString::number(seconds, 'f', 4) + tr(" s"));
    BusyCursor busy;
    if (picture.valid()) mDisplay->offerPicture(takePicture(picture));  // drawn over in place
    ShowPlane(plane, aRequest, aType);
}

template <typename T>
void KorvaneViewerQt::CheckPlaneSize(blitz::Array<T, 2> aPlane, int aXWidth, int aYWidth) {
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    if (rows == aYWidth && cols == aXWidth) return;
    const QString text =
        QString("Error: Read image size is not of the requested image size: %1 != %2, or %3 != %4, or both.")
            .arg(rows)
            .arg(aYWidth)
            .arg(cols)
            .arg(aXWidth);
    std::cerr << text.toLocal8Bit().constData() << std::endl;
    ShowCriticalMessage(tr("Severe Error"), text);
}

template <typename T>
void KorvaneViewerQt::ShowPlane(blitz::Array<T, 2> aPlane, const PlaneRequest& aRequest, ElementType aType) {
    // One change of the state: the display draws once, with the channel's range and the contrast.
    ViewState::Batch batch(*mState);
    mSource.keep(AnyPlane(aPlane), aRequest);
    mState->setShown(aRequest, aType);
    mState->setAutomaticContrast(mAutomaticContrastCheckBox->isChecked());
}

// --- Memory read-out -------------------------------------------------------------------------------

void KorvaneViewerQt::UpdateMemoryUsage() {
    const int32_t kb = getResidentMemoryKB();
    mMemoryUsageLabel->setText(QString::number(static_cast<unsigned int>(kb), 10) + tr(" kB"));
}
