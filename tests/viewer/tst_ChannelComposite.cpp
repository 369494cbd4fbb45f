#include <QtTest>
#include <cmath>
#include <limits>

#include "BlitzArray.h"
#include "BlitzFileIOException.h"
#include "ChannelComposite.h"
#include "DorudURIVuruda.h"
#include "LsmWriter.h"

using namespace korvane::testsupport;

// Two channels, orange and cyan, 6 x 4 pixels, 2 planes, 2 timepoints. Channel 0 rises by column on
// plane 0 and falls on plane 1; channel 1 rises by row at timepoint 0 and is constant at timepoint 1.
class ChannelCompositeTest : public QObject {
    Q_OBJECT

  private slots:
    void blendsScaledTintedChannels_data();
    void blendsScaledTintedChannels();
};

void ChannelCompositeTest::blendsScaledTintedChannels_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<double>("offset");  // the values are offset + step * (small integers)
    QTest::addColumn<double>("step");
    QTest::newRow("uint8") << kLsmUint8 << 0.0 << 1.0;
    QTest::newRow("uint16 above 8 bits") << kLsmUint16 << 60000.0 << 1.0;
    QTest::newRow("float") << kLsmFloat32 << -999999.75 << 1.0;
    QTest::newRow("float, range beyond float") << kLsmFloat32 << -3.2e38 << 3e36;
    QTest::newRow("float, subnormal range") << kLsmFloat32 << 0.0 << std::ldexp(1.0, -140);
}

void ChannelCompositeTest::blendsScaledTintedChannels() {
    QFETCH(int, code);
    QFETCH(double, offset);
    QFETCH(double, step);
    LsmSpec recipe = lsmSpec(6, 4, 2, 2, 2, {code, code});
    recipe.colors = {Rgb{254, 128, 0}, Rgb{0, 255, 255}};  // no shares halfway between two levels
    recipe.values = [=](int t, int c, int z, int y, int x) {
        // Left out of the range and away from the pixels checked below: NaN and the infinities.
        const double infinity = std::numeric_limits<double>::infinity();
        if (code == kLsmFloat32 && y == 0 && x == 4) return c == 0 ? infinity : std::nan("");
        if (code == kLsmFloat32 && y == 2 && x == 5) return -infinity;
        if (c == 0) return offset + step * (10 + 40 * (z == 0 ? x : 5 - x));
        return offset + step * (t == 0 ? 7 + 50 * y : 77);
    };
    ScopedFile file("composite.lsm");
    writeLsm(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());

    const struct {
        int t, z;
        QRect crop;
        int x, y;
        QRgb rgb;
    } cases[] = {
        {0, 1, QRect(), 0, 0, 0xFE8000},  // brightest channel 0, darkest channel 1
        {0, 1, QRect(), 5, 3, 0x00FFFF},
        {0, 1, QRect(), 3, 1, qRgb(102, 51 + 85, 85)},  // 2/5 of orange plus 1/3 of cyan
        {0, 1, QRect(), 1, 3, qRgb(203, 255, 255)},     // green saturates
        // The crop's own range is stretched: its columns 2..4 and rows 1..2.
        {0, 0, QRect(2, 1, 3, 2), 0, 0, 0x000000},
        {0, 0, QRect(2, 1, 3, 2), 1, 0, qRgb(127, 64, 0)},
        {0, 0, QRect(2, 1, 3, 2), 2, 1, 0xFEFFFF},
        {1, 0, QRect(), 2, 1, qRgb(102, 51, 0)},  // constant channel 1 adds nothing
    };
    for (const auto& c : cases) {
        const QImage image = composeChannels(reader, c.t, c.z, c.crop);
        QCOMPARE(image.format(), QImage::Format_RGB32);
        QCOMPARE(image.size(), c.crop.isNull() ? QSize(6, 4) : c.crop.size());
        QCOMPARE(QString::number(image.pixel(c.x, c.y), 16), QString::number(0xFF000000u | c.rgb, 16));
    }
    QVERIFY_THROWS_EXCEPTION(BlitzFileIOException, composeChannels(reader, 0, 0, QRect(4, 0, 3, 1)));
}

QTEST_MAIN(ChannelCompositeTest)
#include "tst_ChannelComposite.moc"
