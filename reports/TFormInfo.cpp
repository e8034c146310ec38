#include "TFormInfo.h"

#include "Dialogs.h"
#include "Maker.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

namespace {

QFont ArialPixels(int pixels, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

TFormInfo::TFormInfo(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Information"));
    // A dialog border with only the close box in the title bar.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(292, 331);

    Image1 = new QLabel(this);
    Image1->setGeometry(8, 8, 32, 32);
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = QIcon(QStringLiteral(":/images/Quellorix.svg"));
    Image1->setPixmap(icon.pixmap(32, 32));

    lbl_Name = new QLabel(QStringLiteral("Quellorix"), this);
    lbl_Name->setGeometry(52, 2, 232, 40);
    QFont nameFont = ArialPixels(29, false);
    nameFont.setUnderline(true);
    lbl_Name->setFont(nameFont);
    QPalette maroon = lbl_Name->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    lbl_Name->setPalette(maroon);

    lbl_Version = new QLabel(QStringLiteral("Version 2.7  ( 24.03.2007 )"), this);
    lbl_Version->setGeometry(52, 46, 232, 18);
    lbl_Version->setFont(ArialPixels(13, true));

    lbl_Maker = new QLabel(QString::fromUtf8(Maker::Name), this);
    lbl_Maker->setGeometry(8, 76, 276, 18);
    lbl_Maker->setFont(ArialPixels(13, true));

    lbl_Web = new QLabel(QString::fromUtf8(Maker::WebAddress), this);
    lbl_Web->setGeometry(8, 96, 276, 18);
    lbl_Web->setTextInteractionFlags(Qt::TextSelectableByMouse);

    NoticeText = new QPlainTextEdit(NoticeTextContent(), this);
    NoticeText->setGeometry(8, 122, 276, 158);
    NoticeText->setReadOnly(true);
    NoticeText->setFocusPolicy(Qt::NoFocus);

    cmd_OK = new QPushButton(QStringLiteral("Einverstanden"), this);
    cmd_OK->setGeometry(76, 290, 140, 32);
    cmd_OK->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    cmd_OK->setFont(ArialPixels(13, true));
    QPalette red = cmd_OK->palette();
    red.setColor(QPalette::ButtonText, QColor(255, 0, 0));
    cmd_OK->setPalette(red);
    cmd_OK->setDefault(true);
    connect(cmd_OK, &QPushButton::clicked, this, &QDialog::accept);
}

const QString& TFormInfo::NoticeTextContent()
{
    static const QString text =
        QStringLiteral("Quellorix misst die Laufzeiten bei Seifenkistenrennen auf einer oder zwei Bahnen: "
                       "mit Maus, Tasten oder Lichtschranken an der seriellen Schnittstelle. Es führt das "
                       "Zeitenprotokoll, wertet die Läufe nach Klassen und vergibt die Plätze.\n\n"
                       "Das Programm wird ohne jede Gewährleistung bereitgestellt. Prüfen Sie die Ergebnisse "
                       "vor der Siegerehrung und speichern Sie das Protokoll regelmäßig.\n\n"
                       "Hilfe: Taste F1.");
    return text;
}

void TFormInfo::ShowModal()
{
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
    cmd_OK->setFocus();
    Dialogs().Exec(*this);
}
