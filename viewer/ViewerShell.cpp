#include "ViewerShell.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabBar>
#include <QUrl>
#include <QWheelEvent>

#include "BlitzFileIOException.h"
#include "DisplayPanel.h"
#include "DisplayPipeline.h"
#include "DorudURIVuruda.h"
#include "FileNames.h"
#include "JobProgress.h"
#include "KorvaneViewerQt.h"
#include "OrthogonalMode.h"
#include "PlaneView.h"
#include "ProfileLineOverlay.h"
#include "ProfilePlot.h"
#include "ProjectionDialog.h"
#include "ProjectionMode.h"
#include "Readout.h"
#include "StackSliders.h"
#include "StartupFile.h"

namespace {

// The bytes of the first local file among the dropped URLs, or nothing.
QByteArray droppedFile(const QMimeData* aData) {
    if (!aData || !aData->hasUrls()) return QByteArray();
    for (const QUrl& url : aData->urls())
        if (url.isLocalFile()) return localFileBytes(url);
    return QByteArray();
}

// Whether typing into the widget takes printable keys, which then are text rather than shortcuts.
bool takesText(QObject* aObject) {
    if (const auto* line = qobject_cast<QLineEdit*>(aObject)) return !line->isReadOnly();
    if (const auto* text = qobject_cast<QPlainTextEdit*>(aObject)) return !text->isReadOnly();
    return false;
}

}  // namespace

ViewerShell::ViewerShell(KorvaneViewerQt& aWindow)
    : QObject(&aWindow), mWindow(aWindow), mView(aWindow.mImageLabel) {
    // The Display panel docks beside the image; hidden at first, so that the window opens as it always
    // did.
    mDock = new QDockWidget(tr("Display"), &mWindow);
    mDock->setObjectName("mDisplayDock");
    mPanel = new DisplayPanel(mWindow.viewState(), mWindow.display(), mDock);
    mDock->setWidget(mPanel);
    mWindow.addDockWidget(Qt::RightDockWidgetArea, mDock);
    mDock->hide();

    // The sliders sit under the image inside its tab, shown only for files with more than one plane or
    // timepoint; the profile plot docks beside the image once a line is drawn.
    mSliders = new StackSliders(mWindow.viewState(), mWindow.mZPlaneSpinBox, mWindow.mTimepointSpinBox,
                                mWindow.mImageTab);
    mWindow.verticalLayout_8->addWidget(mSliders);
    mProfileLine = new ProfileLineOverlay(mWindow.viewState(), *mView);
    mProfileDock = new QDockWidget(tr("Profile"), &mWindow);
    mProfileDock->setObjectName("mProfileDock");
    mProfilePlot =
        new ProfilePlot(mWindow.viewState(), mWindow.planeSource(), mWindow.display(), mProfileDock);
    mProfileDock->setWidget(mProfilePlot);
    mWindow.addDockWidget(Qt::RightDockWidgetArea, mProfileDock);
    mProfileDock->hide();
    connect(mProfileLine, &ProfileLineOverlay::lineDrawn, this, [this] {
        if (!mImageOnly->isChecked()) mProfileDock->show();
    });

    buildMenus();

    mReadout = new QLabel(&mWindow);
    mReadout->setTextFormat(Qt::RichText);
    mZoomLabel = new QLabel(&mWindow);
    mWindow.statusbar->addWidget(mReadout, 1);
    buildStackViews();
    mWindow.statusbar->addPermanentWidget(mZoomLabel);
    showZoom(mView->zoom());

    connect(mView, &PlaneView::zoomChanged, this, &ViewerShell::showZoom);
    connect(mView, &PlaneView::pixelHovered, this, &ViewerShell::showReadout);
    connect(&mWindow.viewState(), &ViewState::changed, this, [this](ViewState::Aspects aWhat) {
        if (aWhat & ViewState::DisplayAspect) {
            const QSignalBlocker blocker(mChannelColours);
            mChannelColours->setChecked(mWindow.viewState().composite());
        }
        if (aWhat & ViewState::FileAspect) showExtents();
    });

    mWindow.setAcceptDrops(true);
    qApp->installEventFilter(this);
}

QAction* ViewerShell::addAction(QMenu* aMenu, const QString& aText, const QList<QKeySequence>& aKeys) {
    QAction* action = aMenu->addAction(aText);
    action->setShortcuts(aKeys);
    mKeys += aKeys;
    return action;
}

void ViewerShell::buildMenus() {
    QMenuBar* bar = mWindow.menubar;
    ViewState& state = mWindow.viewState();
    DisplayPipeline& display = mWindow.display();

    QMenu* file = bar->addMenu(tr("&File"));
    mOpen = addAction(file, tr("&Open..."), {QKeySequence(Qt::CTRL | Qt::Key_O)});
    file->addSeparator();
    mQuit = addAction(file, tr("&Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)});
    connect(mOpen, &QAction::triggered, mWindow.mLoadFileNamePushButton, &QPushButton::click);
    connect(mQuit, &QAction::triggered, &mWindow, &QWidget::close);

    QMenu* view = bar->addMenu(tr("&View"));
    mZoomIn = addAction(view, tr("Zoom &In"),
                        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    mZoomOut = addAction(view, tr("Zoom &Out"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    mActualSize = addAction(view, tr("&Actual Size"), {QKeySequence(Qt::CTRL | Qt::Key_1)});
    mFit = addAction(view, tr("&Fit to Window"), {QKeySequence(Qt::CTRL | Qt::Key_0)});
    view->addSeparator();
    mChannelColours =
        addAction(view, tr("&Channel Colours"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)});
    mChannelColours->setCheckable(true);
    mAuto = addAction(view, tr("A&uto Range"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A)});
    mFull = addAction(view, tr("F&ull Range"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)});
    view->addSeparator();
    mScaleBar = addAction(view, tr("&Scale Bar"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B)});
    mScaleBar->setCheckable(true);
    QAction* panel = mDock->toggleViewAction();
    panel->setText(tr("&Display Panel"));
    panel->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    mKeys << panel->shortcut();
    view->addAction(panel);
    QAction* profile = mProfileDock->toggleViewAction();
    profile->setText(tr("Line &Profile"));
    profile->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    mKeys << profile->shortcut();
    view->addAction(profile);
    mImageOnly = addAction(view, tr("&Image Only"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)});
    mImageOnly->setCheckable(true);
    view->addSeparator();
    mProjection = addAction(view, tr("Z &Projection..."), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)});
    mOrthogonal = addAction(view, tr("&Orthogonal Views"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)});
    mOrthogonal->setCheckable(true);
    mPlane = addAction(view, tr("Back to the Plane"), {QKeySequence(Qt::Key_Escape)});

    connect(mZoomIn, &QAction::triggered, mView, &PlaneView::zoomIn);
    connect(mZoomOut, &QAction::triggered, mView, &PlaneView::zoomOut);
    connect(mActualSize, &QAction::triggered, this, [this] { mView->setZoom(1.0); });
    connect(mFit, &QAction::triggered, mView, &PlaneView::fitToWindow);
    connect(mChannelColours, &QAction::toggled, &state, &ViewState::setComposite);
    connect(mAuto, &QAction::triggered, this, [&display] { display.applyAuto(display.activeChannels()); });
    connect(mFull, &QAction::triggered, this, [&display] { display.applyFull(display.activeChannels()); });
    connect(mScaleBar, &QAction::toggled, &state, &ViewState::setScaleBar);
    connect(mImageOnly, &QAction::toggled, this, &ViewerShell::setImageOnly);

    QMenu* go = bar->addMenu(tr("&Go"));
    struct Move {
        QString text;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QSpinBox* spinBox;
        int (BlitzBioReader::*count)();
        int delta;
    };
    const Move moves[] = {
        {tr("Next &Z Plane"), Qt::Key_PageDown, Qt::NoModifier, mWindow.mZPlaneSpinBox,
         &BlitzBioReader::getSizeZ, 1},
        {tr("Previous Z Plane"), Qt::Key_PageUp, Qt::NoModifier, mWindow.mZPlaneSpinBox,
         &BlitzBioReader::getSizeZ, -1},
        {tr("Next &Channel"), Qt::Key_PageDown, Qt::ShiftModifier, mWindow.mChannelSpinBox,
         &BlitzBioReader::getSizeC, 1},
        {tr("Previous Channel"), Qt::Key_PageUp, Qt::ShiftModifier, mWindow.mChannelSpinBox,
         &BlitzBioReader::getSizeC, -1},
        {tr("Next &Timepoint"), Qt::Key_PageDown, Qt::ControlModifier, mWindow.mTimepointSpinBox,
         &BlitzBioReader::getSizeT, 1},
        {tr("Previous Timepoint"), Qt::Key_PageUp, Qt::ControlModifier, mWindow.mTimepointSpinBox,
         &BlitzBioReader::getSizeT, -1},
    };
    for (const Move& move : moves) {
        if (move.delta > 0 && move.key == Qt::Key_PageDown && move.modifiers != Qt::NoModifier)
            go->addSeparator();
        QAction* action = addAction(go, move.text, {QKeySequence(QKeyCombination(move.modifiers, move.key))});
        connect(action, &QAction::triggered, this,
                [this, move] { step(move.spinBox, move.count, move.delta); });
    }
    go->addSeparator();
    mPlay = addAction(go, tr("&Play / Pause"), {QKeySequence(Qt::Key_Space)});
    mTypedKeys << QKeySequence(Qt::Key_Space);
    connect(mPlay, &QAction::triggered, mSliders, &StackSliders::togglePlayback);
}

void ViewerShell::showExtents() {
    DorudURIVuruda* reader = mWindow.reader();
    int sizeZ = 1, sizeT = 1;
    if (reader && reader->isOpen() && mWindow.viewState().hasFile()) {
        try {
            sizeZ = reader->getSizeZ();
            sizeT = reader->getSizeT();
        } catch (const BlitzFileIOException&) {
            sizeZ = sizeT = 1;  // the window's own slots report reader failures
        }
    }
    mSliders->setExtents(sizeZ, sizeT);
}

void ViewerShell::step(QSpinBox* aSpinBox, int (BlitzBioReader::*aCount)(), int aDelta) {
    DorudURIVuruda* reader = mWindow.reader();
    if (!reader || !reader->isOpen()) return;
    int count = 0;
    try {
        count = (reader->*aCount)();
    } catch (const BlitzFileIOException&) {
        return;  // the spin box's own slot reports reader failures when it next loads
    }
    const int next = aSpinBox->value() + aDelta;
    if (next < 0 || next >= count) return;
    aSpinBox->setValue(next);
}

void ViewerShell::showZoom(double aZoom) {
    mZoomLabel->setText(tr("Zoom %1%").arg(QString::number(100.0 * aZoom, 'g', 4)));
}

void ViewerShell::showReadout(const QPoint& aPixel) {
    PlaneSource& source = mWindow.planeSource();
    mReadout->setText(readoutText(mWindow.viewState(), source.plane(), source.keptChannelPlanes(), aPixel));
}

void ViewerShell::setImageOnly(bool aOn) {
    if (aOn) {
        // What is visible now goes, and exactly that comes back.
        QWidget* const parts[] = {mWindow.mLibraryGroupBox,
                                  mWindow.mSettingsGroupBox,
                                  mWindow.mLoadFileGroupBox,
                                  mWindow.mSaveFileGroupBox,
                                  mWindow.mTabWidget->tabBar(),
                                  mDock,
                                  mProfileDock};
        mHiddenForImage.clear();
        mWindow.mTabWidget->setCurrentWidget(mWindow.mImageTab);
        for (QWidget* part : parts) {
            if (part->isHidden()) continue;
            mHiddenForImage << part;
            part->hide();
        }
    } else {
        for (const QPointer<QWidget>& part : mHiddenForImage)
            if (part) part->show();
        mHiddenForImage.clear();
    }
}

bool ViewerShell::isInWindow(QObject* aObject) const {
    const QWidget* widget = qobject_cast<QWidget*>(aObject);
    return widget && widget->window() == &mWindow;
}

bool ViewerShell::eventFilter(QObject* aWatched, QEvent* aEvent) {
    switch (aEvent->type()) {
        case QEvent::ShortcutOverride: {
            // Eaten unaccepted, so that no focused control (spin boxes, text fields, the tab widget)
            // keeps these keys for itself and the shortcut fires.
            const auto* key = static_cast<QKeyEvent*>(aEvent);
            const QKeySequence pressed(
                QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
            if (mTypedKeys.contains(pressed) && takesText(aWatched)) return false;
            return isInWindow(aWatched) && mKeys.contains(pressed);
        }
        case QEvent::Wheel: {
            // The plain wheel steps through z wherever it turns over the image (on the picture, or beside
            // it in the scroll area's viewport); with Ctrl the view zooms, with other modifiers, or without
            // z planes, the image area scrolls.
            const auto* wheel = static_cast<QWheelEvent*>(aEvent);
            if ((aWatched != mView && aWatched != mWindow.mImageScrollArea->viewport()) ||
                wheel->modifiers() != Qt::NoModifier)
                return false;
            return mSliders->wheel(wheel->angleDelta().y());
        }
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(aEvent);
            if (!isInWindow(aWatched) || droppedFile(drag->mimeData()).isEmpty()) return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(aEvent);
            const QByteArray path = droppedFile(drop->mimeData());
            if (!isInWindow(aWatched) || path.isEmpty()) return false;
            drop->acceptProposedAction();
            openStartupFile(mWindow, path);  // as if typed into the Filename field, like a start-up file
            return true;
        }
        default:
            return false;
    }
}

void ViewerShell::buildStackViews() {
    mProjectionMode = new ProjectionMode(mWindow);
    mOrthogonalMode = new OrthogonalMode(mWindow);
    mJobProgress = new JobProgress(&mWindow);
    mWindow.statusbar->addPermanentWidget(mJobProgress);
    connect(mProjectionMode, &ProjectionMode::progressed, mJobProgress, &JobProgress::showProgress);
    connect(mOrthogonalMode, &OrthogonalMode::progressed, mJobProgress, &JobProgress::showProgress);
    connect(mProjectionMode, &ProjectionMode::idle, mJobProgress, &QWidget::hide);
    connect(mOrthogonalMode, &OrthogonalMode::idle, mJobProgress, &QWidget::hide);
    connect(mProjectionMode, &ProjectionMode::failed, this, [this](const QString& aMessage) {
        QMessageBox::critical(&mWindow, tr("Z Projection"), aMessage);
    });
    connect(mOrthogonalMode, &OrthogonalMode::failed, this, [this](const QString& aMessage) {
        QMessageBox::critical(&mWindow, tr("Orthogonal Views"), aMessage);
    });
    connect(mOrthogonalMode, &OrthogonalMode::refused, this,
            [this](const QString& aMessage) { mWindow.statusbar->showMessage(aMessage, 15000); });
    connect(mOrthogonalMode, &OrthogonalMode::hovered, mReadout, &QLabel::setText);

    connect(mProjection, &QAction::triggered, this, &ViewerShell::askProjection);
    connect(mOrthogonal, &QAction::toggled, this, [this](bool aOn) {
        StackMode mode = mWindow.viewState().stackMode();
        if (aOn == (mode.mode == ViewMode::Orthogonal)) return;
        mode.mode = aOn ? ViewMode::Orthogonal : ViewMode::Plane;
        mWindow.viewState().setStackMode(mode);
    });
    connect(mPlane, &QAction::triggered, this, &ViewerShell::backToPlane);
    connect(&mWindow.viewState(), &ViewState::changed, this, [this](ViewState::Aspects aWhat) {
        if (aWhat & (ViewState::FileAspect | ViewState::PlaneAspect | ViewState::ModeAspect)) showStackMode();
    });
    showStackMode();
}

void ViewerShell::showStackMode() {
    const ViewState& state = mWindow.viewState();
    DorudURIVuruda* reader = mWindow.reader();
    // Both need a stack of several planes; scan images have none.
    bool stack = false;
    try {
        stack = state.hasShown() && state.shown().mode != ViewMode::ScanImage && reader && reader->isOpen() &&
                reader->getSizeZ() > 1;
    } catch (const BlitzFileIOException&) {
    }
    const ViewMode mode = state.stackMode().mode;
    mProjection->setEnabled(stack);
    mOrthogonal->setEnabled(stack || mode == ViewMode::Orthogonal);
    const QSignalBlocker blocker(mOrthogonal);
    mOrthogonal->setChecked(mode == ViewMode::Orthogonal);
}

void ViewerShell::askProjection() {
    DorudURIVuruda* reader = mWindow.reader();
    if (!mProjection->isEnabled() || !reader || !reader->isOpen()) return;
    StackMode mode = mWindow.viewState().stackMode();
    int planes = 0;
    try {
        planes = reader->getSizeZ();
    } catch (const BlitzFileIOException&) {
        return;
    }
    ProjectionDialog dialog(planes, mode.projection, &mWindow);
    const int answer = dialog.exec();
    mWindow.activateWindow();  // the keys go back to the window, also where no window manager hands them
    if (answer != QDialog::Accepted) return;
    mode.mode = ViewMode::Projection;
    mode.projection = dialog.settings();
    mWindow.viewState().setStackMode(mode);
}

void ViewerShell::backToPlane() {
    // Esc first stops what is computed, and either way ends with the plane on screen.
    if (mProjectionMode->isBusy()) mProjectionMode->cancel();
    if (mOrthogonalMode->isBusy()) mOrthogonalMode->cancel();
    StackMode mode = mWindow.viewState().stackMode();
    if (mode.mode == ViewMode::Plane) return;
    mode.mode = ViewMode::Plane;
    mWindow.viewState().setStackMode(mode);
}
