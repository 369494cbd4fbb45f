#include "OrthogonalMode.h"

#include <QBoxLayout>
#include <QColor>
#include <QGridLayout>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>

#include "BlitzFileIOException.h"
#include "DisplayPipeline.h"
#include "DorudURIVuruda.h"
#include "KorvaneViewerQt.h"
#include "PlaneView.h"
#include "SliceView.h"

namespace {

// The longest a side view is stretched along z, in pixels: beyond, a damaged voxel size is at work.
constexpr int kMaxZPixels = 8192;

ElementType fileElementType(const ChannelInfo& aChannel) {
    if (aChannel.isFloat) return ElementType::Float;
    return aChannel.bits <= 8    ? ElementType::UInt8
           : aChannel.bits <= 16 ? ElementType::UInt16
                                 : ElementType::UInt32;
}

QString bytesText(uint64_t aBytes) {
    const double mib = double(aBytes) / double(1 << 20);
    return mib >= 1024.0 ? OrthogonalMode::tr("%1 GiB").arg(mib / 1024.0, 0, 'f', 1)
                         : OrthogonalMode::tr("%1 MiB").arg(mib, 0, 'f', 0);
}

QString valueText(const AnyPlane& aPlane, const QPoint& aPixel) {
    const double value = planeValue(aPlane, aPixel.x(), aPixel.y());
    return std::holds_alternative<blitz::Array<float, 2>>(aPlane) ? QString::number(value, 'g', 7)
                                                                  : QString::number(qulonglong(value));
}

}  // namespace

OrthogonalMode::OrthogonalMode(KorvaneViewerQt& aWindow)
    : QObject(&aWindow), mWindow(aWindow), mState(aWindow.viewState()), mJob(this) {
    // The x-y view goes into a grid with the side views, which take no room while hidden.
    PlaneView* view = mWindow.mImageLabel;
    QWidget* contents = view->parentWidget();
    auto* outer = qobject_cast<QBoxLayout*>(contents->layout());
    const int index = outer->indexOf(view);
    outer->removeWidget(view);
    mGrid = new QGridLayout();
    mGrid->setContentsMargins(0, 0, 0, 0);
    mGrid->setSpacing(outer->spacing());
    mXz = new SliceView(contents);
    mXz->setObjectName("mXzView");
    mYz = new SliceView(contents);
    mYz->setObjectName("mYzView");
    mXz->hide();
    mYz->hide();
    mGrid->addWidget(view, 0, 0);
    mGrid->addWidget(mYz, 0, 1, Qt::AlignLeft | Qt::AlignTop);
    mGrid->addWidget(mXz, 1, 0, Qt::AlignLeft | Qt::AlignTop);
    outer->insertLayout(index, mGrid);

    connect(&mState, &ViewState::changed, this, &OrthogonalMode::stateChanged);
    connect(view, &PlaneView::zoomChanged, this, &OrthogonalMode::zoomChanged);
    connect(mXz, &SliceView::pointed, this, &OrthogonalMode::pointedXz);
    connect(mYz, &SliceView::pointed, this, &OrthogonalMode::pointedYz);
    connect(mXz, &SliceView::hovered, this, [this](const QPoint& aPixel) { hoveredSlice(true, aPixel); });
    connect(mYz, &SliceView::hovered, this, [this](const QPoint& aPixel) { hoveredSlice(false, aPixel); });
    connect(&mJob, &BackgroundJob::progressed, this, [this](int aDone, int aTotal) {
        emit progressed(tr("Reading the stack for the orthogonal views"), aDone, aTotal);
    });
    view->installEventFilter(this);
}

void OrthogonalMode::stateChanged(ViewState::Aspects aWhat) {
    if (mState.stackMode().mode != ViewMode::Orthogonal) {
        leave();  // also when follow() itself turned the mode off
        return;
    }
    if (mFollowing) return;  // what follow() changes itself
    mFollowing = true;
    follow(aWhat);
    mFollowing = false;
}

std::vector<OrthogonalMode::Need> OrthogonalMode::needs() const {
    const int shown = mState.shown().index.channel;
    std::vector<Need> wanted{{shown, mState.elementType()}};
    // Other channels in their own types, as the x-y view reads them for channel colours.
    if (mState.composite())
        for (int c = 0; c < mState.channelCount(); ++c)
            if (c != shown && mState.display(c).visible)
                wanted.push_back({c, fileElementType(mState.channels()[c])});
    return wanted;
}

int OrthogonalMode::planes() const {
    return mStacks.empty() ? 0 : stackPlanes(mStacks.begin()->second.second);
}

int OrthogonalMode::zPixels(bool aXz) const {
    const Calibration& calibration = mState.calibration();
    const double side = aXz ? calibration.xMicrons : calibration.yMicrons;
    double scale = 1.0;
    if (calibration.spatial() && std::isfinite(calibration.zMicrons) && calibration.zMicrons > 0.0)
        scale = calibration.zMicrons / side;
    const int count = planes();
    return std::clamp(int(std::lround(count * scale)), 1, std::max(count, kMaxZPixels));
}

void OrthogonalMode::follow(ViewState::Aspects aWhat) {
    const PlaneRequest& shown = mState.shown();
    if (!mState.hasShown() || shown.mode != ViewMode::Plane || !mWindow.reader() ||
        !mWindow.reader()->isOpen()) {
        setViewsShown(false);
        return;
    }
    Key key{mState.fileName(), shown.index.timepoint, stackWindowOf(shown)};
    if (key != mKey) {
        // Let go of the old stacks before any new one is read.
        mLevels.clear();
        mStacks.clear();
        mKey = key;
    }
    const std::vector<Need> wanted = needs();
    std::vector<Need> missing;
    for (const Need& need : wanted) {
        const auto kept = mStacks.find(need.channel);
        if (kept == mStacks.end() || kept->second.first != need.type) missing.push_back(need);
    }
    if (!missing.empty()) {
        setViewsShown(false);
        bool coming = mJob.isRunning() && mJobKey == key;
        for (const Need& need : missing)
            coming = coming && std::any_of(mJobNeeds.begin(), mJobNeeds.end(), [&](const Need& aNeed) {
                         return aNeed.channel == need.channel && aNeed.type == need.type;
                     });
        if (!coming) start(missing);
        return;
    }
    placeCrossing();
    const bool all = aWhat & (ViewState::PlaneAspect | ViewState::DisplayAspect | ViewState::FileAspect);
    const QPoint crossing = mState.stackMode().crossing;
    redraw(all || crossing.y() != mDrawnY, all || crossing.x() != mDrawnX);
    setViewsShown(true);
}

void OrthogonalMode::start(const std::vector<Need>& aMissing) {
    DorudURIVuruda& reader = *mWindow.reader();
    const QSize picture = planeSize(mWindow.planeSource().plane());
    uint64_t bytes = 0;
    int sizes[4] = {0, 0, 0, 0};
    try {
        const uint64_t elements =
            uint64_t(picture.width()) * uint64_t(picture.height()) * uint64_t(reader.getSizeZ());
        for (const Need& need : needs()) bytes += stackBytes(elements, need.type);
        sizes[0] = reader.getSizeX();
        sizes[1] = reader.getSizeY();
        sizes[2] = reader.getSizeZ();
        sizes[3] = reader.getSizeC();
    } catch (const BlitzFileIOException& e) {
        arrived(mKey, {}, QString::fromLocal8Bit(e.what()));
        return;
    }
    const uint64_t limit = stackMemoryLimit();
    if (bytes > limit) {
        mJob.cancel();
        mStacks.clear();
        StackMode plane = mState.stackMode();
        plane.mode = ViewMode::Plane;
        mState.setStackMode(plane);
        emit idle();
        emit refused(tr("The orthogonal views need %1 for this stack, more than the %2 (a quarter of this "
                        "machine's memory) they may take; crop the plane to a smaller region first.")
                         .arg(bytesText(bytes), bytesText(limit)));
        return;
    }
    mLevels.clear();  // the limit above leaves them out
    mJobKey = mKey;
    mJobNeeds = aMissing;
    const Key key = mKey;
    const std::string fileName = key.fileName.toStdString();
    emit progressed(tr("Reading the stack for the orthogonal views"), 0, 1);
    mJob.start([this, key, fileName, sizes = std::vector<int>(sizes, sizes + 4),
                missing = aMissing](const BackgroundJob::Progress& aProgress) -> std::function<void()> {
        std::vector<std::pair<Need, AnyStack>> stacks;
        QString error;
        try {
            DorudURIVuruda reader;  // the window's own reader belongs to its thread
            reader.open(fileName);
            if (reader.getSizeX() != sizes[0] || reader.getSizeY() != sizes[1] ||
                reader.getSizeZ() != sizes[2] || reader.getSizeC() != sizes[3]) {
                error = tr("The file has changed on disk since it was opened; open it again.");
            } else {
                const int count = int(missing.size());
                for (int i = 0; i < count; ++i) {
                    AnyStack stack = readStack(
                        reader, key.timepoint, missing[size_t(i)].channel, missing[size_t(i)].type,
                        key.window,
                        [&](int aDone, int aTotal) { return aProgress(i * aTotal + aDone, count * aTotal); });
                    if (isEmptyStack(stack)) return {};  // cancelled
                    stacks.emplace_back(missing[size_t(i)], std::move(stack));
                }
            }
        } catch (const std::exception& e) {
            stacks.clear();
            error = QString::fromLocal8Bit(e.what());
        }
        return [this, key, stacks = std::move(stacks), error] { arrived(key, stacks, error); };
    });
}

void OrthogonalMode::arrived(const Key& aKey, const std::vector<std::pair<Need, AnyStack>>& aStacks,
                             const QString& aError) {
    emit idle();
    if (mState.stackMode().mode != ViewMode::Orthogonal || aKey != mKey) return;  // moved on since
    if (!aError.isEmpty()) {
        StackMode plane = mState.stackMode();
        plane.mode = ViewMode::Plane;
        mState.setStackMode(plane);
        emit failed(aError);
        return;
    }
    for (const auto& [need, stack] : aStacks) {
        mStacks.erase(need.channel);  // a stack kept before is let go, not written over
        mStacks.emplace(need.channel, std::make_pair(need.type, stack));
    }
    mDrawnX = mDrawnY = -1;
    stateChanged(ViewState::PlaneAspect);
}

void OrthogonalMode::placeCrossing() {
    const QSize picture = planeSize(mWindow.planeSource().plane());
    StackMode mode = mState.stackMode();
    QPoint at = mode.crossing;
    if (at.x() < 0 || at.y() < 0 || at.x() >= picture.width() || at.y() >= picture.height())
        at = QPoint(picture.width() / 2, picture.height() / 2);
    if (at == mode.crossing) return;
    mode.crossing = at;
    mState.setStackMode(mode);
}

const LevelStack* OrthogonalMode::shownLevels(const std::vector<AnyPlane>& aXyPlanes) {
    const int shown = mState.shown().index.channel;
    const auto kept = mStacks.find(shown);
    if (kept == mStacks.end() || size_t(shown) >= aXyPlanes.size()) return nullptr;
    const AnyStack& stack = kept->second.second;
    const std::optional<LevelMapping> mapping = levelMappingFor(mState, stack, aXyPlanes[size_t(shown)]);
    if (!mapping) {
        mLevels.clear();  // their memory may be wanted for the stacks of channel colours
        return nullptr;
    }
    // The levels take what the kept stacks leave of the limit; without it the views draw from the stack.
    return mLevels.levelsFor(stack, *mapping, [this] {
        uint64_t keptBytes = 0;
        for (const auto& [channel, entry] : mStacks)
            keptBytes += stackBytes(uint64_t(stackRows(entry.second)) * uint64_t(stackColumns(entry.second)) *
                                        uint64_t(stackPlanes(entry.second)),
                                    entry.first);
        const uint64_t limit = stackMemoryLimit();
        return limit > keptBytes ? limit - keptBytes : 0;
    });
}

void OrthogonalMode::redraw(bool aXz, bool aYz) {
    const QPoint crossing = mState.stackMode().crossing;
    const int channels = mState.channelCount();
    // The x-y view's planes by channel, for automatic contrast.
    std::vector<AnyPlane> xyPlanes = mWindow.planeSource().keptChannelPlanes();
    xyPlanes.resize(size_t(std::max(channels, 0)));
    const int shown = mState.shown().index.channel;
    if (shown >= 0 && shown < channels) sharePlane(xyPlanes[size_t(shown)], mWindow.planeSource().plane());
    if (aXz || aYz) {
        // Once built, the shown channel's levels draw both views without mapping a value.
        const LevelStack* levels = shownLevels(xyPlanes);
        std::vector<AnyPlane> xz(xyPlanes.size());
        std::vector<AnyPlane> yz(xyPlanes.size());
        for (const auto& [channel, kept] : mStacks) {
            if (levels || channel < 0 || channel >= channels) continue;
            if (aXz)
                xz[size_t(channel)] =
                    xzSlice(kept.second, std::min(crossing.y(), stackRows(kept.second) - 1));
            if (aYz)
                yz[size_t(channel)] =
                    yzSlice(kept.second, std::min(crossing.x(), stackColumns(kept.second) - 1));
        }
        const double scale = mWindow.display().compositeScale();
        if (aXz) {
            mXz->dropPicture();  // drawn over in place, not copied
            if (levels)
                mXzRenderer.renderLevels(mState, *levels, std::min(crossing.y(), levels->rows() - 1), true,
                                         zPixels(true), mXzPicture);
            else
                mXzRenderer.render(mState, xz, xyPlanes, true, zPixels(true), mXzPicture, scale);
            mXz->setPicture(mXzPicture);
            mDrawnY = crossing.y();
        }
        if (aYz) {
            mYz->dropPicture();
            if (levels)
                mYzRenderer.renderLevels(mState, *levels, std::min(crossing.x(), levels->columns() - 1),
                                         false, zPixels(false), mYzPicture);
            else
                mYzRenderer.render(mState, yz, xyPlanes, false, zPixels(false), mYzPicture, scale);
            mYz->setPicture(mYzPicture);
            mDrawnX = crossing.x();
        }
    }
    const int z = mState.shown().index.zPlane;
    mXz->setCrossing(QPointF(crossing.x() + 0.5, pixelOfPlane(z, zPixels(true), planes())));
    mYz->setCrossing(QPointF(pixelOfPlane(z, zPixels(false), planes()), crossing.y() + 0.5));
}

void OrthogonalMode::setViewsShown(bool aShown) {
    PlaneView* view = mWindow.mImageLabel;
    if (aShown) {
        mXz->setZoom(view->zoom());
        mYz->setZoom(view->zoom());
    }
    if (mXz->isVisible() == aShown && mYz->isVisible() == aShown) return;
    mXz->setVisible(aShown);
    mYz->setVisible(aShown);
    // Shown, the three views keep together in the top left corner; hidden, the x-y view fills the area
    // as ever.
    if (auto* outer = qobject_cast<QBoxLayout*>(view->parentWidget()->layout()))
        outer->setAlignment(mGrid, aShown ? Qt::AlignLeft | Qt::AlignTop : Qt::Alignment());
    mGrid->setAlignment(view, aShown ? Qt::AlignLeft | Qt::AlignTop : Qt::Alignment());
    view->setCompanions(aShown ? QSize(mYzPicture.width(), mXzPicture.height()) : QSize(),
                        aShown ? mGrid->spacing() : 0);
}

void OrthogonalMode::zoomChanged(double aZoom) {
    mXz->setZoom(aZoom);
    mYz->setZoom(aZoom);
}

void OrthogonalMode::leave() {
    if (mJob.isRunning()) {
        mJob.cancel();
        emit idle();
    }
    setViewsShown(false);
    mDraggingXy = false;
    if (mStacks.empty() && mXzPicture.isNull()) return;
    // The stacks can be large: their memory goes back at once.
    mLevels.clear();
    mStacks.clear();
    mKey = Key();
    mXzPicture = QImage();
    mYzPicture = QImage();
    mXz->setPicture(QImage());
    mYz->setPicture(QImage());
    mDrawnX = mDrawnY = -1;
}

void OrthogonalMode::cancel() {
    mJob.cancel();
    StackMode plane = mState.stackMode();
    plane.mode = ViewMode::Plane;
    mState.setStackMode(plane);
    emit idle();
}

void OrthogonalMode::moveCrossing(const QPoint& aXy) {
    StackMode mode = mState.stackMode();
    if (mode.crossing == aXy) return;
    mode.crossing = aXy;
    mState.setStackMode(mode);
}

void OrthogonalMode::moveZ(int aZ) {
    if (aZ != mWindow.mZPlaneSpinBox->value()) mWindow.mZPlaneSpinBox->setValue(aZ);  // the window loads it
}

void OrthogonalMode::pointedXz(const QPoint& aPixel) {
    moveCrossing(QPoint(aPixel.x(), mState.stackMode().crossing.y()));
    moveZ(planeAtPixel(aPixel.y(), zPixels(true), planes()));
}

void OrthogonalMode::pointedYz(const QPoint& aPixel) {
    moveCrossing(QPoint(mState.stackMode().crossing.x(), aPixel.y()));
    moveZ(planeAtPixel(aPixel.x(), zPixels(false), planes()));
}

void OrthogonalMode::hoveredSlice(bool aXz, const QPoint& aPixel) {
    if (aPixel.x() < 0 || mStacks.empty()) {
        emit hovered(QString());
        return;
    }
    const QPoint crossing = mState.stackMode().crossing;
    const int z = planeAtPixel(aXz ? aPixel.y() : aPixel.x(), zPixels(aXz), planes());
    const int x = aXz ? aPixel.x() : crossing.x();
    const int y = aXz ? crossing.y() : aPixel.y();
    const StackWindow window = mKey.window;
    QString values;
    const int shown = mState.shown().index.channel;
    for (const auto& [channel, kept] : mStacks) {
        if (channel != shown && !(mState.composite() && mState.display(channel).visible)) continue;
        const AnyPlane slice = xzSlice(kept.second, y);
        const QString value = valueText(slice, QPoint(x, z));
        if (!values.isEmpty()) values += QLatin1Char(' ');
        values += mState.composite()
                      ? QStringLiteral("<span style=\"color:%1\">%2</span>")
                            .arg(QColor::fromRgb(mState.channels().value(channel).colour).name(), value)
                      : value;
    }
    emit hovered(tr("x %1, y %2, z %3: %4").arg(window.xStart + x).arg(window.yStart + y).arg(z).arg(values));
}

bool OrthogonalMode::eventFilter(QObject* aWatched, QEvent* aEvent) {
    // Only the mouse moves the crossing. Other events pass without a look at the state, which is gone
    // before the view when the window is destroyed.
    const QEvent::Type type = aEvent->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    if (mState.stackMode().mode != ViewMode::Orthogonal) return false;
    auto* view = static_cast<PlaneView*>(aWatched);
    const auto pixelOf = [view](const QMouseEvent* aMouse) {
        const QSize picture = view->picture().size();
        const QPointF at = aMouse->position() / view->zoom();
        return QPoint(std::clamp(int(std::floor(at.x())), 0, std::max(0, picture.width() - 1)),
                      std::clamp(int(std::floor(at.y())), 0, std::max(0, picture.height() - 1)));
    };
    switch (aEvent->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(aEvent);
            if (mouse->button() != Qt::LeftButton || (mouse->modifiers() & Qt::ShiftModifier) ||
                view->picture().isNull() || view->pictureAt(mouse->position().toPoint()).x() < 0)
                return false;
            mDraggingXy = true;
            moveCrossing(pixelOf(mouse));
            return true;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(aEvent);
            if (mDraggingXy && (mouse->buttons() & Qt::LeftButton)) moveCrossing(pixelOf(mouse));
            return false;  // the view still reports the cursor
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(aEvent);
            if (!mDraggingXy || mouse->button() != Qt::LeftButton) return false;
            mDraggingXy = false;
            return true;
        }
        default:
            return false;
    }
}
