#include "TBitBtnWithColor.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>
#include <set>
#include <utility>

namespace {

using Pixel = std::pair<int, int>;

class CountingButton : public TBitBtnWithColor
{
public:
    using TBitBtnWithColor::TBitBtnWithColor;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        TBitBtnWithColor::paintEvent(event);
    }
};

// Crisp caption pixels, so colours can be compared exactly.
void UseCrispFont(QWidget& widget)
{
    QFont font = widget.font();
    font.setPixelSize(20);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    widget.setFont(font);
}

std::set<Pixel> PixelsOf(const QImage& image, const QRect& area, const QColor& color)
{
    std::set<Pixel> pixels;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == color)
                pixels.insert({x, y});
    return pixels;
}

// A 16x16 olive glyph (olive is its transparent colour) with a blue square at 4..11.
QImage SquareGlyph()
{
    QImage glyph(16, 16, QImage::Format_RGB32);
    glyph.fill(QColor(128, 128, 0));
    QPainter painter(&glyph);
    painter.fillRect(QRect(4, 4, 8, 8), QColor(0, 0, 255));
    return glyph;
}

} // namespace

Q_DECLARE_METATYPE(TBitBtnWithColor::TButtonLayout)

class TestBitBtnWithColor : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void numGlyphsIsClamped_data();
    void numGlyphsIsClamped();
    void marginBelowMinusOneIsIgnored();
    void glyphSetsNumGlyphs_data();
    void glyphSetsNumGlyphs();
    void faceColour_data();
    void faceColour();
    void disabledCaptionIsEngraved();
    void pressedCaptionMovesOnePixel();
    void pressedFaceHasShadowBorder();
    void defaultButtonIsFramedAndDotted();
    void layout_data();
    void layout();
    void glyphDrawnAtPlacement();
    void disabledSingleGlyphIsEmbossed();
    void sameColourDoesNotRepaint();
    void stockKindAndBackToCustom();
    void mouseDownForAnyButton();
    void disablingOnMouseDownLeavesButtonUp();
};

void TestBitBtnWithColor::defaults()
{
    TBitBtnWithColor button;
    QCOMPARE(button.Color(), clBtnFace);
    QCOMPARE(button.NumGlyphs(), 1);
    QCOMPARE(button.Layout(), TBitBtnWithColor::blGlyphLeft);
    QCOMPARE(button.Margin(), -1);
    QCOMPARE(button.Spacing(), 4);
    QCOMPARE(button.Kind(), TBitBtnWithColor::bkCustom);
    QCOMPARE(button.Style(), TBitBtnWithColor::bsAutoDetect);
    QCOMPARE(button.TransparentColor(), RGBColor(128, 128, 0));
    QVERIFY(button.Glyph().isNull());
}

void TestBitBtnWithColor::numGlyphsIsClamped_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("stored");
    QTest::newRow("7 stores 4") << 7 << 4;
    QTest::newRow("4") << 4 << 4;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("0 stores 1") << 0 << 1;
}

void TestBitBtnWithColor::numGlyphsIsClamped()
{
    QFETCH(int, count);
    QFETCH(int, stored);
    TBitBtnWithColor button;
    button.SetNumGlyphs(2);
    button.SetNumGlyphs(count);
    QCOMPARE(button.NumGlyphs(), stored);
}

void TestBitBtnWithColor::marginBelowMinusOneIsIgnored()
{
    TBitBtnWithColor button;
    button.SetMargin(3);
    button.SetMargin(-2);
    QCOMPARE(button.Margin(), 3);
    button.SetMargin(-1);
    QCOMPARE(button.Margin(), -1);
}

void TestBitBtnWithColor::glyphSetsNumGlyphs_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("numGlyphs");
    QTest::newRow("one image") << QSize(16, 16) << 1;
    QTest::newRow("two images") << QSize(32, 16) << 2;
    QTest::newRow("four images") << QSize(64, 16) << 4;
    QTest::newRow("five images count as one") << QSize(80, 16) << 1;
    QTest::newRow("not a multiple keeps the count") << QSize(20, 16) << 3;
}

void TestBitBtnWithColor::glyphSetsNumGlyphs()
{
    QFETCH(QSize, size);
    QFETCH(int, numGlyphs);
    TBitBtnWithColor button;
    button.SetNumGlyphs(3);
    QImage glyph(size, QImage::Format_RGB32);
    glyph.fill(Qt::white);
    glyph.setPixelColor(0, size.height() - 1, QColor(1, 2, 3));
    button.SetGlyph(glyph);
    QCOMPARE(button.NumGlyphs(), numGlyphs);
    QCOMPARE(button.TransparentColor(), RGBColor(1, 2, 3));
}

void TestBitBtnWithColor::faceColour_data()
{
    QTest::addColumn<TColor>("color");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("expected");

    // The palette's button colour stands for the system's button face.
    QTest::newRow("button face from the palette") << clBtnFace << true << QColor(10, 200, 30);
    QTest::newRow("green START") << RGBColor(0, 128, 0) << true << QColor(0, 128, 0);
    QTest::newRow("red STOPP") << TColor(0x0000FF) << true << QColor(255, 0, 0);
    QTest::newRow("black reset") << clBlack << true << QColor(0, 0, 0);
    QTest::newRow("disabled red stays red") << TColor(0x0000FF) << false << QColor(255, 0, 0);
    QTest::newRow("disabled button face") << clBtnFace << false << QColor(10, 200, 30);
}

void TestBitBtnWithColor::faceColour()
{
    QFETCH(TColor, color);
    QFETCH(bool, enabled);
    QFETCH(QColor, expected);

    TBitBtnWithColor button;
    QPalette palette = button.palette();
    palette.setColor(QPalette::Button, QColor(10, 200, 30));
    button.setPalette(palette);
    button.resize(100, 40);
    button.SetColor(color);
    button.setEnabled(enabled);

    const QImage image = button.grab().toImage();
    QCOMPARE(image.pixelColor(50, 20), expected);
    QCOMPARE(image.pixelColor(3, 3), expected);  // just inside the raised edge
    QVERIFY(image.pixelColor(0, 0) != expected); // the edge itself
}

void TestBitBtnWithColor::disabledCaptionIsEngraved()
{
    TBitBtnWithColor button("START");
    UseCrispFont(button);
    button.resize(140, 44);
    button.SetColor(TColor(0x0000FF));
    button.SetFontColor(clBlack);

    const QRect area = button.rect().adjusted(3, 3, -3, -3);
    const std::set<Pixel> caption = PixelsOf(button.grab().toImage(), area, Qt::black);
    QVERIFY(caption.size() > 20);

    button.setEnabled(false);
    const QImage disabled = button.grab().toImage();
    QVERIFY(PixelsOf(disabled, area, Qt::black).empty());
    // The grey copy sits exactly where the enabled caption was.
    QCOMPARE(PixelsOf(disabled, area, QColor(128, 128, 128)), caption);
    // The white copy is the same caption one pixel right and down, hidden where the grey one covers it.
    std::set<Pixel> expectedWhite;
    for (const auto& [x, y] : caption)
        if (!caption.count({x + 1, y + 1}))
            expectedWhite.insert({x + 1, y + 1});
    QCOMPARE(PixelsOf(disabled, area, Qt::white), expectedWhite);
    QCOMPARE(disabled.pixelColor(5, 5), QColor(255, 0, 0));
}

void TestBitBtnWithColor::pressedCaptionMovesOnePixel()
{
    TBitBtnWithColor button("STOPP 1");
    UseCrispFont(button);
    button.resize(120, 40);

    const QSize text = button.CaptionSize();
    QVERIFY(text.width() > 0);
    const TBitBtnPlacement up = button.Placement(TBitBtnWithColor::bsUp, false);
    // Up: the content is the client less the 2-pixel edge and the 1-pixel face outline.
    QCOMPARE(up.content, QRect(3, 3, 114, 34));
    QCOMPARE(up.captionRect, QRect(3 + (114 - text.width() + 1) / 2, 3 + (34 - text.height() + 1) / 2,
                                   text.width(), text.height()));

    // Down: only the 1-pixel shadow border is taken off, and everything moves right and down by one.
    const TBitBtnPlacement down = button.Placement(TBitBtnWithColor::bsDown, false);
    QCOMPARE(down.content, QRect(2, 2, 118, 38));
    QCOMPARE(down.captionRect, up.captionRect.translated(1, 1));

    // With the active-button frame, the content starts from the client less one.
    const TBitBtnPlacement framed = button.Placement(TBitBtnWithColor::bsUp, true);
    QCOMPARE(framed.content, QRect(4, 4, 112, 32));
}

void TestBitBtnWithColor::pressedFaceHasShadowBorder()
{
    TBitBtnWithColor button;
    QPalette palette = button.palette();
    palette.setColor(QPalette::Dark, QColor(90, 90, 90));
    button.setPalette(palette);
    button.resize(60, 30);
    button.SetColor(RGBColor(0, 128, 0));
    button.setDown(true);

    const QImage image = button.grab().toImage();
    QCOMPARE(image.pixelColor(0, 0), QColor(90, 90, 90));
    QCOMPARE(image.pixelColor(59, 29), QColor(90, 90, 90));
    QCOMPARE(image.pixelColor(1, 1), QColor(0, 128, 0));
}

void TestBitBtnWithColor::defaultButtonIsFramedAndDotted()
{
    TBitBtnWithColor button;
    QPalette palette = button.palette();
    palette.setColor(QPalette::Shadow, QColor(1, 2, 3));
    button.setPalette(palette);
    button.resize(60, 30);
    button.SetColor(clBlack);
    const QImage plain = button.grab().toImage();
    QVERIFY(plain.pixelColor(0, 0) != QColor(1, 2, 3));

    button.setDefault(true);
    QVERIFY(button.IsFocused());
    const QImage marked = button.grab().toImage();
    QCOMPARE(marked.pixelColor(0, 0), QColor(1, 2, 3));
    QCOMPARE(marked.pixelColor(59, 29), QColor(1, 2, 3));
    // Inverted dots on the black face, four pixels in.
    QCOMPARE(marked.pixelColor(4, 4), QColor(255, 255, 255));
    QCOMPARE(marked.pixelColor(5, 4), QColor(0, 0, 0));
    QCOMPARE(marked.pixelColor(6, 4), QColor(255, 255, 255));
    QCOMPARE(marked.pixelColor(4, 6), QColor(255, 255, 255));
    QCOMPARE(marked.pixelColor(55, 25), QColor(255, 255, 255));
    QCOMPARE(marked.pixelColor(55, 24), QColor(0, 0, 0));
    QCOMPARE(marked.pixelColor(20, 15), QColor(0, 0, 0));
}

void TestBitBtnWithColor::layout_data()
{
    using B = TBitBtnWithColor;
    QTest::addColumn<QRect>("client");
    QTest::addColumn<QSize>("glyph");
    QTest::addColumn<B::TButtonLayout>("layout");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QPoint>("glyphPos");
    QTest::addColumn<QPoint>("captionPos");

    // Caption 30x12 throughout; pair widths 16 + 4 + 30 = 50, heights 16 + 4 + 12 = 32.
    const QRect client(0, 0, 100, 40);
    const QSize glyph(16, 16);
    QTest::newRow("left centred") << client << glyph << B::blGlyphLeft << -1 << 4 << QPoint(25, 12)
                                  << QPoint(45, 14);
    QTest::newRow("right centred") << client << glyph << B::blGlyphRight << -1 << 4 << QPoint(59, 12)
                                   << QPoint(25, 14);
    QTest::newRow("top centred") << client << glyph << B::blGlyphTop << -1 << 4 << QPoint(42, 4)
                                 << QPoint(35, 24);
    QTest::newRow("bottom centred") << client << glyph << B::blGlyphBottom << -1 << 4 << QPoint(42, 20)
                                    << QPoint(35, 4);
    QTest::newRow("left in thirds") << client << glyph << B::blGlyphLeft << -1 << -1 << QPoint(18, 12)
                                    << QPoint(52, 14);
    QTest::newRow("left margin 5, spacing fills")
        << client << glyph << B::blGlyphLeft << 5 << -1 << QPoint(5, 12) << QPoint(45, 14);
    QTest::newRow("left margin 5, spacing 4")
        << client << glyph << B::blGlyphLeft << 5 << 4 << QPoint(5, 12) << QPoint(25, 14);
    QTest::newRow("no glyph: caption centred")
        << client << QSize(0, 0) << B::blGlyphLeft << -1 << 4 << QPoint(35, 20) << QPoint(35, 14);
    QTest::newRow("client offset") << QRect(3, 3, 94, 34) << glyph << B::blGlyphLeft << -1 << 4
                                   << QPoint(25, 12) << QPoint(45, 14);
}

void TestBitBtnWithColor::layout()
{
    QFETCH(QRect, client);
    QFETCH(QSize, glyph);
    QFETCH(TBitBtnWithColor::TButtonLayout, layout);
    QFETCH(int, margin);
    QFETCH(int, spacing);
    QFETCH(QPoint, glyphPos);
    QFETCH(QPoint, captionPos);

    const TBitBtnPlacement placement =
        TBitBtnWithColor::CalcButtonLayout(client, glyph, QSize(30, 12), layout, margin, spacing);
    QCOMPARE(placement.glyphPos, glyphPos);
    QCOMPARE(placement.captionRect, QRect(captionPos, QSize(30, 12)));
}

void TestBitBtnWithColor::glyphDrawnAtPlacement()
{
    TBitBtnWithColor button;
    button.resize(80, 40);
    button.SetColor(RGBColor(0, 128, 0));
    button.SetLayout(TBitBtnWithColor::blGlyphRight);
    button.SetMargin(6);
    button.SetGlyph(SquareGlyph());

    const QPoint at = button.Placement(TBitBtnWithColor::bsUp, false).glyphPos;
    QCOMPARE(at, QPoint(80 - 3 - 6 - 16, 3 + (34 - 16 + 1) / 2));
    const QImage image = button.grab().toImage();
    QCOMPARE(image.pixelColor(at + QPoint(8, 8)), QColor(0, 0, 255));
    QCOMPARE(image.pixelColor(at + QPoint(1, 1)), QColor(0, 128, 0)); // transparent part shows the face
    QCOMPARE(image.pixelColor(at + QPoint(-10, 8)), QColor(0, 128, 0));
}

void TestBitBtnWithColor::disabledSingleGlyphIsEmbossed()
{
    TBitBtnWithColor button;
    QPalette palette = button.palette();
    palette.setColor(QPalette::Light, QColor(250, 250, 250));
    palette.setColor(QPalette::Dark, QColor(90, 90, 90));
    button.setPalette(palette);
    button.SetColor(RGBColor(0, 128, 0));
    button.SetGlyph(SquareGlyph());

    const QImage image = button.GlyphImage(TBitBtnWithColor::bsDisabled);
    QCOMPARE(image.size(), QSize(16, 16));
    QCOMPARE(image.pixelColor(4, 4), QColor(90, 90, 90));
    QCOMPARE(image.pixelColor(11, 11), QColor(90, 90, 90));
    QCOMPARE(image.pixelColor(12, 12), QColor(250, 250, 250));
    QCOMPARE(image.pixelColor(12, 4), QColor(0, 128, 0));
    QCOMPARE(image.pixelColor(2, 2), QColor(0, 128, 0));
}

void TestBitBtnWithColor::sameColourDoesNotRepaint()
{
    CountingButton button("START");
    button.resize(100, 40);
    button.SetColor(RGBColor(0, 128, 0));
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QTRY_VERIFY(button.paints > 0);
    QCoreApplication::processEvents();
    button.paints = 0;

    button.SetColor(RGBColor(0, 128, 0));
    QCoreApplication::processEvents();
    QCOMPARE(button.paints, 0);

    button.SetColor(clBtnFace);
    QTRY_COMPARE(button.paints, 1);
}

void TestBitBtnWithColor::stockKindAndBackToCustom()
{
    TBitBtnWithColor button;
    button.SetKind(TBitBtnWithColor::bkOK);
    QCOMPARE(button.Kind(), TBitBtnWithColor::bkOK);
    QVERIFY(button.isDefault());
    QVERIFY(!button.Cancel());
    QCOMPARE(button.ModalResult(), int(TBitBtnWithColor::mrOk));
    QCOMPARE(button.NumGlyphs(), 2);
    button.setDefault(false);
    QCOMPARE(button.Kind(), TBitBtnWithColor::bkCustom);

    TBitBtnWithColor cancel;
    cancel.SetKind(TBitBtnWithColor::bkCancel);
    QVERIFY(cancel.Cancel());
    QCOMPARE(cancel.ModalResult(), int(TBitBtnWithColor::mrCancel));
    cancel.SetGlyph(SquareGlyph());
    QCOMPARE(cancel.Kind(), TBitBtnWithColor::bkCustom);
}

void TestBitBtnWithColor::mouseDownForAnyButton()
{
    TBitBtnWithColor button("START");
    button.resize(100, 40);
    QSignalSpy down(&button, &TBitBtnWithColor::OnMouseDown);
    QTest::mousePress(&button, Qt::RightButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&button, Qt::RightButton, {}, QPoint(10, 10));
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(down.count(), 2);
    QCOMPARE(down.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
    QCOMPARE(down.at(1).at(1).toPoint(), QPoint(20, 10));
}

void TestBitBtnWithColor::disablingOnMouseDownLeavesButtonUp()
{
    TBitBtnWithColor button("START");
    button.resize(100, 40);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    connect(&button, &TBitBtnWithColor::OnMouseDown, &button, [&button] { button.setEnabled(false); });
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(!button.isDown());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 0);
}

QTEST_MAIN(TestBitBtnWithColor)
#include "tst_bitbtnwithcolor.moc"
