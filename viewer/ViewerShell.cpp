#include "ViewerShell.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>
#include <cmath>

#include "BlitzFileIOException.h"
#include "BusyCursor.h"
#include "ChannelComposite.h"
#include "DorudURIVuruda.h"
#include "KorvaneViewerQt.h"
#include "PlaneView.h"
#include "StartupFile.h"

namespace {

// The first local file among the dropped URLs, or an empty text.
QString droppedFile(const QMimeData* aData) {
    if (!aData || !aData->hasUrls()) return QString();
    for (const QUrl& url : aData->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return QString();
}

}  // namespace

ViewerShell::ViewerShell(KorvaneViewerQt& aWindow)
    : QObject(&aWindow), mWindow(aWindow), mView(aWindow.mImageLabel) {
    buildMenus();

    mReadout = new QLabel(&mWindow);
    mZoomLabel = new QLabel(&mWindow);
    mWindow.statusbar->addWidget(mReadout, 1);
    mWindow.statusbar->addPermanentWidget(mZoomLabel);
    showZoom(mView->zoomStep());

    connect(mView, &PlaneView::zoomChanged, this, &ViewerShell::showZoom);
    connect(mView, &PlaneView::pixelHovered, this,
            [this](const QPoint& aPixel) { mReadout->setText(mView->shownPlane().readout(aPixel)); });
    connect(mView, &PlaneView::planeShown, this, [this] {
        ++mPlanesShown;
        if (mChannelColours->isChecked()) refreshColours();
    });

    // A file opens at actual size: typed (or dropped) names, the Choose button when it opened one, and
    // the reopening by "Load Metadata".
    connect(mWindow.mLoadFileNameLineEdit, &QLineEdit::editingFinished, this,
            [this] { mView->setZoomStep(0); });
    connect(mWindow.mLoadFileNamePushButton, &QPushButton::pressed, this,
            [this] { mPlanesShownAtPress = mPlanesShown; });
    connect(mWindow.mLoadFileNamePushButton, &QPushButton::clicked, this, [this] {
        if (mPlanesShown != mPlanesShownAtPress) mView->setZoomStep(0);
    });
    connect(mWindow.mEnableMetadataCheckBox, &QCheckBox::toggled, this, [this] { mView->setZoomStep(0); });

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
    connect(mZoomIn, &QAction::triggered, this, [this] { mView->setZoomStep(mView->zoomStep() + 1); });
    connect(mZoomOut, &QAction::triggered, this, [this] { mView->setZoomStep(mView->zoomStep() - 1); });
    connect(mActualSize, &QAction::triggered, this, [this] { mView->setZoomStep(0); });
    connect(mFit, &QAction::triggered, mView, &PlaneView::zoomToFit);
    connect(mChannelColours, &QAction::toggled, this, [this](bool aOn) {
        if (aOn) {
            refreshColours();
        } else {
            mView->setColourPicture(QImage());
        }
    });

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
}

void ViewerShell::step(QSpinBox* aSpinBox, int (BlitzBioReader::*aCount)(), int aDelta) {
    DorudURIVuruda* reader = mWindow.mReader;
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

void ViewerShell::showZoom(int aStep) {
    mZoomLabel->setText(tr("Zoom %1%").arg(QString::number(100.0 * std::ldexp(1.0, aStep), 'g', 6)));
}

void ViewerShell::refreshColours() {
    DorudURIVuruda* reader = mWindow.mReader;
    const ShownPlane& plane = mView->shownPlane();
    if (!reader || !reader->isOpen() || plane.isEmpty()) {
        mView->setColourPicture(QImage());
        return;
    }
    try {
        BusyCursor busy;
        mView->setColourPicture(
            composeChannels(*reader, plane.index().timepoint, plane.index().zPlane, plane.crop()));
    } catch (const BlitzFileIOException& e) {
        mView->setColourPicture(QImage());
        QMessageBox box(QMessageBox::Critical, tr("Caught Exception"), QString::fromLocal8Bit(e.what()),
                        QMessageBox::Close, &mWindow);
        box.exec();
    }
}

void ViewerShell::openDropped(const QString& aPath) {
    openStartupFile(mWindow, aPath);  // as if typed into the Filename field, like a start-up file
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
            return isInWindow(aWatched) && mKeys.contains(pressed);
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
            const QString path = droppedFile(drop->mimeData());
            if (!isInWindow(aWatched) || path.isEmpty()) return false;
            drop->acceptProposedAction();
            openDropped(path);
            return true;
        }
        default:
            return false;
    }
}
