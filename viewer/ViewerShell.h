#ifndef KORVANE_VIEWERSHELL_H
#define KORVANE_VIEWERSHELL_H

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPointer>

class DisplayPanel;
class JobProgress;
class KorvaneViewerQt;
class OrthogonalMode;
class ProjectionMode;
class PlaneView;
class ProfileLineOverlay;
class ProfilePlot;
class StackSliders;
class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QSpinBox;
class BlitzBioReader;

// Everything around the fixed window, wired in one place: the menus and their shortcuts (which work
// whichever control has the focus), zoom, the Display panel, the status bar with the zoom level and the
// values under the cursor, channel colours, the scale bar, Image Only, the z and t sliders with playback
// (Space, and the plain mouse wheel for z), the profile line and its plot, and opening a file dropped on
// the window. Menus and panels edit the window's state; planes still load through the window's own slots.
class ViewerShell : public QObject {
    Q_OBJECT

  public:
    // Lives as a child of the window.
    explicit ViewerShell(KorvaneViewerQt& aWindow);

    QAction* openAction() const { return mOpen; }
    QAction* quitAction() const { return mQuit; }
    QAction* zoomInAction() const { return mZoomIn; }
    QAction* zoomOutAction() const { return mZoomOut; }
    QAction* actualSizeAction() const { return mActualSize; }
    QAction* fitAction() const { return mFit; }
    QAction* channelColoursAction() const { return mChannelColours; }
    QAction* scaleBarAction() const { return mScaleBar; }
    QAction* imageOnlyAction() const { return mImageOnly; }
    QAction* autoAction() const { return mAuto; }
    QAction* fullAction() const { return mFull; }
    QAction* playAction() const { return mPlay; }
    QAction* projectionAction() const { return mProjection; }
    QAction* orthogonalAction() const { return mOrthogonal; }
    QAction* planeAction() const { return mPlane; }
    ProjectionMode* projectionMode() const { return mProjectionMode; }
    OrthogonalMode* orthogonalMode() const { return mOrthogonalMode; }
    JobProgress* jobProgress() const { return mJobProgress; }
    QDockWidget* displayDock() const { return mDock; }
    QDockWidget* profileDock() const { return mProfileDock; }
    StackSliders* stackSliders() const { return mSliders; }
    ProfilePlot* profilePlot() const { return mProfilePlot; }
    QLabel* readoutLabel() const { return mReadout; }
    QLabel* zoomLabel() const { return mZoomLabel; }

  protected:
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override;

  private:
    void buildMenus();
    QAction* addAction(QMenu* aMenu, const QString& aText, const QList<QKeySequence>& aKeys);
    // Moves a navigation spin box one index on, within the reader's count, so that its slot loads.
    void step(QSpinBox* aSpinBox, int (BlitzBioReader::*aCount)(), int aDelta);
    void showZoom(double aZoom);
    void showReadout(const QPoint& aPixel);
    void setImageOnly(bool aOn);
    bool isInWindow(QObject* aObject) const;
    // The open file's z and t extents to the sliders.
    void showExtents();
    // The projection and the orthogonal views: their modes, menu entries, progress and messages.
    void buildStackViews();
    void askProjection();
    void backToPlane();
    void showStackMode();

    KorvaneViewerQt& mWindow;
    PlaneView* mView;
    QAction* mOpen = nullptr;
    QAction* mQuit = nullptr;
    QAction* mZoomIn = nullptr;
    QAction* mZoomOut = nullptr;
    QAction* mActualSize = nullptr;
    QAction* mFit = nullptr;
    QAction* mChannelColours = nullptr;
    QAction* mScaleBar = nullptr;
    QAction* mImageOnly = nullptr;
    QAction* mAuto = nullptr;
    QAction* mFull = nullptr;
    QAction* mPlay = nullptr;
    QAction* mProjection = nullptr;
    QAction* mOrthogonal = nullptr;
    QAction* mPlane = nullptr;
    ProjectionMode* mProjectionMode = nullptr;
    OrthogonalMode* mOrthogonalMode = nullptr;
    JobProgress* mJobProgress = nullptr;
    QDockWidget* mDock = nullptr;
    QDockWidget* mProfileDock = nullptr;
    StackSliders* mSliders = nullptr;
    ProfileLineOverlay* mProfileLine = nullptr;
    ProfilePlot* mProfilePlot = nullptr;
    DisplayPanel* mPanel = nullptr;
    QLabel* mReadout = nullptr;
    QLabel* mZoomLabel = nullptr;
    QList<QKeySequence> mKeys;       // every shortcut of the shell, taken before the focused control sees it
    QList<QKeySequence> mTypedKeys;  // of those, the ones a text field keeps for typing
    QList<QPointer<QWidget>> mHiddenForImage;  // what Image Only hid, to be shown again
};

#endif
