#ifndef KORVANE_KORVANEVIEWERQT_H
#define KORVANE_KORVANEVIEWERQT_H

#include <QImage>
#include <QMainWindow>
#include <string>

#include "BlitzArray.h"
#include "ui_KorvaneViewerQt.h"

class BlitzBioReader;
class DorudURIVuruda;

// Named without the namespace so that the meta-object answers qt_metacast("KorvaneViewerQtClass").
using Ui::KorvaneViewerQtClass;

// The main window: one reader, one plane on screen, the controls that choose it.
class KorvaneViewerQt : public QMainWindow, public KorvaneViewerQtClass {
    Q_OBJECT

  public:
    explicit KorvaneViewerQt(QWidget* parent = nullptr);
    ~KorvaneViewerQt() override;

  private slots:
    void on_mLibrarySetupApplyPushButton_clicked();
    void on_mLibraryPushButton_clicked();
    void on_mLibraryLineEdit_editingFinished();
    void on_mJavaHeapSizeHorizontalSlider_valueChanged(int aNewValue);
    void on_mJavaHeapSizeSpinBox_valueChanged(int aNewValue);
    void on_mLoadFileNamePushButton_clicked();
    void on_mLoadFileNameLineEdit_editingFinished();
    void on_mSaveFileNamePushButton_clicked();
    void on_mSaveFileNameLineEdit_editingFinished();
    void on_mSeriesSpinBox_valueChanged(int aNewValue);
    void on_mTimepointSpinBox_valueChanged(int aNewValue);
    void on_mChannelSpinBox_valueChanged(int aNewValue);
    void on_mZPlaneSpinBox_valueChanged(int aNewValue);
    void on_mImageDataTypeComboBox_currentIndexChanged(int);
    void on_mAutomaticContrastCheckBox_toggled(bool);
    void on_mEnableCroppingCheckBox_toggled(bool aCheckedState);
    void on_mApplyPushButton_clicked();
    void on_mGarbageCollectorPushButton_clicked();
    void on_mEnableMetadataCheckBox_toggled(bool aCheckedState);
    void UpdateMemoryUsage();

  private:
    friend struct KorvaneViewerQtProbe;  // read access for the tests
    friend class ViewerShell;            // menus, keys and status bar around the window

    void OnSetLibrary(std::string aLibraryPath, unsigned int aHeapSizeMB);
    void SetLibraryStatus(bool aOk);
    void ResetControls();
    bool CheckReaderReady();
    void OpenFile(const std::string& aFileName);
    void UpdateProperties();
    void UpdateMetaData();
    void UpdatePlane(bool aUseFilePixelType);

    template <typename T>
    void LoadPlane(int aTimepoint, int aChannel, int aZPlane, int aXStart, int aXWidth, int aYStart,
                   int aYWidth);
    template <typename T>
    void CheckPlaneSize(blitz::Array<T, 2> aPlane, int aXWidth, int aYWidth);
    template <typename T>
    void ShowPlane(blitz::Array<T, 2> aPlane);

    // Modal critical box with one Close button, parented to the window.
    void ShowCriticalMessage(const QString& aTitle, const QString& aText);
    void ShowExceptionMessage(const char* aWhat);
    // Written to standard error as one line and shown as "Severe Error".
    void ReportSevereError(const QString& aText);
    // Shared by the four navigation slots: reloads when aNewValue is below the reader's count (selecting
    // the series first for the series spin box), otherwise pulls the spin box back to the last index.
    void Navigate(QSpinBox* aSpinBox, int (BlitzBioReader::*aCount)(), int aNewValue);

    QImage mImage;
    DorudURIVuruda* mReader;
};

#endif
