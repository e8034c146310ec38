#include "TCfgControls.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLocale>
#include <QPainter>
#include <QRadioButton>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <algorithm>

TCfgRadioGroup::TCfgRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), m_Buttons(new QButtonGroup(this))
{
    auto* layout = new QGridLayout(this);
    const int perColumn = (int(items.size()) + columns - 1) / std::max(columns, 1);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        m_Buttons->addButton(button, i);
        layout->addWidget(button, i % std::max(perColumn, 1), i / std::max(perColumn, 1));
    }
    connect(m_Buttons, &QButtonGroup::idClicked, this, [this](int) { emit Click(); });
}

int TCfgRadioGroup::ItemIndex() const
{
    return m_Buttons->checkedId();
}

void TCfgRadioGroup::SetItemIndex(int index)
{
    if (index == ItemIndex())
        return;
    if (QAbstractButton* button = m_Buttons->button(index)) {
        button->setChecked(true);
    } else if (QAbstractButton* checked = m_Buttons->checkedButton()) {
        // An exclusive group cannot be emptied by unchecking its button.
        m_Buttons->setExclusive(false);
        checked->setChecked(false);
        m_Buttons->setExclusive(true);
    }
    update();
}

int TCfgRadioGroup::Count() const
{
    return int(m_Buttons->buttons().size());
}

QRadioButton* TCfgRadioGroup::Button(int index) const
{
    return qobject_cast<QRadioButton*>(m_Buttons->button(index));
}

TCfgSpinEdit::TCfgSpinEdit(int minimum, int maximum, int value, QWidget* parent) : QSpinBox(parent)
{
    setRange(minimum, maximum);
    setValue(value);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int TCfgSpinEdit::Value() const
{
    return ValueFromText(text(), minimum(), maximum());
}

int TCfgSpinEdit::ValueFromText(const QString& text, int minimum, int maximum)
{
    bool ok = false;
    const qlonglong number = QLocale().toLongLong(text.trimmed(), &ok);
    if (!ok)
        return minimum;
    return int(std::clamp<qlonglong>(number, minimum, maximum));
}

QValidator::State TCfgSpinEdit::validate(QString& input, int& pos) const
{
    Q_UNUSED(pos);
    bool ok = false;
    const qlonglong number = QLocale().toLongLong(input.trimmed(), &ok);
    if (ok && number >= minimum() && number <= maximum())
        return QValidator::Acceptable;
    return QValidator::Intermediate;
}

void TCfgSpinEdit::fixup(QString& input) const
{
    input = textFromValue(ValueFromText(input, minimum(), maximum()));
}

int TCfgSpinEdit::valueFromText(const QString& text) const
{
    return ValueFromText(text, minimum(), maximum());
}

namespace {

class TCfgContactDelegate : public QStyledItemDelegate
{
public:
    explicit TCfgContactDelegate(TCfgContactList* list) : QStyledItemDelegate(list), m_List(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        emit m_List->DrawItem(painter, index.row(), option.rect,
                              option.state.testFlag(QStyle::State_Selected),
                              !option.state.testFlag(QStyle::State_Enabled));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), TCfgContactList::ItemHeight};
    }

private:
    TCfgContactList* m_List = nullptr;
};

} // namespace

TCfgContactList::TCfgContactList(const QStringList& items, QWidget* parent) : QComboBox(parent)
{
    setItemDelegate(new TCfgContactDelegate(this));
    addItems(items);
}

void TCfgContactList::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0)
        return;
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    painter.save();
    painter.setClipRect(field);
    emit DrawItem(&painter, currentIndex(), field, false, !isEnabled());
    painter.restore();
}
