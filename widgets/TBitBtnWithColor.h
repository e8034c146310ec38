#pragma once

#include "TColor.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <array>

// Where the glyph and the caption go inside a button's content rectangle.
struct TBitBtnPlacement
{
    QRect content;     // the face area left inside the frame (shifted when pressed)
    QPoint glyphPos;   // top left of the glyph image
    QRect captionRect; // the caption is centred in this rectangle
};

// A push button whose whole face is painted in a settable colour, with an
// optional glyph beside its caption. The main window shows the run state
// through the face colour of its command buttons.
class TBitBtnWithColor : public QPushButton
{
    Q_OBJECT

public:
    enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
    enum TBitBtnKind {
        bkCustom,
        bkOK,
        bkCancel,
        bkHelp,
        bkYes,
        bkNo,
        bkClose,
        bkAbort,
        bkRetry,
        bkIgnore,
        bkAll
    };
    enum TButtonStyle { bsAutoDetect, bsWin31, bsNew };
    enum TButtonState { bsUp, bsDisabled, bsDown, bsExclusive };
    // Modal results as the stock kinds give them.
    enum TModalResult { mrNone, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrYes, mrNo, mrAll = 8 };

    static constexpr int EdgeWidth = 2; // the raised button edge, outer and inner bevel

    explicit TBitBtnWithColor(QWidget* parent = nullptr);
    explicit TBitBtnWithColor(const QString& caption, QWidget* parent = nullptr);

    TColor Color() const { return FColor; }
    void SetColor(TColor color);

    // One to four equal-width images side by side: up, disabled, down, exclusive.
    const QImage& Glyph() const { return FGlyph; }
    void SetGlyph(const QImage& glyph);
    // The colour that stands for "no glyph here": the bottom-left pixel of the
    // glyph, olive until a glyph is set.
    TColor TransparentColor() const { return FTransparentColor; }

    int NumGlyphs() const { return FNumGlyphs; }
    void SetNumGlyphs(int count);

    TButtonLayout Layout() const { return FLayout; }
    void SetLayout(TButtonLayout layout);
    // Pixels between the edge and the glyph; -1 centres glyph and caption together.
    int Margin() const { return FMargin; }
    void SetMargin(int margin);
    // Pixels between glyph and caption.
    int Spacing() const { return FSpacing; }
    void SetSpacing(int spacing);

    // bkCustom again as soon as glyph, default, cancel or modal result leave the stock values.
    TBitBtnKind Kind() const;
    void SetKind(TBitBtnKind kind);
    TButtonStyle Style() const { return FStyle; }
    void SetStyle(TButtonStyle style);

    // Caption colour of an enabled button; button text until set.
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor color);

    bool Cancel() const { return FCancel; }
    void SetCancel(bool cancel);
    // Non-zero: a click ends the dialog the button sits in with this result.
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int result);

    // True while the window marks this button as its active or default button.
    bool IsFocused() const;
    TButtonState DrawState() const;

    // Lays out glyph and caption inside client (pure; sizes given).
    static TBitBtnPlacement CalcButtonLayout(const QRect& client, QSize glyphSize, QSize captionSize,
                                             TButtonLayout layout, int margin, int spacing);
    // The content rectangle, glyph and caption position for painting in the given
    // state with this button's size, font, caption and glyph.
    TBitBtnPlacement Placement(TButtonState state, bool activeFrame) const;
    // Every other pixel of the rectangle's outline, as the focus rectangle inverts them.
    static QList<QPoint> FocusDots(const QRect& r);
    QSize GlyphSize() const;
    QSize CaptionSize() const;
    // The glyph image as drawn for a state, on a background of Color.
    QImage GlyphImage(TButtonState state) const;

signals:
    // Any mouse button pressed on the button (left, right or middle), before the
    // ordinary press handling.
    void OnMouseDown(Qt::MouseButton button, QPoint position);
    // A click of a bkHelp button; the owner shows the help.
    void HelpRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void DropPreparedGlyphs();
    QImage PrepareGlyph(TButtonState state) const;
    void AfterClick();

    TColor FColor = clBtnFace;
    QImage FGlyph;
    TColor FTransparentColor = RGBColor(128, 128, 0);
    int FNumGlyphs = 1;
    TButtonLayout FLayout = blGlyphLeft;
    int FMargin = -1;
    int FSpacing = 4;
    mutable TBitBtnKind FKind = bkCustom;
    bool FModifiedGlyph = false;
    TButtonStyle FStyle = bsAutoDetect;
    TColor FFontColor = clBtnText;
    bool FCancel = false;
    int FModalResult = mrNone;
    mutable std::array<QImage, 4> FPrepared;
};
