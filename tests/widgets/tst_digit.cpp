#include "TDigit.h"

#include <QImage>
#include <QSignalSpy>
#include <QtTest>
#include <functional>

namespace {

using Segments = std::vector<TDigit::TSegment>;

class CountingDigit : public TDigit
{
public:
    using TDigit::TDigit;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        TDigit::paintEvent(event);
    }
};

// The digit the main window uses for its lane displays.
void MakeLaneDigit(TDigit& digit)
{
    digit.resize(45, 89);
    digit.SetThickness(5);
    digit.SetSeparation(1);
}

QColor PixelAt(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

} // namespace

Q_DECLARE_METATYPE(Segments)
Q_DECLARE_METATYPE(QList<QPoint>)
Q_DECLARE_METATYPE(TDigit::TSegment)
Q_DECLARE_METATYPE(std::function<void(TDigit&)>)

class TestDigit : public QObject
{
    Q_OBJECT

private slots:
    void freshDigitShowsYellowZeroOnBlack();
    void patternOfEachValue_data();
    void patternOfEachValue();
    void segmentPolygon_data();
    void segmentPolygon();
    void valueOutsideRangeShowsZeroAndOverflows();
    void sameValueKeepsDirectPattern();
    void segmentColoursFollowValueBinary_data();
    void segmentColoursFollowValueBinary();
    void paintsOnAndOffColours();
    void thicknessMustFitSize_data();
    void thicknessMustFitSize();
    void settersRepaintOnlyOnChange_data();
    void settersRepaintOnlyOnChange();
};

void TestDigit::freshDigitShowsYellowZeroOnBlack()
{
    TDigit digit;
    QCOMPARE(digit.size(), QSize(16, 32));
    QCOMPARE(digit.Value(), 0);
    QCOMPARE(digit.ValueBinary(), std::uint8_t(125));
    QCOMPARE(digit.ColorOn(), clYellow);
    QCOMPARE(digit.ColorOff(), clBlack);
    QCOMPARE(digit.Color(), clBlack);
    QCOMPARE(digit.Thickness(), 2);
    QCOMPARE(digit.Separation(), 1);
    QCOMPARE(digit.BorderStyle(), TDigit::bsSingle);
}

void TestDigit::patternOfEachValue_data()
{
    using S = TDigit;
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("pattern");
    QTest::addColumn<Segments>("lit");

    const Segments zero{S::sgTop,        S::sgBottom,    S::sgUpperLeft,
                        S::sgUpperRight, S::sgLowerLeft, S::sgLowerRight};
    QTest::newRow("0") << 0 << 125 << zero;
    QTest::newRow("1") << 1 << 80 << Segments{S::sgUpperRight, S::sgLowerRight};
    QTest::newRow("2") << 2 << 55
                       << Segments{S::sgTop, S::sgMiddle, S::sgBottom, S::sgUpperRight, S::sgLowerLeft};
    QTest::newRow("3") << 3 << 87
                       << Segments{S::sgTop, S::sgMiddle, S::sgBottom, S::sgUpperRight, S::sgLowerRight};
    QTest::newRow("4") << 4 << 90 << Segments{S::sgMiddle, S::sgUpperLeft, S::sgUpperRight, S::sgLowerRight};
    QTest::newRow("5") << 5 << 79
                       << Segments{S::sgTop, S::sgMiddle, S::sgBottom, S::sgUpperLeft, S::sgLowerRight};
    QTest::newRow("6") << 6 << 111 << Segments{S::sgTop,       S::sgMiddle,    S::sgBottom,
                                               S::sgUpperLeft, S::sgLowerLeft, S::sgLowerRight};
    QTest::newRow("7") << 7 << 81 << Segments{S::sgTop, S::sgUpperRight, S::sgLowerRight};
    QTest::newRow("8") << 8 << 127
                       << Segments{S::sgTop,        S::sgMiddle,    S::sgBottom,    S::sgUpperLeft,
                                   S::sgUpperRight, S::sgLowerLeft, S::sgLowerRight};
    QTest::newRow("9") << 9 << 95 << Segments{S::sgTop,       S::sgMiddle,     S::sgBottom,
                                              S::sgUpperLeft, S::sgUpperRight, S::sgLowerRight};
    QTest::newRow("10 shows 0") << 10 << 125 << zero;
    QTest::newRow("12 shows 0") << 12 << 125 << zero;
    QTest::newRow("-1 shows 0") << -1 << 125 << zero;
}

void TestDigit::patternOfEachValue()
{
    QFETCH(int, value);
    QFETCH(int, pattern);
    QFETCH(Segments, lit);

    QCOMPARE(int(TDigit::DigitPattern(value)), pattern);
    QCOMPARE(TDigit::SegmentsOn(value), lit);

    TDigit digit;
    digit.SetValue(7); // so that every row, 0 included, is a change
    digit.SetValue(value);
    QCOMPARE(int(digit.ValueBinary()), pattern);
    QCOMPARE(digit.Value(), (value >= 0 && value <= 9) ? value : 0);
}

void TestDigit::segmentPolygon_data()
{
    using S = TDigit;
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("thickness");
    QTest::addColumn<TDigit::TSegment>("segment");
    QTest::addColumn<QList<QPoint>>("points");

    // 45 x 89, t = 5, s = 1: W = 44, H = 88, M = 44.
    const QSize lane(45, 89);
    QTest::newRow("lane top") << lane << 5 << S::sgTop
                              << QList<QPoint>{{6, 5}, {11, 0}, {33, 0}, {38, 5}, {33, 10}, {11, 10}};
    QTest::newRow("lane middle") << lane << 5 << S::sgMiddle
                                 << QList<QPoint>{{6, 44}, {11, 39}, {33, 39}, {38, 44}, {33, 49}, {11, 49}};
    QTest::newRow("lane bottom") << lane << 5 << S::sgBottom
                                 << QList<QPoint>{{6, 83}, {11, 78}, {33, 78}, {38, 83}, {33, 88}, {11, 88}};
    QTest::newRow("lane upper left") << lane << 5 << S::sgUpperLeft
                                     << QList<QPoint>{{0, 11}, {5, 6}, {10, 11}, {10, 38}, {5, 43}, {0, 38}};
    QTest::newRow("lane upper right")
        << lane << 5 << S::sgUpperRight
        << QList<QPoint>{{34, 11}, {39, 6}, {44, 11}, {44, 38}, {39, 43}, {34, 38}};
    QTest::newRow("lane lower left") << lane << 5 << S::sgLowerLeft
                                     << QList<QPoint>{{0, 50}, {5, 45}, {10, 50}, {10, 77}, {5, 82}, {0, 77}};
    QTest::newRow("lane lower right")
        << lane << 5 << S::sgLowerRight
        << QList<QPoint>{{34, 50}, {39, 45}, {44, 50}, {44, 77}, {39, 82}, {34, 77}};
    QTest::newRow("lane point") << lane << 5 << S::sgPoint << QList<QPoint>{{44, 88}, {35, 88}, {44, 79}};

    // 16 x 32, t = 2, s = 1: W = 15, H = 31, M = 15 (odd height, rounded down).
    const QSize small(16, 32);
    QTest::newRow("small middle") << small << 2 << S::sgMiddle
                                  << QList<QPoint>{{3, 15}, {5, 13}, {10, 13}, {12, 15}, {10, 17}, {5, 17}};
    QTest::newRow("small lower right")
        << small << 2 << S::sgLowerRight
        << QList<QPoint>{{11, 18}, {13, 16}, {15, 18}, {15, 25}, {13, 27}, {11, 25}};
}

void TestDigit::segmentPolygon()
{
    QFETCH(QSize, size);
    QFETCH(int, thickness);
    QFETCH(TDigit::TSegment, segment);
    QFETCH(QList<QPoint>, points);

    TDigit digit;
    digit.resize(size);
    digit.SetThickness(thickness);
    QCOMPARE(digit.Thickness(), thickness);
    QCOMPARE(digit.SegmentPolygon(segment), QPolygon(points));
}

void TestDigit::valueOutsideRangeShowsZeroAndOverflows()
{
    TDigit digit;
    QSignalSpy overflow(&digit, &TDigit::OnOverflow);
    digit.SetValue(3);
    QCOMPARE(overflow.count(), 0);

    digit.SetValue(12);
    QCOMPARE(digit.Value(), 0);
    QCOMPARE(digit.ValueBinary(), TDigit::DigitPattern(0));
    QCOMPARE(overflow.count(), 1);

    // 12 differs from the 0 now shown, so it overflows again.
    digit.SetValue(12);
    QCOMPARE(overflow.count(), 2);
    digit.SetValue(-4);
    QCOMPARE(overflow.count(), 3);
    digit.SetValue(9);
    QCOMPARE(overflow.count(), 3);
    QCOMPARE(digit.Value(), 9);
}

void TestDigit::sameValueKeepsDirectPattern()
{
    TDigit digit;
    digit.SetValue(3);
    digit.SetValueBinary(128);
    digit.SetValue(3);
    QCOMPARE(digit.ValueBinary(), std::uint8_t(128));
    QCOMPARE(digit.Value(), 3);
    digit.SetValue(4);
    QCOMPARE(digit.ValueBinary(), std::uint8_t(90));
}

void TestDigit::segmentColoursFollowValueBinary_data()
{
    QTest::addColumn<int>("pattern");
    QTest::addColumn<int>("segment");
    QTest::addColumn<bool>("lit");

    for (int segment = 0; segment < TDigit::SegmentCount; ++segment) {
        QTest::addRow("mask 0, segment %d", segment) << 0 << segment << false;
        QTest::addRow("mask 255, segment %d", segment) << 255 << segment << true;
    }
    QTest::newRow("point alone lights the point") << 128 << int(TDigit::sgPoint) << true;
    QTest::newRow("point alone leaves the top") << 128 << int(TDigit::sgTop) << false;
    QTest::newRow("middle bit") << 2 << int(TDigit::sgMiddle) << true;
    QTest::newRow("middle bit leaves bottom") << 2 << int(TDigit::sgBottom) << false;
}

void TestDigit::segmentColoursFollowValueBinary()
{
    QFETCH(int, pattern);
    QFETCH(int, segment);
    QFETCH(bool, lit);

    TDigit digit;
    digit.SetColorOn(RGBColor(64, 64, 64));
    digit.SetColorOff(RGBColor(0, 0, 200));
    digit.SetValueBinary(std::uint8_t(pattern));
    QCOMPARE(digit.SegmentColor(TDigit::TSegment(segment)), lit ? RGBColor(64, 64, 64) : RGBColor(0, 0, 200));
}

void TestDigit::paintsOnAndOffColours()
{
    TDigit digit;
    MakeLaneDigit(digit);
    digit.SetColorOff(RGBColor(0, 0, 200));
    digit.SetValue(1);
    digit.SetValueBinary(digit.ValueBinary() | 128);

    const QImage image = digit.grab().toImage();
    QCOMPARE(PixelAt(image, 39, 25), QColor(255, 255, 0)); // inside upper right
    QCOMPARE(PixelAt(image, 39, 65), QColor(255, 255, 0)); // inside lower right
    QCOMPARE(PixelAt(image, 5, 25), QColor(0, 0, 200));    // inside upper left, off
    QCOMPARE(PixelAt(image, 22, 5), QColor(0, 0, 200));    // inside top, off
    QCOMPARE(PixelAt(image, 43, 86), QColor(255, 255, 0)); // corner point
    QCOMPARE(PixelAt(image, 22, 25), QColor(0, 0, 0));     // background between the segments
    QCOMPARE(PixelAt(image, 34, 25), QColor(0, 0, 0));     // outline of the upper right segment
}

void TestDigit::thicknessMustFitSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("thickness");
    QTest::addColumn<int>("expected");

    QTest::newRow("30 on 45x89 ignored") << QSize(45, 89) << 30 << 2;
    QTest::newRow("22 on 45x89 accepted") << QSize(45, 89) << 22 << 22;
    QTest::newRow("23 on 45x89 ignored") << QSize(45, 89) << 23 << 2;
    QTest::newRow("11 on 89x20 ignored by height") << QSize(89, 20) << 11 << 2;
    QTest::newRow("10 on 89x20 accepted") << QSize(89, 20) << 10 << 10;
}

void TestDigit::thicknessMustFitSize()
{
    QFETCH(QSize, size);
    QFETCH(int, thickness);
    QFETCH(int, expected);

    TDigit digit;
    digit.resize(size);
    digit.SetThickness(thickness);
    QCOMPARE(digit.Thickness(), expected);
}

void TestDigit::settersRepaintOnlyOnChange_data()
{
    using Setter = std::function<void(TDigit&)>;
    QTest::addColumn<Setter>("same");
    QTest::addColumn<Setter>("changed");

    QTest::newRow("Value") << Setter([](TDigit& d) { d.SetValue(0); })
                           << Setter([](TDigit& d) { d.SetValue(8); });
    QTest::newRow("ValueBinary") << Setter([](TDigit& d) { d.SetValueBinary(125); })
                                 << Setter([](TDigit& d) { d.SetValueBinary(1); });
    QTest::newRow("ColorOn") << Setter([](TDigit& d) { d.SetColorOn(clYellow); })
                             << Setter([](TDigit& d) { d.SetColorOn(RGBColor(64, 64, 64)); });
    QTest::newRow("ColorOff") << Setter([](TDigit& d) { d.SetColorOff(clBlack); })
                              << Setter([](TDigit& d) { d.SetColorOff(clRed); });
    QTest::newRow("Color") << Setter([](TDigit& d) { d.SetColor(clBlack); })
                           << Setter([](TDigit& d) { d.SetColor(clWhite); });
    QTest::newRow("Thickness") << Setter([](TDigit& d) { d.SetThickness(5); })
                               << Setter([](TDigit& d) { d.SetThickness(6); });
    QTest::newRow("Separation") << Setter([](TDigit& d) { d.SetSeparation(1); })
                                << Setter([](TDigit& d) { d.SetSeparation(2); });
    QTest::newRow("BorderStyle") << Setter([](TDigit& d) { d.SetBorderStyle(TDigit::bsSingle); })
                                 << Setter([](TDigit& d) { d.SetBorderStyle(TDigit::bsNone); });
}

void TestDigit::settersRepaintOnlyOnChange()
{
    using Setter = std::function<void(TDigit&)>;
    QFETCH(Setter, same);
    QFETCH(Setter, changed);

    CountingDigit digit;
    MakeLaneDigit(digit);
    digit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&digit));
    QTRY_VERIFY(digit.paints > 0);
    QCoreApplication::processEvents();
    digit.paints = 0;

    same(digit);
    QCoreApplication::processEvents();
    QCOMPARE(digit.paints, 0);

    changed(digit);
    QTRY_COMPARE(digit.paints, 1);
}

QTEST_MAIN(TestDigit)
#include "tst_digit.moc"
