#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QSpinBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// A captioned group of radio buttons laid out in columns, with the index of the
// chosen item (-1 for none).
class TCfgRadioGroup : public QGroupBox
{
    Q_OBJECT

public:
    TCfgRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);

    int ItemIndex() const;
    void SetItemIndex(int index);
    int Count() const;
    QRadioButton* Button(int index) const;

signals:
    // The user chose an item (by mouse or keyboard); not sent for SetItemIndex.
    void Click();

private:
    QButtonGroup* m_Buttons = nullptr;
};

// A spin edit that accepts any text while typing. Its value is the text read as
// a number and clamped to the range; a text that is not a number reads as the
// minimum. The text is corrected that way when the field loses the focus.
class TCfgSpinEdit : public QSpinBox
{
    Q_OBJECT

public:
    TCfgSpinEdit(int minimum, int maximum, int value, QWidget* parent = nullptr);

    // The value of the text shown right now, as the field would take it on leaving.
    int Value() const;

    static int ValueFromText(const QString& text, int minimum, int maximum);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    int valueFromText(const QString& text) const override;
};

// A drop-down list whose items are drawn by its owner, in the popup as well as
// in the closed box: DrawItem is sent for each item to paint.
class TCfgContactList : public QComboBox
{
    Q_OBJECT

public:
    static constexpr int ItemHeight = 16;

    explicit TCfgContactList(const QStringList& items, QWidget* parent = nullptr);

signals:
    void DrawItem(QPainter* painter, int index, const QRect& rect, bool selected, bool disabled);

protected:
    void paintEvent(QPaintEvent* event) override;
};
