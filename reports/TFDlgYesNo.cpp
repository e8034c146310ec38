#include "TFDlgYesNo.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

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
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
    OKBtn->setFocus();
}
