#include "ProfileLineOverlay.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "PlaneView.h"
#include "ViewState.h"

ProfileLineOverlay::ProfileLineOverlay(ViewState& aState, PlaneView& aView)
    : QWidget(&aView), mState(aState), mView(aView) {
    setObjectName("mProfileLineOverlay");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(aView.rect());
    mView.installEventFilter(this);
    connect(&mState, &ViewState::changed, this, [this](ViewState::Aspects aWhat) {
        if (aWhat & (ViewState::OverlayAspect | ViewState::ZoomAspect | ViewState::PlaneAspect)) update();
    });
}

QPoint ProfileLineOverlay::pixelAt(const QPointF& aViewPoint) const {
    const QSize size = mView.picture().size();
    if (size.isEmpty()) return QPoint();
    const double zoom = mView.zoom();
    return QPoint(std::clamp(int(std::floor(aViewPoint.x() / zoom)), 0, size.width() - 1),
                  std::clamp(int(std::floor(aViewPoint.y() / zoom)), 0, size.height() - 1));
}

bool ProfileLineOverlay::eventFilter(QObject* aWatched, QEvent* aEvent) {
    if (aWatched != &mView) return false;
    switch (aEvent->type()) {
        case QEvent::Resize:
            setGeometry(mView.rect());
            return false;
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(aEvent);
            if (press->button() != Qt::LeftButton || !(press->modifiers() & Qt::ShiftModifier)) return false;
            if (mView.pictureAt(press->position().toPoint()) == QPoint(-1, -1)) return true;
            mDrawing = true;
            mStart = pixelAt(press->position());
            return true;
        }
        case QEvent::MouseMove: {
            if (!mDrawing) return false;
            const QPoint end = pixelAt(static_cast<QMouseEvent*>(aEvent)->position());
            if (end != mStart) mState.setProfileLine(QLineF(mStart, end));
            return false;  // the view still reports the pixel under the cursor
        }
        case QEvent::MouseButtonRelease: {
            auto* release = static_cast<QMouseEvent*>(aEvent);
            if (!mDrawing || release->button() != Qt::LeftButton) return false;
            mDrawing = false;
            const QPoint end = pixelAt(release->position());
            mState.setProfileLine(end == mStart ? QLineF() : QLineF(mStart, end));
            if (end != mStart) emit lineDrawn();
            return true;
        }
        default:
            return false;
    }
}

void ProfileLineOverlay::paintEvent(QPaintEvent*) {
    const QLineF line = mState.profileLine();
    if (line.isNull() || mView.picture().isNull()) return;
    const double zoom = mView.zoom();
    const QLineF onScreen((line.p1() + QPointF(0.5, 0.5)) * zoom, (line.p2() + QPointF(0.5, 0.5)) * zoom);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Yellow on a dark edge shows on bright and dark pictures alike; the start is marked.
    painter.setPen(QPen(QColor(0, 0, 0, 160), 3.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(onScreen);
    painter.setPen(QPen(QColor(255, 220, 0), 1.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(onScreen);
    painter.setBrush(QColor(255, 220, 0));
    painter.drawEllipse(onScreen.p1(), 3.0, 3.0);
}
