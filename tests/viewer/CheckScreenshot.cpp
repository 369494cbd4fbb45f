// Looks at a screenshot of the real display.
//   quadrants SHOT.png  - the four grey quadrants of the test plane are on screen as four solid
//                         regions, in their arrangement, whatever the image label's scaling.
//   picture SHOT.png    - a dim picture (the demo stack) covers a good part of the screen.
// Exit status 0 when found, 1 when not, 2 on bad use.
#include <QImage>
#include <QRect>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int kLevels[4] = {23, 87, 151, 213};  // top left, top right, bottom left, bottom right

bool isGrey(QRgb aPixel, int aLevel) {
    return qRed(aPixel) == aLevel && qGreen(aPixel) == aLevel && qBlue(aPixel) == aLevel;
}

struct Region {
    QRect box;
    long interior = 0;
};

// Pixels of exactly this grey whose 3 x 3 neighbourhood is the same grey; smoothing at the
// borders and stray text pixels drop out.
Region interiorOf(const QImage& aImage, int aLevel) {
    Region region;
    for (int y = 1; y + 1 < aImage.height(); ++y) {
        for (int x = 1; x + 1 < aImage.width(); ++x) {
            bool inside = true;
            for (int dy = -1; dy <= 1 && inside; ++dy)
                for (int dx = -1; dx <= 1 && inside; ++dx)
                    inside = isGrey(aImage.pixel(x + dx, y + dy), aLevel);
            if (!inside) continue;
            region.box = region.box.united(QRect(x, y, 1, 1));
            ++region.interior;
        }
    }
    return region;
}

int checkQuadrants(const QImage& aImage) {
    Region regions[4];
    for (int i = 0; i < 4; ++i) {
        regions[i] = interiorOf(aImage, kLevels[i]);
        const QRect& b = regions[i].box;
        std::printf("grey %3d: %ld interior pixels in %dx%d+%d+%d\n", kLevels[i], regions[i].interior,
                    b.width(), b.height(), b.x(), b.y());
        // The plane is 96 x 64, shown at least that large: each quadrant at least 48 x 32 minus the border.
        if (b.width() < 40 || b.height() < 26) return 1;
        const double solid = static_cast<double>(regions[i].interior) / (double(b.width()) * b.height());
        if (solid < 0.98) {
            std::printf("grey %d is not one solid region (%.3f filled)\n", kLevels[i], solid);
            return 1;
        }
    }
    const QRect tl = regions[0].box, tr = regions[1].box, bl = regions[2].box, br = regions[3].box;
    const int gap = 6;  // border pixels lost to the erosion and the smooth scaling
    const bool rows = qAbs(tl.top() - tr.top()) <= gap && qAbs(bl.top() - br.top()) <= gap;
    const bool cols = qAbs(tl.left() - bl.left()) <= gap && qAbs(tr.left() - br.left()) <= gap;
    const bool touching = qAbs(tr.left() - tl.right()) <= gap && qAbs(br.left() - bl.right()) <= gap &&
                          qAbs(bl.top() - tl.bottom()) <= gap && qAbs(br.top() - tr.bottom()) <= gap;
    const bool sizes = qAbs(tl.width() - tr.width()) <= gap && qAbs(tl.height() - bl.height()) <= gap;
    std::printf("aligned rows %d, aligned columns %d, touching %d, equal sizes %d\n", rows, cols, touching,
                sizes);
    return rows && cols && touching && sizes ? 0 : 1;
}

int checkPicture(const QImage& aImage) {
    long dim = 0, bright = 0;
    for (int y = 0; y < aImage.height(); ++y)
        for (int x = 0; x < aImage.width(); ++x) {
            const QRgb p = aImage.pixel(x, y);
            if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)) continue;
            if (qRed(p) >= 5 && qRed(p) <= 45) ++dim;
            if (qRed(p) >= 150 && qRed(p) <= 255) ++bright;
        }
    std::printf("%ld dim and %ld bright grey pixels\n", dim, bright);
    return dim > 20000 && bright > 2000 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "quadrants") != 0 && std::strcmp(argv[1], "picture") != 0)) {
        std::fprintf(stderr, "Usage: %s quadrants|picture SCREENSHOT.png\n", argv[0]);
        return 2;
    }
    QImage image(QString::fromLocal8Bit(argv[2]));
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    return std::strcmp(argv[1], "quadrants") == 0 ? checkQuadrants(image) : checkPicture(image);
}
