#include "ShownPlane.h"

#include <QCoreApplication>
#include <charconv>

namespace {

QString valueText(unsigned char aValue) { return QString::number(aValue); }
QString valueText(unsigned short aValue) { return QString::number(aValue); }
QString valueText(unsigned int aValue) { return QString::number(aValue); }
QString valueText(float aValue) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, aValue);
    return QString::fromLatin1(text, static_cast<int>(result.ptr - text));
}

}  // namespace

QSize ShownPlane::size() const {
    return std::visit(
        [](const auto& aPlane) -> QSize {
            if constexpr (std::is_same_v<std::decay_t<decltype(aPlane)>, std::monostate>) {
                return QSize(0, 0);
            } else {
                return QSize(aPlane.extent(1), aPlane.extent(0));
            }
        },
        mPlane);
}

QString ShownPlane::readout(const QPoint& aPicturePixel) const {
    if (isEmpty() || !QRect(QPoint(0, 0), size()).contains(aPicturePixel)) return QString();
    const QString value = std::visit(
        [&](const auto& aPlane) -> QString {
            if constexpr (std::is_same_v<std::decay_t<decltype(aPlane)>, std::monostate>) {
                return QString();
            } else {
                return valueText(
                    aPlane(aPlane.lbound(0) + aPicturePixel.y(), aPlane.lbound(1) + aPicturePixel.x()));
            }
        },
        mPlane);
    const QPoint origin = mCrop.isNull() ? QPoint(0, 0) : mCrop.topLeft();
    return QCoreApplication::translate("ShownPlane", "x %1, y %2: %3")
        .arg(origin.x() + aPicturePixel.x())
        .arg(origin.y() + aPicturePixel.y())
        .arg(value);
}
