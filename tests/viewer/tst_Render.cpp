#include <QtTest>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <vector>

#include "BlitzArray.h"
#include "GreyFormula.h"
#include "Histogram.h"
#include "LevelStack.h"
#include "OrthoStack.h"
#include "PlaneDisplay.h"
#include "Renderer.h"
#include "ScaleBar.h"
#include "SliceRender.h"
#include "ViewState.h"

namespace {

template <typename T>
AnyPlane rowOf(const QList<double>& aValues) {
    blitz::Array<T, 2> plane(1, int(aValues.size()));
    for (int x = 0; x < aValues.size(); ++x) plane(0, x) = static_cast<T>(aValues[x]);
    return plane;
}

AnyPlane rowOfType(const QString& aType, const QList<double>& aValues) {
    if (aType == "u8") return rowOf<unsigned char>(aValues);
    if (aType == "u16") return rowOf<unsigned short>(aValues);
    if (aType == "u32") return rowOf<unsigned int>(aValues);
    return rowOf<float>(aValues);
}

QList<int> greys(const QImage& aPicture) {
    QList<int> levels;
    for (int x = 0; x < aPicture.width(); ++x) {
        const QRgb p = aPicture.pixel(x, 0);
        levels << (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qAlpha(p) == 255 ? qRed(p) : -1);
    }
    return levels;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

// Planes and display settings to pictures, without a window.
class RenderTest : public QObject {
    Q_OBJECT

  private slots:
    void displayRangesMapLinearlyAndClamp_data();
    void displayRangesMapLinearlyAndClamp();
    void floatRowsDrawAsElementsSpreadInMemory();
    void autoLeavesTheSaturatedShareOutsideAndFullIsTheTypeRange();
    void autoRangeOfWideDataIsTheOneOfEveryValueCounted();
    void histogramColumnsKeepEveryCountWithoutAComb();
    void compositeAddsDistinctColoursAndScalesSpectraBelowSaturation();
    void sideViewsStretchEachPlaneOverItsPixels();
    void levelsDrawTheSideViewsAsTheStackDoes();
    void levelsAreBuiltAsideForOneMappingWithinTheMemoryAllowed();
    void greyFormulaGivesEveryValuesLevel();
    void scaleBarTakesARoundLength();
};

void RenderTest::displayRangesMapLinearlyAndClamp_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QList<int>>("levels");
    QTest::newRow("8-bit default shows the data as it is")
        << "u8" << 0.0 << 255.0 << QList<double>{0, 1, 127, 128, 254, 255}
        << QList<int>{0, 1, 127, 128, 254, 255};
    QTest::newRow("16-bit full range") << "u16" << 0.0 << 65535.0 << QList<double>{0, 128, 129, 32768, 65535}
                                       << QList<int>{0, 0, 1, 128, 255};
    QTest::newRow("16-bit auto range clamps both ends")
        << "u16" << 1000.0 << 2000.0 << QList<double>{0, 999, 1000, 1500, 2000, 65535}
        << QList<int>{0, 0, 0, 128, 255, 255};
    QTest::newRow("12-bit full range")
        << "u16" << 0.0 << 4095.0 << QList<double>{0, 2048, 4095, 4096} << QList<int>{0, 128, 255, 255};
    QTest::newRow("32-bit") << "u32" << 0.0 << 1e6 << QList<double>{0, 500000, 4294967295.0}
                            << QList<int>{0, 128, 255};
    QTest::newRow("float, NaN black, infinities clamped")
        << "float" << -1.0 << 1.0 << QList<double>{-5, -1, 0, 1, 7, kNaN, kInfinity, -kInfinity}
        << QList<int>{0, 0, 128, 255, 255, 0, 255, 0};
    QTest::newRow("range without width")
        << "u8" << 5.0 << 5.0 << QList<double>{4, 5, 6} << QList<int>{0, 0, 255};
}

void RenderTest::displayRangesMapLinearlyAndClamp() {
    QFETCH(QString, type);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(QList<double>, values);
    QFETCH(QList<int>, levels);
    QImage picture;
    renderMapped(rowOfType(type, values), minimum, maximum, lutTable(Lut::Grey, 0), picture);
    QCOMPARE(picture.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(greys(picture), levels);
}

void RenderTest::floatRowsDrawAsElementsSpreadInMemory() {
    // Rows of neighbouring floats take a vectorised way, spread ones (every other column of a wider
    // array) the plain one: both must draw alike, for table and arithmetic colours, small and large
    // (streamed) pictures, rows of any alignment, NaN, infinities and values on level boundaries.
    const float specials[] = {float(kNaN), float(kInfinity), -float(kInfinity), -0.0f, 1e-40f, 0.5f, 254.5f};
    for (const QSize size : {QSize(37, 3), QSize(1451, 1449)}) {
        blitz::Array<float, 2> wide(size.height(), 2 * size.width());
        uint32_t seed = 7;
        for (float& v : wide) {
            seed = seed * 1664525u + 1013904223u;
            v = seed % 11 == 0 ? specials[seed % 7] : float(int(seed >> 8) % 40000 - 10000) / 97.0f;
        }
        const blitz::Array<float, 2> spread = wide(blitz::Range::all(), blitz::Range(0, blitz::toEnd, 2));
        const blitz::Array<float, 2> packed = spread.copy();
        for (const Lut lut : {Lut::Grey, Lut::Cyan, Lut::Fire}) {
            QImage fast;
            QImage plain;
            renderMapped(packed, -20.0, 300.0, lutTable(lut, 0), fast);
            renderMapped(spread, -20.0, 300.0, lutTable(lut, 0), plain);
            QCOMPARE(fast.size(), size);
            QVERIFY(fast == plain);
        }
    }
}

void RenderTest::autoLeavesTheSaturatedShareOutsideAndFullIsTheTypeRange() {
    // 10 000 pixels: 1000..1998 ten times each, and 10 hot pixels. 0.35 % is 35 pixels, 17.5 at each end.
    QList<double> values;
    for (int v = 1000; v <= 1998; ++v)
        for (int i = 0; i < 10; ++i) values << v;
    for (int i = 0; i < 10; ++i) values << 65535;
    const Histogram u16 = histogramOf(rowOf<unsigned short>(values));
    QCOMPARE(u16.total, uint64_t(10000));
    QCOMPARE(saturatedRange(u16), std::make_pair(1001.0, 1998.0));

    // Floats: NaN and infinities are not counted; the range stays within the data.
    const Histogram floats = histogramOf(rowOf<float>({-2.5, 0, 1, kNaN, kInfinity, 7.25}));
    QCOMPARE(floats.total, uint64_t(4));
    const auto [low, high] = saturatedRange(floats);
    QVERIFY(low >= -2.5 && high <= 7.25 && high - low > 9.0);

    // A flat plane still gets a range with width.
    QCOMPARE(saturatedRange(histogramOf(rowOf<unsigned char>({9, 9, 9}))), std::make_pair(9.0, 10.0));

    const struct {
        int bits;
        bool isFloat;
        std::pair<double, double> range;
    } full[] = {
        {8, false, {0, 255}}, {12, false, {0, 4095}}, {16, false, {0, 65535}}, {32, true, {-2.5, 7.25}}};
    for (const auto& f : full) {
        ChannelInfo channel;
        channel.bits = f.bits;
        channel.isFloat = f.isFloat;
        QCOMPARE(fullRange(channel, floats), f.range);
    }
    // 12-bit data that go past 4095 are not 12-bit: their full range is the storage's.
    ChannelInfo twelve;
    twelve.bits = 12;
    QCOMPARE(fullRange(twelve, histogramOf(rowOf<unsigned short>({0, 4096}))), std::make_pair(0.0, 65535.0));
}

void RenderTest::autoRangeOfWideDataIsTheOneOfEveryValueCounted() {
    // Values past 4095 are counted in bins of several values, and planes of millions from a sample of
    // rows; the Auto range must still fall on the values a count of each value gives. Planes large
    // enough for several threads, with dense backgrounds, hot pixels, both limits in one bin, and rows
    // that a sample would miss.
    const struct {
        const char* what;
        std::function<int(uint32_t, size_t)> value;  // of a random number and the element's index
    } planes[] = {
        {"uniform over the type", [](uint32_t r, size_t) { return int(r % 65536); }},
        {"dense background, sparse bright",
         [](uint32_t r, size_t) { return r % 7 ? 40000 + int(r % 9) : int(r % 65536); }},
        {"narrow band past 4095", [](uint32_t r, size_t) { return 5000 + int(r % 13); }},
        {"12-bit data with hot pixels", [](uint32_t r, size_t) { return r % 997 ? int(r % 4096) : 65535; }},
        {"12-bit data, bright in the last rows only",
         [](uint32_t r, size_t i) { return i < 1000 * 1029 ? 1000 + int(r % 3000) : 60000 + int(r % 9); }},
        {"12-bit data, dense dark background",
         [](uint32_t r, size_t) { return r % 5 ? int(r % 3) : int(r % 4096); }},
        {"three values", [](uint32_t r, size_t) { return 100 + int(r % 3); }},
        {"odd rows darker",
         [](uint32_t r, size_t i) { return i / 2049 % 2 ? int(r % 400) : 300 + int(r % 9000); }},
    };
    for (const int rows : {1031, 2053})
        for (const auto& p : planes) {
            blitz::Array<unsigned short, 2> plane(rows, rows == 1031 ? 1029 : 2049);
            std::vector<uint64_t> each(65536, 0);
            uint32_t seed = 11;
            for (unsigned short& v : plane) {
                seed = seed * 1664525u + 1013904223u;
                v = static_cast<unsigned short>(p.value(seed >> 4, size_t(&v - plane.data())));
                ++each[v];
            }
            const double limit = double(plane.numElements()) * kAutoSaturated / 2.0;
            int low = 0;
            for (double below = 0; below + double(each[size_t(low)]) <= limit;)
                below += double(each[size_t(low++)]);
            int high = 65535;
            for (double above = 0; high > low && above + double(each[size_t(high)]) <= limit;)
                above += double(each[size_t(high--)]);
            const Histogram counts = histogramOf(plane);
            QCOMPARE(saturatedRange(counts), std::make_pair(double(low), double(high)));
            QCOMPARE(counts.total, uint64_t(plane.numElements()));
            QCOMPARE(counts.maximum,
                     double(std::find_if(each.rbegin(), each.rend(), [](uint64_t n) { return n; }).base() -
                            each.begin() - 1));
        }
}

void RenderTest::histogramColumnsKeepEveryCountWithoutAComb() {
    // Every value once: an evenly spread plane must give even columns, whatever the bins' width against
    // a column's, and the axis's last value (saturated pixels) must show in the last column.
    const struct {
        const char* what;
        AnyPlane plane;
        double axisHigh;
    } cases[] = {{"u8, 256 values over 250 columns", rowOf<unsigned char>([] {
                      QList<double> v;
                      for (int i = 0; i < 256; ++i) v << i;
                      return v;
                  }()),
                  255},
                 {"u16 in 16-value bins over 250 columns", rowOf<unsigned short>([] {
                      QList<double> v;
                      for (int i = 0; i < 65536; ++i) v << i;
                      return v;
                  }()),
                  65535}};
    for (const auto& c : cases) {
        const Histogram counts = histogramOf(c.plane);
        const std::vector<double> columns = histogramColumns(counts, 0, c.axisHigh, 250);
        const double sum = std::accumulate(columns.begin(), columns.end(), 0.0);
        QVERIFY2(std::abs(sum - double(counts.total)) < 1e-6, c.what);
        const auto [low, high] = std::minmax_element(columns.begin(), columns.end());
        QVERIFY2(*high - *low < 0.01 * *high, c.what);
    }
    // Saturated pixels: most of the plane at the type's largest value.
    const std::vector<double> saturated =
        histogramColumns(histogramOf(rowOf<unsigned char>({255, 255, 255, 0})), 0, 255, 250);
    QCOMPARE(saturated.back(), 3.0);
}

void RenderTest::compositeAddsDistinctColoursAndScalesSpectraBelowSaturation() {
    // Distinct colours add, and sums above 255 saturate.
    const AnyPlane red = rowOf<unsigned char>({200, 255});
    const AnyPlane green = rowOf<unsigned short>({100, 4095});
    QImage picture;
    renderComposite({{&red, 0, 255, lutTable(Lut::FileColour, 0xFF0000)},
                     {&green, 0, 255, lutTable(Lut::FileColour, 0xFFFF00)}},
                    false, picture);
    QCOMPARE(picture.pixel(0, 0), qRgb(255, 100, 0));
    QCOMPARE(picture.pixel(1, 0), qRgb(255, 255, 0));

    // 32 bands of a spectrum: pixel x is bright in bands x - 2 .. x + 2. Added up, neighbouring bands would
    // saturate into white; scaled, each pixel keeps the colour of its bands.
    constexpr int kBands = 32;
    std::vector<AnyPlane> planes;
    for (int band = 0; band < kBands; ++band) {
        QList<double> values;
        for (int x = 0; x < kBands; ++x) values << (std::abs(x - band) <= 2 ? 255 : 0);
        planes.push_back(rowOf<unsigned char>(values));
    }
    std::vector<CompositeChannel> channels;
    for (int band = 0; band < kBands; ++band)
        channels.push_back(
            {&planes[size_t(band)], 0, 255, lutTable(Lut::FileColour, spectrumColour(band, kBands))});
    renderComposite(channels, false, picture);
    QCOMPARE(qGreen(picture.pixel(kBands / 2, 0)), 255);  // what not scaling shows: saturated
    renderComposite(channels, true, picture);
    int brightest = 0;
    for (int x = 0; x < kBands; ++x) {
        const QColor colour(picture.pixel(x, 0));
        QVERIFY2(colour.saturation() > 100, qPrintable(QString("pixel %1 is %2").arg(x).arg(colour.name())));
        brightest = std::max(brightest, std::max({colour.red(), colour.green(), colour.blue()}));
    }
    QCOMPARE(brightest, 255);
    // Violet at the short end, red at the long end.
    QVERIFY(qBlue(picture.pixel(0, 0)) > qGreen(picture.pixel(0, 0)));
    QVERIFY(qRed(picture.pixel(kBands - 1, 0)) > 2 * qGreen(picture.pixel(kBands - 1, 0)));
}

void RenderTest::sideViewsStretchEachPlaneOverItsPixels() {
    // Slices laid out as the stack keeps them (z innermost), stretched over as many, two and three times as
    // many, an uneven number, more than four times as many and fewer pixels than planes, 37 wide: every
    // pixel, drawn over a picture of another slice, shows the colour of the plane under it. Grey is
    // computed rather than looked up, in blocks with columns and planes left over (all of them in a slice
    // 3 wide); 0..510 puts values on levels' edges, and 994..1180 is a range grey is looked up in still.
    // The renderers stay while the colours change under the same range.
    ViewState view;
    StackInfo info;
    info.channels << ChannelInfo();
    view.setFile("slices.lsm", info);
    view.setShown(PlaneRequest(), ElementType::UInt16);
    const int planes = 9;
    SliceRenderer renderers[2];  // one per view, kept while only the colours change
    for (const auto& [minimum, maximum] :
         {std::pair{100.0, 3000.0}, std::pair{0.0, 510.0}, std::pair{994.0, 1180.0}}) {
        for (const auto& [across, colours] :
             {std::pair{37, Lut::Fire}, std::pair{37, Lut::Grey}, std::pair{3, Lut::Grey}}) {
            ChannelDisplay display;
            display.minimum = minimum;
            display.maximum = maximum;
            display.lut = colours;
            display.rangeSet = true;
            view.setDisplay(0, display);
            const LutTable lut = lutTable(colours, 0);
            for (const bool zAlongRows : {true, false}) {
                for (const int pixels : {9, 18, 27, 23, 70, 4}) {
                    blitz::Array<unsigned short, 2> kept(across, planes);
                    blitz::Array<unsigned short, 2> other(across, planes);
                    uint32_t seed = uint32_t(pixels);
                    for (unsigned short& v : kept)
                        v = static_cast<unsigned short>((seed = seed * 1664525u + 1013904223u) >> 20);
                    other = 4000;
                    const auto slice = [&](const blitz::Array<unsigned short, 2>& aKept) -> AnyPlane {
                        return zAlongRows ? blitz::Array<unsigned short, 2>(aKept.transpose(1, 0)) : aKept;
                    };
                    SliceRenderer& renderer = renderers[zAlongRows];
                    QImage picture;
                    renderer.render(view, {slice(other)}, {AnyPlane()}, zAlongRows, pixels, picture);
                    renderer.render(view, {slice(kept)}, {AnyPlane()}, zAlongRows, pixels, picture);
                    QCOMPARE(picture.size(), zAlongRows ? QSize(across, pixels) : QSize(pixels, across));
                    for (int p = 0; p < pixels; ++p)
                        for (int i = 0; i < across; ++i) {
                            const QRgb expected = lut[size_t(
                                displayLevel(kept(i, planeAtPixel(p, pixels, planes)), minimum, maximum))];
                            QCOMPARE(zAlongRows ? picture.pixel(i, p) : picture.pixel(p, i), expected);
                        }
                }
            }
        }
    }
}

namespace {

// A 13 x 37 x 9 stack (z innermost) of scattered values.
template <typename T>
AnyStack scatteredStack(uint32_t aSeed) {
    blitz::Array<T, 3> stack(13, 37, 9);
    for (T& v : stack) v = static_cast<T>((aSeed = aSeed * 1664525u + 1013904223u) >> (32 - 8 * sizeof(T)));
    return stack;
}

}  // namespace

void RenderTest::levelsDrawTheSideViewsAsTheStackDoes() {
    // 8 and 16 bits, a range in grey (computed) and in colour (looked up) and automatic contrast; z stretched
    // evenly, unevenly and squeezed: a picture drawn from the levels is the one drawn from the stack.
    ViewState view;
    StackInfo info;
    info.channels << ChannelInfo();
    view.setFile("levels.lsm", info);
    for (const AnyStack& stack : {scatteredStack<unsigned char>(7), scatteredStack<unsigned short>(8)}) {
        const bool eight = std::holds_alternative<blitz::Array<unsigned char, 3>>(stack);
        view.setShown(PlaneRequest(), eight ? ElementType::UInt8 : ElementType::UInt16);
        const AnyPlane xy = xzSlice(stack, 5);  // the x-y plane automatic contrast takes its mapping from
        for (const auto& [automatic, lut] :
             {std::pair{false, Lut::Grey}, std::pair{false, Lut::Fire}, std::pair{true, Lut::Grey}}) {
            ChannelDisplay display;
            display.minimum = eight ? 20 : 900;
            display.maximum = eight ? 200 : 52000;
            display.lut = lut;
            display.rangeSet = true;
            view.setDisplay(0, display);
            view.setAutomaticContrast(automatic);
            const std::optional<LevelMapping> mapping = levelMappingFor(view, stack, xy);
            QVERIFY(mapping);
            LevelStack levels;
            const std::atomic<bool> stop{false};
            QVERIFY(levels.build(stack, *mapping, stop));
            SliceRenderer fromStack;
            SliceRenderer fromLevels;
            for (const bool zAlongRows : {true, false})
                for (const int pixels : {9, 27, 23, 70, 4})
                    for (const int at : {0, 12}) {
                        QImage expected;
                        QImage drawn;
                        fromStack.render(view, {zAlongRows ? xzSlice(stack, at) : yzSlice(stack, at)}, {xy},
                                         zAlongRows, pixels, expected);
                        fromLevels.renderLevels(view, levels, at, zAlongRows, pixels, drawn);
                        QCOMPARE(drawn, expected);
                    }
        }
    }
}

void RenderTest::levelsAreBuiltAsideForOneMappingWithinTheMemoryAllowed() {
    const AnyStack stack = scatteredStack<unsigned short>(9);
    const auto& values = std::get<blitz::Array<unsigned short, 3>>(stack);
    LevelStackBuilder builder;
    LevelMapping mapping;
    mapping.maximum = 65535;
    const auto needed = [] { return uint64_t(2 * 13 * 37 * 9); };
    const auto tooFew = [] { return uint64_t(2 * 13 * 37 * 9 - 1); };
    QVERIFY(!builder.levelsFor(stack, mapping, tooFew));  // never started
    QTest::qWait(20);
    QVERIFY(!builder.levelsFor(stack, mapping, tooFew));
    for (const double maximum : {65535.0, 1000.0}) {
        mapping.maximum = maximum;
        const LevelStack* levels = nullptr;
        QTRY_VERIFY((levels = builder.levelsFor(stack, mapping, needed)) != nullptr);
        QCOMPARE(int(levels->xzLevels(4)[2 * 37 + 30]), mapping.level(values(4, 30, 2)));
        QCOMPARE(int(levels->yzLevels(30)[4 * 9 + 2]), mapping.level(values(4, 30, 2)));
    }
}

void RenderTest::greyFormulaGivesEveryValuesLevel() {
    // Ranges common (Auto's, the full ones), on levels' edges, narrow, between values and one whose edges
    // single precision rounds the other way, for 8- and 16-bit tables: each has a formula, which draws
    // every value as the display mapping does. Colours other than grey have none.
    const struct {
        double minimum, maximum;
        int values;
    } cases[] = {
        {100, 3000, 65536},       {0, 65535, 65536},   {0, 4095, 65536}, {0, 510, 65536}, {7, 8, 65536},
        {1000.5, 1003.25, 65536}, {3200, 5938, 65536}, {0, 255, 256},    {17, 230, 256},  {0, 2, 256}};
    for (const auto& c : cases) {
        std::vector<QRgb> table(size_t(c.values));
        for (int v = 0; v < c.values; ++v)
            table[size_t(v)] = opaqueGrey(displayLevel(v, c.minimum, c.maximum));
        const std::optional<GreyFormula> formula = greyFormulaFor(c.minimum, c.maximum, table);
        QVERIFY2(formula.has_value(), qPrintable(QString::number(c.maximum)));
        std::vector<unsigned short> values(table.size());
        std::iota(values.begin(), values.end(), 0);
        for (size_t v = 0; v < values.size(); v += 8) {
            __m128i low, high, first, last;
            loadEight(values.data() + v, low, high);
            greyOfEight(low, high, *formula, first, last);
            QRgb drawn[8];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(drawn), first);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(drawn + 4), last);
            for (size_t k = 0; k < 8; ++k) QCOMPARE(drawn[k], table[v + k]);
        }
    }
    const LutTable fire = lutTable(Lut::Fire, 0);
    std::vector<QRgb> table(256);
    for (int v = 0; v < 256; ++v) table[size_t(v)] = fire[size_t(v)];
    QVERIFY(!greyFormulaFor(0, 255, table));
}

void RenderTest::scaleBarTakesARoundLength() {
    const struct {
        double micronsPerPixel, maxPixels, microns;
        const char* text;
    } cases[] = {{0.2, 100, 20, "20 \u00B5m"}, {0.37, 100, 20, "20 \u00B5m"}, {0.37, 150, 50, "50 \u00B5m"},
                 {0.001, 120, 0.1, "100 nm"},  {25, 100, 2000, "2 mm"},       {0, 100, 0, ""}};
    for (const auto& c : cases) {
        QCOMPARE(scaleBarMicrons(c.micronsPerPixel, c.maxPixels), c.microns);
        if (c.microns > 0) QCOMPARE(scaleBarText(c.microns), QString::fromUtf8(c.text));
    }
}

QTEST_GUILESS_MAIN(RenderTest)
#include "tst_Render.moc"
