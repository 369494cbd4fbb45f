#include <QImage>
#include <QtTest>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

#include "BlitzArray.h"
#include "PlaneDisplay.h"

namespace {

template <typename T>
blitz::Array<T, 2> planeOf(int aRows, int aCols, std::initializer_list<T> aValues) {
    blitz::Array<T, 2> plane(aRows, aCols);
    auto value = aValues.begin();
    for (int y = 0; y < aRows; ++y)
        for (int x = 0; x < aCols; ++x) plane(y, x) = *value++;
    return plane;
}

// Grey levels of the picture drawn with automatic contrast in row order; -1 for a pixel that is not
// opaque grey.
template <typename T>
std::vector<int> render(const blitz::Array<T, 2>& aPlane) {
    QImage image;
    renderGreyPlane(aPlane, image);
    std::vector<int> levels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const bool grey = qAlpha(p) == 255 && qRed(p) == qGreen(p) && qGreen(p) == qBlue(p);
            levels.push_back(grey ? qRed(p) : -1);
        }
    return levels;
}

}  // namespace

class PlaneDisplayTest : public QObject {
    Q_OBJECT

  private slots:
    void contrastShiftsAndCompressesButNeverStretches();
    void unsigned32BitValuesAreConvertedWithoutLoss();
    void pictureIsOpaqueGreyWithColumnsAcross();
    void viewsIntoLargerArraysRenderTheirOwnElements();
    void emptyPlaneGivesNullPictureAndZeroRange();
    void minMaxVisitsEveryElement();
    void largePlanesLookUpExactlyTheMappedGreyLevels();
    void bigPlanesRenderInBandsAndRedrawInPlace();
};

void PlaneDisplayTest::contrastShiftsAndCompressesButNeverStretches() {
    // 0..510: scale 0.5.
    auto wide = planeOf<unsigned short>(1, 4, {510, 509, 1, 0});
    QCOMPARE(greyMappingFor(wide).scale, 0.5f);
    QCOMPARE(render(wide), (std::vector<int>{255, 254, 0, 0}));

    // 1000..1100: shifted only.
    auto narrow = planeOf<unsigned short>(1, 3, {1000, 1100, 1050});
    QCOMPARE(greyMappingFor(narrow).scale, 1.0f);
    QCOMPARE(render(narrow), (std::vector<int>{0, 100, 50}));

    // A range of 257: the single-precision scale rounds down, so the top lands on 254.
    auto range257 = planeOf<unsigned short>(1, 2, {0, 257});
    QCOMPARE(render(range257), (std::vector<int>{0, 254}));

    // 8-bit data is never stretched: only the smallest element moves to 0.
    auto u8 = planeOf<unsigned char>(1, 3, {10, 200, 11});
    QCOMPARE(render(u8), (std::vector<int>{0, 190, 1}));

    // A flat plane maps to 0; negative floats are lifted.
    QCOMPARE(render(planeOf<float>(1, 2, {7.5f, 7.5f})), (std::vector<int>{0, 0}));
    QCOMPARE(render(planeOf<float>(1, 3, {-100.0f, 0.0f, 20.5f})), (std::vector<int>{0, 100, 120}));
}

void PlaneDisplayTest::unsigned32BitValuesAreConvertedWithoutLoss() {
    // With contrast the full 32-bit range is compressed onto 0..255 (254 or 255 at the top).
    auto full = planeOf<unsigned int>(1, 3, {0u, 2147483648u, 4294967295u});
    const std::vector<int> levels = render(full);
    QCOMPARE(levels[0], 0);
    QCOMPARE(levels[1], 127);
    QVERIFY(levels[2] == 255 || levels[2] == 254);
}

void PlaneDisplayTest::pictureIsOpaqueGreyWithColumnsAcross() {
    // 2 rows x 3 columns: the picture is 3 wide and 2 high, element (y, x) at pixel (x, y).
    auto plane = planeOf<unsigned char>(2, 3, {1, 2, 3, 4, 5, 6});
    QImage image;
    renderGreyPlane(plane, image);
    QCOMPARE(image.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(image.size(), QSize(3, 2));
    QCOMPARE(image.pixel(2, 0), 0xFF020202u);
    QCOMPARE(image.pixel(0, 1), 0xFF030303u);
    QCOMPARE(image.pixel(2, 1), 0xFF050505u);

    // Rendering again replaces the picture rather than painting into the old one.
    renderGreyPlane(planeOf<unsigned char>(1, 2, {9, 10}), image);
    QCOMPARE(image.size(), QSize(2, 1));
    QCOMPARE(image.pixel(1, 0), 0xFF010101u);
}

void PlaneDisplayTest::viewsIntoLargerArraysRenderTheirOwnElements() {
    blitz::Array<unsigned short, 2> big(4, 5);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) big(y, x) = static_cast<unsigned short>(10 * y + x);
    blitz::Array<unsigned short, 2> view = big(blitz::Range(1, 2), blitz::Range(2, 4));
    QCOMPARE(render(view), (std::vector<int>{0, 1, 2, 10, 11, 12}));
    float low = -1, high = -1;
    getMinMax(low, high, view);
    QCOMPARE(low, 12.0f);
    QCOMPARE(high, 24.0f);
}

void PlaneDisplayTest::emptyPlaneGivesNullPictureAndZeroRange() {
    blitz::Array<float, 2> empty(0, 5);
    float low = 3, high = 4;
    getMinMax(low, high, empty);
    QCOMPARE(low, 0.0f);
    QCOMPARE(high, 0.0f);
    QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
    renderGreyPlane(empty, image);
    QVERIFY(image.isNull());
    QCOMPARE(image.size(), QSize(0, 0));
}

void PlaneDisplayTest::minMaxVisitsEveryElement() {
    float low = 0, high = 0;
    getMinMax(low, high, planeOf<float>(2, 2, {2.0f, 7.0f, 5.0f, -3.0f}));
    QCOMPARE(low, -3.0f);
    QCOMPARE(high, 7.0f);
    getMinMax(low, high, planeOf<unsigned int>(1, 2, {4294967295u, 16777217u}));
    QCOMPARE(low, 16777216.0f);  // converted to float after the comparison
    QCOMPARE(high, 4294967296.0f);
}

// Large 8- and 16-bit planes go through a table of every value; it must agree with the mapping itself,
// also for a view whose columns are not adjacent in memory.
template <typename T>
static bool tableMatchesMapping(const blitz::Array<T, 2>& aPlane) {
    QImage image;
    renderGreyPlane(aPlane, image);
    const GreyMapping mapping = greyMappingFor(aPlane);
    for (int y = 0; y < aPlane.extent(0); ++y)
        for (int x = 0; x < aPlane.extent(1); ++x) {
            const T v = aPlane(aPlane.lbound(0) + y, aPlane.lbound(1) + x);
            if (image.pixel(x, y) != opaqueGrey(greyLevel(static_cast<double>(v), mapping))) return false;
        }
    return true;
}

void PlaneDisplayTest::largePlanesLookUpExactlyTheMappedGreyLevels() {
    blitz::Array<unsigned short, 2> u16(256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            u16(y, x) = static_cast<unsigned short>((y * 256 + x) * 40503u);  // every value
    blitz::Array<unsigned char, 2> u8(40, 30);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x) u8(y, x) = static_cast<unsigned char>(7 * x + 13 * y + 100);
    QVERIFY(tableMatchesMapping(u16));
    QVERIFY(tableMatchesMapping(u8));
    blitz::Array<unsigned short, 2> everyOther = u16(blitz::Range(3, 200), blitz::Range(10, 250, 2));
    QVERIFY(tableMatchesMapping(everyOther));
}

void PlaneDisplayTest::bigPlanesRenderInBandsAndRedrawInPlace() {
    // Big enough for several bands and for the huge-page picture; odd sizes so bands split unevenly.
    blitz::Array<float, 2> plane(2101, 2003);
    QImage picture;
    for (const float shift : {0.0f, 7.25f}) {
        for (int y = 0; y < 2101; ++y)
            for (int x = 0; x < 2003; ++x) plane(y, x) = float((x * 7 + y * 3) % 600) - 20.5f + shift;
        const uchar* before = picture.constBits();
        renderGreyPlane(plane, picture);
        if (before) QCOMPARE(picture.constBits(), before);  // the same size is drawn over in place
        const GreyMapping mapping = greyMappingFor(plane);
        for (int y = 0; y < 2101; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            for (int x = 0; x < 2003; ++x)
                if (line[x] != opaqueGrey(greyLevel(plane(y, x), mapping)))
                    QFAIL(qPrintable(QString("(%1, %2)").arg(x).arg(y)));
        }
    }
}

QTEST_GUILESS_MAIN(PlaneDisplayTest)
#include "tst_PlaneDisplay.moc"
