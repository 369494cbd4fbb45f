#include "PictureFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "AtomicOutput.h"
#include "ScaleBar.h"
#include "ViewState.h"

namespace {

// All of aData to the file, or an error naming it.
void writeWhole(const std::string& aPath, const QByteArray& aData) {
    const int fd = ::open(aPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot write '" + aPath + "': " + std::strerror(errno));
    const char* data = aData.constData();
    qsizetype left = aData.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            ::close(fd);
            throw std::runtime_error("cannot write '" + aPath + "': " + std::strerror(error));
        }
        data += written;
        left -= written;
    }
    // The name goes to a complete file only: data still in the cache must reach the disk first.
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        throw std::runtime_error("cannot write '" + aPath + "': " + std::strerror(errno));
}

}  // namespace

QImage pictureAsShown(const ViewState& aState, const QImage& aPicture) {
    if (aPicture.isNull()) return QImage();
    QImage shown = aPicture.convertToFormat(QImage::Format_RGB32);
    if (aState.scaleBar() && aState.calibration().spatial()) {
        QPainter painter(&shown);
        paintScaleBar(painter, shown.rect(), aState.calibration().xMicrons);
    }
    return shown;
}

void writePng(const QImage& aPicture, const std::string& aPath, bool aReplace) {
    if (aPicture.isNull()) throw std::runtime_error("there is no picture to write");
    QByteArray encoded;
    {
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(aPicture))
            throw std::runtime_error("cannot encode the picture: " + writer.errorString().toStdString());
    }
    korvane::tools::AtomicOutput output(aPath);
    writeWhole(output.temporaryPath(), encoded);
    output.commit(aReplace);
}
