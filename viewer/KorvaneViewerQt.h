#ifndef KORVANE_KORVANEVIEWERQT_H
#define KORVANE_KORVANEVIEWERQT_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <string>

#include "BlitzArray.h"
#include "PlaneSource.h"
#include "ViewState.h"
#include "ui_KorvaneViewerQt.h"

class BlitzBioReader;
class DorudURIVuruda;
class DisplayPipeline;
class SaveGroup;

// Named without the namespace so that the meta-object answers qt_metacast("KorvaneViewerQtClass").
using Ui::KorvaneViewerQtClass;

// The main window: one reader, the controls that choose a plane, and the state of what is shown, from
// which the display draws the picture.
class KorvaneViewerQt : public QMainWindow, public KorvaneViewerQtClass {
    Q_OBJECT

  public:
    explicit KorvaneViewerQt(QWidget* parent = nullptr);
    ~KorvaneViewerQt() override;

    // Null only when creating it failed.
    DorudURIVuruda* reader() const { return mReader; }
    ViewState& viewState() { return *mState; }
    PlaneSource& planeSource() { return mSource; }
    DisplayPipeline& display() { return *mDisplay; }
    // The picture on screen; null when nothing is shown.
    const QImage& picture() const;

    // Puts a file name given as bytes (on the command line, dropped) into the Filename field as the user
    // reads it; opening that text then opens these bytes, even when they are no valid text.
    void setFileNameBytes(const QByteArray& aFileName);

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
    void OnSetLibrary(std::string aLibraryPath, unsigned int aHeapSizeMB);
    void SetLibraryStatus(bool aOk);
    void ResetControls();
    bool CheckReaderReady();
    void OpenFile(const std::string& aFileName);
    void UpdateProperties();
    void UpdateMetaData();
    void UpdatePlane(bool aUseFilePixelType);

    template <typename T>
    void LoadPlane(const PlaneRequest& aRequest, ElementType aType, const QElapsedTimer& aTimer);
    template <typename T>
    void CheckPlaneSize(blitz::Array<T, 2> aPlane, int aXWidth, int aYWidth);
    template <typename T>
    void ShowPlane(blitz::Array<T, 2> aPlane, const PlaneRequest& aRequest, ElementType aType);

    // Modal critical box with one Close button, parented to the window.
    void ShowCriticalMessage(const QString& aTitle, const QString& aText);
    void ShowExceptionMessage(const char* aWhat);
    // Written to standard error as one line and shown as "Severe Error".
    void ReportSevereError(const QString& aText);
    // Shared by the four navigation slots: reloads when aNewValue is below the reader's count (selecting
    // the series first for the series spin box), otherwise pulls the spin box back to the last index.
    void Navigate(QSpinBox* aSpinBox, int (BlitzBioReader::*aCount)(), int aNewValue);
    // A read that fails closes the file, though only its plane is damaged: the file opens again so that
    // the other planes stay in reach. When it cannot, the file stays closed.
    void ReopenAfterFailedRead();
    // After a failed read: the controls show what is on screen again; when the failure closed the file,
    // nothing is on screen any more.
    void ShowDisplayedInControls();
    // Nothing shown: no picture, read-out, properties or metadata of a file that is not open.
    void ClearView();
    // The bytes to open for the text of the Filename field.
    std::string FileNameOf(const QString& aText) const;

    DorudURIVuruda* mReader;
    ViewState* mState;
    PlaneSource mSource;
    DisplayPipeline* mDisplay;
    SaveGroup* mSave;
    QString mNamedText;  // the Filename text that setFileNameBytes put there, and its bytes
    QByteArray mNamedBytes;
};

#endif
