#include "TFDlgYesNo.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

TFDlgYesNo::TFDlgYesNo(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QApplication::applicationDisplayName());
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setFixedSize(273, 116);

    Icon = new QLabel(this);
    Icon->setGeometry(8, 16, 39, 40);
    Icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));

    Label1 = new QLabel(this);
    Label1->setGeometry(56, 8, 208, 61);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);

    OKBtn = new QPushButton(QStringLiteral("Ja"), this);
    OKBtn->setGeometry(56, 80, 89, 27);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    CancelBtn = new QPushButton(QStringLiteral("Nein"), this);
    CancelBtn->setGeometry(168, 80, 89, 27);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(OKBtn, CancelBtn);
}

void TFDlgYesNo::Prepare(const QString& question)
{
    Label1->setText(question);
    // A question of a few words keeps the dialog's small size; a longer one (a
    // session to restore, naming its list and times) widens it, then makes it
    // taller, so that no line of it is cut off.
    constexpr int kLabelLeft = 56, kLabelTop = 8, kLabelHeight = 61, kButtonWidth = 89;
    const auto need = [&](int width) {
        return Label1->fontMetrics()
            .boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap | Qt::AlignCenter, question)
            .height();
    };
    int labelWidth = 208;
    if (need(labelWidth) > kLabelHeight)
        labelWidth = 360;
    const int labelHeight = std::max(kLabelHeight, need(labelWidth) + 4);
    Label1->setGeometry(kLabelLeft, kLabelTop, labelWidth, labelHeight);
    const int width = kLabelLeft + labelWidth + 9;
    const int buttonsTop = kLabelTop + labelHeight + 11;
    OKBtn->move(kLabelLeft, buttonsTop);
    CancelBtn->move(width - 16 - kButtonWidth, buttonsTop);
    setFixedSize(width, buttonsTop + 36);
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
    OKBtn->setFocus();
}
